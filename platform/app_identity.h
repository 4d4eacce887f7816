#pragma once
// The application title (the caption of the main window, by which every
// dialog and link finds it) and the language code chosen at start-up.
// Set once by the program's start-up; read on the UI thread.

#include <QString>

namespace platform {

QString appTitle();
void setAppTitle(const QString& title);

// 4 = Chinese texts, 9 = English texts; 0 before start-up sets it.
unsigned appLanguage();
void setAppLanguage(unsigned language);

}  // namespace platform
