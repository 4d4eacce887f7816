// Tollivar's start-up and main dialog: the title rule, the language, one
// instance per title, the Temp folder and the scan-then-feature sequence.

#include "common/app_title.h"
#include "common/text_coding.h"
#include "companion/tollivar_app.h"
#include "companion/tollivar_dlg.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace tollivar;
using testsupport::waitUntil;

TEST(TollivarTitle, CoTxtCases)
{
    const QByteArray utf8Name = QStringLiteral("大厅").toUtf8();
    const QByteArray cpName = text::stringToLocal(QStringLiteral("大厅"));
    struct Row {
        const char* name;
        std::optional<QByteArray> co;  // nothing: no file
        QString title;
        QString prefix;
    };
    const std::vector<Row> rows = {
        {"none", std::nullopt, u"Tollivar V1.23"_qs, u"Tollivar-"_qs},
        {"ascii", QByteArray("Acme\r\n"), u"Acme V1.23"_qs, u"Acme-"_qs},
        {"utf-8 chinese", utf8Name, u"大厅 V1.23"_qs, u"大厅-"_qs},
        {"code-page chinese", cpName, u"大厅 V1.23"_qs, u"大厅-"_qs},
        {"1,500 bytes", QByteArray(1500, 'x'), QString(1000, u'x') + u" V1.23"_qs, QString(1000, u'x') + u'-'},
        {"empty file", QByteArray(), u"Tollivar V1.23"_qs, u"Tollivar-"_qs},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::TempHome home;
        if (r.co) {
            ASSERT_TRUE(testsupport::writeFile(home.path() + u"/Templates/Co.txt"_qs, *r.co));
        }
        const QString title = BuildTitle();
        EXPECT_EQ(title, r.title);
        EXPECT_EQ(CaptionPrefixOf(title), r.prefix);
    }
}

TEST(TollivarTitle, LanguageMapping)
{
    struct Row {
        const char* setting;
        unsigned code;
    };
    for (const Row r : {Row{"zh_CN", 4u}, Row{"zh_SG", 4u}, Row{"zh_TW", 9u}, Row{"zh_HK", 9u}, Row{"en_US", 9u},
                        Row{"de_DE", 9u}}) {
        testsupport::ScopedEnv env("VELUNA_LANGUAGE", r.setting);
        EXPECT_EQ(platform::languageCode(), r.code) << r.setting;
    }
}

TEST(TollivarTitle, InstanceNamesAreSafeForAnyTitle)
{
    for (const QString& title : {u"Tollivar V1.23"_qs, u"a/b V1.23"_qs, u"x\ny\r V1.23"_qs, u"../.. V1.23"_qs}) {
        const QString lock = InstanceLockName(title);
        const QString socket = QFileInfo(ActivationSocketPath(title)).fileName();
        for (const QString& name : {lock, socket}) {
            EXPECT_FALSE(name.contains(u'/') || name.contains(u'\n') || name.contains(u'\r') || name.startsWith(u'.'))
                << name.toStdString();
        }
    }
    EXPECT_NE(InstanceLockName(u"a/b V1.23"_qs), InstanceLockName(u"a_b V1.23"_qs));
}

// ------------------------------------------------------------- Temp folder

TEST(TollivarTemp, DeleteNeverFollowsSymbolicLinks)
{
    QTemporaryDir outside;
    ASSERT_TRUE(testsupport::writeFile(outside.filePath(u"keep/precious.txt"_qs), "data"));
    testsupport::TempHome home;
    const QString temp = home.path() + u"/Tollivar/Temp"_qs;
    ASSERT_TRUE(testsupport::writeFile(temp + u"/a.json"_qs, "{}"));
    ASSERT_TRUE(testsupport::writeFile(temp + u"/sub/b.json"_qs, "{}"));
    ASSERT_TRUE(testsupport::writeFile(temp + u"/.hidden"_qs, "x"));
    ASSERT_TRUE(QFile::link(outside.filePath(u"keep"_qs), temp + u"/linkdir"_qs));
    ASSERT_TRUE(QFile::link(outside.filePath(u"keep/precious.txt"_qs), temp + u"/sub/linkfile"_qs));
    ASSERT_TRUE(QFile::link(outside.filePath(u"gone"_qs), temp + u"/dangling"_qs));
    EXPECT_TRUE(DeleteFolderTree(temp));
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_EQ(testsupport::readFile(outside.filePath(u"keep/precious.txt"_qs)), QByteArray("data"));
    // A link in place of the folder itself goes as a link.
    ASSERT_TRUE(QFile::link(outside.filePath(u"keep"_qs), temp));
    EXPECT_TRUE(DeleteFolderTree(temp));
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(u"keep/precious.txt"_qs)));
}

