#include "transport/upload_chunks.h"

#include "common/text_coding.h"

#include <algorithm>

namespace upload {

uint16_t ChunkOrdinal(uint64_t sentIncludingChunk)
{
    const uint64_t blocks = (sentIncludingChunk + kChunk - 1) / kChunk;
    return uint16_t(std::clamp<uint64_t>(blocks, 1, 0xFFFF));
}

QByteArray CutAtCharacter(const QByteArray& bytes, std::size_t limit)
{
    std::size_t i = 0;
    const std::size_t n = std::size_t(bytes.size());
    while (i < n) {
        const std::size_t width = (uint8_t(bytes[qsizetype(i)]) > 0x80 && i + 1 < n) ? 2 : 1;
        if (i + width > limit)
            break;
        i += width;
    }
    return bytes.left(qsizetype(i));
}

QByteArray Field(const QByteArray& bytes, std::size_t size)
{
    QByteArray field = CutAtCharacter(bytes, size);
    field.append(QByteArray(qsizetype(size) - field.size(), '\0'));
    return field;
}

bool VideoBeginPayload(const QString& category, const QString& fileName, QByteArray& out)
{
    out.clear();
    QByteArray categoryBytes, nameBytes;
    if (!text::NameToDoubleByteText(category, categoryBytes) || !text::NameToDoubleByteText(fileName, nameBytes))
        return false;
    out = Field(categoryBytes, kCategoryBytes) + nameBytes;
    return true;
}

namespace {

QByteArray bytesSkippingZeros(const uint8_t* field, std::size_t size)
{
    QByteArray bytes;
    for (std::size_t i = 0; i < size; ++i)
        if (field[i] != 0)
            bytes.append(char(field[i]));
    return bytes;
}

}  // namespace

bool IsOnPlayer(const PlayerCatalog& catalog, const QByteArray& category, const QByteArray& fileName, uint64_t size)
{
    for (const CatalogVideo& v : catalog.videos) {
        if (v.size != size || v.name[0] == 0)
            continue;
        if (bytesSkippingZeros(v.category.data(), v.category.size()) == category &&
            bytesSkippingZeros(v.name.data(), v.name.size()) == fileName)
            return true;
    }
    return false;
}

bool IsOnPlayer(const PlayerCatalog& catalog, const QString& category, const QString& fileName, uint64_t size)
{
    QByteArray c, n;
    if (!text::NameToDoubleByteText(category, c) || !text::NameToDoubleByteText(fileName, n))
        return false;
    return IsOnPlayer(catalog, c, n, size);
}

bool ChunkReader::Open(const QString& path)
{
    Close();
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly))
        return false;
    size_ = uint64_t(std::max<qint64>(0, file_.size()));
    sent_ = 0;
    return true;
}

void ChunkReader::Close()
{
    if (file_.isOpen())
        file_.close();
}

bool ChunkReader::Next(QByteArray& chunk, bool& last)
{
    chunk.clear();
    last = true;
    if (!file_.isOpen())
        return false;
    chunk.resize(qsizetype(kChunk));
    const qint64 got = file_.read(chunk.data(), qint64(kChunk));
    if (got < 0) {
        chunk.clear();
        Close();
        return false;
    }
    chunk.resize(qsizetype(got));
    sent_ += uint64_t(got);
    last = uint64_t(got) < kChunk;
    if (last)
        Close();
    return true;
}

int ChunkReader::Percent() const
{
    if (size_ == 0)
        return 100;
    // 128-bit: bytes x 100 must not wrap for any file size.
    const auto percent = static_cast<unsigned __int128>(sent_) * 100u / size_;
    return int(std::min<unsigned __int128>(percent, 100));
}

}  // namespace upload
