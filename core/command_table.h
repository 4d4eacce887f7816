#pragma once
// The command table of veluna's menus and toolbar: every command id, its
// labels and the rule that enables it. The rule is a pure function of a
// plain snapshot of the document's state, so the enable state of every
// command can be checked without a window or a player.

#include <cstdint>
#include <span>

namespace core {

// What the enable rules look at, taken from the document in one go.
struct CommandState {
    bool connected = false;             // the handshake was accepted
    bool windowSelected = false;        // a window is selected on the current screen
    bool uploadPending = false;         // an edited layout is on its way to the player
    bool clipboardHoldsWindow = false;  // cut or copy left a window block
    bool layoutLocked = false;
    uint16_t playerVersion = 0;
    uint8_t playerKind = 0;             // product nibble of the version + 1
    bool rowHasAddressAndPort = false;  // the current player row names an IP and a port
};

enum class EnableRule : uint8_t {
    Connected,     // linked to a player
    Always,
    Selected,      // linked and a window selected on the current screen
    SelectedIdle,  // Selected and no upload pending
    Idle,          // linked and no upload pending
    Paste,         // linked, a window on the clipboard and no upload pending
    Version1500,   // linked to a player of version 0x1500 or later
    Kind3,         // linked to a player of kind 3
    Unlocked,      // linked and the layout lock off
    // The current player row has an address and a port. Not gated on the
    // link: reconnecting is exactly what a lost link needs.
    Reconnect,
};

bool RuleAllows(EnableRule rule, const CommandState& state);

// Where a command can be reached from.
enum CommandPlace : uint8_t {
    kInMenu = 1,          // the main menu in both languages
    kInChineseMenu = 2,   // the Chinese main menu only
    kOnToolbar = 4,
    kInCanvasMenu = 8,    // the canvas's context menu
    kInLayoutMenu = 16,   // the layout list's context menu
};

struct CommandRow {
    int id;
    EnableRule rule;
    const char* english;
    const char* chinese;
    unsigned places;
};

inline constexpr int kCmdConnectionSettings = 32775;
inline constexpr int kCmdReconnect = 32776;
inline constexpr int kCmdSystemSetup = 32779;
inline constexpr int kCmdMaskParameter = 32789;
inline constexpr int kCmdReboot = 32792;
inline constexpr int kCmdVideoPicWindow = 32794;

std::span<const CommandRow> CommandTable();
// Null for an id outside the table.
const CommandRow* FindCommandRow(int id);
// False for an id outside the table.
bool CommandEnabled(int id, const CommandState& state);

}  // namespace core
