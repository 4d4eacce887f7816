// Layouts and material between the document and a simulated player, end to
// end over loopback, bytes compared.
#include "common/digest.h"
#include "common/text_coding.h"
#include "core/document.h"
#include "core/layout/layout_transfer.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/layout_store.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <set>

namespace {

using testsupport::waitUntil;

const QString kTitle = QStringLiteral("veluna V9.1.5");
constexpr int kChunk = int(proto::kChunkSize);

QByteArray layoutText(const QStringList& pictures, const QStringList& videos = {})
{
    QByteArray images, vids;
    for (const QString& p : pictures)
        images += (images.isEmpty() ? "" : ",") + QByteArray(R"({"name":")") + p.toUtf8() +
                  R"(","x":10,"y":20,"w":300,"h":200,"channel":3})";
    for (const QString& v : videos)
        vids += (vids.isEmpty() ? "" : ",") + QByteArray(R"({"name":")") + v.toUtf8() + R"("})";
    return R"({"msg":"windows config","data":{"image":[)" + images + R"(],"video":[)" + vids + "]}}";
}

// The last layout request `player` took (of `subCode`, when one is named)
// has been answered and `doc` took the answer: each answer leaves its number
// + 1 as the number of the next request.
bool LastLayoutAnswerTaken(const CvelunaDoc& doc, const sim::PlayerSim& player, int subCode = -1)
{
    const std::vector<sim::LogEntry> sent = testsupport::RequestsOf(player, proto::CMD_LAYOUT);
    return !sent.empty() && (subCode < 0 || sent.back().header.subCode == subCode) &&
           doc.sequence() > sent.back().header.sequence;
}

// Whether the list of `player` names a current layout, which the document
// fetches as soon as the list is in.
bool ListFetchesOne(sim::PlayerSim& player)
{
    std::lock_guard lk(player.stateMutex());
    const sim::PlayerState& s = player.state();
    return !s.layoutLocked && s.currentLayout >= 0 && std::size_t(s.currentLayout) < s.layouts.size();
}

struct Harness {
    explicit Harness(uint16_t version = 0x1520, unsigned language = platform::kLanguageEnglish)
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(language);
        frame = testsupport::RelayFrame(kTitle, doc);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        doc->setStatusPaneText = [this](int pane, const QString& text) { panes[pane] = text; };
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.3");
        o.version = version;  // product 1: material travels
        player = testsupport::StartPlayerWithConfigStore(o);
        if (player)
            testsupport::AimAt(*doc, *player);
    }
    ~Harness()
    {
        doc.reset();
        frame.reset();
    }
    void setLayouts(std::vector<std::pair<QByteArray, QByteArray>> layouts, int current, bool locked = false)
    {
        std::lock_guard lk(player->stateMutex());
        player->state().layouts = std::move(layouts);
        player->state().currentLayout = current;
        player->state().layoutLocked = locked;
    }
    // Connects and waits until the handshake's chain has listed the layouts
    // and the document has taken the answer, and that of the fetch of the
    // current layout that follows it when there is one.
    bool connect()
    {
        doc->OnReconnect();
        const int last = ListFetchesOne(*player) ? 1 : 0;
        return waitUntil([&] { return LastLayoutAnswerTaken(*doc, *player, last); });
    }
    std::vector<sim::LogEntry> requests(uint8_t code) const { return testsupport::RequestsOf(*player, code); }
    sim::LayoutStoreState store() const
    {
        std::lock_guard lk(player->stateMutex());
        return sim::layoutStore(*player);
    }
    QString materialFile(const QString& relative, const QByteArray& bytes)
    {
        const QString path = doc->materialFolder() + QLatin1Char('/') + relative;
        EXPECT_TRUE(testsupport::writeFile(path, bytes));
        return path;
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    std::map<int, QString> panes;
};

