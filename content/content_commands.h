#pragma once
// The menu commands of the content dialogs, installed into the core's
// command table at start, and what the document hands each dialog.

#include <array>
#include <cstdint>
#include <functional>

class CvelunaDoc;
class CBatchSendFileTab;
struct PlayerReply;
class QWidget;

namespace content {

inline constexpr int kCmdVideoSource = 32781;   // "Video Source Settings"
inline constexpr int kCmdImportExport = 32787;  // "Parameter Import and Export"
inline constexpr int kCmdPicturePlay = 32807;   // "Picture Play Control"
inline constexpr int kCmdMobile = 32808;        // "Cloud Settings"
inline constexpr int kCmdVideoPlay = 32812;     // "Video Play Control" (Chinese menu only)
inline constexpr int kCmdBatchSend = 32800;     // "Batch Send File"
inline constexpr int kCmdVideoControl = 32803;  // "Video Control"
inline constexpr int kCmdQrCode = 32801;        // "QR Code"
inline constexpr int kCmdPictureManager = 32806;  // "Picture Manager"

void InstallContentCommands();

// Screens of the 108-byte status block (x, y, width, height as u16 from
// byte 4) whose width and height are both non-zero.
uint32_t ScreenCount(const std::array<uint8_t, 108>& statusBlock);

// The openers (modal); their enable rules are the command table's. The
// play-mode editors and the mobile-app settings make the Temp folder when
// it is missing.
void OpenVideoSource(CvelunaDoc& doc);
void OpenImportExport(CvelunaDoc& doc);
void OpenPicturePlayControl(CvelunaDoc& doc);
void OpenVideoPlayControl(CvelunaDoc& doc);
void OpenMobileSettings(CvelunaDoc& doc);
// Closes the document's links, clears its sequence and connected flag and
// runs the three-page batch dialog. `beforeExec` lets tests drive it.
void OpenBatchSend(CvelunaDoc& doc);
extern void (*batchBeforeExec)(CBatchSendFileTab&);
void OpenVideoControl(CvelunaDoc& doc);
void OpenQrCode(CvelunaDoc& doc);
void OpenPictureManager(CvelunaDoc& doc);

// The layout list reply while "Video Control" is open: a locked list is
// refused with a message; sub-code 0 goes to the dialog as text; anything
// else (or no dialog) to `previous`. The opener installs it for the
// dialog's lifetime.
std::function<void(const PlayerReply&)> LayoutListForwarder(CvelunaDoc& doc,
                                                            std::function<void(const PlayerReply&)> previous);

// Pane 2 of the main window's status bar as a progress bar: a range of 100
// shows it at 0, -1 hides it; a position is a percentage.
void SetStatusProgressRange(int range);
void SetStatusProgressPos(int percent);

}  // namespace content
