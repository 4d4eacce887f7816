#include "core/devices/product_information.h"
#include "tests/core/device_harness.h"

#include <QPlainTextEdit>

namespace {

using devtest::DeviceHarness;
using testsupport::waitUntil;

TEST(ProductInformation, AsksOnOpenAndAgainAndShowsTheLastReply)
{
    DeviceHarness h(platform::kLanguageChinese);
    CQueryProductInformation dialog(h.doc->titlePrefix());
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + QStringLiteral("查询产品信息"));
    dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return !dialog.InformationText().isEmpty(); }));
    EXPECT_EQ(dialog.InformationText(), QStringLiteral("Model:SIM-PLAYER ID:SIM000000001 MAC:A1B2C3D4E5F6"));
    {
        std::lock_guard<std::mutex> lk(h.player->stateMutex());
        h.player->state().productInfo = QByteArray("\xB2\xA5\xB7\xC5\xC6\xF7 V2");  // code page 936
    }
    dialog.OnGetInformation();
    ASSERT_TRUE(waitUntil([&] { return dialog.InformationText().endsWith(QStringLiteral("V2")); }));
    EXPECT_EQ(dialog.InformationText(), QStringLiteral("播放器 V2"));
    EXPECT_EQ(h.requests(proto::CMD_PRODUCT_INFO).size(), 2u);
    EXPECT_TRUE(h.requests(proto::CMD_PRODUCT_INFO)[1].payload.isEmpty());
}

TEST(SerialMonitor, HexLines)
{
    const uint8_t bytes[] = {0x0A, 0xFF, 0x00, 0x7f};
    struct Row {
        std::size_t count;
        const char* line;
    };
    const Row rows[] = {{2, "0a ff "}, {4, "0a ff 00 7f "}, {0, ""}};
    for (const Row& r : rows)
        EXPECT_EQ(usart::HexLine(bytes, r.count), QString::fromLatin1(r.line));
}

TEST(SerialMonitor, PollsEveryTwoSecondsAndAppendsEachReplyAsALine)
{
    DeviceHarness h;
    h.withStore<int>([](sim::DeviceStore& s) {
        s.usartQueue.push_back(QByteArray("\x0A\xFF", 2));
        s.usartQueue.push_back(QByteArray(""));  // nothing received: no payload, dropped
        s.usartQueue.push_back(QByteArray("\x01\x02\x03", 3));
        return 0;
    });
    CQueryUsartCommand dialog(h.doc->titlePrefix());
    dialog.OnInitDialog();
    waitUntil([] { return false; }, 1500);
    EXPECT_TRUE(h.requests(proto::CMD_USART_DATA).empty());
    ASSERT_TRUE(waitUntil([&] { return dialog.MonitorText().count(QLatin1Char('\n')) == 2; }));
    EXPECT_EQ(dialog.MonitorText(), QStringLiteral("0a ff \n01 02 03 \n"));
    EXPECT_EQ(h.requests(proto::CMD_USART_DATA).size(), 3u);
    dialog.reject();
    waitUntil([] { return false; }, 2200);
    EXPECT_EQ(h.requests(proto::CMD_USART_DATA).size(), 3u);
}

TEST(SerialMonitor, KeepsOnlyTheNewestLines)
{
    DeviceHarness h(platform::kLanguageEnglish, false);
    CQueryUsartCommand dialog(h.doc->titlePrefix());
    auto* window = platform::findWindow(dialog.windowTitle());
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < CQueryUsartCommand::kMaxLines + 50; ++i) {
        auto record = std::make_unique<replies::UsartRecord>();
        record->data[0] = uint8_t(i);
        record->data[1] = uint8_t(i >> 8);
        record->count = 2;
        platform::sendMessage(window, platform::WM_USART_DATA_REPLY, 0, platform::LPARAM(record.release()));
    }
    EXPECT_LE(dialog.Monitor()->document()->blockCount(), CQueryUsartCommand::kMaxLines);
    const int last = CQueryUsartCommand::kMaxLines + 49;
    EXPECT_TRUE(dialog.MonitorText().endsWith(QString::asprintf("%02x %02x \n", last & 0xFF, last >> 8)));
    EXPECT_FALSE(dialog.MonitorText().startsWith(QStringLiteral("00 00 ")));
}

}  // namespace
