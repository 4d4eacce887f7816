// Replies from a player reach the right stand-in window with the right
// record; bad lengths are dropped; fixed replies show their messages.

#include "core/document.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

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
        frame = std::make_unique<MessageWindow>(kTitle);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
    }

    // Feeds one reply through an assembler into the dispatcher of `to`.
    void deliver(uint8_t command, uint8_t sub, uint16_t param = 0, uint16_t arg = 0,
                 const QByteArray& payload = QByteArray(), uint16_t sequence = 0, CvelunaDoc* to = nullptr)
    {
        const proto::PlayerPacketHeader h{
            .command = command, .subCode = sub, .sequence = sequence, .param = param, .arg = arg};
        const QByteArray bytes = proto::buildPacket(h, payload);
        CvelunaDoc* target = to ? to : doc.get();
        ReplyAssembler a;
        a.feed(QStringLiteral("127.0.0.2"), 8000, 0, reinterpret_cast<const uint8_t*>(bytes.constData()),
               std::size_t(bytes.size()), [target](const ReplyAssembler& r) { target->DispatchReply(r); });
    }

    testsupport::TempHome home;
    testsupport::ScopedLanguage english{kLanguageEnglish};
    MessageBoxRecorder boxes;
    // Declared after the frame, so the document goes first.
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

// Records "wParam:what lParam carried" for each message a window gets.
MessageWindow::Handler recorder(QByteArrayList& got, std::function<QByteArray(LPARAM)> read)
{
    return [&got, read](WPARAM w, LPARAM l) {
        got << QByteArray::number(qulonglong(w)) + ':' + (read ? read(l) : QByteArray());
        return LRESULT(0);
    };
}

const auto blendValue = take<uint16_t>([](auto& v) { return QByteArray::number(v, 16); });

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
    std::function<QByteArray(LPARAM)> read;  // what lParam carried, flattened
    QByteArray expected;                     // "wParam:read"; empty: the reply is dropped
};