TEST(LayoutTransferParts, ListTextSplitsAtEachQuestionMark)
{
    const struct {
        QByteArray payload;
        QStringList names;
    } rows[] = {
        {"A?B?C", {"A", "B"}},  // a tail without '?' is no name
        {"", {}},
        {"?", {""}},
        {"\xB2\xE2\xCA\xD4?x.GFD?", {QString::fromUtf8("测试"), "x.GFD"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(layout::SplitLayoutList(row.payload), row.names) << row.payload.toStdString();
}

TEST(LayoutTransferParts, NameFieldIsZeroFilledOrCut)
{
    EXPECT_EQ(layout::NameField("ab"), QByteArray("ab") + QByteArray(254, '\0'));
    EXPECT_EQ(layout::NameField(QByteArray(300, 'n')), QByteArray(256, 'n'));
}

TEST(LayoutTransferParts, MaterialIsCollectedInOrderWithTwinsAndOnlyInsideTheFolder)
{
    testsupport::TempHome home;
    QTemporaryDir dir;
    const QString m = dir.path();
    for (const char* f : {"Image/logo.png", "Image/logo.bmp", "Image/solo.jpg", "Video/clip.mp4", "secret.png"})
        ASSERT_TRUE(testsupport::writeFile(m + "/" + f, "x"));
    const QString gfd = m + "/a.GFD";
    ASSERT_TRUE(testsupport::writeFile(gfd, layoutText({"logo.png", "../secret.png", "missing.png", "solo.jpg"},
                                                       {"clip.mp4", "/etc/passwd"})));
    ASSERT_TRUE(testsupport::writeFile(m + "/b.GFD", R"({"msg":"other","data":{"image":[{"name":"logo.png"}]}})"));
    ASSERT_TRUE(testsupport::writeFile(m + "/c.GFD", R"({"msg":"windows config","data":{"image":[{"x":1},{"name":"logo.png"}]}})"));
    const std::vector<layout::MaterialEntry> want = {
        {m + "/Image/logo.png", 0}, {m + "/Image/logo.bmp", 0}, {m + "/Image/solo.jpg", 0}, {m + "/Video/clip.mp4", 1}};
    EXPECT_EQ(layout::CollectMaterial({gfd, m + "/b.GFD", m + "/c.GFD", m + "/none.GFD"}, m), want);
}

TEST(LayoutTransfer, ConnectionListsTheLayoutsAndOpensTheCurrentOne)
{
    Harness h;
    h.setLayouts({{"A", layoutText({"a.png"})}, {"B", layoutText({"b1.png", "b2.png"})}, {"C", layoutText({})}}, 1);
    ASSERT_TRUE(h.connect());
    EXPECT_EQ(h.doc->layoutTransfer().names(), (QStringList{"A", "B", "C"}));
    EXPECT_EQ(h.doc->layoutTransfer().currentIndex(), 1);
    const auto fetches = h.requests(proto::CMD_LAYOUT);
    ASSERT_EQ(fetches.size(), 2u);
    EXPECT_EQ(fetches[1].header.subCode, 1);
    EXPECT_EQ(fetches[1].payload, QByteArray("B"));
    EXPECT_EQ(h.doc->imageManage().windowCount(), 2);
    EXPECT_EQ(h.doc->imageManage().window(0).name, "b1.png");
    EXPECT_EQ(h.doc->currentLayoutPath(), h.doc->tempFolder() + "/B");
    EXPECT_EQ(h.panes[layout::kLayoutPathPane], h.doc->currentLayoutPath());
    EXPECT_FALSE(h.doc->IsLayoutDirty());
}

TEST(LayoutTransfer, LockedListShowsItsMessageAndFetchesNothing)
{
    Harness h;
    h.setLayouts({{"A", layoutText({})}}, 0, true);
    ASSERT_TRUE(h.connect());
    EXPECT_TRUE(h.boxes.texts().contains("The layout is locked, please unlock it first!"));
    waitUntil([] { return false; }, 400);  // no fetch may follow
    EXPECT_EQ(h.requests(proto::CMD_LAYOUT).size(), 1u);
    EXPECT_FALSE(h.doc->layoutBusy());
}

TEST(LayoutTransfer, FetchedNamesThatAreNoPlainFileNameAndShortRepliesAreNotUsed)
{
    Harness h;
    h.setLayouts({{"..", layoutText({"a.png"})}, {"x", "not json"}}, 0);
    ASSERT_TRUE(h.connect());
    EXPECT_TRUE(h.boxes.texts().contains("Layout file is not standard. Please check it！"));
    EXPECT_TRUE(h.doc->currentLayoutPath().isEmpty());
    EXPECT_EQ(h.doc->imageManage().windowCount(), 0);

    // A fetch answer shorter than its name field is dropped unread.
    h.player->registerCommand(proto::CMD_LAYOUT, [](sim::PlayerSim&, const sim::Request& r) {
        sim::Reply reply;
        reply.header.command = r.header.command;
        reply.header.subCode = 1;
        reply.payload = "B\0{\"msg\"";
        return std::vector<sim::Reply>{reply};
    });
    h.boxes.clear();
    h.doc->layoutTransfer().FetchLayout("B");
    ASSERT_TRUE(h.player->waitForRequests(proto::CMD_LAYOUT, 3, 30000));
    ASSERT_TRUE(waitUntil([&] { return LastLayoutAnswerTaken(*h.doc, *h.player, 1); }));
    EXPECT_TRUE(h.boxes.texts().isEmpty());
    EXPECT_TRUE(h.doc->currentLayoutPath().isEmpty());
}

TEST(LayoutTransfer, EditUploadsTheLayoutThenItsMaterialInAcknowledgedChunks)
{
    Harness h;
    h.setLayouts({{"L.GFD", layoutText({"logo.png"})}}, 0);
    const QByteArray big = testsupport::randomBytes(10000000, 7);
    const QByteArray whole = testsupport::randomBytes(std::size_t(kChunk), 8);
    h.materialFile("Image/logo.png", big);
    h.materialFile("Image/logo.bmp", whole);
    ASSERT_TRUE(h.connect());
    ASSERT_EQ(h.doc->imageManage().windowCount(), 1);
    h.player->clearLog();

    h.doc->PushCurrentLayout();
    ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));
    const auto uploads = h.requests(proto::CMD_LAYOUT);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].header.subCode, 2);
    EXPECT_EQ(uploads[0].header.param, 1);
    EXPECT_EQ(uploads[0].payload.left(256), layout::NameField("L.GFD"));
    EXPECT_EQ(uploads[0].payload.mid(256), testsupport::readFile(h.doc->currentLayoutPath()));

    // announce, then chunks: (subCode, param, payload size)
    const struct {
        uint8_t subCode;
        uint16_t param;
        int size;
    } want[] = {
        {0, 0, 256 + 32}, {1, 0, kChunk}, {2, 0, 1808000},  // logo.png: 10,000,000 bytes
        {0, 0, 256 + 32}, {1, 0, kChunk}, {2, 0, 0},        // logo.bmp: exactly one chunk, then an empty one
    };
    const auto material = h.requests(proto::CMD_MATERIAL);
    ASSERT_EQ(material.size(), std::size(want));
    for (std::size_t i = 0; i < material.size(); ++i) {
        EXPECT_EQ(material[i].header.subCode, want[i].subCode) << i;
        EXPECT_EQ(material[i].header.param, want[i].param) << i;
        EXPECT_EQ(material[i].payload.size(), want[i].size) << i;
    }
    EXPECT_EQ(material[0].payload.left(256), layout::NameField("logo.png"));
    EXPECT_EQ(material[0].payload.mid(256), QCryptographicHash::hash(big, QCryptographicHash::Md5).toHex());
    const sim::LayoutStoreState store = h.store();
    ASSERT_EQ(store.materials.size(), 2u);
    EXPECT_EQ(store.materials[0].data, big);
    EXPECT_EQ(store.materials[1].data, whole);
    EXPECT_TRUE(store.materials[0].md5Matches && store.materials[1].md5Matches);
    EXPECT_EQ(h.panes[layout::kProgressPane], " ");

    // The same files again: the player has them, nothing is opened or sent.
    h.player->clearLog();
    h.doc->PushCurrentLayout();
    ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));
    const auto again = h.requests(proto::CMD_MATERIAL);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].header.subCode, 0);
    EXPECT_EQ(again[1].header.subCode, 0);
    EXPECT_EQ(h.store().skipped, (std::vector<QByteArray>{"logo.png", "logo.bmp"}));
}

