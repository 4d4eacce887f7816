#include "content/qr_code.h"
#include "tests/content/content_harness.h"
#include "tests/content/qr_fixture.h"

#include "platform/dialogs.h"
#include "player/remote_commands.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using contenttest::Harness;
using testsupport::waitUntil;

std::array<uint8_t, 108> twoScreens(int secondWidth)
{
    std::array<uint8_t, 108> b{};
    const uint16_t screens[2][4] = {{0, 0, 1920, 1080}, {1920, 0, uint16_t(secondWidth), uint16_t(secondWidth ? 1080 : 0)}};
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 4; ++k)
            proto::putU16(b.data() + 4 + 8 * i + 2 * k, screens[i][k]);
    const uint16_t outputs[2][4] = {{0, 1919, 0, 1079}, {1920, 3839, 0, 1079}};
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 4; ++k)
            proto::putU16(b.data() + 36 + 8 * i + 2 * k, outputs[i][k]);
    return b;
}

struct Open {
    Open(Harness& h, int secondWidth = 1920)
        : h(h), dialog(h.doc->titlePrefix(), h.doc->tempFolder(), twoScreens(secondWidth))
    {
        dialog.show();
        dialog.OnInitDialog();
        // Until the reply has filled the controls from the player's document
        // (no reply is handled before the events are).
        const QByteArray document = stored();
        EXPECT_FALSE(contenttest::QrShows(dialog, document)) << "the controls show it before any reply";
        EXPECT_TRUE(waitUntil([&] { return h.requests(proto::CMD_QRCODE).size() == 1; }));
        EXPECT_TRUE(waitUntil([&] { return contenttest::QrShows(dialog, document); }));
    }
    QByteArray stored() { return contenttest::QrStored(h); }
    std::size_t sent() const { return h.requests(proto::CMD_QRCODE).size(); }
    Harness& h;
    CQRCode dialog;
};

TEST(QrCodeDialog, ReplyFillsTheControls)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    Open o(h);
    EXPECT_EQ(o.dialog.edit(4505)->text(), "60");
    EXPECT_EQ(o.dialog.edit(4506)->text(), "10");
    EXPECT_TRUE(o.dialog.check(4510)->isChecked());
    EXPECT_FALSE(o.dialog.check(4512)->isChecked());
    EXPECT_TRUE(o.dialog.findChild<QRadioButton*>("4503")->isEnabled());  // second screen at x 1920
    const auto request = h.requests(proto::CMD_QRCODE).front();
    EXPECT_EQ(request.header.param, 0);
    EXPECT_TRUE(request.payload.isEmpty());
}

TEST(QrCodeDialog, ApplyTable)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    Open o(h);
    struct Row {
        const char* on;
        const char* size1;
        bool messenger1;
        const char* message;  // empty: sent
    };
    const Row rows[] = {
        {"100000", "60", true, ""},
        {"100001", "60", true, "On Interval is too long"},
        {"abc", "60", true, ""},
        {"-5", "60", true, "On Interval is too long"},
        {"60", "29", true, "Message size is out of range"},
        {"60", "29", false, ""},
    };
    for (const auto& row : rows) {
        const std::size_t before = o.sent();
        const std::size_t documents = contenttest::QrDocumentsSent(h);
        const int boxes = h.boxTexts().size();
        o.dialog.edit(4505)->setText(row.on);
        o.dialog.edit(4507)->setText(row.size1);
        o.dialog.check(4510)->setChecked(row.messenger1);
        o.dialog.OnApply();
        if (*row.message) {
            ASSERT_EQ(h.boxTexts().size(), boxes + 1) << row.on;
            EXPECT_EQ(h.boxTexts().back(), row.message);
            ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE)) << row.on;  // a read
            EXPECT_EQ(contenttest::QrDocumentsSent(h), documents) << row.on;
        } else {
            EXPECT_TRUE(waitUntil([&] { return o.sent() == before + 1; })) << row.on;
            EXPECT_EQ(h.boxTexts().size(), boxes) << row.on;
            if (QByteArray(row.on) == "abc") {  // no leading digits: 0
                EXPECT_TRUE(waitUntil([&] { return o.stored().contains("\"QRShowTime\" : 0\n"); }));
            }
        }
    }
}

