// The text banner: OSD.Json read and written, the grid's checks, and the
// "OSD" dialog against a simulated player through Tollivar's link hub.
#include "common/controls/property_grid.h"
#include "companion/link_hub.h"
#include "companion/osd_dialog.h"
#include "player/osd_commands.h"
#include "player/player_sim.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "tests/support/test_support.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using testsupport::waitUntil;

QByteArray document(const char* entry)
{
    return QByteArray("{\"data\":[") + entry + "]}";
}

TEST(OsdRecord, WrittenDocumentReadsBackTheSame)
{
    OsdSettings s;
    s.bgColor = 0x123456;
    s.bgCorner = 7;
    s.textColor = 0;
    s.showTime = 10000;
    s.speed = 9;
    s.transparent = 100;
    s.left = 0.0;
    s.top = 1.0;
    s.width = 0.25;
    s.height = 0.125;
    s.text = u"欢迎 \"光临\" {[x"_s;
    s.osdEnable = false;
    OsdSettings back;
    ASSERT_TRUE(ReadOsdJson(OsdJson(s), back));
    EXPECT_EQ(back, s);
    // One array of one object of twelve keys; the fractions are reals.
    const QByteArray text = OsdJson(OsdSettings());
    EXPECT_TRUE(text.startsWith("{\n\t\"data\" : \n\t[\n\t\t{"));
    EXPECT_TRUE(text.contains("\"left\" : 0.10000000000000001") || text.contains("\"left\" : 0.1"));
    EXPECT_TRUE(text.contains("\"osdEnable\" : true"));
    EXPECT_TRUE(text.contains("\"text\" : \"测试OSD\""));
    EXPECT_EQ(text.count(" : "), 13);
}

TEST(OsdRecord, ReaderTable)
{
    const OsdSettings defaults;
    const struct {
        const char* name;
        QByteArray text;
        bool ok;
        std::function<bool(const OsdSettings&)> expect;
    } cases[] = {
        {"speed 1 held at 3", document("{\"speed\":1}"), true, [](const OsdSettings& s) { return s.speed == 3; }},
        {"speed 12 held at 10", document("{\"speed\":12}"), true, [](const OsdSettings& s) { return s.speed == 10; }},
        {"speed as text ignored", document("{\"speed\":\"5\"}"), true, [&](const OsdSettings& s) { return s == defaults; }},
        {"integer fraction read as real", document("{\"left\":1,\"top\":0}"), true,
         [](const OsdSettings& s) { return s.left == 1.0 && s.top == 0.0; }},
        {"bool fraction ignored", document("{\"width\":true}"), true, [&](const OsdSettings& s) { return s == defaults; }},
        {"negative colour ignored", document("{\"bgColor\":-1}"), true, [&](const OsdSettings& s) { return s == defaults; }},
        {"enable as number ignored", document("{\"osdEnable\":0}"), true, [&](const OsdSettings& s) { return s == defaults; }},
        {"escaped Chinese text", document("{\"text\":\"\\u6b22\\u8fce\"}"), true,
         [](const OsdSettings& s) { return s.text == u"欢迎"_s; }},
        {"raw code-page text", document("{\"text\":\"\xBB\xB6\xD3\xAD\"}"), true,
         [](const OsdSettings& s) { return s.text == u"欢迎"_s; }},
        {"no data still succeeds", "{\"other\":1}", true, [&](const OsdSettings& s) { return s == defaults; }},
        {"empty data array", "{\"data\":[]}", true, [&](const OsdSettings& s) { return s == defaults; }},
        {"unmatched brace in a value", "{\"data\":[{\"text\":\"a\"}}]}", false, [&](const OsdSettings& s) { return s == defaults; }},
        {"not an object", "[{\"speed\":5}]", false, [&](const OsdSettings& s) { return s == defaults; }},
        {"empty", "", false, [&](const OsdSettings& s) { return s == defaults; }},
        {"does not parse", "{\"data\":[{\"speed\":}]}", false, [&](const OsdSettings& s) { return s == defaults; }},
    };
    for (const auto& c : cases) {
        OsdSettings s;
        EXPECT_EQ(ReadOsdJson(c.text, s), c.ok) << c.name;
        EXPECT_TRUE(c.expect(s)) << c.name;
    }
}

