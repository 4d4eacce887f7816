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

using platform::LPARAM;
using platform::WPARAM;

const QString kTitle = QStringLiteral("veluna V9.1.5");
const QString kPrefix = QStringLiteral("veluna-");

// The document without a frame of the test's making would find no window;
// this fixture gives it one with the application title.
class ReplyRouting : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
        frame = std::make_unique<platform::MessageWindow>(kTitle);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
    }
    void TearDown() override
    {
        doc.reset();
        frame.reset();
    }

    // Feeds one reply through an assembler into the dispatcher.
    void deliver(uint8_t command, uint8_t sub, uint16_t param, uint16_t arg, const QByteArray& payload,
                 uint16_t sequence = 0)
    {
        proto::PlayerPacketHeader h;
        h.command = command;
        h.subCode = sub;
        h.sequence = sequence;
        h.param = param;
        h.arg = arg;
        const QByteArray bytes = proto::buildPacket(h, payload);
        ReplyAssembler a;
        a.feed(QStringLiteral("127.0.0.2"), 8000, 0, reinterpret_cast<const uint8_t*>(bytes.constData()),
               std::size_t(bytes.size()), [this](const ReplyAssembler& r) { doc->DispatchReply(r); });
    }

    testsupport::TempHome home;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
};

struct Seen {
    int calls = 0;
    WPARAM wParam = 0;
    QByteArray data;  // what lParam carried, flattened by the case's reader
};

QByteArray raw(const void* p, std::size_t n)
{
    return QByteArray(static_cast<const char*>(p), qsizetype(n));
}

struct RouteCase {
    const char* name;
    uint8_t code;
    uint8_t sub;
    uint16_t param;
    uint16_t arg;
    QByteArray payload;
    replies::Caption caption;
    bool withPrefix;
    unsigned message;
    WPARAM wParam;
    // Reads (and, for heap records, frees) what lParam points to.
    std::function<QByteArray(LPARAM)> read;
    QByteArray expected;
};

