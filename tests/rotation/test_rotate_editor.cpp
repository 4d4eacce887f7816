// The rotation editor and the monitor editor driven with mouse and keys
// headless, their screenshots, and the whole road end to end: a rotation
// player on loopback, the editor opened by WM_OPEN_SETUP_EDITOR, a click, a
// drag and the close, with the documents the player received and the
// Rotate.QVE it was pushed compared.

#include "common/json_coding.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/editor_hooks.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "player/rotation_commands.h"
#include "rotation/rotate_dialog.h"
#include "rotation/rotate_documents.h"
#include "rotation/rotate_output_device_edit.h"
#include "rotation/rotation_feature.h"
#include "tests/support/send_behind.h"
#include "tests/rotation/rotation_fixtures.h"
#include "tests/support/frame_harness.h"
#include "tests/support/full_disk.h"
#include "tests/support/test_support.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include <memory>

using namespace rotation;
using platform::LPARAM;
using platform::WPARAM;
using testsupport::waitUntil;

namespace {

const QString kTitle = QStringLiteral("veluna V9.1.5");
const QString kPrefix = QStringLiteral("veluna-");

void seedMonitors()
{
    ASSERT_TRUE(SaveMonitorFile({rotest::device("Acme", "W55", 1000, 600), rotest::device("Acme", "W46", 800, 450, 5),
                                 rotest::device("奥视", "拼接屏", 1200, 680, 2)},
                                9));
}

// The main window as far as the editor needs it: it takes the requests.
struct Frame {
    testsupport::RequestFrame requests{kTitle, [this](const SendRequest& r) { packets.push_back(r.data); }};
    std::vector<QByteArray> packets;
};

struct EditorBench {
    explicit EditorBench(unsigned language = 9) : lang(language)
    {
        seedMonitors();
        RotateEditorSetup s;
        s.channelCode = 4;
        s.configFolder = home.path() + "/127.0.0.2-A1B2C3D4E5F6-5005";
        s.tempFolder = home.path() + "/Temp";
        s.prefix = kPrefix;
        editor = std::make_unique<CRotate>(s);
        editor->show();
    }
    template <class W>
    W* child(int id) { return editor->findChild<W*>(QString::number(id)); }
    QPoint cell(int row, int k)
    {
        const QRect r = editor->slotRowRect(row);
        return QPoint(r.left() + (r.width() / 9) * k + 5, r.top() + 5);
    }
    QPoint canvas(int x, int y)
    {
        return QPoint(editor->model().CanvasRect.left + x, editor->model().CanvasRect.top + y);
    }
    void click(int id) { QTest::mouseClick(child<QPushButton>(id), Qt::LeftButton); }

    testsupport::TempHome home;
    testsupport::ScopedLanguage lang;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    Frame frame;
    std::unique_ptr<CRotate> editor;
};

}  // namespace

TEST(RotateEditor, SlotsAddOutputsClickKeysAndTheDocumentsSent)
{
    EditorBench b;
    CRotate& e = *b.editor;
    EXPECT_EQ(e.windowTitle(), QStringLiteral("veluna-Rotate set"));
    EXPECT_EQ(b.child<QComboBox>(4701)->count(), 2);
    // The first manufacturer and its first model (sorted) are chosen.
    EXPECT_EQ(b.child<QLineEdit>(4707)->text(), QStringLiteral("W46"));
    EXPECT_EQ(b.child<QLineEdit>(4715)->text(), QStringLiteral("800.00 mm"));

    QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, 0));
    QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, 4));  // channel 5 of a four-channel player
    EXPECT_EQ(e.model().OutputCount, 2);
    b.click(4704);
    ASSERT_EQ(b.boxes.texts(), QStringList{QStringLiteral("The number of channels edit cannot be greater than 4")});
    QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, 4));  // off again
    QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(1, 1));  // screen 2, channel 2
    b.boxes.clear();
    b.click(4704);
    EXPECT_TRUE(b.boxes.texts().isEmpty());
    EXPECT_TRUE(b.child<QRadioButton>(4719)->isEnabled());
    EXPECT_TRUE(b.frame.packets.empty());  // adding does not send

    // Tab, Enter and Escape never close or move anything.
    QTest::keyClick(&e, Qt::Key_Escape);
    QTest::keyClick(&e, Qt::Key_Return);
    EXPECT_TRUE(e.isVisible());

    QTest::mouseClick(&e, Qt::LeftButton, {}, b.canvas(20, 20));
    ASSERT_EQ(b.frame.packets.size(), 1u);
    EXPECT_TRUE(b.child<QPushButton>(4724)->isEnabled());
    const QByteArray first = b.frame.packets[0];
    EXPECT_EQ(uint8_t(first[4]), 57);
    Json::Value doc;
    ASSERT_TRUE(jsonio::parse(first.mid(16), doc));
    EXPECT_TRUE(doc["ClickFlag"].asBool());
    EXPECT_EQ(doc["Screen"].asInt(), 2);
    EXPECT_EQ(doc["Screen2"]["Data"][0]["Channel"].asInt(), 1);  // slot 2 of screen 2: the second channel
    QTest::keyClick(&e, Qt::Key_Right);  // dropped: the first is unanswered
    EXPECT_EQ(b.frame.packets.size(), 1u);
    platform::sendMessage(QStringLiteral("veluna-Rotate set"), platform::WM_ROTATE_REPLY, 0, 0);
    ASSERT_EQ(b.frame.packets.size(), 2u);  // the dropped move goes with the reply
    ASSERT_TRUE(jsonio::parse(b.frame.packets[1].mid(16), doc));
    EXPECT_EQ(doc["Screen1"]["Data"][0]["LeftTopx"].asInt(), 5 + 4);  // bezel 5, one pixel = 4.99999988 mm
    EXPECT_FALSE(doc["ClickFlag"].asBool());
}