TEST_F(ReplyRouting, EachReplyReachesItsDialogAndBadLengthsAreDropped)
{
    const auto scoped = [](LPARAM l) { return *reinterpret_cast<const QByteArray*>(l); };
    const auto number = [](LPARAM l) { return QByteArray::number(qlonglong(l)); };
    const QByteArray network = QByteArray::fromHex("0102030405060708090a0b0c0d0e0f10111213141516401f");  // port 8000

    const std::vector<RouteCase> cases = {
        {"temperature", 0x90, 0, 0x0041, 0x3A37, {}, kTemperature, true, WM_TEMPERATURE_REPLY,
         take<TemperatureRecord>([](auto& r) { return numbers({r.t1, r.t2, r.t3}); }), "0:65,58,55"},
        {"output mode, 18 bytes", 0x91, 3, 0, 0, QByteArray(18, '\7'), kOutputMode, true, WM_OUTPUT_MODE_REPLY,
         take<OutputModeRecord>([](auto& r) { return raw(r.bytes.data(), 18); }), "3:" + QByteArray(18, '\7')},
        {"video upload", 0x94, 0, 5, 6, {}, kVideoSource, true, WM_VIDEO_UPLOAD_REPLY, number, "5:6"},
        {"video delete", 0x95, 0, 1, 2, {}, kVideoSource, true, WM_VIDEO_DELETE_REPLY, number, "1:2"},
        {"video select", 0x96, 0, 3, 4, {}, kVideoSource, true, WM_VIDEO_SELECT_REPLY, number, "3:4"},
        {"video rename", 0x97, 0, 7, 8, {}, kVideoSource, true, WM_VIDEO_RENAME_REPLY, number, "7:8"},
        {"play time", 0x83, 0, 5, 0, QByteArray("\x10\x27\0\0\xFF", 5), kVideoSource, true, WM_VIDEO_LIST_REPLY,
         number, "2:10000"},
        {"video list changed", 0xAA, 0, 0, 0, {}, kVideoSource, true, WM_VIDEO_LIST_REPLY, number, "1:0"},
        {"new video folder", 0xB3, 0, 0, 0, {}, kVideoSource, true, WM_VIDEO_LIST_REPLY, number, "1:0"},
        {"product info", 0x9F, 0, 0, 0, "QV-200", kProductInfo, true, WM_PRODUCT_INFO_REPLY,
         [](LPARAM l) { return reinterpret_cast<const QString*>(l)->toUtf8(); }, "0:QV-200"},
        {"cascade, count capped at 20", 0xA4, 2, 25, 0, QByteArray(100, '\3'), kCascade, true, WM_CASCADE_REPLY,
         take<CascadeRecord>([](auto& r) { return numbers({r.mode, r.count, r.addresses[79], r.addresses[80]}); }),
         "0:2,20,3,0"},
        {"window editor", 0xA6, 0x80, 0, 0, {}, kVideoPicWindow, true, WM_VIDEO_PIC_WINDOW_REPLY, number, "0:0"},
        {"trackbar", 0xA9, 0, 0, 0, {}, kVideoSource, true, WM_TRACKBAR_VALUES_REPLY,
         take<TrackbarRecord>([](auto& r) { return numbers({r.subCode, r.param, r.arg}); }), "0:0,0,0"},
        {"upgrade", 0x8F, 2, 0x0102, 0x0304, {}, kUpgrade, true, WM_UPGRADE_REPLY,
         take<UpgradeRecord>([](auto& r) { return numbers({r.code, r.subCode, r.param, r.arg}); }), "0:15,2,258,772"},
        {"usart", 0xB2, 0, 0, 0, "AT\r\n", kUsart, true, WM_USART_DATA_REPLY,
         take<UsartRecord>([](auto& r) { return raw(r.data.data(), r.count); }), "0:AT\r\n"},
        {"network parameters", 0x8B, 0, 0, 0, network, kNetworkParam, true, WM_NETWORK_PARAM_REPLY,
         take<NetworkParamRecord>([](auto& r) { return numbers({r.ip[0], r.dns[3], r.mac[5], r.port}); }),
         "0:1,16,22,8000"},
        {"parameter export", 0x83, 0, 2, 0, "abc", kParamFile, true, WM_PARAM_FILE_REPLY,
         [](LPARAM l) { return reinterpret_cast<const ReplyAssembler*>(l)->payloadBytes(); }, "0:abc"},
        {"power timer, 11 bytes", 0xAF, 0, 0, 1, QByteArray(11, '\5'), kPower, true, WM_POWER_REPLY,
         take<PowerRecord>([](auto& r) { return raw(r.bytes.data(), 15); }),
         "0:" + QByteArray(11, '\5') + QByteArray(4, '\0')},
        {"QR settings", 0xB8, 0, 0, 0, "{}", kQrCode, true, WM_QRCODE_REPLY, scoped, "0:{}"},
        {"rotate", 0xB9, 0, 0, 0, {}, kRotate, true, WM_ROTATE_REPLY, number, "0:0"},
        {"game", 0xBA, 0, 4, 0, "g", kGame, true, WM_GAME_REPLY, scoped, "4:g"},
        {"video control", 0xBB, 0, 9, 0, "vc", kVideoControl, true, WM_VIDEO_CONTROL_REPLY, scoped, "9:vc"},
        {"lidar select, no prefix", 0xBC, 0, 10, 0, "l1", kLidarSelect, false, WM_LIDAR_REPLY, scoped, "10:l1"},
        {"lidar param, no prefix", 0xBC, 0, 11, 0, "l2", kLidarParam, false, WM_LIDAR_REPLY, scoped, "11:l2"},
        {"lidar check, no prefix", 0xBC, 0, 1, 0, "l3", kLidarCheck, false, WM_LIDAR_REPLY, scoped, "1:l3"},
        {"gallery", 0xBD, 0, 2, 0, "p", kGallery, true, WM_GALLERY_REPLY, scoped, "2:p"},
        {"mobile", 0xBE, 0, 1, 0, "m", kMobile, true, WM_MOBILE_SETTINGS_REPLY, scoped, "1:m"},
        {"picture play", 0xBF, 0, 3, 0, "pp", kPicturePlay, true, WM_PICTURE_PLAY_REPLY, scoped, "3:pp"},
        // The operation at 10 (not the kind at 8, always 6) is what the dialog acts on.
        {"video play, catalogue", 0x83, 0, 6, 0, "vp", kVideoPlay, true, WM_VIDEO_PLAY_REPLY, scoped, "0:vp"},
        {"video play, upload confirmed", 0x83, 0, 6, 2, "ok", kVideoPlay, true, WM_VIDEO_PLAY_REPLY, scoped, "2:ok"},
        {"video play upload, by 63", 0xBF, 0, 6, 2, "v", kVideoPlay, true, WM_VIDEO_PLAY_REPLY, scoped, "2:v"},
        {"picture play, not the video's", 0xBF, 0, 6, 2, "v", kPicturePlay, true, WM_PICTURE_PLAY_REPLY, {}, {}},
        {"blend wizard, warp points", 0xA2, 5, 0, 0, {}, kBlendWizard, true, WM_BLEND_WIZARD_REPLY,
         blendValue, "0:2205"},
        // Wrong lengths: nothing reaches the dialog.
        {"output mode, 17 bytes", 0x91, 0, 0, 0, QByteArray(17, 'x'), kOutputMode, true, WM_OUTPUT_MODE_REPLY, {}, {}},
        {"cascade, wrong length", 0xA4, 0, 3, 0, QByteArray(11, 'x'), kCascade, true, WM_CASCADE_REPLY, {}, {}},
        {"usart, 1,024 bytes", 0xB2, 0, 0, 0, QByteArray(1024, 'x'), kUsart, true, WM_USART_DATA_REPLY, {}, {}},
        {"usart, empty", 0xB2, 0, 0, 0, {}, kUsart, true, WM_USART_DATA_REPLY, {}, {}},
        {"network, short", 0x8B, 0, 0, 0, QByteArray(23, 'x'), kNetworkParam, true, WM_NETWORK_PARAM_REPLY, {}, {}},
        {"catalogue, one byte short", 0x93, 0, 0, 0, QByteArray(qsizetype(PlayerCatalog::kSize) - 1, 'x'),
         kVideoSource, true, WM_VIDEO_LIST_REPLY, {}, {}},
        {"play time, 3 bytes", 0x83, 0, 5, 0, QByteArray(3, 'x'), kVideoSource, true, WM_VIDEO_LIST_REPLY, {}, {}},
        {"product info, empty", 0x9F, 0, 0, 0, {}, kProductInfo, true, WM_PRODUCT_INFO_REPLY, {}, {}},
    };
    for (const RouteCase& c : cases) {
        MessageWindow dialog((c.withPrefix ? kPrefix : QString()) + QString::fromUtf8(c.caption.english));
        QByteArrayList got;
        dialog.onMessage(c.message, recorder(got, c.read));
        deliver(c.code, c.sub, c.param, c.arg, c.payload);
        EXPECT_EQ(got, c.expected.isEmpty() ? QByteArrayList() : QByteArrayList{c.expected}) << c.name;
    }
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("|").toStdString();
}

