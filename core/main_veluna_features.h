#pragma once
// The program's one list of what it installs at start: every feature
// library's commands and openers, and the core's own commands. Built into
// the veluna program (and its whole-program tests), never into the core
// library, which names no feature library.

void InstallFeatures();