TEST_F(ReplyRouting, EachReplyReachesItsDialog)
{
    testsupport::MessageBoxRecorder boxes;
    auto callScoped = [](LPARAM l) { return *reinterpret_cast<const QByteArray*>(l); };
    auto plain = [](LPARAM l) { return QByteArray::number(qlonglong(l)); };
    auto none = [](LPARAM l) { return QByteArray::number(qlonglong(l)); };

    QByteArray network(24, '\0');
    for (int i = 0; i < 22; ++i)
        network[i] = char(i + 1);
    network[22] = char(0x40);
    network[23] = char(0x1F);  // port 8000

    const std::vector<RouteCase> cases = {
        {"temperature", 0x90, 0, 0x0041, 0x3A37, {}, replies::kTemperature, true, platform::WM_TEMPERATURE_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<replies::TemperatureRecord> r(reinterpret_cast<replies::TemperatureRecord*>(l));
             return QByteArray::number(r->t1) + "," + QByteArray::number(r->t2) + "," + QByteArray::number(r->t3);
         },
         "65,58,55"},
        {"output mode, 18 bytes", 0x91, 3, 0, 0, QByteArray(18, '\7'), replies::kOutputMode, true,
         platform::WM_OUTPUT_MODE_REPLY, 3,
         [](LPARAM l) {
             std::unique_ptr<replies::OutputModeRecord> r(reinterpret_cast<replies::OutputModeRecord*>(l));
             return raw(r->bytes.data(), 18);
         },
         QByteArray(18, '\7')},
        {"video upload", 0x94, 0, 5, 6, {}, replies::kVideoSource, true, platform::WM_VIDEO_UPLOAD_REPLY, 5, plain, "6"},
        {"video delete", 0x95, 0, 1, 2, {}, replies::kVideoSource, true, platform::WM_VIDEO_DELETE_REPLY, 1, plain, "2"},
        {"video select", 0x96, 0, 3, 4, {}, replies::kVideoSource, true, platform::WM_VIDEO_SELECT_REPLY, 3, plain, "4"},
        {"video rename", 0x97, 0, 7, 8, {}, replies::kVideoSource, true, platform::WM_VIDEO_RENAME_REPLY, 7, plain, "8"},
        {"play time", 0x83, 0, 5, 0, QByteArray("\x10\x27\0\0\xFF", 5), replies::kVideoSource, true,
         platform::WM_VIDEO_LIST_REPLY, 2, plain, "10000"},
        {"video list changed", 0xAA, 0, 0, 0, {}, replies::kVideoSource, true, platform::WM_VIDEO_LIST_REPLY, 1, none, "0"},
        {"new video folder", 0xB3, 0, 0, 0, {}, replies::kVideoSource, true, platform::WM_VIDEO_LIST_REPLY, 1, none, "0"},
        {"product info", 0x9F, 0, 0, 0, QByteArray("QV-200"), replies::kProductInfo, true,
         platform::WM_PRODUCT_INFO_REPLY, 0,
         [](LPARAM l) { return reinterpret_cast<const QString*>(l)->toUtf8(); }, "QV-200"},
        {"cascade, count capped at 20", 0xA4, 2, 25, 0, QByteArray(100, '\3'), replies::kCascade, true,
         platform::WM_CASCADE_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<replies::CascadeRecord> r(reinterpret_cast<replies::CascadeRecord*>(l));
             return QByteArray::number(r->mode) + "/" + QByteArray::number(r->count) + "/" +
                    QByteArray::number(int(r->addresses[79])) + QByteArray::number(int(r->addresses[80]));
         },
         "2/20/30"},
        {"window editor", 0xA6, 0x80, 0, 0, {}, replies::kVideoPicWindow, true, platform::WM_VIDEO_PIC_WINDOW_REPLY, 0,
         none, "0"},
        {"trackbar", 0xA9, 0, 0, 0, {}, replies::kVideoSource, true, platform::WM_TRACKBAR_VALUES_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<replies::TrackbarRecord> r(reinterpret_cast<replies::TrackbarRecord*>(l));
             return QByteArray::number(r->subCode + r->param + r->arg);
         },
         "0"},
        {"upgrade", 0x8F, 2, 0x0102, 0x0304, {}, replies::kUpgrade, true, platform::WM_UPGRADE_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<replies::UpgradeRecord> r(reinterpret_cast<replies::UpgradeRecord*>(l));
             return QByteArray::number(r->code) + "," + QByteArray::number(r->subCode) + "," +
                    QByteArray::number(r->param) + "," + QByteArray::number(r->arg);
         },
         "15,2,258,772"},
        {"usart", 0xB2, 0, 0, 0, QByteArray("AT\r\n"), replies::kUsart, true, platform::WM_USART_DATA_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<replies::UsartRecord> r(reinterpret_cast<replies::UsartRecord*>(l));
             return raw(r->data.data(), r->count);
         },
         "AT\r\n"},
        {"network parameters", 0x8B, 0, 0, 0, network, replies::kNetworkParam, true, platform::WM_NETWORK_PARAM_REPLY,
         0,
         [](LPARAM l) {
             std::unique_ptr<replies::NetworkParamRecord> r(reinterpret_cast<replies::NetworkParamRecord*>(l));
             return QByteArray::number(r->ip[0]) + "," + QByteArray::number(r->dns[3]) + "," +
                    QByteArray::number(r->mac[5]) + "," + QByteArray::number(r->port);
         },
         "1,16,22,8000"},
        {"parameter export", 0x83, 0, 2, 0, QByteArray("abc"), replies::kParamFile, true, platform::WM_PARAM_FILE_REPLY,
         0,
         [](LPARAM l) {
             auto* a = reinterpret_cast<const ReplyAssembler*>(l);
             return a->payloadBytes();
         },
         "abc"},
        {"power timer, 11 bytes", 0xAF, 0, 0, 1, QByteArray(11, '\5'), replies::kPower, true, platform::WM_POWER_REPLY,
         0,
         [](LPARAM l) {
             std::unique_ptr<replies::PowerRecord> r(reinterpret_cast<replies::PowerRecord*>(l));
             return raw(r->bytes.data(), 15);
         },
         QByteArray(11, '\5') + QByteArray(4, '\0')},
        {"QR settings", 0xB8, 0, 0, 0, QByteArray("{}"), replies::kQrCode, true, platform::WM_QRCODE_REPLY, 0,
         callScoped, "{}"},
        {"rotate", 0xB9, 0, 0, 0, {}, replies::kRotate, true, platform::WM_ROTATE_REPLY, 0, none, "0"},
        {"game", 0xBA, 0, 4, 0, QByteArray("g"), replies::kGame, true, platform::WM_GAME_REPLY, 4, callScoped, "g"},
        {"video control", 0xBB, 0, 9, 0, QByteArray("vc"), replies::kVideoControl, true,
         platform::WM_VIDEO_CONTROL_REPLY, 9, callScoped, "vc"},
        {"lidar select, no prefix", 0xBC, 0, 10, 0, QByteArray("l1"), replies::kLidarSelect, false,
         platform::WM_LIDAR_REPLY, 10, callScoped, "l1"},
        {"lidar param, no prefix", 0xBC, 0, 11, 0, QByteArray("l2"), replies::kLidarParam, false,
         platform::WM_LIDAR_REPLY, 11, callScoped, "l2"},
        {"lidar check, no prefix", 0xBC, 0, 1, 0, QByteArray("l3"), replies::kLidarCheck, false,
         platform::WM_LIDAR_REPLY, 1, callScoped, "l3"},
        {"gallery", 0xBD, 0, 2, 0, QByteArray("p"), replies::kGallery, true, platform::WM_GALLERY_REPLY, 2, callScoped,
         "p"},
        {"mobile", 0xBE, 0, 1, 0, QByteArray("m"), replies::kMobile, true, platform::WM_MOBILE_SETTINGS_REPLY, 1,
         callScoped, "m"},
        {"picture play", 0xBF, 0, 3, 0, QByteArray("pp"), replies::kPicturePlay, true, platform::WM_PICTURE_PLAY_REPLY,
         3, callScoped, "pp"},
        {"video play", 0x83, 0, 6, 0, QByteArray("vp"), replies::kVideoPlay, true, platform::WM_VIDEO_PLAY_REPLY, 6,
         callScoped, "vp"},
        {"blend wizard, warp points", 0xA2, 5, 0, 0, {}, replies::kBlendWizard, true, platform::WM_BLEND_WIZARD_REPLY, 0,
         [](LPARAM l) {
             std::unique_ptr<uint16_t> v(reinterpret_cast<uint16_t*>(l));
             return QByteArray::number(*v);
         },
         QByteArray::number(34 * 256 + 5)},
    };
    for (const RouteCase& c : cases) {
        const QString caption = (c.withPrefix ? kPrefix : QString()) + QString::fromUtf8(c.caption.english);
        platform::MessageWindow dialog(caption);
        Seen seen;
        dialog.onMessage(c.message, [&](WPARAM w, LPARAM l) {
            ++seen.calls;
            seen.wParam = w;
            seen.data = c.read(l);
            return platform::LRESULT(0);
        });
        deliver(c.code, c.sub, c.param, c.arg, c.payload);
        EXPECT_EQ(seen.calls, 1) << c.name;
        EXPECT_EQ(seen.wParam, c.wParam) << c.name;
        EXPECT_EQ(seen.data, c.expected) << c.name;
    }
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("|").toStdString();
}

