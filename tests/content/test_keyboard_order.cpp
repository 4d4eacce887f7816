// Keyboard use from the moment a dialog opens: the focus starts on its first
// control and Tab walks every control as it is read, back to the first.

#include "content/content_commands.h"
#include "content/picture_manager.h"
#include "content/qr_code.h"
#include "content/video_control.h"
#include "tests/content/content_harness.h"
#include "tests/content/qr_fixture.h"

#include "player/remote_commands.h"
#include "transport/records.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using contenttest::Harness;
using testsupport::waitUntil;

std::array<uint8_t, 108> twoScreens()
{
    std::array<uint8_t, 108> b{};
    const uint16_t screens[2][4] = {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}};
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 4; ++k)
            proto::putU16(b.data() + 4 + 8 * i + 2 * k, screens[i][k]);
    return b;
}

// Each opens its dialog as its command does and waits until it has loaded.
std::unique_ptr<QDialog> openQrCode(Harness& h)
{
    auto d = std::make_unique<CQRCode>(h.doc->titlePrefix(), h.doc->tempFolder(), twoScreens());
    d->show();
    d->OnInitDialog();
    EXPECT_TRUE(waitUntil([&] { return h.requests(proto::CMD_QRCODE).size() == 1; }));
    // The reply fills the fields (and puts the focus on the map).
    const QByteArray document = contenttest::QrStored(h);
    EXPECT_TRUE(waitUntil([&] { return contenttest::QrShows(*d, document); }));
    return d;
}

std::unique_ptr<QDialog> openPictureManager(Harness& h)
{
    // No gallery answers here: the list fails with its message and the
    // controls stay as they are.
    auto d = std::make_unique<CPictureManager>(h.doc->titlePrefix(), h.doc->tempFolder(), QStringLiteral("127.0.0.9"));
    d->show();
    d->OnInitDialog();
    return d;
}

std::unique_ptr<QDialog> openVideoControl(Harness& h)
{
    h.store([](sim::VideoStoreState& s) {
        sim::addVideo(s.acts[0], "A", "x.mp4", 10);
        sim::addCategory(s.acts[0], "B");
        s.pushChanges = false;
    });
    {
        std::lock_guard lock(h.player->stateMutex());
        h.player->state().layouts = {{"a.GFD", ""}, {"b.GFD", ""}};
    }
    h.doc->onLayoutReply = content::LayoutListForwarder(*h.doc, nullptr);
    auto d = std::make_unique<CVideoControl>(h.doc->titlePrefix(), h.doc->tempFolder());
    d->show();
    d->OnInitDialog();
    EXPECT_TRUE(waitUntil([&] { return d->polling(); }));
    return d;
}

TEST(KeyboardOrder, FocusStartsOnTheFirstControlAndTabWalksThemAll)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    const struct {
        const char* name;
        std::function<std::unique_ptr<QDialog>(Harness&)> open;
        const char* walk;  // the focused control at opening, then after each Tab
    } rows[] = {
        {"qr_code", openQrCode, "4501 4502 4503 4505 4506 4507 4508 4509 4510 4511 4512 4514 4513 1 2 4501"},
        {"picture_manager", openPictureManager, "5201 5203 5204 5205 5202 5206 5209 5207 2 5201"},
        {"video_control", openVideoControl,
         "5000 5001 4919 5200 5201 4904 4905 4906 4907 4908 4911 4909 4910 4913 4914 5000"},
    };
    for (unsigned language : {9u, 4u}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(r.name) + (language == 4 ? " zh" : " en"));
            Harness h(language);
            ASSERT_TRUE(h.started);
            std::unique_ptr<QDialog> dialog = r.open(h);
            const QStringList expected = QString::fromLatin1(r.walk).split(u' ');
            EXPECT_EQ(contenttest::TabWalk(*dialog, int(expected.size()) - 1), expected);
            // Back on the first control, as the dialog opened.
            dialog->grab().save(contenttest::screenshotPath(QStringLiteral("keyboard_%1_%2")
                                                                .arg(QString::fromLatin1(r.name),
                                                                     language == 4 ? "zh" : "en")));
        }
    }
}

}  // namespace