TEST_F(ReplyRouting, CatalogueGoesToVideoSourceElseVideoControl)
{
    auto catalog = std::make_unique<PlayerCatalog>();
    catalog->totalMB = 500;
    const auto total = take<PlayerCatalog>([](auto& c) { return QByteArray::number(c.totalMB); });
    const auto values = take<TrackbarRecord>([](auto& r) { return numbers({r.subCode, r.param, r.arg}); });
    for (bool sourceOpen : {true, false}) {
        std::optional<MessageWindow> source;
        if (sourceOpen)
            source.emplace(kPrefix + "Video Source Settings");
        MessageWindow control(kPrefix + "Video Control");
        MessageWindow& receiver = sourceOpen ? *source : control;
        QByteArrayList got;
        receiver.onMessage(WM_VIDEO_LIST_REPLY, recorder(got, total));
        receiver.onMessage(WM_TRACKBAR_VALUES_REPLY, recorder(got, values));
        deliver(0x93, 1, 2, 3, catalog->pack());
        EXPECT_EQ(got, (QByteArrayList{"0:500", "1:1,2,3"})) << sourceOpen;
    }
}

TEST_F(ReplyRouting, CompletionMessagesWithTheirIcons)
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
        boxes.clear();
        deliver(command, sub, param, arg, payload);
        ASSERT_EQ(boxes.calls().size(), 1u) << name;
        EXPECT_EQ(boxes.calls()[0].text, text) << name;
        EXPECT_EQ(boxes.calls()[0].icon, icon) << name;
    }
    // Ignored codes say nothing.
    boxes.clear();
    for (uint8_t code : {7, 8, 14, 32, 49, 55})
        deliver(uint8_t(0x80 | code), 0);
    EXPECT_TRUE(boxes.calls().empty());
}