TEST(LayoutTransfer, LinkClosedAfterTheFirstMaterialChunkEndsTheUploadAndSaysSo)
{
    const struct {
        unsigned language;
        const char* told;
        const char* disconnected;
    } rows[] = {
        {platform::kLanguageEnglish, "The upload did not finish", "Disconnected player"},
        {platform::kLanguageChinese, "上传未完成", "未连接播放器"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.told);
        Harness h(0x1520, row.language);
        h.setLayouts({{"L.GFD", layoutText({"big.png"})}}, 0);
        h.materialFile("Image/big.png", testsupport::randomBytes(20000000, 9));
        ASSERT_TRUE(h.connect());
        ASSERT_TRUE(h.doc->IsConnected());
        h.panes[CvelunaDoc::kPlayerInfoPane] = QStringLiteral("player 127.0.0.3");
        // The player takes the first chunk and closes instead of answering.
        std::atomic<bool> firstChunk{false};
        const sim::CommandHandler material = h.player->commandHandler(proto::CMD_MATERIAL);
        h.player->registerCommand(proto::CMD_MATERIAL, [&](sim::PlayerSim& p, const sim::Request& r) {
            if (r.header.subCode == 1) {
                firstChunk = true;
                return std::vector<sim::Reply>();
            }
            return material(p, r);
        });
        h.boxes.clear();

        h.doc->PushCurrentLayout();
        ASSERT_TRUE(waitUntil([&] { return firstChunk.load(); }));
        h.player->dropConnections();
        ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));
        waitUntil([] { return false; }, 200);

        EXPECT_EQ(h.panes[layout::kProgressPane], " ");
        EXPECT_EQ(h.panes[CvelunaDoc::kPlayerInfoPane], QString::fromUtf8(row.disconnected));
        EXPECT_FALSE(h.doc->IsConnected());
        EXPECT_TRUE(h.doc->layoutTransfer().materials().empty());
        ASSERT_EQ(h.boxes.calls().size(), 1u) << h.boxes.texts().join('|').toStdString();
        EXPECT_TRUE(h.boxes.texts()[0].startsWith(QString::fromUtf8(row.told))) << h.boxes.texts()[0].toStdString();
        EXPECT_EQ(h.requests(proto::CMD_MATERIAL).size(), 2u);  // the announce and one chunk, nothing after
    }
}

TEST(LayoutTransfer, ProductsWithoutMaterialAndEmptyFilesNeverStall)
{
    for (const uint16_t version : {uint16_t(0x1523), uint16_t(0x1521)}) {
        Harness h(version);
        h.setLayouts({{"L.GFD", layoutText({"empty.png"})}}, 0);
        h.materialFile("Image/empty.png", QByteArray());
        ASSERT_TRUE(h.connect());
        h.doc->PushCurrentLayout();
        ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); })) << version;
        const auto material = h.requests(proto::CMD_MATERIAL);
        if (version == 0x1523) {
            EXPECT_TRUE(material.empty());
        } else {
            ASSERT_EQ(material.size(), 2u);
            EXPECT_EQ(material[1].header.subCode, 2);
            EXPECT_TRUE(material[1].payload.isEmpty());
            EXPECT_TRUE(h.store().materials.at(0).md5Matches);
        }
    }
}

TEST(LayoutTransfer, UnencodableNamesAreRefusedBeforeAnythingIsSent)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    h.player->clearLog();
    h.boxes.clear();
    const QString name = QString::fromUtf8("caf\xC3\xA9\xF0\x9F\x98\x80");
    h.doc->layoutTransfer().FetchLayout(name);
    h.doc->layoutTransfer().DeleteLayout(name);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(h.player->requestCount(proto::CMD_LAYOUT), 0u);
    ASSERT_EQ(h.boxes.texts().size(), 2);
    EXPECT_EQ(h.boxes.texts()[0], text::unencodableNameMessage(name, 9));
}

TEST(LayoutTransfer, DeleteAsksThenListsAgain)
{
    Harness h;
    h.setLayouts({{"A", layoutText({})}, {"B", layoutText({})}}, 0);
    ASSERT_TRUE(h.connect());
    h.player->clearLog();
    h.boxes.clear();
    h.doc->layoutTransfer().DeleteLayout(QString());
    EXPECT_EQ(h.boxes.texts(), QStringList{"Please select the name of the Layout in the list"});
    h.doc->layoutTransfer().DeleteLayout("B");
    ASSERT_TRUE(waitUntil([&] { return h.doc->layoutTransfer().names() == QStringList{"A"}; }));
    EXPECT_EQ(h.boxes.texts().last(), "Do you really want to delete <B>?");
    const auto sent = h.requests(proto::CMD_LAYOUT);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].header.subCode, 3);
    EXPECT_EQ(sent[0].payload, QByteArray("B"));
    EXPECT_EQ(sent[1].header.subCode, 0);
}

TEST(LayoutTransfer, BatchUploadSendsEachLayoutThenTheMaterial)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    h.player->clearLog();
    QTemporaryDir dir;
    QStringList paths;
    for (const char* n : {"one.GFD", "two.GFD", "three.GFD"}) {
        paths << dir.filePath(n);
        ASSERT_TRUE(testsupport::writeFile(paths.last(), layoutText({"p.png"})));
    }
    h.materialFile("Image/p.png", "pixels");
    ASSERT_TRUE(h.doc->layoutTransfer().UploadLayouts(paths));
    // The batch ends by listing the player's layouts, the new ones among them.
    ASSERT_TRUE(waitUntil([&] { return h.doc->layoutTransfer().names().size() == 3; }));
    const auto sent = h.requests(proto::CMD_LAYOUT);
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[3].header.subCode, 0);
    const uint16_t params[] = {3, 2, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].header.subCode, 4);
        EXPECT_EQ(sent[i].header.param, params[i]);
        EXPECT_EQ(sent[i].payload.mid(256), testsupport::readFile(paths[int(i)]));
    }
    EXPECT_EQ(h.store().materials.at(0).data, QByteArray("pixels"));
    // Each layout names the picture: the player has it after the first.
    EXPECT_EQ(h.requests(proto::CMD_MATERIAL).size(), 4u);
    EXPECT_EQ(h.store().skipped.size(), 2u);
}

TEST(LayoutTransfer, WatermarkReportsBothResults)
{
    for (const bool fails : {false, true}) {
        Harness h;
        ASSERT_TRUE(h.connect());
        {
            std::lock_guard lk(h.player->stateMutex());
            sim::layoutStore(*h.player).watermarkFails = fails;
        }
        const QByteArray png = testsupport::randomBytes(std::size_t(kChunk) + 5, 3);
        const QString path = h.materialFile("mark.png", png);
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall& c) {
            EXPECT_EQ(c.caption, "Open WaterMark file");
            return path;
        });
        h.boxes.clear();
        h.doc->SendWatermark();
        platform::setFileDialogAnswerer(nullptr);
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }, 30000));
        EXPECT_EQ(h.boxes.texts(), QStringList{fails ? "WaterMark picture saving error,Please resend！"
                                                     : "WaterMark picture saving completed！"});
        const sim::LayoutStoreState store = h.store();
        EXPECT_EQ(store.watermark.data, png);
        EXPECT_EQ(store.watermark.name, "mark.png");
        EXPECT_TRUE(store.watermark.md5Matches);
    }
}