// Rotate.Json, written before every click or move goes out, refused by the
// disk: the file and the reason are said, nothing is sent, and the next
// click goes out once the disk takes the file.
TEST(RotateEditor, ARefusedDocumentIsSaidAndTheNextClickStillGoes)
{
    EditorBench b;
    CRotate& e = *b.editor;
    QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, 0));
    b.click(4704);
    b.boxes.clear();
    {
        testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
        QTest::mouseClick(&e, Qt::LeftButton, {}, b.canvas(20, 20));
    }
    EXPECT_EQ(b.boxes.texts(), QStringList{"Cannot write " + QDir::toNativeSeparators(b.home.path() + "/Temp/Rotate.Json") +
                                           u'\n' + QString::fromLocal8Bit(std::strerror(EIO))});
    EXPECT_TRUE(b.frame.packets.empty());
    QTest::mouseClick(&e, Qt::LeftButton, {}, b.canvas(20, 20));
    EXPECT_EQ(b.frame.packets.size(), 1u);
}

TEST(RotateEditor, RotatedWallScreenshotsInBothLanguages)
{
    for (unsigned language : {9u, 4u}) {
        EditorBench b(language);
        CRotate& e = *b.editor;
        for (int k : {0, 1, 2})
            QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, k));
        b.click(4704);
        b.child<QComboBox>(4726)->setCurrentIndex(0);
        b.child<QComboBox>(4727)->setCurrentIndex(2);
        b.click(4728);  // 1 x 3
        e.model().OnRotateReply();
        QTest::mouseClick(&e, Qt::LeftButton, {}, b.canvas(200, 40));
        b.child<QComboBox>(4721)->setCurrentIndex(1);  // 30
        e.model().OnRotateReply();
        b.click(4723);
        e.model().OnRotateReply();
        QTest::keyClick(&e, Qt::Key_Period);
        e.model().OnRotateReply();
        b.child<QComboBox>(4720)->setCurrentIndex(1);
        e.OnBackgroundDisplayChanged();
        EXPECT_TRUE(b.child<QLineEdit>(4729)->isEnabled());
        EXPECT_EQ(e.model().walls[0].outputs[1].FontAngle, 31);
        // Zoom in a little and move the whole wall into the middle (right drag).
        for (int i = 0; i < 5; ++i)
            e.model().MouseWheel(120);
        QTest::mousePress(&e, Qt::RightButton, {}, b.canvas(500, 500));
        QTest::mouseMove(&e, b.canvas(560, 640));
        QTest::mouseRelease(&e, Qt::RightButton, {}, b.canvas(560, 640));
        EXPECT_NEAR(e.model().walls[0].outputs[0].FramePoint[0].x, 60 / (double(0.2f) + 5 * double(0.01f)), 1e-6);
        EXPECT_TRUE(testsupport::saveScreenshot(
            e, language == 4 ? QStringLiteral("rotate_editor_zh") : QStringLiteral("rotate_editor_en")));
        if (language == 4) {
            EXPECT_EQ(e.windowTitle(), QStringLiteral("veluna-拼接设置"));
        }
    }
}

