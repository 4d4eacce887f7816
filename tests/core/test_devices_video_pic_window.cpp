#include "core/devices/video_pic_window.h"
#include "tests/core/device_harness.h"
#include "tests/support/full_disk.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>

namespace {

using devtest::DeviceHarness;
using testsupport::waitUntil;
using vpw::ScreenRect;
using vpw::VideoPicWindowBlock;
using vpw::WindowEntry;

// Output block with screen 0 at (0,0) and screen 1 at (0,1080), 1920 x 1080.
std::array<uint8_t, 108> twoScreens(uint16_t secondY = 1080)
{
    std::array<uint8_t, 108> b{};
    const uint16_t v[8] = {0, 0, 1920, 1080, 0, secondY, 1920, 1080};
    for (int i = 0; i < 8; ++i)
        proto::putU16(b.data() + 4 + 2 * i, v[i]);
    return b;
}

TEST(VideoPicWindow, BlockBytesAndPayload)
{
    VideoPicWindowBlock b;
    b.screens = vpw::ScreensOf(twoScreens());
    b.windows[vpw::kVideo] = {10, 0, 310, 300, 1, 1};
    b.windows[vpw::kInput] = {100, 200, 500, 600, 0, 0};
    b.inputSource = 1;
    b.inputNumber = 15;
    b.counts = {1, 0, 1};
    const QByteArray bytes = b.pack();
    ASSERT_EQ(bytes.size(), 75);
    EXPECT_EQ(bytes.mid(8, 8).toHex(), QByteArray("000038048007" "3804"));
    EXPECT_EQ(bytes.mid(32, 11).toHex(), QByteArray("0a0000003601" "2c01010001"));
    EXPECT_EQ(bytes.mid(65).toHex(), QByteArray("01000f00010000000100"));
    EXPECT_EQ(VideoPicWindowBlock::unpack(reinterpret_cast<const uint8_t*>(bytes.constData())).pack(), bytes);
    // Second screen at y 1080: the video's top 0 goes out as 1080.
    const QByteArray payload = vpw::StatePayload(b);
    ASSERT_EQ(payload.size(), 28);
    EXPECT_EQ(payload.left(8).toHex(), QByteArray("0a00380436016405"));
    EXPECT_EQ(payload.mid(8, 8).toHex(), QByteArray("0000000000000000"));
    EXPECT_EQ(payload.mid(16).toHex(), QByteArray("6400c800f40158020100" "0f00"));
}

TEST(VideoPicWindow, KeysMoveAndResizeWithinTheirLimits)
{
    const ScreenRect s{0, 0, 1920, 1080};
    struct Row {
        WindowEntry before;
        int key;
        bool shift;
        bool changed;
        WindowEntry after;
    };
    const Row rows[] = {
        {{0, 0, 300, 300}, Qt::Key_Left, false, false, {0, 0, 300, 300}},
        {{5, 0, 305, 300}, Qt::Key_Left, false, true, {4, 0, 304, 300}},
        {{0, 0, 300, 300}, Qt::Key_Left, true, false, {0, 0, 300, 300}},
        {{0, 0, 400, 300}, Qt::Key_Left, true, true, {0, 0, 399, 300}},
        {{1621, 0, 1921, 300}, Qt::Key_Right, false, false, {1621, 0, 1921, 300}},
        {{0, 0, 1920, 300}, Qt::Key_Right, true, false, {0, 0, 1920, 300}},
        {{0, 0, 300, 300}, Qt::Key_Down, true, true, {0, 0, 300, 301}},
        {{0, 781, 300, 1081}, Qt::Key_Down, false, false, {0, 781, 300, 1081}},
        {{0, 3, 300, 303}, Qt::Key_Up, false, true, {0, 2, 300, 302}},
    };
    for (const Row& r : rows) {
        WindowEntry e = r.before;
        EXPECT_EQ(vpw::ApplyKey(e, r.key, r.shift, s), r.changed) << r.key << r.shift;
        EXPECT_EQ(e.left, r.after.left);
        EXPECT_EQ(e.right, r.after.right);
        EXPECT_EQ(e.bottom, r.after.bottom);
    }
    WindowEntry dragged;
    vpw::ApplyRect(dragged, 100, 50, 220, 600, s);  // 120 wide becomes 300
    EXPECT_EQ(dragged.right, 400);
    vpw::ApplyRect(dragged, 1800, 900, 2000, 1100, s);
    EXPECT_EQ(dragged.right, 1921);
    EXPECT_EQ(dragged.bottom, 1081);
}

TEST(VideoPicWindow, StoredBlocksAreCheckedOnLoad)
{
    testsupport::TempHome home;
    const auto screens = vpw::ScreensOf(twoScreens());
    const QString path = home.path() + QStringLiteral("/VideoPicWindow.QVE");
    VideoPicWindowBlock good;
    good.screens = screens;
    good.windows[vpw::kVideo] = {0, 0, 300, 300, 0, 1};
    good.windows[vpw::kPicture] = {1700, 0, 2300, 300, 0, 0};  // off the screen
    good.windows[vpw::kInput] = {0, 0, 300, 300, 7, 0};        // no such screen
    good.counts = {1, 1, 1};
    struct Row {
        QByteArray bytes;
        std::array<uint16_t, 3> counts;
    };
    VideoPicWindowBlock other = good;
    other.screens[1].y = 0;
    const Row rows[] = {
        {good.pack(), {1, 0, 0}},
        {good.pack() + "x", {0, 0, 0}},
        {other.pack(), {0, 0, 0}},
        {QByteArray(), {0, 0, 0}},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(testsupport::writeFile(path, r.bytes));
        const VideoPicWindowBlock b = vpw::LoadBlock(path, screens);
        EXPECT_EQ(b.counts, r.counts);
        EXPECT_EQ(b.windows[0].selected, 0);
        EXPECT_EQ(b.screens, screens);
    }
}

struct EditorHarness {
    EditorHarness() : dialog(h.doc->titlePrefix(), h.doc->playerFolder(), twoScreens())
    {
        dialog.OnInitDialog();
        EXPECT_TRUE(waitUntil([&] { return !dialog.ReplyPending(); }));
    }
    int updates() { return h.withStore<int>([](sim::DeviceStore& s) { return s.videoPicUpdates; }); }
    QByteArray state() { return h.withStore<QByteArray>([](sim::DeviceStore& s) { return s.videoPicWindow; }); }
    void key(int k, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, k, m);
        QCoreApplication::sendEvent(&dialog, &press);
    }
    DeviceHarness h;
    CVideoPicWindow dialog;
};