// A watermark cut short after its first chunk is said, in the interface's
// language, instead of the upload stopping without a word.
TEST(LayoutTransfer, WatermarkCutShortIsSaidAndSendsNoHalfChunk)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    const QString path = h.materialFile("mark.png", testsupport::randomBytes(std::size_t(2 * kChunk) + 5, 4));
    const sim::CommandHandler store = h.player->commandHandler(proto::CMD_PARAM_FILE);
    h.player->registerCommand(proto::CMD_PARAM_FILE, [store, path](sim::PlayerSim& p, const sim::Request& r) {
        if (r.header.subCode == 1)
            QFile::resize(path, kChunk + 3);
        return store(p, r);
    });
    h.player->clearLog();
    h.boxes.clear();
    ASSERT_TRUE(h.doc->layoutTransfer().SendWatermarkFile(path));
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
    EXPECT_EQ(h.boxes.texts(), QStringList{"The file changed while it was being sent: " + QDir::toNativeSeparators(path)});
    const auto sent = h.requests(proto::CMD_PARAM_FILE);
    ASSERT_EQ(sent.size(), 2u);  // the announce and the one whole chunk
    EXPECT_EQ(sent[1].header.payloadLength, uint32_t(kChunk));
    EXPECT_FALSE(h.store().watermark.md5Matches);
}

// The file sent is the file announced: a material or watermark file cut
// while its announce awaits the player's answer goes out not at all (rather
// than as 8,192,000 + 3,808,000 bytes under the digest of 20,000,000), is
// said once, and the material chain goes on with its next file.
TEST(LayoutTransfer, FileCutBetweenItsDigestAndItsChunksIsSaidAndNotSent)
{
    const struct {
        const char* name;
        QString file;
        uint8_t command;
        bool material;
    } rows[] = {
        {"material", QStringLiteral("Image/cut.png"), proto::CMD_MATERIAL, true},
        {"watermark", QStringLiteral("mark.png"), proto::CMD_PARAM_FILE, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        h.setLayouts({{"L.GFD", layoutText({"cut.png", "next.png"})}}, 0);
        const QString cut = h.materialFile(r.file, QByteArray());
        ASSERT_TRUE(QFile::resize(cut, 20000000));
        const QByteArray next = testsupport::randomBytes(5000, 14);
        h.materialFile("Image/next.png", next);
        ASSERT_TRUE(h.connect());
        // The player answers the announce only after the file was cut.
        const sim::CommandHandler store = h.player->commandHandler(r.command);
        h.player->registerCommand(r.command, [store, cut](sim::PlayerSim& p, const sim::Request& q) {
            if (q.header.subCode == 0 && (q.payload.startsWith("cut.png") || q.payload.startsWith("mark.png")))
                QFile::resize(cut, 12000000);
            return store(p, q);
        });
        h.player->clearLog();
        h.boxes.clear();
        if (r.material)
            h.doc->PushCurrentLayout();
        else
            ASSERT_TRUE(h.doc->layoutTransfer().SendWatermarkFile(cut));
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty() && !h.doc->layoutBusy(); }));
        waitUntil([] { return false; }, 300);  // nothing more may follow
        EXPECT_EQ(h.boxes.texts(), QStringList{"The file changed while it was being sent: " + QDir::toNativeSeparators(cut)});
        const auto sent = h.requests(r.command);
        ASSERT_GE(sent.size(), 1u);
        EXPECT_EQ(sent[0].header.subCode, 0);
        if (r.material) {
            // The announce of the cut file, then the next file whole.
            ASSERT_EQ(sent.size(), 3u);
            EXPECT_EQ(sent[1].payload.left(8), QByteArray("next.png"));
            EXPECT_EQ(sent[2].payload, next);
        } else {
            EXPECT_EQ(sent.size(), 1u);
        }
    }
}

// A material or watermark file written while its last chunk travels (its
// size and time kept) did not reach the player as digested: said by its own
// name instead of a success, and the next material still goes whole.
TEST(LayoutTransfer, FileWrittenWhileItsLastChunkTravelsIsSaidAndTheNextGoes)
{
    const struct {
        const char* name;
        QString file;
        uint8_t command;
        bool material;
    } rows[] = {
        {"material", QStringLiteral("Image/cut.png"), proto::CMD_MATERIAL, true},
        {"watermark", QStringLiteral("mark.png"), proto::CMD_PARAM_FILE, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        h.setLayouts({{"L.GFD", layoutText({"cut.png", "next.png"})}}, 0);
        const QString cut = h.materialFile(r.file, testsupport::randomBytes(5000, 15));
        const QByteArray next = testsupport::randomBytes(6000, 16);
        h.materialFile("Image/next.png", next);
        ASSERT_TRUE(h.connect());
        const auto once = std::make_shared<std::atomic<bool>>(false);
        const sim::CommandHandler store = h.player->commandHandler(r.command);
        h.player->registerCommand(r.command, [store, cut, once](sim::PlayerSim& p, const sim::Request& q) {
            if (q.header.subCode == 2 && !once->exchange(true))
                testsupport::rewriteKeepingTheTime(cut, 100);
            return store(p, q);
        });
        h.player->clearLog();
        h.boxes.clear();
        if (r.material)
            h.doc->PushCurrentLayout();
        else
            ASSERT_TRUE(h.doc->layoutTransfer().SendWatermarkFile(cut));
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty() && !h.doc->layoutBusy(); }));
        waitUntil([] { return false; }, 300);  // nothing more may follow
        EXPECT_EQ(h.boxes.texts(), QStringList{"The file changed while it was being sent: " + QDir::toNativeSeparators(cut)});
        std::vector<std::pair<int, qsizetype>> sent;  // sub-code, payload size
        for (const auto& e : h.requests(r.command))
            sent.emplace_back(e.header.subCode, e.payload.size());
        std::vector<std::pair<int, qsizetype>> expected = {{0, 256 + 32}, {2, 5000}};
        if (r.material)
            expected.insert(expected.end(), {{0, 256 + 32}, {2, 6000}});
        EXPECT_EQ(sent, expected);
        if (r.material) {
            ASSERT_EQ(h.requests(r.command).size(), 4u);
            EXPECT_EQ(h.requests(r.command)[3].payload, next);
        }
    }
}

