// Replies from a player reach the right stand-in window with the right
// record; bad lengths are dropped; fixed replies show their messages.

#include "core/document.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using namespace platform;
using namespace replies;
using testsupport::MessageBoxRecorder;

const QString kTitle = QStringLiteral("veluna V9.1.5");
const QString kPrefix = QStringLiteral("veluna-");

// The document without a frame of the test's making would find no window;
// this fixture gives it one with the application title.
class ReplyRouting : public ::testing::Test {
protected:
    void SetUp() override
    {
        setAppTitle(kTitle);
        setAppLanguage(kLanguageEnglish);
        frame = std::make_unique<MessageWindow>(kTitle);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
    }
    void TearDown() override
    {
        doc.reset();
        frame.reset();
    }

    // Feeds one reply through an assembler into the dispatcher of `to`.
    void deliver(uint8_t command, uint8_t sub, uint16_t param = 0, uint16_t arg = 0,
                 const QByteArray& payload = QByteArray(), uint16_t sequence = 0, CvelunaDoc* to = nullptr)
    {
        proto::PlayerPacketHeader h;
        h.command = command;
        h.subCode = sub;
        h.sequence = sequence;
        h.param = param;
        h.arg = arg;
        const QByteArray bytes = proto::buildPacket(h, payload);
        CvelunaDoc* target = to ? to : doc.get();
        ReplyAssembler a;
        a.feed(QStringLiteral("127.0.0.2"), 8000, 0, reinterpret_cast<const uint8_t*>(bytes.constData()),
               std::size_t(bytes.size()), [target](const ReplyAssembler& r) { target->DispatchReply(r); });
    }

    testsupport::TempHome home;
    std::unique_ptr<MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
};

// Reads the heap record lParam points to, and frees it.
template <class Record, class Read>
std::function<QByteArray(LPARAM)> take(Read read)
{
    return [read](LPARAM l) {
        std::unique_ptr<Record> r(reinterpret_cast<Record*>(l));
        return QByteArray(read(*r));
    };
}

// Counts the messages a window gets and frees their heap record.
template <class Record>
MessageWindow::Handler counter(int& calls)
{
    return [&calls](WPARAM, LPARAM l) {
        delete reinterpret_cast<Record*>(l);
        ++calls;
        return LRESULT(0);
    };
}

QByteArray numbers(std::initializer_list<long long> values)
{
    QByteArrayList out;
    for (long long v : values)
        out << QByteArray::number(v);
    return out.join(',');
}

QByteArray raw(const void* p, std::size_t n) { return QByteArray(static_cast<const char*>(p), qsizetype(n)); }

struct RouteCase {
    const char* name;
    uint8_t code, sub;
    uint16_t param, arg;
    QByteArray payload;
    Caption caption;
    bool withPrefix;
    unsigned message;
    WPARAM wParam;
    std::function<QByteArray(LPARAM)> read;  // what lParam carried, flattened
    QByteArray expected;
};

