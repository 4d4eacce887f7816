#include "common/digest.h"

#include "tests/support/test_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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

// Closing the page or the document mid-digest does not wait on the UI
// thread for the read the digest is in (a slow or stuck disk, here a pipe no
// one writes to): the pass ends on its own later and reports nothing.
TEST(BackgroundMd5, CancelAndDestructionDoNotWaitForTheReadUnderWay)
{
    const struct {
        const char* name;
        bool destroy;  // else Cancel
    } rows[] = {{"cancelled", false}, {"destroyed", true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("stuck.png")));
        ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
        auto md5 = std::make_unique<BackgroundMd5>();
        bool reported = false;
        md5->Start(QString::fromLocal8Bit(fifo), nullptr, [&](const std::string&, const filestamp::FileStamp&) {
            reported = true;
        });
        // The read ends only when something writes to the pipe: after the
        // call returned, or (when the call waits for it) after a generous while.
        std::atomic<bool> returned{false};
        std::atomic<bool> releasedFirst{false};
        std::thread release([&] {
            for (int i = 0; i < 2000 && !returned; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            releasedFirst = !returned;
            const int fd = ::open(fifo.constData(), O_WRONLY);
            if (fd >= 0)
                ::close(fd);
        });
        if (r.destroy)
            md5.reset();
        else
            md5->Cancel();
        returned = true;
        release.join();
        EXPECT_FALSE(releasedFirst);
        testsupport::waitUntil([] { return false; }, 200);
        EXPECT_FALSE(reported);
        if (md5) {
            EXPECT_FALSE(md5->Running());
        }
    }
}
