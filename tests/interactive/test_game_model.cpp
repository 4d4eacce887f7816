#include "common/json_coding.h"
#include "interactive/game_model.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace game;

namespace {

// One screen of `cols` x `rows` outputs of 1920 x 1080, filled row by row.
OutputLayout grid(int cols, int rows, int cols2 = 0, int rows2 = 0)
{
    OutputLayout l;
    l.screens[0] = {0, 0, 1920 * cols, 1080 * rows};
    std::size_t o = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            l.outputs[o++] = {1920 * c, 1080 * r, 1920 * c + 1919, 1080 * r + 1079};
    if (cols2 > 0) {
        const int x0 = 1920 * cols;
        l.screens[1] = {x0, 0, x0 + 1920 * cols2, 1080 * rows2};
        for (int r = 0; r < rows2; ++r)
            for (int c = 0; c < cols2; ++c)
                l.outputs[o++] = {x0 + 1920 * c, 1080 * r, x0 + 1920 * c + 1919, 1080 * r + 1079};
    }
    return l;
}

proto::PlayerPacketHeader headerOf(const QByteArray& p)
{
    return proto::PlayerPacketHeader::fromBytes(reinterpret_cast<const uint8_t*>(p.constData()));
}

}  // namespace

TEST(GameModel, ScreenGrids)
{
    OutputLayout columnZero = grid(1, 2);
    std::swap(columnZero.outputs[0], columnZero.outputs[1]);  // the grid's end comes before the first row's end
    struct Row {
        const char* name;
        OutputLayout layout;
        uint32_t rows1, cols1, rows2, cols2;
    } rows[] = {
        {"1x1", grid(1, 1), 1, 1, 0, 0},
        {"3x1", grid(3, 1), 1, 3, 0, 0},
        {"2x2", grid(2, 2), 2, 2, 0, 0},
        {"3x3", grid(3, 3), 3, 3, 0, 0},
        {"2x1 + 2x1", grid(2, 1, 2, 1), 1, 2, 1, 2},
        {"1x1 + 2x2", grid(1, 1, 2, 2), 1, 1, 2, 2},
        {"column 0 first", columnZero, 1, 2, 0, 0},
    };
    for (const Row& r : rows) {
        std::array<GameRect, 2> rects{};
        ComputeScreenGrids(r.layout, rects);
        EXPECT_EQ(rects[0].rows, r.rows1) << r.name;
        EXPECT_EQ(rects[0].columns, r.cols1) << r.name;
        EXPECT_EQ(rects[1].rows, r.rows2) << r.name;
        EXPECT_EQ(rects[1].columns, r.cols2) << r.name;
    }
}

TEST(GameModel, StatusBlockLayout)
{
    uint8_t block[108] = {};
    proto::putU16(block + 4 + 8 + 0, 1920);
    proto::putU16(block + 4 + 8 + 4, 3840);
    proto::putU16(block + 4 + 8 + 6, 1080);
    proto::putU16(block + 36 + 0, 10);   // left
    proto::putU16(block + 36 + 2, 1919); // right
    proto::putU16(block + 36 + 4, 20);   // top
    proto::putU16(block + 36 + 6, 1079); // bottom
    const OutputLayout l = OutputLayout::FromStatusBlock(block, 108);
    EXPECT_EQ(l.screens[1], (geom::RectI{1920, 0, 3840, 1080}));
    EXPECT_EQ(l.outputs[0], (geom::RectI{10, 20, 1919, 1079}));
    EXPECT_FALSE(ScreenExists(l.screens[0]));
    EXPECT_EQ(OutputLayout::FromStatusBlock(block, 107).screens[0], (geom::RectI{0, 0, 1920, 1080}));
}