TEST(VideoPicWindow, AddSelectMoveAndSaveAgainstThePlayer)
{
    EditorHarness e;
    EXPECT_EQ(e.dialog.windowTitle(), e.h.doc->titlePrefix() + QStringLiteral("Video Picture Seting"));
    EXPECT_EQ(e.updates(), 1);  // the state at start
    e.dialog.OnAdd(vpw::kVideo);
    ASSERT_TRUE(waitUntil([&] { return e.updates() == 2 && !e.dialog.ReplyPending(); }));
    e.dialog.OnAdd(vpw::kVideo);
    EXPECT_EQ(e.h.boxes.texts(), QStringList{QStringLiteral("There are enough Video to add！")});

    // Click inside the video window selects it; Right moves it one pixel.
    const auto r = e.dialog.Map().entryRect(e.dialog.Block().windows[vpw::kVideo]);
    e.dialog.OnLButtonDown(r.left + 5, r.top + 5);
    e.dialog.OnLButtonUp(r.left + 5, r.top + 5);
    ASSERT_TRUE(waitUntil([&] { return e.updates() == 3 && !e.dialog.ReplyPending(); }));
    EXPECT_EQ(e.dialog.Block().windows[vpw::kVideo].selected, 1);
    e.key(Qt::Key_Right);
    ASSERT_TRUE(waitUntil([&] { return e.updates() == 4 && !e.dialog.ReplyPending(); }));
    EXPECT_EQ(e.state().left(8).toHex(), QByteArray("010000002d012c01"));
    e.key(Qt::Key_Shift);
    e.key(Qt::Key_Left, Qt::ShiftModifier);  // 300 wide: nothing changes, nothing is sent
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(e.updates(), 4);

    // Clicking outside the screen clears the selection: Delete asks nothing.
    e.dialog.OnLButtonDown(5000, 5000);
    e.dialog.OnDelete();
    EXPECT_EQ(e.h.boxes.calls.size(), 1u);

    e.dialog.findChild<QCheckBox*>(QStringLiteral("3909"))->setChecked(true);
    e.dialog.OnSaveExit();
    ASSERT_TRUE(waitUntil([&] { return e.h.withStore<int>([](sim::DeviceStore& s) { return s.videoPicSaves; }) == 1; }));
    EXPECT_EQ(e.h.withStore<uint16_t>([](sim::DeviceStore& s) { return s.videoPicBackground; }), 1);
    const QByteArray file = testsupport::readFile(e.dialog.BlockPath());
    ASSERT_EQ(file.size(), 75);
    EXPECT_EQ(e.dialog.BlockPath(), QDir(e.h.doc->playerFolder()).filePath(QStringLiteral("config/VideoPicWindow.QVE")));
    EXPECT_EQ(VideoPicWindowBlock::unpack(reinterpret_cast<const uint8_t*>(file.constData())).windows[0].left, 1);
    EXPECT_EQ(e.dialog.result(), QDialog::Accepted);
    // The player's answer to the save makes the document push the file (file 5).
    ASSERT_TRUE(e.h.waitRequests(proto::CMD_CONFIG_FILE, 1));
    EXPECT_TRUE(e.h.requests(proto::CMD_CONFIG_FILE)[0].payload.contains(file));
}