// While a large material or watermark file is digested the window keeps
// painting, the status pane shows how far the digest is, and the announce
// waits for it.
TEST(LayoutTransfer, DigestsLeaveTheWindowAnswering)
{
    const struct {
        const char* name;
        QString file;
        uint8_t command;
        std::function<void(CvelunaDoc&, const QString&)> start;
    } rows[] = {
        {"material", QStringLiteral("Image/big.png"), proto::CMD_MATERIAL,
         [](CvelunaDoc& d, const QString&) { d.PushCurrentLayout(); }},
        {"watermark", QStringLiteral("mark.png"), proto::CMD_PARAM_FILE,
         [](CvelunaDoc& d, const QString& path) { EXPECT_TRUE(d.layoutTransfer().SendWatermarkFile(path)); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        h.setLayouts({{"L.GFD", layoutText({"big.png"})}}, 0);
        const QString big = h.materialFile(r.file, QByteArray());
        ASSERT_TRUE(QFile::resize(big, qint64(768) << 20));  // sparse: the digest's work, not the disk's
        ASSERT_TRUE(h.connect());
        h.player->clearLog();

        std::set<QString> panes;
        h.doc->setStatusPaneText = [&](int pane, const QString& text) {
            if (pane == layout::kProgressPane)
                panes.insert(text);
        };
        r.start(*h.doc, big);
        ASSERT_TRUE(waitUntil([&] { return h.doc->layoutTransfer().hashing(); }));
        QElapsedTimer hashing;
        hashing.start();
        const testsupport::Answering a = testsupport::measureRepaints(
            [&] { return h.doc->layoutTransfer().hashing(); },
            [&] {
                if (h.doc->layoutTransfer().hashing()) {
                    EXPECT_TRUE(h.requests(r.command).empty());  // no announce before the digest
                }
            });
        EXPECT_FALSE(a.stalled);
        EXPECT_GT(a.rounds, 1);
        EXPECT_LT(a.slowestMs, testsupport::longestPauseWhileAnswering(hashing.elapsed())) << a.rounds << " repaints";
        ASSERT_TRUE(waitUntil([&] { return !h.requests(r.command).empty(); }, 30000))
            << h.boxes.texts().join('|').toStdString();
        // Asked once the announce is out: the repaints above may all be done
        // before a starved digest thread has read its first block.
        EXPECT_TRUE(std::any_of(panes.begin(), panes.end(), [](const QString& t) { return t.startsWith("MD5 "); }));
        const auto announce = h.requests(r.command).front();
        EXPECT_EQ(announce.payload.mid(256), QByteArray::fromStdString(digest::Md5OfFile(big)));
        h.doc->setStatusPaneText = nullptr;
    }
}

}  // namespace

// ------------------------------------------------------------ layout commands

#include "core/command_registry.h"
#include "core/config_exchange.h"
#include "core/layout/layout_commands.h"
#include "core/layout/view_settings.h"
#include "core/views/set_display_grid.h"
#include "common/controls/num_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

namespace {

TEST(LayoutViewSettings, ZoomStepsStopAtTheirEnds)
{
    const struct {
        double from;
        bool in;
        double to;
    } rows[] = {{0.15, false, 0.1}, {0.1, false, 0.1}, {0.5, false, 0.4}, {0.95, true, 1.0}, {1.0, true, 1.0}, {0.3, true, 0.4}};
    for (const auto& r : rows)
        EXPECT_DOUBLE_EQ(r.in ? layout::ZoomIn(r.from) : layout::ZoomOut(r.from), r.to) << r.from;
}

TEST(LayoutViewSettings, GridFileValuesAreClampedAndOnlyTypedMembersTaken)
{
    const struct {
        QByteArray text;
        bool read;
        int columns1, rows1, columns2;
        double zoom1;
        bool locked;
    } rows[] = {
        {R"({"Msg":"Grid config","ViewOneGridWidth":0,"ViewOneGridHeight":9,"ViewTwoGridWidth":8,"ViewOneZoom":0.01,"LayOutLock":true})", true, 1, 8, 8, 0.1, true},
        {R"({"Msg":"Grid config","ViewOneGridWidth":"4","ViewOneZoom":7,"LayOutLock":1})", true, 3, 2, 5, 1.0, false},
        {R"({"ViewOneGridWidth":4})", false, 3, 2, 5, 0.5, false},
        {"not json", false, 3, 2, 5, 0.5, false},
    };
    for (const auto& r : rows) {
        layout::ViewSettings s;
        s.columns = {3, 5};
        s.rows = {2, 2};
        s.zoom = {0.5, 0.5};
        EXPECT_EQ(layout::ReadGridSettings(r.text, s), r.read) << r.text.toStdString();
        EXPECT_EQ(s.columns[0], r.columns1);
        EXPECT_EQ(s.rows[0], r.rows1);
        EXPECT_EQ(s.columns[1], r.columns2);
        EXPECT_DOUBLE_EQ(s.zoom[0], r.zoom1);
        EXPECT_EQ(s.locked, r.locked);
    }
    layout::ViewSettings back;
    EXPECT_TRUE(layout::ReadGridSettings(layout::GridSettingsText({{2, 3}, {4, 5}, {0.3, 0.7}, true}), back));
    EXPECT_EQ(back.columns, (std::array<int, 2>{2, 3}));
    EXPECT_EQ(back.rows, (std::array<int, 2>{4, 5}));
    EXPECT_TRUE(back.locked);
}

TEST(LayoutDisplayGrid, ValuesOutsideOneToEightReachTheirMessages)
{
    const struct {
        int columns, rows;
        unsigned lang;
        const char* message;
    } rows[] = {
        {0, 0, 9, "Horizontal number set error!"},  // only the first error
        {9, 1, 9, "Horizontal number set error!"},
        {1, 9, 9, "Vertical number set error!"},
        {8, 1, 9, ""},
        {0, 1, 4, "横向个数设置错误！"},
        {1, 0, 4, "纵向个数设置错误！"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(layout::CheckDisplayGrid(r.columns, r.rows, r.lang), QString::fromUtf8(r.message));

    testsupport::MessageBoxRecorder boxes;
    CSetDisplayGrid dialog(9);
    dialog.columns = 3;
    dialog.rows = 2;
    dialog.InitControls();
    dialog.edit(CSetDisplayGrid::kColumnsEdit)->setText("9");
    EXPECT_FALSE(dialog.TryAccept());
    EXPECT_EQ(boxes.texts(), QStringList{"Horizontal number set error!"});
    dialog.edit(CSetDisplayGrid::kColumnsEdit)->setText("8");
    EXPECT_TRUE(dialog.TryAccept());
    EXPECT_EQ(dialog.columns, 8);
    EXPECT_EQ(dialog.rows, 2);
}

TEST(LayoutDisplayGrid, Screenshots)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "painting threads of Qt are not followed by the thread checker";
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    for (unsigned lang : {9u, 4u}) {
        CSetDisplayGrid dialog(lang);
        dialog.columns = 4;
        dialog.rows = 2;
        dialog.InitControls();
        dialog.show();
        QApplication::processEvents();
        ASSERT_TRUE(dialog.grab().save(folder + (lang == 4 ? "/display_grid_zh.png" : "/display_grid_en.png")));
    }
}

TEST(LayoutClipboard, BlocksCarryDataAndForeignBlocksAreRefused)
{
    layout::WindowClip clip;
    clip.rect = {10, 20, 310, 220};
    clip.name = QString::fromUtf8("标志.png");
    clip.screen = 1;
    clip.kind = 3;
    clip.number = 7;
    clip.selected = 2;
    clip.option1 = 1;
    clip.option2 = 0;
    const QByteArray block = layout::PackWindowClip(clip);
    ASSERT_EQ(block.size(), 33 + clip.name.toUtf8().size());
    layout::WindowClip back;
    ASSERT_TRUE(layout::UnpackWindowClip(block, back));
    EXPECT_EQ(back.rect, clip.rect);
    EXPECT_EQ(back.name, clip.name);
    EXPECT_EQ(std::tuple(back.screen, back.kind, back.number, back.selected, back.option1, back.option2),
              std::tuple(clip.screen, clip.kind, clip.number, clip.selected, clip.option1, clip.option2));

    QByteArray hugeCount = block;
    hugeCount[19] = char(0x7F);  // a name count far past the block
    QByteArray negative = block;
    negative[19] = char(0xFF);
    layout::WindowClip outside = clip;
    outside.name = "../../etc/passwd";
    const QByteArray refused[] = {QByteArray(), block.left(32), block.left(34), hugeCount, negative,
                                  layout::PackWindowClip(outside)};
    for (const QByteArray& b : refused)
        EXPECT_FALSE(layout::UnpackWindowClip(b, back)) << b.toHex().toStdString();
}

TEST(LayoutClipboard, CutThenPasteRestoresTheWindowAndForeignDataPastesNothing)
{
    core::clearCommands();
    layout::InstallLayoutCommands();
    Harness h;
    h.setLayouts({{"L.GFD", layoutText({"logo.png", "b.png"})}}, 0);
    ASSERT_TRUE(h.connect());
    CImageManage& m = h.doc->imageManage();
    ASSERT_EQ(m.windowCount(), 2);
    m.Select(0);
    const PictureWindow before = m.window(0);
    auto run = [&](int id) {
        const core::CommandEntry* e = core::findCommand(id);
        ASSERT_TRUE(e && core::IsCommandEnabled(*h.doc, id)) << id;
        e->run(*h.doc);
        ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));
    };
    run(57635);  // cut
    EXPECT_EQ(m.windowCount(), 1);
    EXPECT_TRUE(h.doc->clipboardHoldsWindow());
    run(57637);  // paste
    ASSERT_EQ(m.windowCount(), 2);
    const PictureWindow& pasted = m.window(1);
    EXPECT_EQ(pasted.name, before.name);
    EXPECT_EQ(pasted.rect.width(), before.rect.width());
    EXPECT_EQ(pasted.rect.height(), before.rect.height());
    EXPECT_EQ(pasted.rect.left, 0);
    EXPECT_TRUE(pasted.selected);
    // Both edits reached the player.
    EXPECT_GE(h.requests(proto::CMD_LAYOUT).size(), 4u);

    // Another program's data under the format: nothing placed, flag cleared.
    auto* foreign = new QMimeData;
    foreign->setData(QString::fromLatin1(layout::kClipFormat), QByteArray(33, '\xFF'));
    QGuiApplication::clipboard()->setMimeData(foreign);
    run(57637);
    EXPECT_EQ(m.windowCount(), 2);
    EXPECT_FALSE(h.doc->clipboardHoldsWindow());
    EXPECT_FALSE(core::IsCommandEnabled(*h.doc, 57637));
    QGuiApplication::clipboard()->clear();
    core::clearCommands();
}

TEST(LayoutCommands, ZoomChangeUploadsGridFileAndFetchedGridFileIsReadBack)
{
    core::clearCommands();
    layout::InstallLayoutCommands();
    Harness h;
    const QByteArray stored = R"({"Msg":"Grid config","ViewOneGridWidth":12,"ViewOneGridHeight":3,"ViewOneZoom":0.5,"LayOutLock":true})";
    sim::configStoreOf(*h.player)->setFile(18, stored);
    ASSERT_TRUE(h.connect());
    EXPECT_EQ(h.doc->viewSettings().columns[0], 8);
    EXPECT_EQ(h.doc->viewSettings().rows[0], 3);
    EXPECT_DOUBLE_EQ(h.doc->viewSettings().zoom[0], 0.5);
    EXPECT_TRUE(h.doc->viewSettings().locked);
    EXPECT_EQ(h.doc->imageManage().screen(0).columns, 8);
    // Locked: import and delete are off.
    EXPECT_FALSE(core::IsCommandEnabled(*h.doc, 32798));

    h.doc->setActiveScreen(0);
    core::findCommand(32783)->run(*h.doc);  // zoom in
    const QString path = cfgx::configFilePath(h.doc->playerFolder(), cfgx::kGridFile);
    EXPECT_DOUBLE_EQ(h.doc->viewSettings().zoom[0], 0.6);
    ASSERT_TRUE(waitUntil([&] {
        const auto f = sim::configStoreOf(*h.player)->file(18);
        return f && *f != stored;
    }));
    layout::ViewSettings uploaded;
    QByteArray file = *sim::configStoreOf(*h.player)->file(18);
    EXPECT_TRUE(layout::ReadGridSettings(file, uploaded) || layout::ReadGridSettings(file.chopped(2), uploaded));
    EXPECT_DOUBLE_EQ(uploaded.zoom[0], 0.6);
    EXPECT_EQ(uploaded.columns[0], 8);
    layout::ViewSettings local;
    EXPECT_TRUE(layout::ReadGridSettings(testsupport::readFile(path), local));
    EXPECT_DOUBLE_EQ(local.zoom[0], 0.6);
    core::clearCommands();
}

// A layout saved onto a full disk, by a command or by the push that follows
// an edit: the good file stays, the layout stays unsaved, and the message
// names the file as the other writers do.
TEST(LayoutCommands, SaveOnAFullDiskNamesTheFileAndKeepsTheGoodOne)
{
    core::clearCommands();
    layout::InstallLayoutCommands();
    const struct {
        int command;  // 32770 Save As (asks for the path), 57603 Save (the current path), 0 the push after an edit
        unsigned language;
        QString words;
    } rows[] = {
        {32770, platform::kLanguageEnglish, "Cannot write %1"},
        {57603, platform::kLanguageChinese, QString::fromUtf8("无法写入 %1")},
        {0, platform::kLanguageEnglish, "Cannot write %1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command);
        testsupport::FullDisk disk;
        if (!disk.mounted())
            GTEST_SKIP() << disk.reason().toStdString();
        Harness h(0x1520, row.language);
        const QString path = disk.path() + "/good.GFD";
        const QByteArray good = layoutText({"logo.png"}).leftJustified(8192, ' ');
        ASSERT_TRUE(testsupport::writeFile(path, good));
        disk.fill();
        h.doc->setCurrentLayoutPath(path);
        h.doc->setLayoutDirty(true);
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return path; });
        if (row.command)
            core::findCommand(row.command)->run(*h.doc);
        else
            h.doc->PushCurrentLayout();
        platform::setFileDialogAnswerer(nullptr);
        EXPECT_EQ(h.boxes.texts(),
                  QStringList{row.words.arg(QDir::toNativeSeparators(path)) + '\n' + qt_error_string(ENOSPC)});
        EXPECT_EQ(testsupport::readFile(path), good);
        EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files), QStringList{"good.GFD"});
        EXPECT_TRUE(h.doc->IsLayoutDirty());
    }
    core::clearCommands();
}