// ------------------------------------------------------------- main dialog

struct DialogHarness {
    explicit DialogHarness(unsigned language, FeatureOpeners openers = {}) : boxes(platform::MsgResult::Yes)
    {
        platform::setAppTitle(u"Tollivar V1.23"_qs);
        platform::setAppLanguage(language);
        dialog = std::make_unique<CTollivarDlg>(u"Tollivar V1.23"_qs, language, std::move(openers));
    }
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<CTollivarDlg> dialog;
};

void saveScreenshot(QWidget& widget, const QString& name)
{
    widget.show();
    waitUntil([] { return false; }, 50);
    const QString folder = testsupport::binDir() + u"/../screenshots"_qs;
    QDir().mkpath(folder);
    EXPECT_TRUE(widget.grab().save(folder + u'/' + name + u".png"_qs));
}

TEST(TollivarDialog, ButtonsCaptionAndTempPerLanguage)
{
    const FeatureOpeners some{[](const FeatureContext&) {}, {}, {}, [](const FeatureContext&) {}};
    for (unsigned language : {platform::kLanguageEnglish, platform::kLanguageChinese}) {
        DialogHarness h(language, some);
        CTollivarDlg& d = *h.dialog;
        EXPECT_EQ(d.windowTitle(), u"Tollivar V1.23"_qs);
        EXPECT_EQ(platform::findWindow(u"Tollivar V1.23"_qs), static_cast<platform::MessageWindow*>(&d));
        EXPECT_EQ(d.titlePrefix(), u"Tollivar-"_qs);
        EXPECT_EQ(d.tempFolder(), h.home.path() + u"/Tollivar/Temp/"_qs);
        EXPECT_TRUE(QFileInfo(d.tempFolder()).isDir());
        // veluna's Temp beside it is not Tollivar's.
        EXPECT_FALSE(QFileInfo::exists(h.home.path() + u"/Temp"_qs));
        EXPECT_EQ(d.button(CTollivarDlg::kVideoSet)->isVisibleTo(&d), language == platform::kLanguageChinese);
        EXPECT_TRUE(d.button(CTollivarDlg::kVideoControl)->isVisibleTo(&d));
        // A button without a feature window in this build is offered disabled.
        EXPECT_FALSE(d.button(CTollivarDlg::kOsd)->isEnabled());
        EXPECT_TRUE(d.button(CTollivarDlg::kSetupUart)->isEnabled());
        EXPECT_EQ(d.button(CTollivarDlg::kOsd)->text(), u"OSD"_qs);
        saveScreenshot(d, language == platform::kLanguageChinese ? u"tollivar_main_zh"_qs : u"tollivar_main_en"_qs);
    }
}

TEST(TollivarDialog, ExitAsksThenDeletesTemp)
{
    DialogHarness h(platform::kLanguageEnglish);
    CTollivarDlg& d = *h.dialog;
    testsupport::writeFile(d.tempFolder() + u"x.json"_qs, "{}");
    platform::MsgResult answer = platform::MsgResult::No;
    QStringList asked;
    platform::setMessageBoxAnswerer([&](const platform::MessageBoxCall& call) {
        asked << call.text;
        return answer;
    });
    d.reject();
    EXPECT_EQ(asked, QStringList{u"Do you really want to exit?"_qs});
    EXPECT_TRUE(QFileInfo::exists(d.tempFolder() + u"x.json"_qs));
    EXPECT_EQ(d.result(), 0);
    answer = platform::MsgResult::Yes;
    d.reject();
    EXPECT_EQ(d.result(), int(QDialog::Rejected));
    EXPECT_FALSE(QFileInfo::exists(d.tempFolder()));
}

