// Message boxes and file dialogs behind their hook; the home folder, the
// settings file and the language code.
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <thread>

#include <unistd.h>

namespace {

using namespace platform;
using namespace Qt::StringLiterals;

// Sets (or, with a null value, removes) an environment variable while it lives.
class EnvVar {
public:
    EnvVar(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
    {
        value.isNull() ? void(qunsetenv(name)) : void(qputenv(name, value));
    }
    ~EnvVar() { had_ ? void(qputenv(name_, old_)) : void(qunsetenv(name_)); }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

// What `run` writes to stderr.
QByteArray stderrOf(const std::function<void()>& run)
{
    QTemporaryFile file;
    if (!file.open())
        return "(no capture file)";
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(file.handle(), 2);
    run();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    return testsupport::readFile(file.fileName());
}

TEST(MessageBoxHook, AutoAnswerPrintsOneLineFitsTheButtonsAndYieldsToAnAnswerer)
{
    setDefaultCaption(u"veluna"_s);
    using B = MsgButtons;
    using R = MsgResult;
    const struct { const char* word; B buttons; R expected; } cases[] = {
        {"ok", B::Ok, R::Ok},         {"ok", B::YesNo, R::Yes},          {"yes", B::OkCancel, R::Ok},
        {"YES", B::YesNoCancel, R::Yes}, {"no", B::YesNo, R::No},        {"no", B::OkCancel, R::Cancel},
        {"no", B::Ok, R::Ok},         {"cancel", B::YesNoCancel, R::Cancel}, {"cancel", B::YesNo, R::No},
        {"cancel", B::Ok, R::Ok},
    };
    for (const auto& c : cases) {
        EnvVar env("VELUNA_AUTO_ANSWER", c.word);
        R got = R::Yes;
        EXPECT_EQ(stderrOf([&] { got = messageBox(u"Port 6001 has been occupied by <x>"_s, QString(), c.buttons); }),
                  QByteArray("MessageBox: veluna: Port 6001 has been occupied by <x>\n"))
            << c.word;
        EXPECT_EQ(got, c.expected) << c.word << " " << int(c.buttons);
    }
    // An installed answerer takes precedence over the environment, and sees
    // caption, text, buttons and icon.
    EnvVar env("VELUNA_AUTO_ANSWER", "yes");
    testsupport::MessageBoxRecorder boxes(R::No);
    EXPECT_EQ(messageBox(u"Continue?"_s, QString(), B::YesNo, MsgIcon::Question), R::No);
    EXPECT_EQ(messageBox(u"端口"_s, u"标题"_s), R::No);
    ASSERT_EQ(boxes.calls().size(), 2u);
    const MessageBoxCall& first = boxes.calls()[0];
    EXPECT_EQ(first.caption, u"veluna"_s);  // empty caption = the title
    EXPECT_EQ(first.text, u"Continue?"_s);
    EXPECT_EQ(first.buttons, B::YesNo);
    EXPECT_EQ(first.icon, MsgIcon::Question);
    EXPECT_EQ(boxes.calls()[1].caption, u"标题"_s);
    EXPECT_EQ(boxes.texts(), (QStringList{u"Continue?"_s, u"端口"_s}));
}

TEST(MessageBoxHook, WorkerThreadGetsTheCautiousAnswerAndNoBox)
{
    testsupport::MessageBoxRecorder boxes(MsgResult::Yes);
    const std::pair<MsgButtons, MsgResult> cases[] = {{MsgButtons::Ok, MsgResult::Ok},
                                                      {MsgButtons::OkCancel, MsgResult::Cancel},
                                                      {MsgButtons::YesNo, MsgResult::No},
                                                      {MsgButtons::YesNoCancel, MsgResult::Cancel}};
    for (const auto& [buttons, expected] : cases) {
        MsgResult got = MsgResult::Yes;
        const QByteArray printed = stderrOf(
            [&] { std::thread([&] { got = messageBox(u"from a worker"_s, u"c"_s, buttons); }).join(); });
        EXPECT_TRUE(printed.contains("from a worker"));
        EXPECT_EQ(got, expected);
    }
    EXPECT_TRUE(boxes.calls().empty());
    QString path = u"unchanged"_s;
    std::thread([&] { path = fileDialog({FileDialogKind::Open, u"Open"_s, {}, {}, {}, {}}); }).join();
    EXPECT_TRUE(path.isEmpty());
}

// A real box or file dialog over a dialog, answered as the operator would:
// when it closes, the dialog is the active window again and the control that
// had the keyboard has it again. The offscreen platform, like X without a
// window manager, activates nothing by itself when a box closes.
TEST(MessageBoxHook, ARealBoxGivesTheKeyboardBackToTheWindowBelow)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    EnvVar noAutoAnswer("VELUNA_AUTO_ANSWER", QByteArray());
    // Qt's own file dialog keeps its history in the user's settings: here in
    // a folder of the test's own.
    QTemporaryDir qtSettings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qtSettings.path());
    const auto restorePath = qScopeGuard([] {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    });
    const struct {
        const char* name;
        bool parented;  // the box names the control as its parent
        std::function<void(QWidget*)> open;
        bool mainWindow = false;  // below is a main window never activated, else an active dialog
    } rows[] = {
        {"message box", true,
         [](QWidget* p) { messageBox(u"Radar?"_s, u"c"_s, MsgButtons::YesNo, MsgIcon::Question, p); }},
        {"message box without parent", false,
         [](QWidget* p) { messageBox(u"Radar?"_s, u"c"_s, MsgButtons::Ok, MsgIcon::None, p); }},
        {"open file", true,
         [](QWidget* p) { fileDialog({FileDialogKind::Open, u"Open"_s, QDir::tempPath(), {}, {}, {}}, p); }},
        {"save file", true,
         [](QWidget* p) { fileDialog({FileDialogKind::Save, u"Save"_s, QDir::tempPath(), u"a.txt"_s, {}, {}}, p); }},
        {"open files", true,
         [](QWidget* p) { fileDialogMulti({FileDialogKind::Open, u"Open"_s, QDir::tempPath(), {}, {}, {}}, p); }},
        // The frame's own boxes: no owner, and nothing had the keyboard before.
        {"main window's box, nothing active before", false,
         [](QWidget* p) { messageBox(u"Connected"_s, u"c"_s, MsgButtons::Ok, MsgIcon::None, p); }, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QDialog dialogBelow;
        QMainWindow frameBelow;
        QWidget* below = &dialogBelow;
        if (r.mainWindow) {
            below = new QWidget;
            frameBelow.setCentralWidget(below);
        }
        auto* layout = new QVBoxLayout(below);
        layout->addWidget(new QLineEdit(below));
        auto* second = new QLineEdit(below);
        layout->addWidget(second);
        QWidget& dialog = *below->window();
        dialog.show();
        if (!r.mainWindow) {
            dialog.activateWindow();
            ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &dialog; }));
        }
        second->setFocus();
        QWidget* shown = nullptr;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box || box == &dialogBelow)
                return;
            shown = box;
            auto* message = qobject_cast<QMessageBox*>(box);
            message ? message->buttons().constFirst()->click() : box->reject();
        });
        answer.start(20);
        r.open(r.parented ? second : nullptr);
        answer.stop();
        EXPECT_NE(shown, nullptr);
        EXPECT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &dialog; }, 5000));
        EXPECT_EQ(QApplication::focusWidget(), second);
    }
}

