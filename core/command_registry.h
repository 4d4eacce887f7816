#pragma once
// Menu and toolbar commands whose dialogs live above the core (device
// dialogs, calibration, content, rotation, interactive) register here. The
// frame asks the table for each command's enable state and runs it through
// the document; the program installs every feature at start, so the core
// never names a feature library.

#include <functional>
#include <vector>

class CvelunaDoc;

namespace core {

struct CommandEntry {
    // Pure over the document's state; empty means always enabled. A command
    // of the command table (core/command_table.h) is enabled by its rule
    // there instead, so that every way to a command agrees.
    std::function<bool(const CvelunaDoc&)> enabled;
    std::function<void(CvelunaDoc&)> run;
    // Empty: the command shows no check mark.
    std::function<bool(const CvelunaDoc&)> checked = nullptr;
};

// A later registration of the same id replaces the earlier one.
void registerCommand(int id, CommandEntry entry);
// Null when nothing registered `id`.
const CommandEntry* findCommand(int id);
std::vector<int> registeredCommands();
// False when `id` has no check mark or it is off.
bool isChecked(int id, const CvelunaDoc& doc);
// Tests start from an empty table.
void clearCommands();

// Whether command `id` may run now: the table's rule for its commands (and
// something registered to run), the registered function for any other.
bool IsCommandEnabled(const CvelunaDoc& doc, int id);
// The document's own commands: System Setup, Mask Parameter Setting.
void InstallDocumentCommands();

}  // namespace core
