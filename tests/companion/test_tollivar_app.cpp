// Tollivar's start-up and main dialog: the title rule, the language, one
// instance per title, the Temp folder and the scan-then-feature sequence.

#include "common/app_title.h"
#include "common/text_coding.h"
#include "companion/tollivar_app.h"
#include "companion/tollivar_dlg.h"
#include "companion/batch_send.h"
#include "companion/set_param.h"
#include "companion/video_set_wizard.h"
#include "platform/qt_translations.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QPushButton>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

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
    // Drawing a shown widget starts Qt's own pooled threads, which the
    // thread checker cannot follow (Qt is not built for it).
    if (testsupport::kUnderThreadChecker)
        return;
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
    int finished = 0;
    QObject::connect(&d, &QDialog::finished, [&] { ++finished; });
    platform::MsgResult answer = platform::MsgResult::No;
    QStringList asked;
    platform::setMessageBoxAnswerer([&](const platform::MessageBoxCall& call) {
        asked << call.text;
        return answer;
    });
    d.reject();
    EXPECT_EQ(asked, QStringList{u"Do you really want to exit?"_qs});
    EXPECT_TRUE(QFileInfo::exists(d.tempFolder() + u"x.json"_qs));
    EXPECT_EQ(finished, 0);
    answer = platform::MsgResult::Yes;
    d.reject();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(QFileInfo::exists(d.tempFolder()));
}

TEST(TollivarDialog, ShownWindowFadesOutThenCloses)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "a shown widget is drawn by Qt's own pooled threads, which the thread checker cannot follow";
    DialogHarness h(platform::kLanguageEnglish);
    CTollivarDlg& d = *h.dialog;
    int finished = 0;
    QObject::connect(&d, &QDialog::finished, [&](int result) {
        EXPECT_EQ(result, int(QDialog::Rejected));
        ++finished;
    });
    d.show();
    d.reject();
    EXPECT_EQ(finished, 0);  // still fading
    d.reject();              // asks nothing more meanwhile
    EXPECT_EQ(h.boxes.texts().size(), 1);
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(waitUntil([&] { return finished == 1; }));
    EXPECT_FALSE(d.isVisible());
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
        EXPECT_TRUE(player->waitForRequests(proto::CMD_REBOOT, std::size_t(opened), 30000));
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

// Qt draws the message box's buttons: in the Chinese interface they are
// Qt's own Chinese texts, loaded at start-up.
TEST(TollivarDialog, ChineseExitQuestionHasChineseButtons)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "a shown widget is drawn by Qt's own pooled threads, which the thread checker cannot follow";
    testsupport::TempHome home;
    QTemporaryDir run;
    testsupport::ScopedEnv runtime("XDG_RUNTIME_DIR", run.path().toUtf8());
    testsupport::ScopedEnv language("VELUNA_LANGUAGE", "zh_CN");
    testsupport::ScopedEnv noAutoAnswer("VELUNA_AUTO_ANSWER", QByteArray());
    const QString previousTitle = platform::appTitle();
    CTollivarApp app;
    ASSERT_TRUE(app.InitInstance());
    CTollivarDlg& dialog = app.CreateMainDialog({});
    QStringList buttons;
    QString question;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        question = box->text();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        box->button(QMessageBox::No)->click();
    });
    poll.start(20);
    dialog.reject();
    poll.stop();
    app.ExitInstance();
    platform::installQtTranslations(platform::kLanguageEnglish);
    platform::setAppLanguage(platform::kLanguageEnglish);
    platform::setAppTitle(previousTitle);
    EXPECT_EQ(question, u"【真的要退出程序吗?】"_qs);
    ASSERT_EQ(buttons.size(), 2);
    buttons.sort();
    EXPECT_TRUE(buttons.join(u' ').contains(u"是"_qs)) << buttons.join(u' ').toStdString();
    EXPECT_TRUE(buttons.join(u' ').contains(u"否"_qs)) << buttons.join(u' ').toStdString();
}

