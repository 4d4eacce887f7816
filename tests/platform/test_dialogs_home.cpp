// Message boxes and file dialogs behind their hook; the home folder, the
// settings file and the language code.
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <thread>

#include <unistd.h>

namespace {

using namespace platform;

// Sets an environment variable for the lifetime of the object.
class EnvVar {
public:
    EnvVar(const char* name, const QByteArray& value) : name_(name)
    {
        had_ = qEnvironmentVariableIsSet(name);
        old_ = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvVar()
    {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray old_;
    bool had_ = false;
};

// Collects what is written to stderr while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        file_.open();
        std::fflush(stderr);
        saved_ = ::dup(2);
        ::dup2(file_.handle(), 2);
    }
    QByteArray finish()
    {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        QFile f(file_.fileName());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    QTemporaryFile file_;
    int saved_ = -1;
};

TEST(MessageBoxHook, AnswererSeesCaptionTextButtonsAndIcon)
{
    setDefaultCaption(QStringLiteral("veluna"));
    testsupport::MessageBoxRecorder boxes(MsgResult::No);
    EXPECT_EQ(messageBox(QStringLiteral("Continue?"), QString(), MsgButtons::YesNo, MsgIcon::Question), MsgResult::No);
    EXPECT_EQ(messageBox(QStringLiteral("端口"), QStringLiteral("标题")), MsgResult::No);
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[0].caption, QStringLiteral("veluna"));  // empty caption = the title
    EXPECT_EQ(boxes.calls()[0].text, QStringLiteral("Continue?"));
    EXPECT_EQ(boxes.calls()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(boxes.calls()[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes.calls()[1].caption, QStringLiteral("标题"));
    EXPECT_EQ(boxes.texts(), (QStringList{QStringLiteral("Continue?"), QStringLiteral("端口")}));
}

TEST(MessageBoxHook, AutoAnswerPrintsOneLineAndFitsTheAnswerToTheButtons)
{
    setDefaultCaption(QStringLiteral("veluna"));
    const struct {
        const char* word;
        MsgButtons buttons;
        MsgResult expected;
    } cases[] = {
        {"ok", MsgButtons::Ok, MsgResult::Ok},          {"ok", MsgButtons::YesNo, MsgResult::Yes},
        {"yes", MsgButtons::OkCancel, MsgResult::Ok},   {"YES", MsgButtons::YesNoCancel, MsgResult::Yes},
        {"no", MsgButtons::YesNo, MsgResult::No},       {"no", MsgButtons::OkCancel, MsgResult::Cancel},
        {"no", MsgButtons::Ok, MsgResult::Ok},          {"cancel", MsgButtons::YesNoCancel, MsgResult::Cancel},
        {"cancel", MsgButtons::YesNo, MsgResult::No},   {"cancel", MsgButtons::Ok, MsgResult::Ok},
    };
    for (const auto& c : cases) {
        EnvVar env("VELUNA_AUTO_ANSWER", c.word);
        StderrCapture capture;
        const MsgResult got = messageBox(QStringLiteral("Port 6001 has been occupied by <x>"), QString(), c.buttons);
        const QByteArray printed = capture.finish();
        EXPECT_EQ(got, c.expected) << c.word << " " << int(c.buttons);
        EXPECT_EQ(printed, QByteArray("MessageBox: veluna: Port 6001 has been occupied by <x>\n")) << c.word;
    }
    // An installed answerer takes precedence over the environment.
    EnvVar env("VELUNA_AUTO_ANSWER", "yes");
    testsupport::MessageBoxRecorder boxes(MsgResult::Cancel);
    EXPECT_EQ(messageBox(QStringLiteral("t"), QString(), MsgButtons::YesNoCancel), MsgResult::Cancel);
    EXPECT_EQ(boxes.calls().size(), 1u);
}

TEST(MessageBoxHook, WorkerThreadGetsTheCautiousAnswerAndNoBox)
{
    testsupport::MessageBoxRecorder boxes(MsgResult::Yes);
    const struct {
        MsgButtons buttons;
        MsgResult expected;
    } cases[] = {{MsgButtons::Ok, MsgResult::Ok},
                 {MsgButtons::OkCancel, MsgResult::Cancel},
                 {MsgButtons::YesNo, MsgResult::No},
                 {MsgButtons::YesNoCancel, MsgResult::Cancel}};
    for (const auto& c : cases) {
        MsgResult got = MsgResult::Yes;
        StderrCapture capture;
        std::thread worker([&] { got = messageBox(QStringLiteral("from a worker"), QStringLiteral("c"), c.buttons); });
        worker.join();
        EXPECT_TRUE(capture.finish().contains("from a worker"));
        EXPECT_EQ(got, c.expected);
    }
    EXPECT_TRUE(boxes.calls().empty());
    QString path = QStringLiteral("unchanged");
    std::thread worker([&] { path = fileDialog({FileDialogKind::Open, QStringLiteral("Open"), {}, {}, {}, {}}); });
    worker.join();
    EXPECT_TRUE(path.isEmpty());
}

TEST(FileDialogHook, AnswererAndAutoAnswer)
{
    FileDialogCall seen{};
    setFileDialogAnswerer([&](const FileDialogCall& call) {
        seen = call;
        return call.kind == FileDialogKind::Save ? QStringLiteral("/tmp/a.GFD") : QString();
    });
    const FileDialogCall save{FileDialogKind::Save, QStringLiteral("Save"), QStringLiteral("/tmp"),
                              QStringLiteral("a.GFD"), QStringLiteral("Layout(*.GFD)|*.GFD||"), QStringLiteral("GFD")};
    EXPECT_EQ(fileDialog(save), QStringLiteral("/tmp/a.GFD"));
    EXPECT_EQ(seen.caption, QStringLiteral("Save"));
    EXPECT_EQ(seen.defaultSuffix, QStringLiteral("GFD"));
    EXPECT_TRUE(fileDialog({FileDialogKind::Folder, QStringLiteral("Pick"), {}, {}, {}, {}}).isEmpty());
    setFileDialogAnswerer({});

    EnvVar env("VELUNA_AUTO_ANSWER", "ok");
    StderrCapture capture;
    EXPECT_TRUE(fileDialog(save).isEmpty());
    EXPECT_EQ(capture.finish(), QByteArray("FileDialog: Save\n"));
}

TEST(FileDialogHook, FiltersTurnIntoQtForm)
{
    const struct {
        const char* mfc;
        const char* qt;
    } cases[] = {
        {"Text(*.txt)|*.txt|All(*.*)|*.*||", "Text(*.txt) (*.txt);;All(*.*) (*.*)"},
        {"Pictures|*.jpg;*.png;*.bmp||", "Pictures (*.jpg *.png *.bmp)"},
        {"Video(*.mp4)|*.mp4", "Video(*.mp4) (*.mp4)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qtFilterFromMfc(QString::fromUtf8(c.mfc)), QString::fromUtf8(c.qt)) << c.mfc;
}

TEST(HomeFolder, IsVelunaHomeWhenSetAndSettingsLiveThere)
{
    testsupport::TempHome home;
    EXPECT_EQ(homeFolder(), QDir::cleanPath(home.path()));
    EXPECT_EQ(homePath(QStringLiteral("config/Warp.QVE")), QDir::cleanPath(home.path()) + "/config/Warp.QVE");
    EXPECT_EQ(homePath(QStringLiteral("Temp/")), QDir::cleanPath(home.path()) + "/Temp");
    EXPECT_FALSE(homeFolder().endsWith(QLatin1Char('/')));

    const QString nested = homePath(QStringLiteral("a/b/c"));
    EXPECT_TRUE(ensureFolder(nested));
    EXPECT_TRUE(QDir(nested).exists());
    EXPECT_TRUE(ensureFolder(nested));  // already there

    {
        auto s = settings();
        s->setValue(QStringLiteral("ApplicationLook"), 215);
        s->setValue(QStringLiteral("Workspace/Name"), QStringLiteral("融合"));
    }
    EXPECT_TRUE(QFile::exists(home.path() + "/veluna.ini"));
    auto again = settings();
    EXPECT_EQ(again->value(QStringLiteral("ApplicationLook")).toInt(), 215);
    EXPECT_EQ(again->value(QStringLiteral("Workspace/Name")).toString(), QStringLiteral("融合"));
    EXPECT_FALSE(settings(QStringLiteral("Tollivar"))->contains(QStringLiteral("ApplicationLook")));
}

TEST(HomeFolder, MadeWhenMissingAndFallsBackToTheProgramFolder)
{
    testsupport::TempHome home;
    const QString deeper = home.path() + "/not/yet";
    {
        EnvVar env("VELUNA_HOME", deeper.toUtf8());
        EXPECT_EQ(homeFolder(), deeper);
        EXPECT_TRUE(QDir(deeper).exists());
    }
    EnvVar unset("VELUNA_HOME", QByteArray());
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (QFileInfo(exeDir).isWritable())
        EXPECT_EQ(homeFolder(), QDir::cleanPath(exeDir));
    else
        EXPECT_FALSE(homeFolder().isEmpty());
}

TEST(Language, CodeFollowsTheUserInterfaceLanguage)
{
    const struct {
        const char* locale;
        unsigned code;
    } cases[] = {
        {"zh_CN", 4}, {"zh-CN", 4}, {"zh", 4},    {"zh_SG", 4}, {"zh-Hans", 4}, {"zh_TW", 9},
        {"zh_HK", 9}, {"en_US", 9}, {"en", 9},    {"de_DE", 9}, {"ja_JP", 9},
    };
    for (const auto& c : cases) {
        EnvVar env("VELUNA_LANGUAGE", c.locale);
        EXPECT_EQ(languageCode(), c.code) << c.locale;
    }
}

TEST(Language, PickTextAndTheGlobals)
{
    EXPECT_EQ(pickText(kLanguageChinese, "Scan", "查找设备"), QStringLiteral("查找设备"));
    EXPECT_EQ(pickText(kLanguageEnglish, "Scan", "查找设备"), QStringLiteral("Scan"));
    EXPECT_EQ(pickText(0, QStringLiteral("Scan"), QStringLiteral("查找设备")), QStringLiteral("Scan"));

    const unsigned oldLanguage = appLanguage();
    const QString oldTitle = appTitle();
    setAppLanguage(kLanguageChinese);
    setAppTitle(QStringLiteral("veluna - player tool"));
    EXPECT_EQ(appLanguage(), 4u);
    EXPECT_EQ(appTitle(), QStringLiteral("veluna - player tool"));
    EXPECT_EQ(defaultCaption(), QStringLiteral("veluna - player tool"));
    setAppLanguage(oldLanguage);
    setAppTitle(oldTitle);
}

}  // namespace