TEST(GameModel, ListParsing)
{
    struct Row {
        const char* text;
        bool ok;
        uint32_t x, width, height, screen;
        std::size_t games;
        bool firstFull;
    } rows[] = {
        {R"({"currentGameName":"a","gameInScreen":0,"x":100,"y":0,"width":500,"height":400,"gameNames":["a","b"]})", true, 100, 500, 400, 0, 2, false},
        {R"({"currentGameName":"a","gameInScreen":5,"x":100,"y":0,"width":"w","height":400,"gameNames":["a"]})", true, 100, 320, 400, 1, 1, false},
        {R"({"currentGameName":"a","gameInScreen":0,"x":-5,"y":0,"width":10,"height":10,"gameNames":[]})", true, 320, 320, 320, 0, 0, false},
        {R"({"currentGameName":"a","gameInScreen":0,"x":1,"y":0,"width":400,"height":400,"gameNames":["a","b"],"gamesFullScreen":[true]})", true, 1, 400, 400, 0, 2, false},
        {R"({"currentGameName":"a","gameInScreen":0,"x":1,"y":0,"width":400,"height":400,"gameNames":["a","b"],"gamesFullScreen":[true,false]})", true, 1, 400, 400, 0, 2, true},
        {R"({"currentGameName":"a","gameInScreen":0,"x":100,"y":0,"height":400,"gameNames":["a"]})", false, 0, 0, 0, 0, 0, false},
        {R"({"currentGameName":"a","gameInScreen":0,"x":100,"y":0,"width":null,"height":400,"gameNames":["a"]})", false, 0, 0, 0, 0, 0, false},
        {R"({"currentGameName":"a")", false, 0, 0, 0, 0, 0, false},
        {"", false, 0, 0, 0, 0, 0, false},
    };
    for (const Row& r : rows) {
        GameList l;
        l.x = 0;
        ASSERT_EQ(ParseGameList(r.text, l), r.ok) << r.text;
        if (!r.ok) {
            EXPECT_TRUE(l.games.empty());
            continue;
        }
        EXPECT_EQ(l.x, r.x) << r.text;
        EXPECT_EQ(l.width, r.width) << r.text;
        EXPECT_EQ(l.height, r.height) << r.text;
        EXPECT_EQ(l.currentScreen, r.screen) << r.text;
        ASSERT_EQ(l.games.size(), r.games) << r.text;
        if (r.games) {
            EXPECT_EQ(l.games[0].fullScreen, r.firstFull) << r.text;
        }
    }
    GameList l;
    ASSERT_TRUE(ParseGameList("{\"currentGameName\":\"\xC6\xE5\",\"gameInScreen\":0,\"x\":0,\"y\":0,\"width\":320,"
                              "\"height\":320,\"gameNames\":[\"b\",\"\xC6\xE5\"]}",
                              l));
    EXPECT_EQ(l.currentName, QString::fromUtf8("棋"));
    EXPECT_EQ(GameRowLabel(l, 1), QString::fromUtf8("* 棋"));
    EXPECT_EQ(GameRowLabel(l, 0), "b");
    EXPECT_EQ(CurrentGameIndex(l), 1);
}

TEST(GameModel, GameJsonMembers)
{
    const Json::Value v = GameJson(QString::fromUtf8("棋"), 1, {1920, 10, 2420, 410}, 0);
    EXPECT_EQ(jsonio::write(v),
              "{\n\t\"gameName\" : \"\xE6\xA3\x8B\",\n\t\"gameScreen\" : 1,\n\t\"height\" : 400,\n\t\"startGame\" : 0,"
              "\n\t\"width\" : 500,\n\t\"x\" : 1920,\n\t\"y\" : 10\n}");
}

