#include "common/digest.h"

#include "tests/support/test_support.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace digest;

namespace {

uint16_t crc(const QByteArray& b)
{
    return Crc16Modbus(reinterpret_cast<const uint8_t*>(b.constData()), std::size_t(b.size()));
}

bool trailerPasses(const QByteArray& b)
{
    return CheckCrcTrailer(reinterpret_cast<const uint8_t*>(b.constData()), std::size_t(b.size()));
}

}  // namespace

TEST(Md5OfFile, Rfc1321ValuesAndUnreadableFiles)
{
    QTemporaryDir dir;
    const std::pair<QByteArray, const char*> cases[] = {
        {QByteArray(), "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // Longer than the 1,024-byte reading block, not a multiple of it.
        {QByteArray(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto& [data, expected] : cases) {
        ASSERT_TRUE(testsupport::writeFile(dir.filePath("data"), data));
        EXPECT_EQ(Md5OfFile(dir.filePath("data")), expected) << data.left(20).toStdString();
    }
    EXPECT_EQ(Md5OfFile(dir.filePath("missing.png")), "");
    EXPECT_EQ(Md5OfFile(QString()), "");
    EXPECT_EQ(Md5OfFile(dir.path()), "");  // a folder is no file
}

TEST(Crc16Modbus, ValuesAndTrailer)
{
    EXPECT_EQ(crc(QByteArray()), 0xFFFF);
    EXPECT_EQ(crc("123456789"), 0x4B37);
    EXPECT_EQ(crc(QByteArray("\x01\x03\x00\x00\x00\x0A", 6)), 0xCDC5);  // Modbus read request
    EXPECT_EQ(crc(QByteArray(1, '\0')), 0x40BF);

    const struct { const char* name; QByteArray reply; bool passes; } cases[] = {
        {"low byte first", "123456789\x37\x4B", true}, {"high byte first", "123456789\x4B\x37", false},
        {"two bytes against 0xFFFF", "\xFF\xFF", true}, {"two other bytes", "\xFF\xFE", false},
        {"one byte", "\xFF", false}, {"nothing", QByteArray(), false}, {"one bit flipped", "123456788\x37\x4B", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trailerPasses(c.reply), c.passes) << c.name;
    EXPECT_FALSE(CheckCrcTrailer(nullptr, 4));

    for (const QByteArray& body : {QByteArray(), QByteArray("123456789"), QByteArray(70000, '\x5A')}) {
        QByteArray data = body;
        AppendCrcTrailer(data);
        EXPECT_EQ(data.chopped(2), body);
        EXPECT_TRUE(trailerPasses(data));
    }
    QByteArray nine("123456789");
    AppendCrcTrailer(nine);
    EXPECT_EQ(nine.right(2), QByteArray("\x37\x4B"));  // low byte first
}