// A signal in the middle of a batch: the wizard's loop and the dialog's end,
// the batch stops and closes its link in order, Temp goes, nothing is asked.
TEST(TollivarDialog, SigtermDuringABatchEndsInOrder)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "a shown widget is drawn by Qt's own pooled threads, which the thread checker cannot follow";
    testsupport::TcpListener player;
    ASSERT_NE(player.port(), 0);
    std::vector<std::unique_ptr<testsupport::TcpPeer>> links;
    bool batchRan = false;
    FeatureOpeners openers;
    openers.videoSet = [&](const FeatureContext& context) {
        CVideoSetWizard wizard(context.titlePrefix, context.tempFolder, context.parent);
        QTimer::singleShot(0, &wizard, [&] {
            wizard.EnterParamPage({{u"127.0.0.1"_qs, QString::number(player.port())}});
            wizard.ParamPage()->Leave();
            wizard.BatchPage()->SetDevices(wizard.ParamPage()->Devices());
            wizard.BatchPage()->OnSend();
            batchRan = !wizard.BatchPage()->IsStopped();
            while (links.size() < 4) {
                std::unique_ptr<testsupport::TcpPeer> link = player.accept(links.empty() ? 5000 : 500);
                if (!link)
                    break;
                links.push_back(std::move(link));
            }
            ::raise(SIGTERM);
        });
        wizard.exec();
    };
    DialogHarness h(platform::kLanguageEnglish, std::move(openers));
    CTollivarDlg& d = *h.dialog;
    const QString temp = d.tempFolder();
    ASSERT_TRUE(QFileInfo(temp).isDir());
    CloseOnSignals(&d);
    QTimer::singleShot(0, &d, [&] { d.OnVideoSet(); });
    RunMainDialog(d);
    CloseOnSignals(nullptr);
    // The loops a signal ended leave the application able to run loops again.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();

    EXPECT_TRUE(batchRan);
    EXPECT_TRUE(d.IsClosingBySignal());
    ASSERT_FALSE(links.empty());
    for (const auto& link : links)
        EXPECT_EQ(link->waitForEnd(3000), testsupport::TcpPeer::End::Orderly);
    EXPECT_FALSE(QFileInfo::exists(temp));
    EXPECT_FALSE(h.boxes.texts().join(u' ').contains(u"Do you really"_qs)) << h.boxes.texts().join(u'|').toStdString();
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
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(lock) || first->state() == QProcess::NotRunning; }));
    ASSERT_EQ(first->state(), QProcess::Running) << first->readAllStandardError().toStdString();

    // The running copy listens for a second start's wish to come forward.
    QString raise = InstanceLockName(title);
    raise.replace(u".lock"_qs, u".raise"_qs);
    EXPECT_TRUE(waitUntil(
        [&] {
            QLocalSocket asker;
            asker.connectToServer(dir.filePath(u"run/"_qs) + raise);
            return asker.waitForConnected(200);
        }));

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second->readAllStandardError()).contains(u"There is an running instance already!"_qs));
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(TollivarProgram, SignalsEndItAsExitDoesWithoutQuestions)
{
    const QString temp = dir.filePath(u"home/Tollivar/Temp"_qs);
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        QProcess* tollivar = start();
        ASSERT_TRUE(waitUntil([&] { return QFileInfo(temp).isDir() || tollivar->state() == QProcess::NotRunning; }));
        ASSERT_EQ(tollivar->state(), QProcess::Running) << tollivar->readAllStandardError().toStdString();
        // The handlers are in place once the main dialog exists; give it a
        // moment, ten times what it takes on a quiet machine.
        waitUntil([] { return false; }, 3000);
        ::kill(pid_t(tollivar->processId()), signalNumber);
        ASSERT_TRUE(tollivar->waitForFinished(10000));
        EXPECT_EQ(tollivar->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tollivar->exitCode(), 0);
        EXPECT_FALSE(QFileInfo::exists(temp));
        EXPECT_FALSE(QString::fromUtf8(tollivar->readAllStandardError()).contains(u"Do you really"_qs));
    }
}

}  // namespace