TEST(LayoutCommands, OpenOfJsonThatIsNoLayoutChangesNothing)
{
    core::clearCommands();
    layout::InstallLayoutCommands();
    Harness h;
    h.setLayouts({{"L.GFD", layoutText({"logo.png"})}}, 0);
    ASSERT_TRUE(h.connect());
    const QString pathBefore = h.doc->currentLayoutPath();
    QTemporaryDir dir;
    const QString other = dir.filePath("other.GFD");
    ASSERT_TRUE(testsupport::writeFile(other, R"({"msg":"something else","data":{}})"));
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return other; });
    h.boxes.clear();
    core::findCommand(57601)->run(*h.doc);
    platform::setFileDialogAnswerer(nullptr);
    EXPECT_EQ(h.boxes.texts(), QStringList{"Layout file is not standard. Please check it！"});
    EXPECT_EQ(h.doc->imageManage().windowCount(), 1);
    EXPECT_EQ(h.doc->currentLayoutPath(), pathBefore);
    core::clearCommands();
}

}  // namespace

// ------------------------------------------------------------ tree pane

#include "core/mainframe.h"
#include "core/views/layout_tree_view.h"
#include "core/views/layout_views.h"

#include <QKeyEvent>

namespace {

struct Relay : FrameDocument {
    CvelunaDoc* doc = nullptr;
    void SendToPlayers(const SendRequest& r) override
    {
        if (doc)
            doc->SendToPlayers(r);
    }
    void OnLinkEvent(const LinkEvent& e) override
    {
        if (doc)
            doc->OnLinkEvent(e);
    }
    void TickAutoConnect() override {}
    bool TickWaitBox() override { return false; }
    void StepConfigExchange() override
    {
        if (doc)
            doc->StepConfigExchange();
    }
    void ResetSequence() override {}
    void CloseAllLinks() override {}
    bool IsLayoutDirty() const override { return false; }
    void SaveLayout() override {}
    void OnPlayerConnectionSettings() override {}
    void OnReconnect() override {}
    void OnReboot() override {}
    bool CanReconnect() const override { return false; }
    bool IsConnected() const override { return doc && doc->IsConnected(); }
};

// The main window with the document's views and the tree bound, connected
// to a simulated player.
struct Window {
    explicit Window(unsigned language)
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(language);
        frame = std::make_unique<CMainFrame>(kTitle, language);
        frame->SetDocument(&relay);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        relay.doc = doc.get();
        doc->setStatusPaneText = [this](int id, const QString& text) { frame->SetPaneText(id, text); };
        AttachLayoutViews(*frame, *doc);
        frame->resize(1600, 900);
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.3");
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        EXPECT_TRUE(player->start());
        doc->setTarget(o.address, player->tcpPort());
        doc->currentPlayer().ip = o.address;
        doc->currentPlayer().portText = QString::number(player->tcpPort());
    }
    ~Window()
    {
        DetachLayoutViews(*frame);
        frame->SetDocument(nullptr);
        relay.doc = nullptr;
        doc.reset();
        frame.reset();
    }
    CLayoutTreeView& tree() const { return *frame->layoutTreeView(); }
    void key(int k)
    {
        QKeyEvent e(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(&tree(), &e);
    }
    std::size_t requests(uint8_t sub) const
    {
        std::size_t n = 0;
        for (const sim::LogEntry& e : player->log())
            n += e.incoming && e.header.command == proto::CMD_LAYOUT && e.header.subCode == sub;
        return n;
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    Relay relay;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
};

void connectWindow(Window& w, std::vector<std::pair<QByteArray, QByteArray>> layouts, int current)
{
    {
        std::lock_guard lk(w.player->stateMutex());
        w.player->state().layouts = std::move(layouts);
        w.player->state().currentLayout = current;
    }
    w.doc->OnReconnect();
    ASSERT_TRUE(waitUntil([&] {
        return w.tree().topLevelItemCount() > 0 && LastLayoutAnswerTaken(*w.doc, *w.player, 1);
    }));
}

TEST(LayoutTree, ListFillsTheTreeAndDoubleClicksFetchOncePerChange)
{
    Window w(9);
    connectWindow(w, {{"A", layoutText({})}, {"B", layoutText({})}}, 1);
    ASSERT_EQ(w.tree().topLevelItemCount(), 2);
    EXPECT_EQ(w.tree().currentItem()->text(0), "B");
    const std::size_t before = w.requests(1);
    w.tree().OpenLayout("A");
    w.tree().OpenLayout("A");
    ASSERT_TRUE(w.player->waitForRequests(proto::CMD_LAYOUT, 3, 30000));
    waitUntil([] { return false; }, 200);
    EXPECT_EQ(w.requests(1), before + 1);
    w.tree().OpenLayout("B");
    w.tree().OpenLayout("A");
    waitUntil([&] { return w.requests(1) == before + 3; }, 3000);
    EXPECT_EQ(w.requests(1), before + 3);
    // After the list is refilled the same name fetches again.
    w.key(Qt::Key_F5);
    // The list again, then the fetch of its current layout, both taken.
    const std::size_t fetchesBefore = w.requests(1);
    ASSERT_TRUE(waitUntil([&] {
        return w.requests(0) >= 2 && w.requests(1) > fetchesBefore && LastLayoutAnswerTaken(*w.doc, *w.player, 1);
    }));
    const std::size_t afterRefill = w.requests(1);
    w.tree().OpenLayout("A");
    EXPECT_TRUE(waitUntil([&] { return w.requests(1) == afterRefill + 1; }));
}

TEST(LayoutTree, KeysEnterEscapeSwallowedDeleteKeepsOneLayout)
{
    Window w(9);
    connectWindow(w, {{"only", layoutText({})}}, 0);
    w.key(Qt::Key_Return);
    w.key(Qt::Key_Escape);
    EXPECT_EQ(w.tree().topLevelItemCount(), 1);
    w.boxes.clear();
    w.key(Qt::Key_Delete);
    EXPECT_EQ(w.boxes.texts(), QStringList{"A layout must be preserved"});
    EXPECT_EQ(w.requests(3), 0u);
}

TEST(LayoutTree, ScreenshotOfTheMainWindowWithTheTreeFilled)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "painting threads of Qt are not followed by the thread checker";
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    for (unsigned lang : {9u, 4u}) {
        Window w(lang);
        w.frame->show();
        connectWindow(w, {{"Lobby.GFD", layoutText({})}, {QByteArray("\xB4\xF3\xCC\xFC.GFD"), layoutText({})},
                          {"Room 2.GFD", layoutText({})}}, 1);
        QApplication::processEvents();
        ASSERT_TRUE(w.frame->grab().save(folder + (lang == 4 ? "/main_window_tree_zh.png" : "/main_window_tree_en.png")));
    }
}

}  // namespace

