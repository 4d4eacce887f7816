#pragma once
// The rules of the video store pages without widgets: the catalogue as a
// tree, what a tree selection names, the checks on names and play times,
// every packet the store pages send, and the little-endian pieces of the
// parameter backup. Everything here is plain and tested on its own.

#include "common/bilingual_text.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace store {

inline constexpr uint16_t kPlayTimeVersion = 0x2640;  // players from 2.6.4 keep a play time
inline constexpr uint16_t kBackupVersion = 0x1500;    // players from 1.5.0 back up their parameters
inline constexpr std::size_t kCategoryBytes = 8;      // a category name on the player
inline constexpr std::size_t kFolderNameLimit = 9;    // a new folder of 9 bytes or more is too long
inline constexpr std::size_t kRenameLimit = 253;      // a new name must be shorter than this
inline constexpr std::size_t kFileNameLimit = 256;    // a local file name longer than this is refused
inline constexpr double kMaxPlayMinutes = 35791394.0; // minutes x 60 must fit an i32
inline constexpr uint64_t kChunk = proto::kChunkSize;

// One message in both languages (see store_texts.h); `Text` picks by the
// language code.
using Message = text::Bilingual;
inline QString Text(Message m, unsigned language)
{
    return text::Pick(m, language);
}

// ------------------------------------------------------------ catalogue

struct TreeVideo {
    QString name;
    uint16_t index = 0;  // entry of the video table
};
struct TreeCategory {
    QString name;
    int entry = 0;  // entry of the category table
    std::vector<TreeVideo> videos;
};

// A category entry is used when its first name byte is not zero.
bool CategoryUsed(const CatalogCategory& c);
// The name of a category entry (8 bytes up to the first zero).
QString CategoryName(const CatalogCategory& c);
// The used categories' names in catalogue order.
QStringList CategoryNames(const PlayerCatalog& catalog);
// The tree under the root: used categories in catalogue order, each with its
// listed videos (count capped at 512, indexes of 512 and more ignored).
std::vector<TreeCategory> BuildTree(const PlayerCatalog& catalog);
// Whether the player already holds this file: a video entry with the same
// category text, name and size. Catalogue texts are read byte by byte with
// the zero bytes skipped, as the player fills them.
bool IsOnPlayer(const PlayerCatalog& catalog, const QString& category, const QString& fileName, uint64_t size);

// ------------------------------------------------------------ selection

// Decided by the tree level the item sits on, never by its text: a video
// named like a category or like the root is still a video.
enum class Level { None, Root, Category, Video };

struct Selection {
    Level level = Level::None;
    uint16_t categoryFlag = 0;  // 1: categories, 0: one video
    QStringList names;          // a video as "category:name"
    QString firstName;          // the root label for all categories
    QString category;           // category of a video, or the category itself
    QString videoName;          // the video's own name
    bool valid() const { return level != Level::None && !names.isEmpty(); }
};

// `categoryText` is the category item's text (for a video its parent's),
// `videoText` the video item's text.
Selection MakeSelection(Level level, const QString& rootLabel, const QStringList& categories,
                        const QString& categoryText = QString(), const QString& videoText = QString());

// ------------------------------------------------------------ checks

// A name for a packet in code page 936, or the message that refuses it.
struct Encoded {
    QByteArray bytes;
    QString error;  // empty when the name can be sent
    bool ok() const { return error.isEmpty(); }
};
Encoded EncodeName(const QString& name, unsigned language);

// New folder: the trimmed name or the message that refuses it, checked in
// the order "?", existing, too long, empty, then unencodable.
Encoded CheckNewFolder(const QString& editText, const QStringList& categories, unsigned language);

// Rename: for a video `siblings` are the names of the videos of its
// category. The payload is "old?new"; a category's new name is cut to 8
// bytes at a character boundary and checked for duplicates again after the
// cut. `newName` returns the name as it will reach the player.
struct RenamePlan {
    QString error;
    QString oldName;
    QString newName;
    QByteArray payload;
    bool ok() const { return error.isEmpty(); }
};
RenamePlan PlanRename(const Selection& selection, const QString& editText, const QStringList& categories,
                      const QStringList& siblings, unsigned language);

// Play time: minutes as typed to whole seconds, or the refusal.
struct PlayTime {
    int32_t seconds = 0;
    QString error;
    bool ok() const { return error.isEmpty(); }
};
PlayTime ParsePlayTime(const QString& editText, unsigned language);
// Seconds as the edit shows them: minutes with two decimals.
QString PlayTimeText(uint32_t seconds);

// The part of a path after its last "/" or "\".
QString FileNameOf(const QString& path);
// A local file or folder name that may travel: no "?" or ":" (the player
// splits its name lists at them), within `limit` bytes, encodable. Empty
// when it may; else the message (the name followed by the reason).
QString CheckLocalName(const QString& name, std::size_t limit, Message tooLong, unsigned language);

// ------------------------------------------------------------ packets

struct Packet {
    proto::PlayerPacketHeader header;
    QByteArray payload;
};

Packet RefreshPacket(uint16_t counter, uint16_t act);
// The names each followed by "?"; nothing when a name cannot be encoded.
std::optional<Packet> DeletePacket(const Selection& selection, uint16_t act, unsigned language, QString* error);
std::optional<Packet> PlayPacket(const Selection& selection, uint16_t act, unsigned language, QString* error);
Packet NewFolderPacket(const QByteArray& name, uint16_t act);
Packet RenamePacket(const RenamePlan& plan, uint16_t categoryFlag, uint16_t act);
Packet VolumePacket(uint16_t a, uint16_t b, uint16_t c);
Packet AskPlayTimePacket();
Packet SetPlayTimePacket(int32_t seconds);

// Upload: the 8-byte category field (cut at a character boundary) then the
// file name; false when either cannot be encoded.
bool UploadBeginPacket(const QString& category, const QString& fileName, uint16_t counter, uint16_t act,
                       Packet& out);
Packet UploadChunkPacket(bool first, bool last, const QByteArray& data, uint16_t counter, uint16_t act);

// `bytes` cut to at most `limit` bytes without splitting a two-byte code.
QByteArray CutAtCharacter(const QByteArray& bytes, std::size_t limit);

// ------------------------------------------------------------ backup

enum class ParamKind : uint16_t { Backup = 2, Recovery = 3, PlayTime = 5 };
Packet ParamFilePacket(ParamKind kind, uint16_t state, const QByteArray& payload = QByteArray());
// The archive size: the payload as a little-endian number of at most 8
// bytes, in KiB; returned in bytes.
uint64_t BackupTotalBytes(const QByteArray& payload);
// done x 100 / total, 0 for an empty total, never above 100.
int Percent(uint64_t done, uint64_t total);

}  // namespace store