TEST(VideoPicWindow, EditsWhileAReplyIsPendingAreSentWhenItComesAndSaveWaits)
{
    EditorHarness e;
    e.h.player->setFault(sim::Fault::Delay, 400, proto::CMD_VIDEO_PIC_WINDOW);
    e.dialog.OnAdd(vpw::kVideo);
    EXPECT_TRUE(e.dialog.ReplyPending());
    e.dialog.OnAdd(vpw::kPicture);
    e.dialog.OnAdd(vpw::kInput);  // the newest state: all three
    e.dialog.OnSaveExit();
    ASSERT_TRUE(waitUntil([&] { return e.h.withStore<int>([](sim::DeviceStore& s) { return s.videoPicSaves; }) == 1; }));
    const auto sent = e.h.requests(proto::CMD_VIDEO_PIC_WINDOW);
    ASSERT_EQ(sent.size(), 3u);  // start, the first add, then the save with everything
    EXPECT_EQ(sent[2].header.subCode, 64);
    EXPECT_EQ(sent[2].payload.mid(8, 8).toHex(), QByteArray("000000002c012c01"));
    EXPECT_EQ(sent[2].payload.mid(16, 8).toHex(), QByteArray("000000002c012c01"));
}

// "Save  Exit" onto a full disk: the player's answer to a save would make the
// document push the stored file, which still holds the old bytes. So nothing
// goes to the player, nothing is said completed, the dialog stays open with
// the edits, and the same save goes through once there is space.
TEST(VideoPicWindow, SaveOnAFullDiskSendsNothingAndKeepsTheEdits)
{
    const struct {
        const char* name;
        bool replyPending;  // the save waits for the answer to an edit
        uint16_t count;     // windows in the edits
    } rows[] = {
        {"nothing pending", false, 1},
        {"save waits for a reply", true, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::FullDisk disk;
        if (!disk.mounted())
            GTEST_SKIP() << disk.reason().toStdString();
        DeviceHarness h(platform::kLanguageEnglish, false);
        qputenv("VELUNA_HOME", disk.path().toUtf8());  // the harness puts its own back when it ends
        h.doc->OnReconnect();
        ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
        ASSERT_TRUE(waitUntil([&] { return testsupport::HandshakeRequestsDone(*h.doc, *h.player); }));
        ASSERT_TRUE(h.doc->playerFolder().startsWith(disk.path()));
        CVideoPicWindow dialog(h.doc->titlePrefix(), h.doc->playerFolder(), twoScreens());
        const QByteArray earlier(vpw::VideoPicWindowBlock::kSize, 'e');
        ASSERT_TRUE(testsupport::writeFile(dialog.BlockPath(), earlier));
        dialog.OnInitDialog();
        dialog.OnAdd(vpw::kVideo);
        ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_VIDEO_PIC_WINDOW).size() == 2 && !dialog.ReplyPending(); }));
        if (row.replyPending) {
            h.player->setFault(sim::Fault::Delay, 400, proto::CMD_VIDEO_PIC_WINDOW);
            dialog.OnAdd(vpw::kPicture);
            ASSERT_TRUE(dialog.ReplyPending());
        }
        disk.fill();
        h.boxes.clear();
        h.player->clearLog();

        dialog.OnSaveExit();
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls.empty(); }));
        waitUntil([] { return false; }, 500);  // room for anything that would follow
        EXPECT_EQ(h.boxes.texts(),
                  QStringList{"Cannot write " + QDir::toNativeSeparators(dialog.BlockPath()) + '\n' +
                              qt_error_string(ENOSPC)});
        for (const auto& sent : h.requests(proto::CMD_VIDEO_PIC_WINDOW))
            EXPECT_NE(sent.header.subCode, 64);
        EXPECT_TRUE(h.requests(proto::CMD_CONFIG_FILE).empty());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Block().counts[vpw::kVideo] + dialog.Block().counts[vpw::kPicture], row.count);
        EXPECT_EQ(testsupport::readFile(dialog.BlockPath()), earlier);

        disk.release();
        h.player->setFault(sim::Fault::None);
        h.boxes.clear();
        dialog.OnSaveExit();
        ASSERT_TRUE(h.waitRequests(proto::CMD_CONFIG_FILE, 1));
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(testsupport::readFile(dialog.BlockPath()), dialog.Block().pack());
    }
}

