#include "common/digest.h"

#include <QCryptographicHash>
#include <QFile>

#include <array>
#include <memory>

namespace digest {

namespace {

// The two 256-entry tables of the table-driven CRC-16/MODBUS, built once at
// compile time from the reflected polynomial 0xA001.
struct CrcTables {
    std::array<uint8_t, 256> hi{};
    std::array<uint8_t, 256> lo{};
};

constexpr CrcTables makeTables()
{
    CrcTables t;
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        t.lo[i] = uint8_t(crc & 0xFF);
        t.hi[i] = uint8_t(crc >> 8);
    }
    return t;
}

constexpr CrcTables kTables = makeTables();

}  // namespace

std::string Md5OfFile(const QString& path)
{
    QFile file(path);
    // Unbuffered, in blocks of 1 MiB: the bytes go from the system straight
    // into the block, a gigabyte of material in a thousand reads.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::string();
    QCryptographicHash hash(QCryptographicHash::Md5);
    constexpr qint64 kBlock = 1 << 20;
    const std::unique_ptr<char[]> block(new char[std::size_t(kBlock)]);
    for (;;) {
        const qint64 n = file.read(block.get(), kBlock);
        if (n < 0)
            return std::string();  // a read error must not pass as a digest
        if (n == 0)
            break;
        hash.addData(QByteArrayView(block.get(), n));
    }
    return hash.result().toHex().toStdString();
}

uint16_t Crc16Modbus(const uint8_t* data, std::size_t length)
{
    uint8_t lo = 0xFF;
    uint8_t hi = 0xFF;
    for (std::size_t i = 0; i < length; ++i) {
        const uint8_t index = lo ^ data[i];
        lo = hi ^ kTables.lo[index];
        hi = kTables.hi[index];
    }
    return uint16_t(hi << 8 | lo);
}

bool CheckCrcTrailer(const uint8_t* data, std::size_t length)
{
    if (data == nullptr || length < 2)
        return false;
    const uint16_t crc = Crc16Modbus(data, length - 2);
    return data[length - 2] == uint8_t(crc & 0xFF) && data[length - 1] == uint8_t(crc >> 8);
}

void AppendCrcTrailer(QByteArray& data)
{
    const uint16_t crc =
        Crc16Modbus(reinterpret_cast<const uint8_t*>(data.constData()), std::size_t(data.size()));
    data.append(char(crc & 0xFF));
    data.append(char(crc >> 8));
}

}  // namespace digest
