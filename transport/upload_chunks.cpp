#include "transport/upload_chunks.h"

#include "common/text_coding.h"

#include <QDir>

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

QString ReadFailureMessage(const QString& path, int language)
{
    return (language == 4 ? QStringLiteral("无法读取文件：") : QStringLiteral("Cannot read the file: ")) +
           QDir::toNativeSeparators(path);
}

QString ChangedFileMessage(const QString& path, int language)
{
    return (language == 4 ? QStringLiteral("文件在发送过程中被改动：") : QStringLiteral("The file changed while it was being sent: ")) +
           QDir::toNativeSeparators(path);
}

}  // namespace upload
