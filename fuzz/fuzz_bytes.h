#pragma once
// Shared by the fuzz targets of outside input: the input as a QByteArray,
// and as a record of a fixed size (cut or padded with zero bytes), so that
// one input reaches the readers of a whole family, text and binary alike.

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace fuzzbytes {

inline QByteArray bytes(const uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

inline QByteArray record(const uint8_t* data, std::size_t size, std::size_t recordSize)
{
    QByteArray out(qsizetype(recordSize), '\0');
    std::copy(data, data + std::min(size, recordSize), out.begin());
    return out;
}

inline const uint8_t* raw(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

}  // namespace fuzzbytes