TEST(OsdRecord, TextLengthInCodePageBytes)
{
    const struct { QString text; int bytes; bool fits; } cases[] = {
        {QString(140, u'a'), 140, true},
        {QString(141, u'a'), 141, false},
        {QString(70, u'汉'), 140, true},
        {QString(70, u'汉') + u"a"_s, 141, false},
        {QString(69, u'汉') + u"ab"_s, 140, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OsdTextBytes(c.text), c.bytes) << c.text.size();
        EXPECT_EQ(OsdTextFits(c.text), c.fits) << c.text.size();
    }
}

// Tollivar's main window with its link hub, pointed at one simulated player.
struct HubFixture {
    testsupport::TempHome home;
    QTemporaryDir temp;
    std::unique_ptr<sim::PlayerSim> player;
    std::unique_ptr<platform::MessageWindow> main;
    std::unique_ptr<tollivar::CLinkHub> hub;
    QString previousTitle = platform::appTitle();

    explicit HubFixture(unsigned language, const QByteArray& onPlayer = QByteArray())
    {
        platform::setAppTitle(u"Tollivar V1.23"_s);
        platform::setAppLanguage(language);
        sim::SimOptions o;
        o.address = u"127.0.0.2"_s;
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        QString error;
        EXPECT_TRUE(player->start(&error)) << error.toStdString();
        {
            std::lock_guard<std::mutex> lk(player->stateMutex());
            sim::osdState(*player)->document = onPlayer;
        }
        main = std::make_unique<platform::MessageWindow>(platform::appTitle());
        hub = std::make_unique<tollivar::CLinkHub>(*main, u"Tollivar-"_s, language);
        hub->SetCurrentTarget(player->options().address, player->tcpPort());
    }
    ~HubFixture()
    {
        hub.reset();
        main.reset();
        platform::setAppTitle(previousTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
    }
    QString folder() const { return temp.path() + u"/"_s; }
    std::size_t stores()
    {
        std::lock_guard<std::mutex> lk(player->stateMutex());
        return sim::osdState(*player)->stores;
    }
    QByteArray stored()
    {
        std::lock_guard<std::mutex> lk(player->stateMutex());
        return sim::osdState(*player)->document;
    }
};

TEST(OsdDialog, GridChecksTable)
{
    HubFixture f(platform::kLanguageEnglish);
    testsupport::MessageBoxRecorder boxes;
    COSD dialog(f.folder());
    const struct {
        quintptr row;
        QVariant value;
        bool taken;
        const char* message;
    } cases[] = {
        {COSD::kShowTime, qint64(10000), true, nullptr},
        {COSD::kShowTime, qint64(10001), false, "ShowTime input error!"},
        {COSD::kLeft, 0.0, true, nullptr},
        {COSD::kLeft, 1.0, true, nullptr},
        {COSD::kLeft, -0.01, false, "left input error!"},
        {COSD::kTop, 1.01, false, "top input error!"},
        {COSD::kWidth, 1.01, false, "Width input error!"},
        {COSD::kHeight, -0.01, false, "Height input error!"},
        {COSD::kTransparent, qint64(100), true, nullptr},
        {COSD::kTransparent, qint64(101), false, "Transparent input error!"},
        {COSD::kText, QString(140, u'a'), true, nullptr},
        {COSD::kText, QString(70, u'汉'), true, nullptr},
        {COSD::kText, QString(141, u'a'), false, "Display characters cannot exceed 140 characters!"},
        {COSD::kText, QString(), false, nullptr},
        {COSD::kEnable, false, true, nullptr},
        {COSD::kBgColor, QColor(1, 2, 3), true, nullptr},
    };
    for (const auto& c : cases) {
        boxes.clear();
        PropertyItem* item = dialog.Grid()->findByData(c.row);
        ASSERT_NE(item, nullptr);
        const QVariant before = item->value();
        const OsdSettings settingsBefore = dialog.Settings();
        dialog.Grid()->applyUserValue(item, c.value);
        const QString what = c.value.toString().left(20);
        EXPECT_EQ(dialog.Grid()->findByData(c.row)->value(), c.taken ? c.value : before) << what.toStdString();
        if (!c.taken) {
            EXPECT_EQ(dialog.Settings(), settingsBefore) << what.toStdString();
        }
        EXPECT_EQ(boxes.texts(), c.message ? QStringList{QString::fromUtf8(c.message)} : QStringList())
            << what.toStdString();
    }
    EXPECT_EQ(dialog.Settings().showTime, 10000u);
    EXPECT_EQ(dialog.Settings().left, 1.0);
    EXPECT_EQ(dialog.Settings().transparent, 100u);
    EXPECT_EQ(dialog.Settings().text, QString(70, u'汉'));
    EXPECT_FALSE(dialog.Settings().osdEnable);
    EXPECT_EQ(dialog.Settings().bgColor, 0x030201u);
}

TEST(OsdDialog, ChineseMessageSpeaksOfSeventyCharacters)
{
    HubFixture f(platform::kLanguageChinese);
    testsupport::MessageBoxRecorder boxes;
    COSD dialog(f.folder());
    dialog.Grid()->applyUserValue(dialog.Grid()->findByData(COSD::kText), QString(71, u'汉'));
    EXPECT_EQ(boxes.texts(), QStringList{u"显示字符不能超过70个汉字！"_s});
    EXPECT_EQ(dialog.windowTitle(), u"OSD"_s);
}

TEST(OsdDialog, FetchesThenSendsOnlyRealSliderChangesAfterTheReply)
{
    OsdSettings onPlayer;
    onPlayer.speed = 12;  // held at 10; the slider shows its end
    onPlayer.text = u"欢迎"_s;
    onPlayer.left = 0.5;
    HubFixture f(platform::kLanguageEnglish, OsdJson(onPlayer));
    testsupport::MessageBoxRecorder boxes;
    COSD dialog(f.folder());
    // Before the player has answered, the slider sends nothing.
    dialog.Slider()->setValue(3);
    QApplication::processEvents();
    EXPECT_EQ(f.player->requestCount(proto::CMD_PARAM_FILE), 0u);

    dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return dialog.ReplySeen(); }));
    EXPECT_EQ(dialog.Settings().speed, 10u);
    EXPECT_EQ(dialog.Settings().text, u"欢迎"_s);
    EXPECT_EQ(dialog.Settings().left, 0.5);
    EXPECT_EQ(dialog.Slider()->value(), 5);
    EXPECT_EQ(dialog.Grid()->findByData(COSD::kText)->value().toString(), u"欢迎"_s);
    EXPECT_EQ(f.stores(), 0u);  // the reply's own slider setting sent nothing

    dialog.Slider()->setValue(1);  // speed 3
    ASSERT_TRUE(waitUntil([&] { return f.stores() == 1; }));
    dialog.Slider()->setValue(1);  // no change
    dialog.Slider()->setValue(2);  // speed 4
    ASSERT_TRUE(waitUntil([&] { return f.stores() == 2; }));
    QApplication::processEvents();
    EXPECT_EQ(f.stores(), 2u);
    OsdSettings received;
    ASSERT_TRUE(ReadOsdJson(f.stored(), received));
    EXPECT_EQ(received.speed, 4u);
    EXPECT_EQ(received.text, u"欢迎"_s);
    // The stored document is the one written into the working folder.
    EXPECT_EQ(testsupport::readFile(f.folder() + u"OSD.Json"_s), f.stored());
    // Every request was kind 4 with 0 at offset 10.
    for (const auto& e : f.player->log()) {
        if (e.incoming && e.header.command == proto::CMD_PARAM_FILE) {
            EXPECT_EQ(e.header.param, 4);
            EXPECT_EQ(e.header.arg, 0);
        }
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(OsdDialog, ReplyWithoutDataOrOfAnotherKind)
{
    const struct { QByteArray onPlayer; uint16_t kind; bool seen; } cases[] = {
        {"{\"note\":1}", 4, true},
        {"{\"data\":[{\"text\":\"a}\"}", 4, true},  // fails the structure check: nothing changes
        {document("{\"speed\":7}"), 1, false},
    };
    for (const auto& c : cases) {
        HubFixture f(platform::kLanguageEnglish);
        COSD dialog(f.folder());
        const QByteArray text = c.onPlayer;
        platform::sendMessage(&dialog, platform::WM_OSD_REPLY, c.kind, platform::LPARAM(&text));
        EXPECT_EQ(dialog.ReplySeen(), c.seen) << text.constData();
        EXPECT_EQ(dialog.Settings(), OsdSettings()) << text.constData();
    }
}

TEST(OsdDialog, SaveSendsEditsAndRefusesLongText)
{
    HubFixture f(platform::kLanguageEnglish, OsdJson(OsdSettings()));
    testsupport::MessageBoxRecorder boxes;
    COSD dialog(f.folder());
    dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return dialog.ReplySeen(); }));
    dialog.Grid()->applyUserValue(dialog.Grid()->findByData(COSD::kText), u"新品上市"_s);
    dialog.Grid()->applyUserValue(dialog.Grid()->findByData(COSD::kShowTime), qint64(60));
    dialog.OnOK();
    ASSERT_TRUE(waitUntil([&] { return f.stores() == 1; }));
    OsdSettings received;
    ASSERT_TRUE(ReadOsdJson(f.stored(), received));
    EXPECT_EQ(received, dialog.Settings());
    EXPECT_EQ(received.text, u"新品上市"_s);
    EXPECT_EQ(received.showTime, 60u);
    EXPECT_EQ(received.bgCorner, 20u);
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(OsdDialog, ExitAsksAndClosesOnlyOnYes)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    HubFixture f(platform::kLanguageEnglish);
    for (auto answer : {platform::MsgResult::No, platform::MsgResult::Yes}) {
        testsupport::MessageBoxRecorder boxes(answer);
        COSD dialog(f.folder());
        bool finished = false;
        QObject::connect(&dialog, &QDialog::finished, &dialog, [&] { finished = true; });
        dialog.setModal(true);
        dialog.open();
        dialog.findChild<QPushButton*>(u"2"_s)->click();
        EXPECT_EQ(boxes.texts(), QStringList{u"Do you really want to exit?"_s});
        EXPECT_EQ(finished, answer == platform::MsgResult::Yes);
    }
}

TEST(OsdDialog, ScreenshotsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "Qt paints on threads the thread checker cannot follow";
    const QString folder = testsupport::binDir() + u"/../screenshots"_s;
    QDir().mkpath(folder);
    const struct { unsigned language; const char* file; } cases[] = {
        {platform::kLanguageEnglish, "osd_en.png"},
        {platform::kLanguageChinese, "osd_zh.png"},
    };
    for (const auto& c : cases) {
        HubFixture f(c.language, OsdJson(OsdSettings()));
        COSD dialog(f.folder());
        dialog.show();
        ASSERT_TRUE(waitUntil([&] { return dialog.ReplySeen(); }));
        dialog.Grid()->setSelectedItem(dialog.Grid()->findByData(COSD::kText));
        QApplication::processEvents();
        EXPECT_TRUE(dialog.grab().save(folder + u"/"_s + QString::fromLatin1(c.file)));
        dialog.done(QDialog::Accepted);
    }
}

}  // namespace