TEST(QrCodeDialog, RKeySendsTheDefaults)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    {
        // The player holds other values than the defaults, so that only the
        // document R sends can bring them.
        qr::QrSettings other;
        other.showTime = 120;
        other.circleTime = 20;
        for (auto& l : other.locations) {
            l.qrShow = 0;
            l.textShow = 0;
            l.textSize = 90;
            l.rect = {0, 0, 200, 200};
        }
        std::lock_guard lock(h.player->stateMutex());
        sim::remoteState(*h.player).qrDocument = qr::WriteDocument(other);
    }
    Open o(h);
    o.dialog.edit(4505)->setText("77");
    o.dialog.check(4512)->setChecked(false);
    const std::size_t before = o.sent();
    QTest::keyClick(o.dialog.edit(4506), Qt::Key_R);
    ASSERT_TRUE(waitUntil([&] { return o.sent() == before + 1; }));
    EXPECT_EQ(o.dialog.edit(4505)->text(), "60");
    EXPECT_EQ(o.dialog.edit(4506)->text(), "10");  // the R was not typed
    ASSERT_TRUE(waitUntil([&] { return o.stored().contains("\"QRShowTime\" : 60"); }));
    qr::QrSettings back;
    ASSERT_TRUE(qr::ReadDocument(o.stored(), back));
    for (const auto& l : back.locations) {
        EXPECT_EQ(l.qrShow, 1u);
        EXPECT_EQ(l.textShow, 1u);
        EXPECT_EQ(l.textSize, 60u);
        EXPECT_EQ(l.rect.width(), 320);
    }
}

TEST(QrCodeDialog, DragKeepsTheMinimumSize)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    Open o(h);
    const auto& loc = o.dialog.settings().locations[0];
    const QRect onMap = qr::ToMap(loc.rect, o.dialog.mapArea(), o.dialog.scale());
    std::size_t before = o.sent();
    o.dialog.MapPress(onMap.center());  // selects and applies
    EXPECT_TRUE(o.dialog.selected());
    ASSERT_TRUE(waitUntil([&] { return o.sent() == before + 1; }));
    before = o.sent();
    // Bottom-right handle towards the top-left corner: 100 x 50 asked.
    const QPoint handle = onMap.bottomRight() - QPoint(2, 2);
    o.dialog.MapPress(handle);
    const QRect small = qr::ToMap(qr::Box{0, 0, 100, 50}, o.dialog.mapArea(), o.dialog.scale());
    o.dialog.MapMove(small.bottomRight());
    o.dialog.MapRelease(small.bottomRight());
    ASSERT_TRUE(waitUntil([&] { return o.sent() == before + 1; }));
    EXPECT_EQ(o.dialog.settings().locations[0].rect.left, 0);
    EXPECT_GE(o.dialog.settings().locations[0].rect.width(), 160);
    EXPECT_GE(o.dialog.settings().locations[0].rect.height(), 160);
    // A press outside the screen deselects and sends nothing.
    o.dialog.MapPress(QPoint(2, 2));
    EXPECT_FALSE(o.dialog.selected());
}

TEST(QrCodeDialog, EmptySecondScreenIsNeverValidated)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        Harness h(language);
        Open o(h, 0);
        EXPECT_FALSE(o.dialog.findChild<QRadioButton*>("4503")->isEnabled());
        EXPECT_FALSE(o.dialog.edit(4508)->isEnabled());
        o.dialog.edit(4508)->setText("5");
        const std::size_t before = o.sent();
        o.dialog.OnApply();
        EXPECT_TRUE(waitUntil([&] { return o.sent() == before + 1; }));
        o.dialog.grab().save(contenttest::screenshotPath(language == 4 ? "qr_code_zh" : "qr_code_en"));
    }
}

}  // namespace

namespace {

TEST(QrCodeDialog, GetPictureIsSavedByTheDocument)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    Open o(h);
    const QByteArray jpeg("\xFF\xD8\xFF\xE0 picture \xFF\xD9", 15);
    {
        std::lock_guard lock(h.player->stateMutex());
        sim::remoteState(*h.player).qrPicture = jpeg;
    }
    const QString target = h.doc->tempFolder() + "/saved.JPG";
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        EXPECT_EQ(call.caption, "Save As QR Code file");
        return target;
    });
    o.dialog.OnGetPicture();
    EXPECT_TRUE(waitUntil([&] { return h.boxTexts().contains("QR Code picture saving completed！"); }));
    platform::setFileDialogAnswerer(nullptr);
    EXPECT_EQ(testsupport::readFile(target), jpeg);
    EXPECT_EQ(h.requests(proto::CMD_QRCODE).back().header.param, 1);
}

}  // namespace