TEST_F(ReplyRouting, BadLengthsAreDropped)
{
    testsupport::MessageBoxRecorder boxes;
    struct Drop {
        const char* name;
        uint8_t code;
        uint16_t param;
        uint16_t arg;
        QByteArray payload;
        replies::Caption caption;
        unsigned message;
    };
    const std::vector<Drop> drops = {
        {"output mode, 17 bytes", 0x91, 0, 0, QByteArray(17, 'x'), replies::kOutputMode, platform::WM_OUTPUT_MODE_REPLY},
        {"cascade, wrong length", 0xA4, 3, 0, QByteArray(11, 'x'), replies::kCascade, platform::WM_CASCADE_REPLY},
        {"usart, 1,024 bytes", 0xB2, 0, 0, QByteArray(1024, 'x'), replies::kUsart, platform::WM_USART_DATA_REPLY},
        {"usart, empty", 0xB2, 0, 0, QByteArray(), replies::kUsart, platform::WM_USART_DATA_REPLY},
        {"network, short", 0x8B, 0, 0, QByteArray(23, 'x'), replies::kNetworkParam, platform::WM_NETWORK_PARAM_REPLY},
        {"catalogue, one byte short", 0x93, 0, 0, QByteArray(qsizetype(PlayerCatalog::kSize) - 1, 'x'),
         replies::kVideoSource, platform::WM_VIDEO_LIST_REPLY},
        {"play time, 3 bytes", 0x83, 5, 0, QByteArray(3, 'x'), replies::kVideoSource, platform::WM_VIDEO_LIST_REPLY},
        {"product info, empty", 0x9F, 0, 0, QByteArray(), replies::kProductInfo, platform::WM_PRODUCT_INFO_REPLY},
    };
    for (const Drop& d : drops) {
        platform::MessageWindow dialog(kPrefix + QString::fromUtf8(d.caption.english));
        int calls = 0;
        dialog.onMessage(d.message, [&](WPARAM, LPARAM) {
            ++calls;
            return platform::LRESULT(0);
        });
        dialog.onMessage(platform::WM_TRACKBAR_VALUES_REPLY, [&](WPARAM, LPARAM l) {
            delete reinterpret_cast<replies::TrackbarRecord*>(l);
            return platform::LRESULT(0);
        });
        deliver(d.code, 0, d.param, d.arg, d.payload);
        EXPECT_EQ(calls, 0) << d.name;
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(ReplyRouting, CatalogueGoesToVideoSourceElseVideoControl)
{
    auto catalog = std::make_unique<PlayerCatalog>();
    catalog->totalMB = 500;
    const QByteArray wire = catalog->pack();
    for (bool sourceOpen : {true, false}) {
        std::unique_ptr<platform::MessageWindow> source;
        if (sourceOpen)
            source = std::make_unique<platform::MessageWindow>(kPrefix + "Video Source Settings");
        platform::MessageWindow control(kPrefix + "Video Control");
        platform::MessageWindow* receiver = sourceOpen ? source.get() : &control;
        uint32_t total = 0;
        std::vector<WPARAM> order;
        receiver->onMessage(platform::WM_VIDEO_LIST_REPLY, [&](WPARAM w, LPARAM l) {
            std::unique_ptr<PlayerCatalog> c(reinterpret_cast<PlayerCatalog*>(l));
            total = c->totalMB;
            order.push_back(w);
            return platform::LRESULT(0);
        });
        receiver->onMessage(platform::WM_TRACKBAR_VALUES_REPLY, [&](WPARAM w, LPARAM l) {
            std::unique_ptr<replies::TrackbarRecord> r(reinterpret_cast<replies::TrackbarRecord*>(l));
            EXPECT_EQ(r->subCode, 1);
            EXPECT_EQ(r->param, 2);
            EXPECT_EQ(r->arg, 3);
            order.push_back(100 + w);
            return platform::LRESULT(0);
        });
        deliver(0x93, 1, 2, 3, wire);
        EXPECT_EQ(total, 500u);
        EXPECT_EQ(order, (std::vector<WPARAM>{0, 101}));
    }
}

TEST_F(ReplyRouting, ChineseCaptionAndMissingDialog)
{
    platform::setAppLanguage(platform::kLanguageChinese);
    CvelunaDoc chinese(frame.get(), QStringList());
    platform::MessageWindow english(kPrefix + "Get Temperature");
    platform::MessageWindow dialog(kPrefix + QStringLiteral("查询温度"));
    int englishCalls = 0, chineseCalls = 0;
    english.onMessage(platform::WM_TEMPERATURE_REPLY, [&](WPARAM, LPARAM l) {
        delete reinterpret_cast<replies::TemperatureRecord*>(l);
        ++englishCalls;
        return platform::LRESULT(0);
    });
    dialog.onMessage(platform::WM_TEMPERATURE_REPLY, [&](WPARAM, LPARAM l) {
        delete reinterpret_cast<replies::TemperatureRecord*>(l);
        ++chineseCalls;
        return platform::LRESULT(0);
    });
    proto::PlayerPacketHeader h;
    h.command = 0x90;
    const QByteArray bytes = proto::buildPacket(h);
    ReplyAssembler a;
    a.feed(QString(), 0, 0, reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()),
           [&](const ReplyAssembler& r) { chinese.DispatchReply(r); });
    EXPECT_EQ(chineseCalls, 1);
    EXPECT_EQ(englishCalls, 0);
    platform::setAppLanguage(platform::kLanguageEnglish);
}

struct MessageCase {
    const char* name;
    uint8_t command;
    uint8_t sub;
    uint16_t param;
    uint16_t arg;
    QByteArray payload;
    QString text;
    platform::MsgIcon icon;
};

TEST_F(ReplyRouting, CompletionMessages)
{
    const std::vector<MessageCase> cases = {
        {"not supported (bit 6)", 0xC1, 0, 0, 0, {}, "This function is not supported in the current version!",
         platform::MsgIcon::Question},
        {"not supported (no reply bit)", 0x36, 0, 0, 0, {}, "This function is not supported in the current version!",
         platform::MsgIcon::Question},
        {"output resolution", 0x85, 0, 0, 0, {}, "Output resolution setup completed", platform::MsgIcon::Information},
        {"video channel, no wizard", 0x86, 0, 0, 0, {}, "Video channel setup completed", platform::MsgIcon::Information},
        {"blending on", 0x8D, 1, 0, 0, {}, "Edge Blending ON", platform::MsgIcon::Information},
        {"blending off", 0x8D, 0, 0, 0, {}, "Edge Blending OFF", platform::MsgIcon::Information},
        {"network set", 0x8B, 0, 0, 0, {}, "System network changes completed", platform::MsgIcon::Information},
        {"protocol file 1", 0x9C, 1, 0, 0, {}, "JukeBox protocol configuration file transmission completed",
         platform::MsgIcon::Information},
        {"reboot", 0xA1, 0, 0, 0, {}, "Reboot the player", platform::MsgIcon::Information},
        {"cascade set", 0xA3, 0, 0, 0, {}, "Player cascade setup completed", platform::MsgIcon::Information},
        {"power timer, other length", 0xAF, 0, 0, 1, QByteArray(12, 'x'), "Timing on / off parameter setting completed",
         platform::MsgIcon::Information},
        {"power on", 0xAF, 0, 1, 0, {}, "PowerOn", platform::MsgIcon::Information},
        {"power off", 0xAF, 0, 0, 0, {}, "PowerOff", platform::MsgIcon::Information},
        {"play time set", 0x83, 0, 5, 0, {}, "Play time has been set！", platform::MsgIcon::None},
        {"QR picture missing", 0xB8, 0, 1, 0, {}, "‘Please check the network connection!", platform::MsgIcon::None},
        {"window editor, old player", 0xA6, 0x40, 0, 0, {}, "Video Picture setup completed",
         platform::MsgIcon::Information},
    };
    for (const MessageCase& c : cases) {
        testsupport::MessageBoxRecorder boxes;
        deliver(c.command, c.sub, c.param, c.arg, c.payload);
        ASSERT_EQ(boxes.calls().size(), 1u) << c.name;
        EXPECT_EQ(boxes.calls()[0].text, c.text) << c.name;
        EXPECT_EQ(boxes.calls()[0].icon, c.icon) << c.name;
    }
    // Ignored codes say nothing.
    testsupport::MessageBoxRecorder boxes;
    for (uint8_t code : {7, 8, 14, 32, 49, 55})
        deliver(uint8_t(0x80 | code), 0, 0, 0, {});
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(ReplyRouting, SequenceFollowsReplies)
{
    testsupport::MessageBoxRecorder boxes;
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
    testsupport::MessageBoxRecorder boxes;
    platform::MessageWindow wizard(kPrefix + "Edge blending wizard");
    std::vector<uint16_t> values;
    wizard.onMessage(platform::WM_BLEND_WIZARD_REPLY, [&](WPARAM, LPARAM l) {
        std::unique_ptr<uint16_t> v(reinterpret_cast<uint16_t*>(l));
        values.push_back(*v);
        return platform::LRESULT(0);
    });
    deliver(0x86, 2, 0, 0, {});  // video channel
    deliver(0x8D, 1, 0, 0, {});  // blend switch
    deliver(0x8C, 1, 0, 0, {});  // adjust mode, no exchange hooked
    deliver(0x82, 7, 0, 0, {});  // channel map
    deliver(0xC2, 0, 0, 0, {});  // not supported: message and 0
    EXPECT_EQ(values, (std::vector<uint16_t>{0x0602, 0x0D01, 0x0C01, 0x0207, 0}));
    EXPECT_EQ(boxes.calls().size(), 1u);
}

TEST_F(ReplyRouting, HooksReceiveTheirReplies)
{
    std::vector<int> seen;
    doc->onConfigFileReply = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000 + r.header.subCode); };
    doc->onLayoutReply = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000 + int(r.size)); };
    doc->onMaterialReply = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000); };
    doc->onAdjustModeReply = [&](const PlayerReply& r) { seen.push_back(r.header.command * 1000 + r.header.subCode); };
    doc->onWatermarkReply = [&](const PlayerReply& r) { seen.push_back(3000 + r.header.param); };
    doc->uploadConfigFile = [&](uint8_t file) { seen.push_back(-file); };
    doc->currentPlayer().version = 0x1523;
    deliver(0xB6, 18, 0, 0, QByteArray("cfg"));
    deliver(0xB4, 0, 0, 0, QByteArray("ab"));
    deliver(0xB5, 1, 0, 0, {});
    deliver(0x8C, 1, 0, 0, {});
    deliver(0x83, 0, 0, 0, {});
    deliver(0xA6, 0x40, 0, 0, {});
    EXPECT_EQ(seen, (std::vector<int>{54018, 52002, 53000, 12001, 3000, -5}));
}

}  // namespace
