#include "common/digest.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace digest;

namespace {

QString writeTemp(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return QString();
    return path;
}

const uint8_t* u8(const QByteArray& b)
{
    return reinterpret_cast<const uint8_t*>(b.constData());
}

}  // namespace

TEST(Md5OfFile, Rfc1321Values)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QByteArray data;
        const char* expected;
    } cases[] = {
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
    int n = 0;
    for (const Case& c : cases) {
        const QString path = writeTemp(dir, QString::number(n++), c.data);
        ASSERT_FALSE(path.isEmpty());
        EXPECT_EQ(Md5OfFile(path), c.expected) << c.data.left(20).toStdString();
    }
}

TEST(Md5OfFile, UnreadableGivesEmpty)
{
    QTemporaryDir dir;
    EXPECT_EQ(Md5OfFile(dir.filePath("missing.png")), "");
    EXPECT_EQ(Md5OfFile(QString()), "");
    EXPECT_EQ(Md5OfFile(dir.path()), "");  // a folder is no file
}

TEST(Crc16Modbus, Values)
{
    struct Case {
        QByteArray data;
        uint16_t crc;
    } cases[] = {
        {QByteArray(), 0xFFFF},
        {"123456789", 0x4B37},
        {QByteArray("\x01\x03\x00\x00\x00\x0A", 6), 0xCDC5},  // Modbus read request
        {QByteArray(1, '\0'), 0x40BF},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Crc16Modbus(u8(c.data), std::size_t(c.data.size())), c.crc)
            << c.data.toHex().toStdString();
}

TEST(CrcTrailer, CheckAndAppend)
{
    struct Case {
        const char* name;
        QByteArray reply;
        bool passes;
    } cases[] = {
        {"low byte first", QByteArray("123456789\x37\x4B"), true},
        {"high byte first", QByteArray("123456789\x4B\x37"), false},
        {"two bytes against 0xFFFF", QByteArray("\xFF\xFF"), true},
        {"two other bytes", QByteArray("\xFF\xFE"), false},
        {"one byte", QByteArray("\xFF"), false},
        {"nothing", QByteArray(), false},
        {"one bit flipped", QByteArray("123456788\x37\x4B"), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckCrcTrailer(u8(c.reply), std::size_t(c.reply.size())), c.passes) << c.name;
    EXPECT_FALSE(CheckCrcTrailer(nullptr, 4));

    for (const QByteArray& body : {QByteArray(), QByteArray("123456789"), QByteArray(70000, '\x5A')}) {
        QByteArray data = body;
        AppendCrcTrailer(data);
        ASSERT_EQ(data.size(), body.size() + 2);
        EXPECT_TRUE(data.startsWith(body));
        EXPECT_TRUE(CheckCrcTrailer(u8(data), std::size_t(data.size())));
    }
    QByteArray nine("123456789");
    AppendCrcTrailer(nine);
    EXPECT_EQ(nine.right(2), QByteArray("\x37\x4B"));
}