TEST(RotateEditor, RearrangeAndRatioMessages)
{
    EditorBench b;
    CRotate& e = *b.editor;
    for (int k : {0, 1, 2})
        QTest::mouseDClick(&e, Qt::LeftButton, {}, b.cell(0, k));
    b.click(4704);
    b.child<QComboBox>(4726)->setCurrentIndex(1);
    b.child<QComboBox>(4727)->setCurrentIndex(1);
    b.click(4728);
    EXPECT_EQ(e.model().walls[0].Row, 2);
    // After a new "Add Outputs to Wall" the background list shows the
    // background as it is (shown), not "Disable".
    b.child<QComboBox>(4720)->setCurrentIndex(1);
    e.OnBackgroundDisplayChanged();
    b.click(4704);
    EXPECT_EQ(b.child<QComboBox>(4720)->currentIndex(), 1);
    EXPECT_EQ(e.model().walls[0].Display, 1);
    b.child<QComboBox>(4720)->setCurrentIndex(1);
    e.OnBackgroundDisplayChanged();
    b.child<QLineEdit>(4729)->setText("12");
    b.child<QLineEdit>(4730)->setText("1");
    b.click(4731);
    b.child<QLineEdit>(4729)->setText("0");
    b.click(4731);
    EXPECT_EQ(b.boxes.texts(), (QStringList{QStringLiteral("The number of rows and columns is different from the number "
                                                           "of displays！"),
                                            QStringLiteral("The display scale cannot be greater than 11"),
                                            QStringLiteral("The display scale should be greater than 1 and less than "
                                                           "10000")}));
}

TEST(RotateEditor, ConfigSurvivesClosingAndReopeningWithNewModelsMerged)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    Frame frame;
    seedMonitors();
    RotateEditorSetup s;
    s.channelCode = 9;
    s.configFolder = home.path() + "/p";
    s.tempFolder = home.path() + "/Temp";
    s.prefix = kPrefix;
    {
        CRotate e(s);
        e.model().CurrentMonitor = rotest::device("新厂", "M1", 500, 500);
        e.model().ToggleSlot(0, 3);
        ASSERT_EQ(e.model().AddOutputsToWall(), AddResult::Ok);
        e.SaveRotateConfig();
    }
    CRotate again(s);
    EXPECT_EQ(again.model().walls[0].outputs[3].Manufacturer, QStringLiteral("新厂"));
    EXPECT_EQ(again.model().walls[0].outputs[3].Display, 1);
    EXPECT_GE(FindMonitor(again.monitorList(), QStringLiteral("新厂"), QStringLiteral("M1")), 0);
    EXPECT_TRUE(again.findChild<QRadioButton*>("4718")->isChecked());
}

// A Rotate.QVE the disk refuses: the operator reads which file and why, the
// file already there stays as it was, and the caller is told (so that it
// does not send the player that older file as if it were the new one).
TEST(RotateEditor, ARefusedSaveSaysWhichFileAndWhyAndKeepsTheOldOne)
{
    const struct {
        unsigned language;
        const char* cannot;
    } rows[] = {{9, "Cannot write "}, {4, "无法写入 "}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.language);
        testsupport::TempHome home;
        testsupport::MessageBoxRecorder boxes;
        testsupport::ScopedLanguage language(r.language);
        Frame frame;
        seedMonitors();
        RotateEditorSetup s;
        s.configFolder = home.path() + "/p";
        s.tempFolder = home.path() + "/Temp";
        s.prefix = kPrefix;
        const QString path = RotateConfigPath(s.configFolder);
        CRotate e(s);
        ASSERT_TRUE(e.SaveRotateConfig());
        const QByteArray before = testsupport::readFile(path) + "; saved before";
        ASSERT_TRUE(testsupport::writeFile(path, before));
        {
            testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
            EXPECT_FALSE(e.SaveRotateConfig());
        }
        EXPECT_EQ(boxes.texts(), QStringList{QString::fromUtf8(r.cannot) + QDir::toNativeSeparators(path) + u'\n' +
                                             QString::fromLocal8Bit(std::strerror(EIO))});
        EXPECT_EQ(testsupport::readFile(path), before);
    }
}