TEST(GameModel, MapScaleAndTracker)
{
    const geom::RectI map{10, 11, 910, 611};
    const geom::RectI screen{0, 0, 1920, 1080};
    const MapScale m = ComputeMapScale(map, screen, 1, 1);
    EXPECT_DOUBLE_EQ(m.sx, 100.0 / 1920 * 4);
    EXPECT_DOUBLE_EQ(m.sy, 66.0 / 1080 * 4);
    EXPECT_EQ(m.toMapX(1920), 410);
    EXPECT_EQ(ComputeMapScale(map, {0, 0, 0, 0}, 1, 1).sx, 4.0);  // empty screen: scale starts at 1
    struct Row {
        geom::RectI mapRect;
        geom::RectI expected;
    } rows[] = {
        {{10, 11, 20, 21}, {0, 0, 320, 320}},           // tiny drag: at least 320 x 320
        {{10 + 400, 11, 10 + 410, 21}, {1920, 0, 1920, 320}},  // at the right edge: clipped
        {{110, 111, 310, 211}, {480, 409, 1440, 818}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(TrackerRectToGameRect(r.mapRect, m, screen), r.expected);
    EXPECT_EQ(DefaultGameRect({1920, 0, 3840, 1080}), (geom::RectI{1920, 0, 2240, 320}));
}

TEST(GameModel, UploadChains)
{
    QTemporaryDir dir;
    auto make = [&](const QString& name, qint64 size) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.resize(size);
        return f.fileName();
    };
    struct Packet {
        uint8_t sub;
        uint16_t arg;
        int length;
    };
    struct Row {
        const char* name;
        QStringList files;
        std::vector<Packet> packets;
    } rows[] = {
        {"20,000,000", {make("big.apk", 20000000)},
         {{0, 0, 7}, {1, 0, 8192000}, {1, 0, 8192000}, {2, 0, 3616000}}},
        {"exactly one chunk", {make("one.apk", 8192000)}, {{0, 0, 7}, {1, 0, 8192000}, {2, 0, 0}}},
        {"two files", {make("a.apk", 10), make("b.apk", 20)}, {{0, 0, 5}, {2, 1, 10}, {0, 0, 5}, {2, 0, 20}}},
    };
    for (const Row& r : rows) {
        ApkUpload up;
        QString message;
        ASSERT_TRUE(up.Start(r.files, 9, &message)) << r.name;
        for (const Packet& p : r.packets) {
            const QByteArray bytes = up.NextPacket(9, &message);
            ASSERT_FALSE(bytes.isEmpty()) << r.name;
            const proto::PlayerPacketHeader h = headerOf(bytes);
            EXPECT_EQ(h.command, proto::CMD_GAME);
            EXPECT_EQ(h.param, 2);
            EXPECT_EQ(h.subCode, p.sub) << r.name;
            EXPECT_EQ(h.arg, p.arg) << r.name;
            EXPECT_EQ(int(h.payloadLength), p.length) << r.name;
        }
        EXPECT_TRUE(up.NextPacket(9, &message).isEmpty()) << r.name;
        EXPECT_TRUE(up.finished()) << r.name;
        EXPECT_EQ(up.sent(), up.total()) << r.name;
        EXPECT_TRUE(message.isEmpty()) << r.name;
    }
}

TEST(GameModel, UploadRefusalsAndUnreadableFile)
{
    QTemporaryDir dir;
    QFile empty(dir.filePath("e.apk"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString longName = dir.filePath(QString(257, 'n') + ".apk");
    struct Row {
        QStringList files;
        const char* contains;
    } rows[] = {
        {{empty.fileName()}, "The selected files have no content"},
        {{longName}, "game file name is too long"},
        {{dir.filePath(QString::fromUtf8("\xF0\x9F\x98\x80.apk"))}, ""},
    };
    for (const Row& r : rows) {
        ApkUpload up;
        QString message;
        EXPECT_FALSE(up.Start(r.files, 9, &message));
        EXPECT_TRUE(message.contains(r.contains)) << message.toStdString();
        EXPECT_FALSE(message.isEmpty());
    }
    // A file that vanished before its first chunk stops the chain with a message.
    QFile f(dir.filePath("gone.apk"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    ApkUpload up;
    QString message;
    ASSERT_TRUE(up.Start({f.fileName()}, 9, &message));
    ASSERT_FALSE(up.NextPacket(9, &message).isEmpty());
    QFile::remove(f.fileName());
    EXPECT_TRUE(up.NextPacket(9, &message).isEmpty());
    EXPECT_TRUE(up.finished());
    EXPECT_FALSE(message.isEmpty());
}

namespace {

// A package cut short while its chunks travel is passed over with the
// read-failure message; the next package of the chain still goes whole.
TEST(GameModel, PackageCutShortIsPassedOverAndTheNextGoes)
{
    QTemporaryDir dir;
    const QString cut = dir.filePath("cut.apk"), next = dir.filePath("next.apk");
    for (const auto& [path, size] : {std::pair{cut, 8192000 + 50}, std::pair{next, 30}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.resize(size);
    }
    ApkUpload up;
    QString message;
    ASSERT_TRUE(up.Start({cut, next}, 4, &message));
    ASSERT_EQ(headerOf(up.NextPacket(4, &message)).subCode, 0);  // the name
    ASSERT_EQ(headerOf(up.NextPacket(4, &message)).payloadLength, 8192000u);
    ASSERT_TRUE(QFile::resize(cut, 8192000 + 10));
    const QByteArray name = up.NextPacket(4, &message);
    EXPECT_EQ(message, QStringLiteral("文件在发送过程中被改动：") + QDir::toNativeSeparators(cut));
    ASSERT_EQ(headerOf(name).subCode, 0);  // the next package's name, no half chunk
    EXPECT_TRUE(name.endsWith("next.apk"));
    message.clear();
    const QByteArray last = up.NextPacket(4, &message);
    EXPECT_EQ(headerOf(last).subCode, 2);
    EXPECT_EQ(headerOf(last).payloadLength, 30u);
    EXPECT_TRUE(up.NextPacket(4, &message).isEmpty());
    EXPECT_TRUE(up.finished());
    EXPECT_TRUE(message.isEmpty());
}

}  // namespace

namespace {

// A package's chunks go as a 16-byte header with the file's bytes as the
// shared body; the name packet stays whole.
TEST(GameModel, InstallChunksTravelAsHeaderAndSharedBody)
{
    QTemporaryDir dir;
    const QByteArray bytes = testsupport::randomBytes(8192000 + 70, 11);
    const QString path = dir.filePath("pkg.apk");
    ASSERT_TRUE(testsupport::writeFile(path, bytes));
    ApkUpload up;
    QString message;
    ASSERT_TRUE(up.Start({path}, 9, &message));
    const struct {
        uint8_t sub;
        int dataSize;
        qsizetype from, length;
    } rows[] = {{0, 16 + 7, 0, 0}, {1, 16, 0, 8192000}, {2, 16, 8192000, 70}};
    for (const auto& r : rows) {
        const std::unique_ptr<SendRequest> request = up.NextRequest(9, &message);
        ASSERT_TRUE(request) << int(r.sub);
        EXPECT_EQ(headerOf(request->data).subCode, r.sub);
        EXPECT_EQ(request->data.size(), r.dataSize) << int(r.sub);
        EXPECT_EQ(request->length(), uint32_t(r.dataSize + r.length)) << int(r.sub);
        EXPECT_TRUE(request->body == bytes.mid(r.from, r.length)) << int(r.sub);
    }
    EXPECT_FALSE(up.NextRequest(9, &message));
    EXPECT_TRUE(message.isEmpty());
}

}  // namespace

namespace {

// Each package is looked at once, when it is chosen: the bar's total counts
// that size, and a package that is no longer that file when its turn comes,
// or that is written while its last chunk travels, is passed over with the
// read-failure message instead of sending more than the total promised.
TEST(GameModel, PackageChangedSinceItWasChosenIsPassedOver)
{
    enum class When { kNever, kBeforeItsName, kWhileTheFirstTravels, kWhileItsLastChunkTravels };
    const struct {
        const char* name;
        When when;
        std::vector<std::pair<uint8_t, uint32_t>> packets;  // sub-code, payload length after a's name
        const char* passedOver;                              // the file named in the message, or none
    } rows[] = {
        {"unchanged", When::kNever, {{2, 1000}, {0, 5}, {2, 300}}, nullptr},
        {"a grown after the choice", When::kBeforeItsName, {{0, 5}, {2, 300}}, "a.apk"},
        {"b grown while a travels", When::kWhileTheFirstTravels, {{2, 1000}, {0, 5}}, "b.apk"},
        {"a written again while its last chunk travels", When::kWhileItsLastChunkTravels, {{2, 1000}, {0, 5}, {2, 300}},
         "a.apk"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString a = dir.filePath("a.apk"), b = dir.filePath("b.apk");
        ASSERT_TRUE(testsupport::writeFile(a, testsupport::randomBytes(1000, 1)));
        ASSERT_TRUE(testsupport::writeFile(b, testsupport::randomBytes(300, 2)));
        ApkUpload up;
        QString message;
        ASSERT_TRUE(up.Start({a, b}, 9, &message));
        EXPECT_EQ(up.total(), 1300u);
        if (r.when == When::kBeforeItsName) {
            ASSERT_TRUE(QFile::resize(a, 5000));
        }
        ASSERT_TRUE(headerOf(up.NextPacket(9, &message)).payloadLength == 5);  // a's name
        std::vector<std::pair<uint8_t, uint32_t>> got;
        QStringList told;
        for (int i = 0; i < 6; ++i) {
            const QByteArray packet = up.NextPacket(9, &message);
            if (!message.isEmpty())
                told << message;
            message.clear();
            if (packet.isEmpty())
                break;
            const proto::PlayerPacketHeader h = headerOf(packet);
            got.emplace_back(h.subCode, h.payloadLength);
            if (got.size() == 1 && r.when == When::kWhileTheFirstTravels) {
                ASSERT_TRUE(QFile::resize(b, 4000));
            }
            if (got.size() == 1 && r.when == When::kWhileItsLastChunkTravels) {
                // Same size, its modification time put back: only the
                // status-change time tells.
                ASSERT_TRUE(testsupport::rewriteKeepingTheTime(a));
            }
        }
        EXPECT_TRUE(up.finished());
        EXPECT_EQ(got, r.packets);
        EXPECT_LE(up.sent(), up.total());
        if (r.passedOver) {
            EXPECT_EQ(told.size(), 1);
            if (told.isEmpty())
                continue;
            EXPECT_TRUE(told.front().startsWith("The file changed while it was being sent: ")) << told.front().toStdString();
            EXPECT_TRUE(told.front().endsWith(QString::fromLatin1(r.passedOver))) << told.front().toStdString();
        } else {
            EXPECT_TRUE(told.isEmpty());
        }
    }
}

}  // namespace