namespace {

TEST(LayoutCommands, ImportRefusesLongNamesAndSendsTheRestAsABatchThenLists)
{
    core::clearCommands();
    layout::InstallLayoutCommands();
    Harness h;
    h.setLayouts({{"A", layoutText({})}, {"B", layoutText({})}}, 0);
    ASSERT_TRUE(h.connect());
    QTemporaryDir dir;
    const QString ok1 = dir.filePath("n1.GFD"), ok2 = dir.filePath("n2.GFD");
    const QString tooLong = dir.filePath(QString(253, 'x') + ".GFD");
    for (const QString& p : {ok1, ok2})
        ASSERT_TRUE(testsupport::writeFile(p, layoutText({})));
    QStringList answer{ok1, tooLong};
    platform::setFileDialogMultiAnswerer([&](const platform::FileDialogCall&) { return answer; });
    h.player->clearLog();
    h.boxes.clear();
    core::findCommand(32797)->run(*h.doc);
    EXPECT_EQ(h.boxes.texts(), QStringList{tooLong + "File name is too long"});
    EXPECT_TRUE(h.requests(proto::CMD_LAYOUT).empty());

    answer = {ok1, ok2};
    core::findCommand(32797)->run(*h.doc);
    platform::setFileDialogMultiAnswerer(nullptr);
    ASSERT_TRUE(waitUntil([&] { return h.doc->layoutTransfer().names().size() == 4; }));
    const auto sent = h.requests(proto::CMD_LAYOUT);
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(std::tuple(sent[0].header.subCode, sent[1].header.subCode, sent[2].header.subCode), std::tuple(4, 4, 0));

    // The lock check mark follows the setting; locked, Del Layout is off.
    EXPECT_FALSE(core::isChecked(32804, *h.doc));
    core::findCommand(32804)->run(*h.doc);
    EXPECT_TRUE(core::isChecked(32804, *h.doc));
    EXPECT_FALSE(core::IsCommandEnabled(*h.doc, 32798));
    core::clearCommands();
}

}  // namespace