TEST(TollivarDialog, ScanThenFeatureWithEveryLinkClosedBeforeAndAfter)
{
    auto player = std::make_unique<sim::PlayerSim>([] {
        sim::SimOptions o;
        o.address = u"127.0.0.2"_qs;
        return o;
    }());
    sim::installStandardCommands(*player);
    ASSERT_TRUE(player->start());

    int opened = 0;
    FeatureContext seen;
    int linksWhenOpened = -1;
    CTollivarDlg* dialog = nullptr;
    FeatureOpeners openers;
    openers.osd = [&](const FeatureContext& c) {
        ++opened;
        seen = c;
        linksWhenOpened = dialog->hub().ConnectedCount();
        // The feature window talks to its player through the main dialog.
        auto request = std::make_unique<SendRequest>();
        proto::PlayerPacketHeader header;
        header.command = proto::CMD_REBOOT;
        request->SetPacket(header);
        SendToMainWindow(request.release());
        EXPECT_EQ(dialog->hub().ConnectedCount(), 1);
        EXPECT_TRUE(player->waitForRequests(proto::CMD_REBOOT, std::size_t(opened), 3000));
    };
    openers.videoControl = openers.osd;
    DialogHarness h(platform::kLanguageEnglish, openers);
    dialog = h.dialog.get();

    std::optional<ScanOutcome> answer;
    std::vector<bool> tickModes;
    std::vector<int> linksWhenScanning;
    dialog->setScanRunner([&](const QString& prefix, bool ticks, QWidget*) {
        EXPECT_EQ(prefix, u"Tollivar-"_qs);
        tickModes.push_back(ticks);
        linksWhenScanning.push_back(dialog->hub().ConnectedCount());
        return answer;
    });

    // Cancelled scan: nothing opens.
    dialog->OnOsd();
    EXPECT_EQ(opened, 0);

    ScanOutcome outcome;
    outcome.chosen.ip = player->options().address;
    outcome.chosen.portText = QString::number(player->tcpPort());
    outcome.devices.push_back(DeviceRecord{outcome.chosen.ip, u"A1B2C3D4E5F6"_qs, player->tcpPort(), 0, 4});
    answer = outcome;
    dialog->OnOsd();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(linksWhenOpened, 0);
    EXPECT_EQ(seen.device.ip, u"127.0.0.2"_qs);
    EXPECT_EQ(seen.tempFolder, dialog->tempFolder());
    EXPECT_EQ(seen.devices.size(), 1u);
    EXPECT_EQ(dialog->hub().ConnectedCount(), 0);

    // The link the feature left open is closed before the next scan.
    dialog->OnVideoControl();
    EXPECT_EQ(tickModes, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(linksWhenScanning, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(dialog->hub().ConnectedCount(), 0);
    EXPECT_TRUE(h.boxes.texts().isEmpty());
}

// ------------------------------------------------------------- the program

class TollivarProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo(program()).isExecutable())
            GTEST_SKIP() << "Tollivar is not built";
        if (testsupport::kUnderThreadChecker)
            GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
        QDir(dir.path()).mkpath(u"home"_qs);
        QDir(dir.path()).mkpath(u"run"_qs);
        QFile::setPermissions(dir.filePath(u"run"_qs), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                             QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VELUNA_HOME"_qs, dir.filePath(u"home"_qs));
        env.insert(u"XDG_RUNTIME_DIR"_qs, dir.filePath(u"run"_qs));
        env.insert(u"VELUNA_AUTO_ANSWER"_qs, u"ok"_qs);
        env.insert(u"VELUNA_LANGUAGE"_qs, u"en"_qs);
    }
    void TearDown() override
    {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    static QString program() { return testsupport::binDir() + u"/Tollivar"_qs; }
    QProcess* start()
    {
        processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessEnvironment(env);
        p->start(program(), {});
        return p;
    }
    QTemporaryDir dir;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(TollivarProgram, SecondStartIsRefusedAndTheFirstIsAskedForward)
{
    // A title with a slash and a line end inside: the lock must still work.
    testsupport::writeFile(dir.filePath(u"home/Templates/Co.txt"_qs), "Hall/A\rB\n");
    QProcess* first = start();
    const QString title = u"Hall/A\rB V1.23"_qs;
    env.insert(u"XDG_RUNTIME_DIR"_qs, dir.filePath(u"run"_qs));
    const QString lock = dir.filePath(u"run/"_qs) + InstanceLockName(title);
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(lock) || first->state() == QProcess::NotRunning; }, 20000));
    ASSERT_EQ(first->state(), QProcess::Running) << first->readAllStandardError().toStdString();

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second->readAllStandardError()).contains(u"There is an running instance already!"_qs));
    EXPECT_EQ(first->state(), QProcess::Running);
}

}  // namespace