TEST_F(ReplyRouting, EachReplyReachesItsDialog)
{
    MessageBoxRecorder boxes;
    const auto scoped = [](LPARAM l) { return *reinterpret_cast<const QByteArray*>(l); };
    const auto number = [](LPARAM l) { return QByteArray::number(qlonglong(l)); };
    QByteArray network(24, '\0');
    for (int i = 0; i < 22; ++i)
        network[i] = char(i + 1);
    network[22] = char(0x40);
    network[23] = char(0x1F);  // port 8000

    const std::vector<RouteCase> cases = {
        {"temperature", 0x90, 0, 0x0041, 0x3A37, {}, kTemperature, true, WM_TEMPERATURE_REPLY, 0,
         take<TemperatureRecord>([](auto& r) { return numbers({r.t1, r.t2, r.t3}); }), "65,58,55"},
        {"output mode, 18 bytes", 0x91, 3, 0, 0, QByteArray(18, '\7'), kOutputMode, true, WM_OUTPUT_MODE_REPLY, 3,
         take<OutputModeRecord>([](auto& r) { return raw(r.bytes.data(), 18); }), QByteArray(18, '\7')},
        {"video upload", 0x94, 0, 5, 6, {}, kVideoSource, true, WM_VIDEO_UPLOAD_REPLY, 5, number, "6"},
        {"video delete", 0x95, 0, 1, 2, {}, kVideoSource, true, WM_VIDEO_DELETE_REPLY, 1, number, "2"},
        {"video select", 0x96, 0, 3, 4, {}, kVideoSource, true, WM_VIDEO_SELECT_REPLY, 3, number, "4"},
        {"video rename", 0x97, 0, 7, 8, {}, kVideoSource, true, WM_VIDEO_RENAME_REPLY, 7, number, "8"},
        {"play time", 0x83, 0, 5, 0, QByteArray("\x10\x27\0\0\xFF", 5), kVideoSource, true, WM_VIDEO_LIST_REPLY, 2,
         number, "10000"},
        {"video list changed", 0xAA, 0, 0, 0, {}, kVideoSource, true, WM_VIDEO_LIST_REPLY, 1, number, "0"},
        {"new video folder", 0xB3, 0, 0, 0, {}, kVideoSource, true, WM_VIDEO_LIST_REPLY, 1, number, "0"},
        {"product info", 0x9F, 0, 0, 0, "QV-200", kProductInfo, true, WM_PRODUCT_INFO_REPLY, 0,
         [](LPARAM l) { return reinterpret_cast<const QString*>(l)->toUtf8(); }, "QV-200"},
        {"cascade, count capped at 20", 0xA4, 2, 25, 0, QByteArray(100, '\3'), kCascade, true, WM_CASCADE_REPLY, 0,
         take<CascadeRecord>([](auto& r) { return numbers({r.mode, r.count, r.addresses[79], r.addresses[80]}); }),
         "2,20,3,0"},
        {"window editor", 0xA6, 0x80, 0, 0, {}, kVideoPicWindow, true, WM_VIDEO_PIC_WINDOW_REPLY, 0, number, "0"},
        {"trackbar", 0xA9, 0, 0, 0, {}, kVideoSource, true, WM_TRACKBAR_VALUES_REPLY, 0,
         take<TrackbarRecord>([](auto& r) { return numbers({r.subCode, r.param, r.arg}); }), "0,0,0"},
        {"upgrade", 0x8F, 2, 0x0102, 0x0304, {}, kUpgrade, true, WM_UPGRADE_REPLY, 0,
         take<UpgradeRecord>([](auto& r) { return numbers({r.code, r.subCode, r.param, r.arg}); }), "15,2,258,772"},
        {"usart", 0xB2, 0, 0, 0, "AT\r\n", kUsart, true, WM_USART_DATA_REPLY, 0,
         take<UsartRecord>([](auto& r) { return raw(r.data.data(), r.count); }), "AT\r\n"},
        {"network parameters", 0x8B, 0, 0, 0, network, kNetworkParam, true, WM_NETWORK_PARAM_REPLY, 0,
         take<NetworkParamRecord>([](auto& r) { return numbers({r.ip[0], r.dns[3], r.mac[5], r.port}); }),
         "1,16,22,8000"},
        {"parameter export", 0x83, 0, 2, 0, "abc", kParamFile, true, WM_PARAM_FILE_REPLY, 0,
         [](LPARAM l) { return reinterpret_cast<const ReplyAssembler*>(l)->payloadBytes(); }, "abc"},
        {"power timer, 11 bytes", 0xAF, 0, 0, 1, QByteArray(11, '\5'), kPower, true, WM_POWER_REPLY, 0,
         take<PowerRecord>([](auto& r) { return raw(r.bytes.data(), 15); }), QByteArray(11, '\5') + QByteArray(4, '\0')},
        {"QR settings", 0xB8, 0, 0, 0, "{}", kQrCode, true, WM_QRCODE_REPLY, 0, scoped, "{}"},
        {"rotate", 0xB9, 0, 0, 0, {}, kRotate, true, WM_ROTATE_REPLY, 0, number, "0"},
        {"game", 0xBA, 0, 4, 0, "g", kGame, true, WM_GAME_REPLY, 4, scoped, "g"},
        {"video control", 0xBB, 0, 9, 0, "vc", kVideoControl, true, WM_VIDEO_CONTROL_REPLY, 9, scoped, "vc"},
        {"lidar select, no prefix", 0xBC, 0, 10, 0, "l1", kLidarSelect, false, WM_LIDAR_REPLY, 10, scoped, "l1"},
        {"lidar param, no prefix", 0xBC, 0, 11, 0, "l2", kLidarParam, false, WM_LIDAR_REPLY, 11, scoped, "l2"},
        {"lidar check, no prefix", 0xBC, 0, 1, 0, "l3", kLidarCheck, false, WM_LIDAR_REPLY, 1, scoped, "l3"},
        {"gallery", 0xBD, 0, 2, 0, "p", kGallery, true, WM_GALLERY_REPLY, 2, scoped, "p"},
        {"mobile", 0xBE, 0, 1, 0, "m", kMobile, true, WM_MOBILE_SETTINGS_REPLY, 1, scoped, "m"},
        {"picture play", 0xBF, 0, 3, 0, "pp", kPicturePlay, true, WM_PICTURE_PLAY_REPLY, 3, scoped, "pp"},
        {"video play", 0x83, 0, 6, 0, "vp", kVideoPlay, true, WM_VIDEO_PLAY_REPLY, 6, scoped, "vp"},
        {"blend wizard, warp points", 0xA2, 5, 0, 0, {}, kBlendWizard, true, WM_BLEND_WIZARD_REPLY, 0,
         take<uint16_t>([](auto& v) { return QByteArray::number(v); }), QByteArray::number(34 * 256 + 5)},
    };
    for (const RouteCase& c : cases) {
        MessageWindow dialog((c.withPrefix ? kPrefix : QString()) + QString::fromUtf8(c.caption.english));
        int calls = 0;
        WPARAM wParam = 0;
        QByteArray data;
        dialog.onMessage(c.message, [&](WPARAM w, LPARAM l) {
            ++calls;
            wParam = w;
            data = c.read(l);
            return LRESULT(0);
        });
        deliver(c.code, c.sub, c.param, c.arg, c.payload);
        EXPECT_EQ(calls, 1) << c.name;
        EXPECT_EQ(wParam, c.wParam) << c.name;
        EXPECT_EQ(data, c.expected) << c.name;
    }
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("|").toStdString();
}

