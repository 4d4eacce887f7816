#pragma once
// The remote play control shared by veluna and Tollivar: the one-key
// document `VideoControl.Json` sent with CMD_VIDEO_CONTROL, the types read
// from the player's catalogue, the layout list text, the progress reply and
// the button grids. Plain C++ over Qt strings, no widgets.

#include "common/controls/remote_panel.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace remote {

// cmdIds of the document.
inline constexpr int kCmdCapabilities = 3;  // Tollivar: the player labels the buttons
inline constexpr int kCmdType = 2;
inline constexpr int kCmdPlayMode = 4;
inline constexpr int kCmdLayout = 6;
inline constexpr int kCmdSound = 8;
inline constexpr int kCmdPlay = 9;
inline constexpr int kCmdProgress = 10;
inline constexpr int kCmdPlayName = 11;

inline constexpr int kMaxTypeButtons = 64;
inline constexpr int kMaxVideoButtons = 50;
inline constexpr int kMaxLayoutButtons = 10;

inline constexpr char kDocumentName[] = "VideoControl.Json";

// The play-mode buttons (controls 4904..4908, previous 4913, next 4914).
enum class PlayMode { TypeLoop, SingleLoop, SinglePlay, TypeRandom, AllRandom, Previous, Next };
// The button's label, which is also the `playMode` value (language 4: Chinese).
QString PlayModeLabel(PlayMode mode, int language);

// The key that travels with `cmdId`; empty for a cmdId without one.
const char* KeyOfCommand(int cmdId);

// The document's bytes as the JSON writer writes them: {"cmdId": n} plus,
// for a cmdId that has one, its key with `value` as a UTF-8 string.
QByteArray BuildVideoControlDocument(int cmdId, const QString& value);
// Writes the document to `folder`/VideoControl.Json (replacing it, never
// half-written) and returns the file's bytes; empty on failure.
QByteArray WriteVideoControlDocument(const QString& folder, int cmdId, const QString& value);
// The CMD_VIDEO_CONTROL packet of those bytes (cmdId at offset 8); empty
// when the document would not fit behind the header in a request.
QByteArray VideoControlPacket(int cmdId, const QByteArray& document);

struct PlayTypeEntry {
    QString name;
    QStringList videos;
};
// Categories with a name in catalogue order; a type's videos are the named
// videos whose category text equals the type's name.
std::vector<PlayTypeEntry> TypesFromCatalog(const PlayerCatalog& catalog);

// "a.GFD?b.GFD?" -> {"a", "b"}: each piece before a '?' without its last four
// characters (a piece shorter than that is kept whole); text after the last
// '?' is dropped.
QStringList SplitLayoutList(const QString& text);

// The three rows of buttons the catalogue and the layout list fill.
enum class ListButton { Type, Video, Layout };
// A press of button `index` of its row, the same on both programs' pages.
// `listedType` is the type the video row lists (any value outside `types`:
// none yet) and `videoBox` whether "Video" is ticked. A type button sends
// the type's name (cmdId 2), or with the box ticked becomes the listed type
// and hands its videos to `listVideos` instead; a video button sends
// "type:video" (cmdId 11); a layout button its layout (cmdId 6). A button
// past its list does nothing.
void PressListButton(ListButton button, int index, const std::vector<PlayTypeEntry>& types,
                     const QStringList& layouts, bool videoBox, int& listedType,
                     const std::function<void(int cmdId, const QString& value)>& send,
                     const std::function<void(const QStringList& videos)>& listVideos);

// What the screen shows of a progress reply.
struct ProgressView {
    int percent = 0;
    QString timeText;       // "%02d:%02d:%02d/%02d:%02d:%02d"
    bool hasName = false;
    QString nameText;       // type "->" video
};
// Nothing when the reply fails a check or the position is not within 0..t
// with t >= 1.
std::optional<ProgressView> ReadProgressReply(const QByteArray& payload);
QString ProgressTimeText(int position, int total);

// One entry of a capability reply: the player's own label for its button
// of `type`.
struct CapabilityEntry {
    int type = 0;
    QString label;
};
// A CMD_VIDEO_CONTROL reply that is not empty, passes the JSON checks and
// carries an integer cmdId.
struct ControlReply {
    int cmdId = 0;
    // cmdId 3: whether `data` is an array, and its entries whose `playMode`
    // is a string and `type` an integer, in order.
    bool hasCapabilityList = false;
    std::vector<CapabilityEntry> capabilities;
    // cmdId 10: what the screen shows, when the progress checks pass.
    std::optional<ProgressView> progress;
};
std::optional<ControlReply> ReadControlReply(const QByteArray& payload);

}  // namespace remote