TEST(MonitorEditor, NewSaveDeleteAndTheirMessages)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes(platform::MsgResult::Yes);
    seedMonitors();
    CRotateOutPutDeviceEdit editor(kPrefix, QStringLiteral("Acme"), QStringLiteral("W55"));
    editor.show();
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("veluna-Output Edit"));
    auto edit = [&](int id) { return editor.findChild<QLineEdit*>(QString::number(id)); };
    EXPECT_EQ(edit(4802)->text(), QStringLiteral("W55"));
    EXPECT_EQ(edit(4806)->text(), QStringLiteral("1000.00"));
    EXPECT_TRUE(testsupport::saveScreenshot(editor, QStringLiteral("monitor_editor_en")));

    edit(4806)->clear();
    QTest::keyClicks(edit(4806), "12.5.3");
    EXPECT_EQ(edit(4806)->text(), QStringLiteral("12.53"));

    editor.OnNew();
    EXPECT_TRUE(edit(4801)->isEnabled());
    editor.OnSave();  // same pair as an existing entry
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("Manufacturer and model cannot be the same！"));
    EXPECT_TRUE(editor.newEntryMode());
    edit(4802)->setText(QStringLiteral("W65"));
    edit(4810)->clear();
    editor.OnSave();
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("BezelTop is empty！"));
    edit(4810)->setText(QStringLiteral("3"));
    editor.OnSave();
    EXPECT_FALSE(editor.newEntryMode());
    std::vector<OutputDevice> onDisk;
    ASSERT_TRUE(LoadMonitorFile(onDisk));
    ASSERT_EQ(onDisk.size(), 4u);
    EXPECT_EQ(onDisk[3].Model, QStringLiteral("W65"));
    EXPECT_EQ(onDisk[3].ScreenWidth, 12.53);
    EXPECT_EQ(onDisk[3].RefreshRate, 60);

    // Delete everything: the file then holds "entries": null and reads as empty.
    for (int i = 0; i < 4; ++i)
        editor.OnDelete();
    ASSERT_TRUE(LoadMonitorFile(onDisk));
    EXPECT_TRUE(onDisk.empty());
    EXPECT_TRUE(editor.monitors().empty());
    EXPECT_TRUE(boxes.texts().contains(QStringLiteral("Are you sure you want to delete it?")));
}

// ---------------------------------------------------------------- end to end

// A rotation player linked to a document whose frame opens the editor.
struct RotationSession {
    RotationSession()
    {
        seedMonitors();
        platform::setAppTitle(kTitle);
        InstallRotationFeature();
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.2");
        o.version = 0x1521;  // low nibble 1: a rotation player
        o.channelCode = 41;
        player = testsupport::StartPlayerWithConfigStore(o);
        if (!player)
            return;
        rotationState = sim::rotationPlayerOf(*player);
        store = sim::configStoreOf(*player);
        link = std::make_unique<testsupport::LinkedDocument>(kTitle, *player);
    }
    ~RotationSession()
    {
        core::registerSetupEditor(core::kProductRotation, {});
        link.reset();
        if (player)
            player->stop();
    }
    bool connected() const
    {
        return player && rotationState && waitUntil([&] { return link->doc->IsConnected(); }) &&
               link->doc->product() == core::kProductRotation;
    }
    QString editorCaption() const { return link->doc->titlePrefix() + "Rotate Set"; }

    std::unique_ptr<sim::PlayerSim> player;
    std::shared_ptr<sim::RotationPlayer> rotationState;
    std::shared_ptr<sim::ConfigStore> store;
    std::unique_ptr<testsupport::LinkedDocument> link;
};