// A document made while Chinese is chosen finds its dialogs by their Chinese
// captions and speaks Chinese.
TEST_F(ReplyRouting, ChineseCaptionsAndMessages)
{
    testsupport::ScopedLanguage chineseLanguage(kLanguageChinese);
    CvelunaDoc chinese(frame.get(), QStringList());
    // The English dialog takes nothing: a record sent to it would be freed unseen.
    MessageWindow english(kPrefix + "Get Temperature");
    MessageWindow dialog(kPrefix + QStringLiteral("查询温度"));
    QByteArrayList got;
    const auto first = take<TemperatureRecord>([](auto& r) { return numbers({r.t1}); });
    dialog.onMessage(WM_TEMPERATURE_REPLY, recorder(got, first));
    deliver(0x90, 0, 0x0041, 0, {}, 0, &chinese);
    EXPECT_EQ(got, QByteArrayList{"0:65"});

    deliver(0xC1, 0, 0, 0, {}, 0, &chinese);
    deliver(0x85, 0, 0, 0, {}, 0, &chinese);
    deliver(0x83, 0, 5, 0, {}, 0, &chinese);
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.texts(), (QStringList{"当前版本不支持此功能,请及时更新！", "输出分辨率设置完成", "播放时间设置完成！"}));
    EXPECT_EQ(boxes.calls()[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.calls()[1].icon, MsgIcon::Information);
    EXPECT_EQ(boxes.calls()[2].icon, MsgIcon::None);
}

TEST_F(ReplyRouting, SequenceFollowsReplies)
{
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
    MessageWindow wizard(kPrefix + "Edge blending wizard");
    QByteArrayList values;
    wizard.onMessage(WM_BLEND_WIZARD_REPLY, recorder(values, blendValue));
    deliver(0x86, 2);  // video channel
    deliver(0x8D, 1);  // blend switch
    deliver(0x8C, 1);  // adjust mode, no exchange hooked
    deliver(0x82, 7);  // channel map
    deliver(0xC2, 0);  // not supported: message and 0
    EXPECT_EQ(values, (QByteArrayList{"0:602", "0:d01", "0:c01", "0:207", "0:0"}));
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
    // Connected to the player the replies come from (the window editor's
    // upload needs an accepted handshake).
    doc->startGridFetch = nullptr;
    doc->setTarget(QStringLiteral("127.0.0.2"), 8000);
    doc->currentPlayer().ip = QStringLiteral("127.0.0.2");
    deliver(0x81, 4, 0x1523, 0x0105, QByteArray(5, '\0'));
    ASSERT_TRUE(doc->IsConnected());
    deliver(0xB6, 18, 0, 0, "cfg");
    deliver(0xB4, 0, 0, 0, "ab");
    deliver(0xB5, 1);
    deliver(0x8C, 1);
    deliver(0x83, 0);
    deliver(0xA6, 0x40);
    EXPECT_EQ(seen, (std::vector<int>{54018, 52002, 53001, 12001, 3000, -5}));
}

}  // namespace
