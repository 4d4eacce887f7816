#pragma once
// The pieces every file upload to a player is made of, shared by both
// programs: the chunk ordinal, the read-failure and changed-file messages, the video begin payload and
// the match of a local video against the player's catalogue.

#include "transport/protocol.h"
#include "transport/records.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace upload {

inline constexpr uint64_t kChunk = proto::kChunkSize;  // 8,192,000 bytes
inline constexpr std::size_t kCategoryBytes = 8;

// The number of 8,192,000-byte blocks `sentIncludingChunk` bytes occupy,
// rounded up, at least 1 (an empty last chunk still counts), held at 65,535
// since it travels as a u16.
uint16_t ChunkOrdinal(uint64_t sentIncludingChunk);

// `bytes` cut to at most `limit` bytes without splitting a two-byte code.
QByteArray CutAtCharacter(const QByteArray& bytes, std::size_t limit);
// `bytes` cut at a character boundary to `size` and zero-padded to it.
QByteArray Field(const QByteArray& bytes, std::size_t size);

// The begin payload: the 8-byte category field then the file name without a
// terminator, both in code page 936. False (and `out` empty) when either name
// cannot be encoded whole.
bool VideoBeginPayload(const QString& category, const QString& fileName, QByteArray& out);

// Whether the catalogue lists a video of this category, name and size. The
// names are compared as code-page bytes, as they were sent; the catalogue's
// zero bytes are skipped, as the player fills its fields.
bool IsOnPlayer(const PlayerCatalog& catalog, const QByteArray& category, const QByteArray& fileName, uint64_t size);
// The same with the names encoded first; false for a name that cannot be.
bool IsOnPlayer(const PlayerCatalog& catalog, const QString& category, const QString& fileName, uint64_t size);

// The message of an upload that ends because its file cannot be read or is
// now shorter than when it was opened (`language` 4: Chinese).
QString ReadFailureMessage(const QString& path, int language);
// The message of an upload refused because its file changed after it was
// announced or opened: what went, or would go, is no longer one file.
QString ChangedFileMessage(const QString& path, int language);

}  // namespace upload