TEST(VideoPicWindow, APendingFlagExpiresWhenThePlayerNeverAnswers)
{
    EditorHarness e;
    e.dialog.pendingExpiryMs = 500;
    e.h.player->setFault(sim::Fault::Silent, 0, proto::CMD_VIDEO_PIC_WINDOW);
    e.dialog.OnAdd(vpw::kVideo);
    e.dialog.OnAdd(vpw::kPicture);
    ASSERT_TRUE(waitUntil([&] { return e.h.requests(proto::CMD_VIDEO_PIC_WINDOW).size() == 3; }));
    e.h.player->setFault(sim::Fault::None);
    e.dialog.OnSaveExit();  // waits for the expiry, then sends
    ASSERT_TRUE(waitUntil([&] { return e.h.withStore<int>([](sim::DeviceStore& s) { return s.videoPicSaves; }) == 1; }));
    EXPECT_EQ(e.dialog.result(), QDialog::Accepted);
}

TEST(VideoPicWindow, DraggingTheTrackerResizesTheWindowWithinItsScreen)
{
    EditorHarness e;
    e.dialog.OnAdd(vpw::kPicture);
    ASSERT_TRUE(waitUntil([&] { return !e.dialog.ReplyPending(); }));
    const auto r = e.dialog.Map().entryRect(e.dialog.Block().windows[vpw::kPicture]);
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    e.dialog.OnLButtonDown(cx, cy);  // selects
    e.dialog.OnLButtonUp(cx, cy);
    ASSERT_TRUE(waitUntil([&] { return !e.dialog.ReplyPending(); }));
    // At this scale a 300-pixel window is a few canvas pixels: the press
    // lands on the bottom-right handle and the drag resizes.
    e.dialog.OnLButtonDown(r.right - 1, r.bottom - 1);
    e.dialog.OnMouseMove(r.right + 19, r.bottom + 9);
    e.dialog.OnLButtonUp(r.right + 19, r.bottom + 9);
    const WindowEntry& moved = e.dialog.Block().windows[vpw::kPicture];
    EXPECT_EQ(moved.left, 0);
    EXPECT_GT(moved.right, 700);
    EXPECT_GT(moved.bottom, 500);
    // Far beyond the screen: the tracker's bounds hold it inside.
    const auto r2 = e.dialog.Map().entryRect(moved);
    ASSERT_TRUE(waitUntil([&] { return !e.dialog.ReplyPending(); }));
    e.dialog.OnLButtonDown(r2.left + 3, r2.top + 3);
    e.dialog.OnMouseMove(r2.left + 3000, r2.top + 3);
    e.dialog.OnLButtonUp(r2.left + 3000, r2.top + 3);
    EXPECT_LE(e.dialog.Block().windows[vpw::kPicture].right, 1921);
    ASSERT_TRUE(waitUntil([&] { return !e.dialog.ReplyPending(); }));
    EXPECT_EQ(e.state().mid(8, 8), vpw::StatePayload(e.dialog.Block()).mid(8, 8));
}

TEST(VideoPicWindow, Screenshot)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        DeviceHarness h(language, false);
        CVideoPicWindow dialog(QStringLiteral("veluna-"), h.home.path(), twoScreens());
        dialog.OnInitDialog();
        dialog.OnAdd(vpw::kVideo);
        dialog.OnAdd(vpw::kPicture);
        dialog.OnAdd(vpw::kInput);
        const auto r = dialog.Map().entryRect(dialog.Block().windows[vpw::kVideo]);
        dialog.OnLButtonDown(r.left + 2, r.top + 2);
        dialog.show();
        waitUntil([] { return false; }, 50);
        const QString name = language == platform::kLanguageChinese ? QStringLiteral("video_pic_window_zh")
                                                                    : QStringLiteral("video_pic_window_en");
        EXPECT_TRUE(dialog.grab().save(devtest::screenshotPath(name)));
    }
}

}  // namespace
