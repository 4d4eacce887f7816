// Start-up rules of veluna: the title from Templates/Co.txt, the display
// checks, and the program itself (version, refusals, one instance per title).
#include "core/app.h"
#include "platform/home.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include "tests/core/program_run.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kName = QStringLiteral("veluna V9.1.5");

TEST(AppTitle, ApplicationNameIsProgramAndVersion)
{
    EXPECT_EQ(ApplicationName(), kName);
}

struct Utf8Case {
    const char* name;
    QByteArray bytes;
    bool valid;
};

TEST(AppTitle, Utf8ValidityRules)
{
    const Utf8Case cases[] = {
        {"empty", QByteArray(), true},
        {"ascii", "Demo", true},
        {"two-byte", "\xC3\xA9", true},
        {"three-byte chinese", "\xE6\xBC\x94\xE7\xA4\xBA", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"five-byte lead F8", "\xF8\x80\x80\x80\x80", true},
        {"six-byte lead FC", "\xFC\x80\x80\x80\x80\x80", true},
        {"FE takes four", "\xFE\x80\x80\x80\x80", true},
        {"stray continuation", "a\x80", false},
        {"ends inside sequence", "\xE6\xBC", false},
        {"bad continuation", "\xC3\x41", false},
        {"code page 936 text", "\xD1\xDD\xCA\xBE", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
}

struct TitleCase {
    const char* name;
    bool present;
    QByteArray bytes;
    QString title;
};

TEST(AppTitle, CoTxtReplacesFirstWord)
{
    const QString chinese = QStringLiteral("演示");
    const QByteArray longPrefix(1500, 'A');
    const TitleCase cases[] = {
        {"absent", false, QByteArray(), kName},
        {"empty file", true, QByteArray(), kName},
        {"ascii", true, "Demo", QStringLiteral("Demo V9.1.5")},
        {"utf-8 chinese", true, chinese.toUtf8(), chinese + QStringLiteral(" V9.1.5")},
        {"code page 936 (invalid utf-8)", true, "\xD1\xDD\xCA\xBE", chinese + QStringLiteral(" V9.1.5")},
        {"1500 bytes: first 1000 used", true, longPrefix, QString(1000, QLatin1Char('A')) + QStringLiteral(" V9.1.5")},
        {"CRLF dropped", true, "Demo\r\n", QStringLiteral("Demo V9.1.5")},
        {"LF dropped", true, "Demo\n", QStringLiteral("Demo V9.1.5")},
        {"line end only", true, "\r\n", kName},
        {"inner space kept", true, "My Show", QStringLiteral("My Show V9.1.5")},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Co.txt"));
        if (c.present) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.bytes);
        }
        EXPECT_EQ(LoadTitlePrefix(kName, path), c.title) << c.name;
    }
}

TEST(AppTitle, TitleWithoutSpaceKeepsWholeTitleAsRest)
{
    EXPECT_EQ(ApplyTitlePrefix(QStringLiteral("Name"), "X"), QStringLiteral("XName"));
}

TEST(AppTitle, BuildTitleReadsTemplatesBesideTheProgram)
{
    testsupport::TempHome home;
    EXPECT_EQ(BuildTitle(), kName);
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Templates")));
    QFile f(home.path() + QStringLiteral("/Templates/Co.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Demo\r\n");
    f.close();
    EXPECT_EQ(BuildTitle(), QStringLiteral("Demo V9.1.5"));
}

struct DisplayCase {
    int w, h;
    double dx, dy;
    DisplayCheck expected;
};

TEST(AppDisplay, ScaleAndSizeRules)
{
    const DisplayCase cases[] = {
        {1920, 1080, 96, 96, DisplayCheck::Ok},
        {1366, 768, 96, 96, DisplayCheck::Ok},
        {1365, 768, 96, 96, DisplayCheck::TooSmall},
        {1366, 767, 96, 96, DisplayCheck::TooSmall},
        {1920, 1080, 120, 120, DisplayCheck::ScaleTooHigh},
        {1920, 1080, 96, 97, DisplayCheck::ScaleTooHigh},
        {1920, 1080, 144, 96, DisplayCheck::ScaleTooHigh},
        {800, 600, 120, 120, DisplayCheck::ScaleTooHigh},  // scale is checked first
        {1366, 768, 72, 72, DisplayCheck::Ok},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckDisplay(c.w, c.h, c.dx, c.dy), c.expected) << c.w << "x" << c.h << " " << c.dx << "/" << c.dy;
}

TEST(AppDisplay, RefusalTextsInBothLanguages)
{
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::ScaleTooHigh, 9), QStringLiteral("Please change your display scale to 100%，reboot"));
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::ScaleTooHigh, 4), QStringLiteral("请把显示缩放比调整到100%,重启电脑。"));
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::TooSmall, 9), QStringLiteral("Please change the display resolution to 1366X768."));
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::TooSmall, 4), QStringLiteral("请把显示分辨率调整到1366X768以上。"));
    EXPECT_TRUE(DisplayRefusalText(DisplayCheck::Ok, 9).isEmpty());
    EXPECT_EQ(SecondInstanceText(9), QStringLiteral("There is an running instance already!"));
    EXPECT_EQ(SecondInstanceText(4), QStringLiteral("已经有一个实例在运行中！"));
}