TEST(FileDialogHook, AnswererAutoAnswerAndFilters)
{
    FileDialogCall seen{};
    setFileDialogAnswerer([&](const FileDialogCall& call) {
        seen = call;
        return call.kind == FileDialogKind::Save ? u"/tmp/a.GFD"_s : QString();
    });
    const FileDialogCall save{FileDialogKind::Save, u"Save"_s, u"/tmp"_s, u"a.GFD"_s, u"Layout(*.GFD)|*.GFD||"_s,
                              u"GFD"_s};
    EXPECT_EQ(fileDialog(save), u"/tmp/a.GFD"_s);
    EXPECT_EQ(seen.caption, u"Save"_s);
    EXPECT_EQ(seen.defaultSuffix, u"GFD"_s);
    EXPECT_TRUE(fileDialog({FileDialogKind::Folder, u"Pick"_s, {}, {}, {}, {}}).isEmpty());
    setFileDialogAnswerer({});

    EnvVar env("VELUNA_AUTO_ANSWER", "ok");
    QString path = u"unchanged"_s;
    EXPECT_EQ(stderrOf([&] { path = fileDialog(save); }), QByteArray("FileDialog: Save\n"));
    EXPECT_TRUE(path.isEmpty());

    const std::pair<QString, QString> filters[] = {
        {u"Text(*.txt)|*.txt|All(*.*)|*.*||"_s, u"Text(*.txt) (*.txt);;All(*.*) (*.*)"_s},
        {u"Pictures|*.jpg;*.png;*.bmp||"_s, u"Pictures (*.jpg *.png *.bmp)"_s},
        {u"Video(*.mp4)|*.mp4"_s, u"Video(*.mp4) (*.mp4)"_s},
        {QString(), QString()},
    };
    for (const auto& [mfc, qt] : filters)
        EXPECT_EQ(qtFilterFromMfc(mfc), qt) << mfc.toStdString();
}

