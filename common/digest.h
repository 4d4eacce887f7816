#pragma once
// The MD5 digest text of a file and the CRC-16/MODBUS check of configuration
// files that travel to and from the player.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace digest {

// 32 lower-case hexadecimal characters, or empty when the file cannot be read.
std::string Md5OfFile(const QString& path);

// CRC-16/MODBUS (reflected polynomial 0xA001, initial 0xFFFF, no final XOR).
uint16_t Crc16Modbus(const uint8_t* data, std::size_t length);

// True when the last two bytes of `data` are the CRC of the bytes before
// them, low byte first. False for fewer than two bytes.
bool CheckCrcTrailer(const uint8_t* data, std::size_t length);

// Appends the two-byte trailer (low byte first) to `data`.
void AppendCrcTrailer(QByteArray& data);

}  // namespace digest