namespace {

TEST(LayoutTransfer, MaterialAnswerNobodyWaitsForStartsNothing)
{
    Harness h;
    h.setLayouts({{"A", layoutText({})}}, 0);
    ASSERT_TRUE(h.connect());
    h.player->clearLog();
    sim::Reply stray;
    stray.header.command = proto::CMD_MATERIAL;
    stray.header.subCode = 2;
    ASSERT_EQ(h.player->sendToAll(stray), 1);
    waitUntil([] { return false; }, 400);
    EXPECT_TRUE(h.requests(proto::CMD_LAYOUT).empty());
}

TEST(LayoutTransfer, MaterialCutShortDuringTheUploadIsReportedAndTheNextFileStillGoes)
{
    Harness h;
    h.setLayouts({{"L.GFD", layoutText({"cut.png", "next.png"})}}, 0);
    const QString cut = h.materialFile("Image/cut.png", testsupport::randomBytes(std::size_t(3 * kChunk + 5), 11));
    const QByteArray next = testsupport::randomBytes(70000, 12);
    h.materialFile("Image/next.png", next);
    ASSERT_TRUE(h.connect());
    h.player->clearLog();
    h.boxes.clear();
    // Cut while its first chunk travels: the second chunk would still fit,
    // but the file is no longer the one digested.
    const auto once = std::make_shared<std::atomic<bool>>(false);
    const sim::CommandHandler material = h.player->commandHandler(proto::CMD_MATERIAL);
    h.player->registerCommand(proto::CMD_MATERIAL, [material, cut, once](sim::PlayerSim& p, const sim::Request& q) {
        if (q.header.subCode == 1 && !once->exchange(true))
            QFile::resize(cut, 2 * kChunk + 100);
        return material(p, q);
    });

    h.doc->PushCurrentLayout();
    ASSERT_TRUE(waitUntil([&] { return !h.doc->layoutBusy(); }));

    ASSERT_EQ(h.boxes.texts().size(), 1);
    EXPECT_EQ(h.boxes.texts()[0], "The file changed while it was being sent: " + QDir::toNativeSeparators(cut));
    const sim::LayoutStoreState store = h.store();
    ASSERT_EQ(store.materials.size(), 2u);
    EXPECT_FALSE(store.materials[0].complete);  // the first chunk, nothing after the cut
    EXPECT_EQ(store.materials[0].size, uint64_t(kChunk));
    EXPECT_EQ(store.materials[1].name, "next.png");
    EXPECT_TRUE(store.materials[1].complete && store.materials[1].md5Matches);
    EXPECT_EQ(store.materials[1].data, next);
}

}  // namespace

namespace {

TEST(LayoutTree, DeleteKeyDeletesTheSelectedLayoutAfterAskingAndStartUpKeepsTheClipboard)
{
    auto* block = new QMimeData;
    block->setData(QString::fromLatin1(layout::kClipFormat), layout::PackWindowClip(layout::WindowClip()));
    QGuiApplication::clipboard()->setMimeData(block);
    core::clearCommands();
    layout::InstallLayoutCommands();
    Window w(9);
    EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->hasFormat(QString::fromLatin1(layout::kClipFormat)));
    connectWindow(w, {{"A", layoutText({})}, {"B", layoutText({})}}, 0);
    w.tree().setCurrentItem(w.tree().topLevelItem(1));
    w.boxes.clear();
    w.key(Qt::Key_Delete);
    EXPECT_EQ(w.boxes.texts(), QStringList{"Do you really want to delete <B>?"});
    ASSERT_TRUE(waitUntil([&] { return w.tree().topLevelItemCount() == 1; }));
    EXPECT_EQ(w.requests(3), 1u);
    QGuiApplication::clipboard()->clear();
    core::clearCommands();
}

}  // namespace