TEST(RotateEndToEnd, OpenClickDragCloseAndPush)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes(platform::MsgResult::Ok);
    testsupport::ScopedLanguage language(9);
    RotationSession session;
    ASSERT_TRUE(session.connected());
    auto& rotationState = session.rotationState;
    rotationState->setReplyDelay(50);
    auto& link = *session.link;
    auto& doc = link.doc;
    const QStringList& waits = link.waits;

    // The operator's part, once the editor is up.
    auto operate = [&](platform::MessageWindow& w) {
        auto* e = static_cast<CRotate*>(w.widget());
        const QRect r = e->slotRowRect(0);
        QTest::mouseDClick(e, Qt::LeftButton, {}, QPoint(r.left() + 5, r.top() + 5));
        e->findChild<QPushButton*>("4704")->click();
        const QPoint at(e->model().CanvasRect.left + 20, e->model().CanvasRect.top + 20);
        QTest::mousePress(e, Qt::LeftButton, {}, at);
        waitUntil([&] { return rotationState->documentCount() >= 1 && !e->model().pending(); });
        QTest::mouseMove(e, at + QPoint(30, 10));
        QTest::mouseMove(e, at + QPoint(50, 20));
        QTest::mouseRelease(e, Qt::LeftButton, {}, at + QPoint(50, 20));
        waitUntil([&] { return rotationState->documentCount() >= 3 && !e->model().pending(); });
        e->findChild<QPushButton*>("2")->click();
    };
    testsupport::WhenWindowOpens driver([&] { return platform::findWindowNoCase(session.editorCaption()); }, operate);
    auto& store = session.store;
    platform::postMessage(link.frame->handle(), platform::WM_OPEN_SETUP_EDITOR, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return driver.acted() && store->uploadsStored() >= 1; }));
    driver.stop();

    const std::vector<QByteArray> docs = rotationState->documents();
    ASSERT_GE(docs.size(), 2u);
    Json::Value click, drag;
    ASSERT_TRUE(jsonio::parse(docs.front(), click));
    ASSERT_TRUE(jsonio::parse(docs.back(), drag));
    EXPECT_TRUE(click["ClickFlag"].asBool());
    EXPECT_EQ(click["CheckedChannel"].asInt(), 0);
    EXPECT_EQ(click["Screen1"]["Data"][0]["LeftTopx"].asInt(), 5);
    EXPECT_FALSE(drag["ClickFlag"].asBool());
    // 50 px right at 0.2f: 249.99999 mm, truncated.
    EXPECT_EQ(drag["Screen1"]["Data"][0]["LeftTopx"].asInt(), 5 + 249);
    EXPECT_EQ(drag["Screen1"]["Data"][0]["Model"].asString(), "W46");

    const QByteArray local = testsupport::readFile(doc->playerFolder() + "/config/Rotate.QVE");
    ASSERT_FALSE(local.isEmpty());
    EXPECT_EQ(store->file(17).value_or(QByteArray()), local);
    EXPECT_EQ(store->lastUploadArg(17), 2);
    EXPECT_TRUE(waits.contains(QStringLiteral("Save Param Wait...")));
    ASSERT_TRUE(waitUntil([&] { return waits.contains(QStringLiteral("(hidden)")); }));
}

// The editor closed while the disk refuses Rotate.QVE: the player is not sent
// the file that was there before as if it were the one just edited.
TEST(RotateEndToEnd, ARefusedSaveOnClosingSendsThePlayerNothing)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes(platform::MsgResult::Ok);
    testsupport::ScopedLanguage language(9);
    RotationSession session;
    ASSERT_TRUE(session.connected());
    const QString path = session.link->doc->playerFolder() + "/config/Rotate.QVE";
    ASSERT_TRUE(testsupport::writeFile(path, "{}"));

    testsupport::SyncCallInPlace refused(testsupport::RefusedSync);
    testsupport::WhenWindowOpens driver([&] { return platform::findWindowNoCase(session.editorCaption()); },
                                        [](platform::MessageWindow& w) {
                                            w.widget()->findChild<QPushButton*>("2")->click();
                                        });
    platform::postMessage(session.link->frame->handle(), platform::WM_OPEN_SETUP_EDITOR, 0, 0);
    ASSERT_TRUE(waitUntil([&] { return driver.acted() && !boxes.calls().empty(); }));
    driver.stop();
    // A push, were one made, went before this read no window here takes.
    ASSERT_TRUE(testsupport::SendBehind(*session.player, proto::CMD_QRCODE));
    EXPECT_TRUE(boxes.texts().last().startsWith("Cannot write " + QDir::toNativeSeparators(path) + u'\n'))
        << boxes.texts().join(u'|').toStdString();
    EXPECT_FALSE(session.link->waits.contains(QStringLiteral("Save Param Wait...")));
    EXPECT_EQ(session.store->uploadsStored(), 0);
    EXPECT_EQ(testsupport::readFile(path), "{}");
}

TEST(MonitorEditor, ChineseScreenshotAndEmptyDatabase)
{
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    testsupport::ScopedLanguage language(4);
    seedMonitors();
    CRotateOutPutDeviceEdit editor(kPrefix, QStringLiteral("奥视"), QStringLiteral("拼接屏"));
    editor.show();
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("veluna-输出设备编辑"));
    EXPECT_EQ(editor.findChild<QComboBox*>("4812")->currentText(), QStringLiteral("奥视"));
    EXPECT_TRUE(testsupport::saveScreenshot(editor, QStringLiteral("monitor_editor_zh")));
    EXPECT_TRUE(boxes.texts().isEmpty());
    editor.findChild<QLineEdit*>("4806")->setText(QStringLiteral("1a2"));
    EXPECT_EQ(editor.findChild<QLineEdit*>("4806")->text(), QStringLiteral("12"));
    editor.OnSave();  // browsing mode: confirmation answered OK, not Yes: nothing stored
    std::vector<OutputDevice> onDisk;
    ASSERT_TRUE(LoadMonitorFile(onDisk));
    EXPECT_EQ(onDisk[2].ScreenWidth, 1200);
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("确定要保存吗？"));
}
