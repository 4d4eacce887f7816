#include "core/devices/protocol_file.h"
#include "tests/core/device_harness.h"

#include <QComboBox>

namespace {

using devtest::DeviceHarness;
using testsupport::waitUntil;

TEST(ProtocolFile, RefusalsSendNothing)
{
    DeviceHarness h;
    CProtocolFile dialog(h.doc->titlePrefix());
    const QString big = h.home.path() + QStringLiteral("/big.db");
    ASSERT_TRUE(testsupport::writeFile(big, QByteArray(int(protocolfile::kMaxFileBytes) + 1, 'x')));
    struct Row {
        QString path;
        const char* message;
    };
    const Row rows[] = {
        {QString(), "Does the data file have not been selected?"},
        {h.home.path() + QStringLiteral("/missing.db"), "Does the data file exist?"},
        {h.home.path(), "Does the data file exist?"},
        {big, "Cannot be larger than 8MB file!"},
    };
    for (const Row& r : rows) {
        h.boxes.clear();
        EXPECT_FALSE(dialog.SendFile(r.path, 2, 1));
        ASSERT_EQ(h.boxes.calls.size(), 1u);
        EXPECT_EQ(h.boxes.calls[0].text, QString::fromUtf8(r.message));
        EXPECT_EQ(h.boxes.calls[0].icon, platform::MsgIcon::Warning);
    }
    waitUntil([] { return false; }, 100);
    EXPECT_TRUE(h.requests(proto::CMD_PROTOCOL_FILE).empty());
}

TEST(ProtocolFile, WholeFileInOnePacketWithTheComboIndex)
{
    DeviceHarness h;
    CProtocolFile dialog(h.doc->titlePrefix());
    EXPECT_EQ(dialog.DataNames()->currentIndex(), 1);
    const QString largest = h.home.path() + QStringLiteral("/songs.DB");
    const QByteArray bytes = testsupport::randomBytes(std::size_t(protocolfile::kMaxFileBytes), 7);
    ASSERT_TRUE(testsupport::writeFile(largest, bytes));
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        EXPECT_EQ(call.caption, QStringLiteral("Select the Data file "));
        EXPECT_EQ(call.filter, QStringLiteral("Data File(*.DB)|*.DB||"));
        return largest;
    });
    dialog.DataNames()->setCurrentIndex(0);
    dialog.OnSelectFile(2);
    platform::setFileDialogAnswerer({});
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 1; }));
    EXPECT_EQ(h.boxes.calls[0].text, QStringLiteral("Data file transmission completed"));
    const auto sent = h.requests(proto::CMD_PROTOCOL_FILE);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header.subCode, 2);
    EXPECT_EQ(sent[0].header.param, 0);
    EXPECT_EQ(sent[0].header.payloadLength, 8192000u);
    EXPECT_TRUE(h.withStore<bool>([&](sim::DeviceStore& s) { return s.protocolFiles[2] == bytes; }));

    // Serial protocol file: sub-code 0, u16 at 8 stays 0 whatever the combo says.
    const QString small = h.home.path() + QStringLiteral("/serial.cfg");
    ASSERT_TRUE(testsupport::writeFile(small, "baud=9600"));
    dialog.DataNames()->setCurrentIndex(1);
    EXPECT_TRUE(dialog.SendFile(small, 0, 0));
    EXPECT_TRUE(dialog.SendFile(small, 2, dialog.DataNames()->currentIndex()));
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 3; }));
    EXPECT_EQ(h.boxes.calls[1].text,
              QStringLiteral("Serial communication protocol configuration file transmission completed"));
    const auto later = h.requests(proto::CMD_PROTOCOL_FILE);
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later[1].header.subCode, 0);
    EXPECT_EQ(later[1].payload, QByteArray("baud=9600"));
    EXPECT_EQ(later[2].header.param, 1);
}

}  // namespace