TEST(AppInstance, LockNameIsKeyedByTitleAndSafe)
{
    const QString a = InstanceLockName(QStringLiteral("veluna V9.1.5"));
    EXPECT_EQ(a, InstanceLockName(QStringLiteral("veluna V9.1.5")));
    EXPECT_NE(a, InstanceLockName(QStringLiteral("Demo V9.1.5")));
    const QString odd = InstanceLockName(QStringLiteral("../a/b\\c:*?"));
    EXPECT_FALSE(odd.contains(QLatin1Char('/')));
    EXPECT_FALSE(odd.contains(QLatin1Char('\\')));
}

// ------------------------------------------------------------ the program

bool programBuilt()
{
    return QFileInfo(ProgramRun::program()).isExecutable();
}

TEST(AppProgram, VersionPrintsTheTitle)
{
    if (!programBuilt())
        GTEST_SKIP() << "veluna is not built";
    ProgramRun sandbox;
    QString out;
    EXPECT_EQ(sandbox.run({QStringLiteral("--version")}, &out, nullptr), 0);
    EXPECT_EQ(out.trimmed(), kName);

    QDir(sandbox.homeFolder()).mkpath(QStringLiteral("Templates"));
    QFile co(sandbox.homeFolder() + QStringLiteral("/Templates/Co.txt"));
    ASSERT_TRUE(co.open(QIODevice::WriteOnly));
    co.write(QStringLiteral("演示\r\n").toUtf8());
    co.close();
    EXPECT_EQ(sandbox.run({QStringLiteral("--version")}, &out, nullptr), 0);
    EXPECT_EQ(out.trimmed(), QStringLiteral("演示 V9.1.5"));
}

struct RefusalCase {
    const char* name;
    int width, height, dpi;
    const char* language;
    QString message;
};

TEST(AppProgram, RefusesScaledOrSmallDisplays)
{
    if (!programBuilt())
        GTEST_SKIP() << "veluna is not built";
    const RefusalCase cases[] = {
        {"120 dpi, English", 1920, 1080, 120, "en", QStringLiteral("Please change your display scale to 100%，reboot")},
        {"120 dpi, Chinese", 1920, 1080, 120, "zh_CN", QStringLiteral("请把显示缩放比调整到100%,重启电脑。")},
        {"1365 wide, English", 1365, 768, 96, "en", QStringLiteral("Please change the display resolution to 1366X768.")},
        {"767 high, Chinese", 1366, 767, 96, "zh_CN", QStringLiteral("请把显示分辨率调整到1366X768以上。")},
    };
    for (const auto& c : cases) {
        ProgramRun sandbox(c.width, c.height, c.dpi);
        sandbox.setEnv(QStringLiteral("VELUNA_LANGUAGE"), QString::fromLatin1(c.language));
        QString err;
        const int code = sandbox.run({}, nullptr, &err);
        EXPECT_NE(code, 0) << c.name;
        EXPECT_NE(code, -1) << c.name << ": did not end";
        EXPECT_TRUE(err.contains(QStringLiteral("MessageBox: ") + kName + QStringLiteral(": ") + c.message))
            << c.name << ": " << err.toStdString();
        EXPECT_TRUE(QDir(sandbox.runtimeFolder()).entryList(QDir::Files).isEmpty()) << c.name << ": lock taken";
    }
}

TEST(AppProgram, SecondInstanceWithTheSameTitleIsRefused)
{
    if (!programBuilt())
        GTEST_SKIP() << "veluna is not built";
    ProgramRun sandbox;
    QProcess* first = sandbox.start();
    const QString lock = sandbox.runtimeFolder() + QLatin1Char('/') + InstanceLockName(kName);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(lock) || first->state() == QProcess::NotRunning; },
                                       20000));
    ASSERT_EQ(first->state(), QProcess::Running) << first->readAllStandardError().toStdString();

    QString err;
    const int code = sandbox.run({}, nullptr, &err);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, -1) << "second instance did not end";
    EXPECT_TRUE(err.contains(QStringLiteral("MessageBox: ") + kName + QStringLiteral(": There is an running instance already!")))
        << err.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // Another title (Co.txt) is another instance.
    QDir(sandbox.homeFolder()).mkpath(QStringLiteral("Templates"));
    QFile co(sandbox.homeFolder() + QStringLiteral("/Templates/Co.txt"));
    ASSERT_TRUE(co.open(QIODevice::WriteOnly));
    co.write("Other");
    co.close();
    QProcess* other = sandbox.start();
    const QString otherLock = sandbox.runtimeFolder() + QLatin1Char('/') + InstanceLockName(QStringLiteral("Other V9.1.5"));
    EXPECT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(otherLock) || other->state() == QProcess::NotRunning; },
                                       20000));
    EXPECT_EQ(other->state(), QProcess::Running) << other->readAllStandardError().toStdString();
}

}  // namespace