TEST_F(ReplyRouting, BadLengthsAreDropped)
{
    MessageBoxRecorder boxes;
    const std::tuple<const char*, uint8_t, uint16_t, QByteArray, Caption, unsigned> drops[] = {
        {"output mode, 17 bytes", 0x91, 0, QByteArray(17, 'x'), kOutputMode, WM_OUTPUT_MODE_REPLY},
        {"cascade, wrong length", 0xA4, 3, QByteArray(11, 'x'), kCascade, WM_CASCADE_REPLY},
        {"usart, 1,024 bytes", 0xB2, 0, QByteArray(1024, 'x'), kUsart, WM_USART_DATA_REPLY},
        {"usart, empty", 0xB2, 0, QByteArray(), kUsart, WM_USART_DATA_REPLY},
        {"network, short", 0x8B, 0, QByteArray(23, 'x'), kNetworkParam, WM_NETWORK_PARAM_REPLY},
        {"catalogue, one byte short", 0x93, 0, QByteArray(qsizetype(PlayerCatalog::kSize) - 1, 'x'), kVideoSource,
         WM_VIDEO_LIST_REPLY},
        {"play time, 3 bytes", 0x83, 5, QByteArray(3, 'x'), kVideoSource, WM_VIDEO_LIST_REPLY},
        {"product info, empty", 0x9F, 0, QByteArray(), kProductInfo, WM_PRODUCT_INFO_REPLY},
    };
    for (const auto& [name, code, param, payload, caption, message] : drops) {
        MessageWindow dialog(kPrefix + QString::fromUtf8(caption.english));
        int calls = 0, trackbar = 0;
        dialog.onMessage(message, [&](WPARAM, LPARAM) { return LRESULT(++calls); });
        dialog.onMessage(WM_TRACKBAR_VALUES_REPLY, counter<TrackbarRecord>(trackbar));
        deliver(code, 0, param, 0, payload);
        EXPECT_EQ(calls, 0) << name;
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(ReplyRouting, CatalogueGoesToVideoSourceElseVideoControl)
{
    auto catalog = std::make_unique<PlayerCatalog>();
    catalog->totalMB = 500;
    const QByteArray wire = catalog->pack();
    for (bool sourceOpen : {true, false}) {
        std::unique_ptr<MessageWindow> source;
        if (sourceOpen)
            source = std::make_unique<MessageWindow>(kPrefix + "Video Source Settings");
        MessageWindow control(kPrefix + "Video Control");
        MessageWindow* receiver = sourceOpen ? source.get() : &control;
        uint32_t total = 0;
        std::vector<WPARAM> order;
        receiver->onMessage(WM_VIDEO_LIST_REPLY, [&](WPARAM w, LPARAM l) {
            total = std::unique_ptr<PlayerCatalog>(reinterpret_cast<PlayerCatalog*>(l))->totalMB;
            order.push_back(w);
            return LRESULT(0);
        });
        receiver->onMessage(WM_TRACKBAR_VALUES_REPLY, [&](WPARAM w, LPARAM l) {
            std::unique_ptr<TrackbarRecord> r(reinterpret_cast<TrackbarRecord*>(l));
            EXPECT_EQ(numbers({r->subCode, r->param, r->arg}), "1,2,3");
            order.push_back(100 + w);
            return LRESULT(0);
        });
        deliver(0x93, 1, 2, 3, wire);
        EXPECT_EQ(total, 500u);
        EXPECT_EQ(order, (std::vector<WPARAM>{0, 101}));
    }
}

TEST_F(ReplyRouting, ChineseCaptionAndMissingDialog)
{
    setAppLanguage(kLanguageChinese);
    CvelunaDoc chinese(frame.get(), QStringList());
    MessageWindow english(kPrefix + "Get Temperature");
    MessageWindow dialog(kPrefix + QStringLiteral("查询温度"));
    int englishCalls = 0, chineseCalls = 0;
    english.onMessage(WM_TEMPERATURE_REPLY, counter<TemperatureRecord>(englishCalls));
    dialog.onMessage(WM_TEMPERATURE_REPLY, counter<TemperatureRecord>(chineseCalls));
    deliver(0x90, 0, 0, 0, {}, 0, &chinese);
    EXPECT_EQ(chineseCalls, 1);
    EXPECT_EQ(englishCalls, 0);
    setAppLanguage(kLanguageEnglish);
}

TEST_F(ReplyRouting, CompletionMessages)
{
    const QString notSupported = "This function is not supported in the current version!";
    const std::tuple<const char*, uint8_t, uint8_t, uint16_t, uint16_t, QByteArray, QString, MsgIcon> cases[] = {
        {"not supported (bit 6)", 0xC1, 0, 0, 0, {}, notSupported, MsgIcon::Question},
        {"not supported (no reply bit)", 0x36, 0, 0, 0, {}, notSupported, MsgIcon::Question},
        {"output resolution", 0x85, 0, 0, 0, {}, "Output resolution setup completed", MsgIcon::Information},
        {"video channel, no wizard", 0x86, 0, 0, 0, {}, "Video channel setup completed", MsgIcon::Information},
        {"blending on", 0x8D, 1, 0, 0, {}, "Edge Blending ON", MsgIcon::Information},
        {"blending off", 0x8D, 0, 0, 0, {}, "Edge Blending OFF", MsgIcon::Information},
        {"network set", 0x8B, 0, 0, 0, {}, "System network changes completed", MsgIcon::Information},
        {"protocol file 1", 0x9C, 1, 0, 0, {}, "JukeBox protocol configuration file transmission completed",
         MsgIcon::Information},
        {"reboot", 0xA1, 0, 0, 0, {}, "Reboot the player", MsgIcon::Information},
        {"cascade set", 0xA3, 0, 0, 0, {}, "Player cascade setup completed", MsgIcon::Information},
        {"power timer, other length", 0xAF, 0, 0, 1, QByteArray(12, 'x'), "Timing on / off parameter setting completed",
         MsgIcon::Information},
        {"power on", 0xAF, 0, 1, 0, {}, "PowerOn", MsgIcon::Information},
        {"power off", 0xAF, 0, 0, 0, {}, "PowerOff", MsgIcon::Information},
        {"play time set", 0x83, 0, 5, 0, {}, "Play time has been set！", MsgIcon::None},
        {"QR picture missing", 0xB8, 0, 1, 0, {}, "‘Please check the network connection!", MsgIcon::None},
        {"window editor, old player", 0xA6, 0x40, 0, 0, {}, "Video Picture setup completed", MsgIcon::Information},
    };
    for (const auto& [name, command, sub, param, arg, payload, text, icon] : cases) {
        MessageBoxRecorder boxes;
        deliver(command, sub, param, arg, payload);
        ASSERT_EQ(boxes.calls().size(), 1u) << name;
        EXPECT_EQ(boxes.calls()[0].text, text) << name;
        EXPECT_EQ(boxes.calls()[0].icon, icon) << name;
    }
    // Ignored codes say nothing.
    MessageBoxRecorder boxes;
    for (uint8_t code : {7, 8, 14, 32, 49, 55})
        deliver(uint8_t(0x80 | code), 0);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ReplyRouting, SequenceFollowsReplies)
{
    MessageBoxRecorder boxes;
    deliver(0xA1, 0, 0, 0, {}, 41);
    EXPECT_EQ(doc->sequence(), 42);
    deliver(0xA1, 0, 0, 0, {}, 0xFFFF);
    EXPECT_EQ(doc->sequence(), 0);
    deliver(0xC1, 0, 0, 0, {}, 9);  // not supported still counts
    EXPECT_EQ(doc->sequence(), 10);
    EXPECT_EQ(doc->MakeRequest(proto::CMD_STATUS).sequence, 10);
    EXPECT_EQ(doc->MakeRequest(proto::CMD_LOAD_STATE, 0, 1).sequence, 0);
}

TEST_F(ReplyRouting, BlendWizardTakesNotificationsInsteadOfMessages)
{
    MessageBoxRecorder boxes;
    MessageWindow wizard(kPrefix + "Edge blending wizard");
    std::vector<uint16_t> values;
    wizard.onMessage(WM_BLEND_WIZARD_REPLY, [&](WPARAM, LPARAM l) {
        values.push_back(*std::unique_ptr<uint16_t>(reinterpret_cast<uint16_t*>(l)));
        return LRESULT(0);
    });
    deliver(0x86, 2);  // video channel
    deliver(0x8D, 1);  // blend switch
    deliver(0x8C, 1);  // adjust mode, no exchange hooked
    deliver(0x82, 7);  // channel map
    deliver(0xC2, 0);  // not supported: message and 0
    EXPECT_EQ(values, (std::vector<uint16_t>{0x0602, 0x0D01, 0x0C01, 0x0207, 0}));
    EXPECT_EQ(boxes.calls().size(), 1u);
}

TEST_F(ReplyRouting, HooksReceiveTheirReplies)
{
    std::vector<int> seen;
    const auto code = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000 + r.header.subCode); };
    doc->onConfigFileReply = code;
    doc->onLayoutReply = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000 + int(r.size)); };
    doc->onMaterialReply = code;
    doc->onAdjustModeReply = code;
    doc->onWatermarkReply = [&](const PlayerReply& r) { seen.push_back(3000 + r.header.param); };
    doc->uploadConfigFile = [&](uint8_t file) { seen.push_back(-file); };
    doc->currentPlayer().version = 0x1523;
    deliver(0xB6, 18, 0, 0, "cfg");
    deliver(0xB4, 0, 0, 0, "ab");
    deliver(0xB5, 1);
    deliver(0x8C, 1);
    deliver(0x83, 0);
    deliver(0xA6, 0x40);
    EXPECT_EQ(seen, (std::vector<int>{54018, 52002, 53001, 12001, 3000, -5}));
}

}  // namespace