TEST(HomeFolder, IsVelunaHomeWhenSetAndSettingsLiveThere)
{
    testsupport::TempHome home;
    const QString root = QDir::cleanPath(home.path());
    EXPECT_EQ(homeFolder(), root);
    EXPECT_EQ(homePath(u"config/Warp.QVE"_s), root + u"/config/Warp.QVE"_s);
    EXPECT_EQ(homePath(u"Temp/"_s), root + u"/Temp"_s);

    const QString nested = homePath(u"a/b/c"_s);
    EXPECT_TRUE(ensureFolder(nested));
    EXPECT_TRUE(QDir(nested).exists());
    EXPECT_TRUE(ensureFolder(nested));  // already there

    settings()->setValue(u"ApplicationLook"_s, 215);
    settings()->setValue(u"Workspace/Name"_s, u"融合"_s);
    EXPECT_TRUE(QFile::exists(root + u"/veluna.ini"_s));
    EXPECT_EQ(settings()->value(u"ApplicationLook"_s).toInt(), 215);
    EXPECT_EQ(settings()->value(u"Workspace/Name"_s).toString(), u"融合"_s);
    EXPECT_FALSE(settings(u"Tollivar"_s)->contains(u"ApplicationLook"_s));
}

TEST(HomeFolder, MadeWhenMissingAndFallsBackToTheProgramFolder)
{
    testsupport::TempHome home;
    const QString deeper = home.path() + u"/not/yet"_s;
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

TEST(Language, CodeFollowsTheUserInterfaceLanguageAndTheGlobals)
{
    const std::pair<const char*, unsigned> cases[] = {
        {"zh_CN", 4}, {"zh-CN", 4}, {"zh", 4}, {"zh_SG", 4}, {"zh-Hans", 4}, {"zh_TW", 9},
        {"zh_HK", 9}, {"en_US", 9}, {"en", 9}, {"de_DE", 9}, {"ja_JP", 9},
    };
    for (const auto& [locale, code] : cases) {
        EnvVar env("VELUNA_LANGUAGE", locale);
        EXPECT_EQ(languageCode(), code) << locale;
    }

    EXPECT_EQ(pickText(kLanguageChinese, "Scan", "查找设备"), u"查找设备"_s);
    EXPECT_EQ(pickText(kLanguageEnglish, "Scan", "查找设备"), u"Scan"_s);
    EXPECT_EQ(pickText(0, u"Scan"_s, u"查找设备"_s), u"Scan"_s);
    const QString oldTitle = appTitle();
    setAppTitle(u"veluna - player tool"_s);
    EXPECT_EQ(defaultCaption(), u"veluna - player tool"_s);  // boxes without a caption carry the title
    setAppTitle(oldTitle);
}

}  // namespace

TEST(FileDialogHook, MultipleSelectionAnswerersAndFallbacks)
{
    const FileDialogCall open{FileDialogKind::Open, u"Pick videos"_s, u"/tmp"_s, {}, u"Video File(*.MP4)|*.MP4||"_s,
                              u"MP4"_s};
    // The multi answerer wins and its order is kept; the single one is the
    // fallback (one path or none); neither: the environment's empty answer.
    setFileDialogMultiAnswerer([](const FileDialogCall&) { return QStringList{u"/b.mp4"_s, u"/a.mp4"_s}; });
    setFileDialogAnswerer([](const FileDialogCall&) { return u"/single.mp4"_s; });
    EXPECT_EQ(fileDialogMulti(open), (QStringList{u"/b.mp4"_s, u"/a.mp4"_s}));
    setFileDialogMultiAnswerer({});
    EXPECT_EQ(fileDialogMulti(open), QStringList{u"/single.mp4"_s});
    setFileDialogAnswerer([](const FileDialogCall&) { return QString(); });
    EXPECT_TRUE(fileDialogMulti(open).isEmpty());
    setFileDialogAnswerer({});
    EnvVar env("VELUNA_AUTO_ANSWER", "ok");
    QStringList paths{u"unchanged"_s};
    EXPECT_EQ(stderrOf([&] { paths = fileDialogMulti(open); }), QByteArray("FileDialog: Pick videos\n"));
    EXPECT_TRUE(paths.isEmpty());
    std::thread([&] { paths = fileDialogMulti(open); }).join();
    EXPECT_TRUE(paths.isEmpty());
}
