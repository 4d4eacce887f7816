// Start-up rules of veluna: the title from Templates/Co.txt, the display
// checks, and the program itself (version, refusals, one instance per title).
#include "core/app.h"
#include "common/text_coding.h"
#include "platform/home.h"
#include "tests/core/program_run.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
const QString kName = u"veluna V9.1.5"_s;

// Writes <home>/Templates/Co.txt; a null `bytes` leaves it absent.
bool writeCo(const QString& home, const QByteArray& bytes)
{
    return bytes.isNull() || testsupport::writeFile(home + u"/Templates/Co.txt"_s, bytes);
}

TEST(AppTitle, Utf8ValidityRules)
{
    const struct { const char* name; QByteArray bytes; bool valid; } cases[] = {
        {"empty", QByteArray(), true},           {"ascii", "Demo", true},
        {"two-byte", "\xC3\xA9", true},          {"three-byte chinese", "\xE6\xBC\x94\xE7\xA4\xBA", true},
        {"four-byte", "\xF0\x9F\x98\x80", true}, {"five-byte lead F8", "\xF8\x80\x80\x80\x80", true},
        {"six-byte lead FC", "\xFC\x80\x80\x80\x80\x80", true},
        {"FE takes four", "\xFE\x80\x80\x80\x80", true},
        {"stray continuation", "a\x80", false},  {"ends inside sequence", "\xE6\xBC", false},
        {"bad continuation", "\xC3\x41", false}, {"code page 936 text", "\xD1\xDD\xCA\xBE", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text::IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(AppTitle, CoTxtReplacesFirstWord)
{
    const QString chinese = u"演示"_s, demo = u"Demo V9.1.5"_s;
    // A null `bytes` is no file at all.
    const struct { const char* name; QByteArray bytes; QString title; } cases[] = {
        {"absent", QByteArray(), kName},     {"empty file", QByteArray(""), kName}, {"ascii", "Demo", demo},
        {"CRLF dropped", "Demo\r\n", demo}, {"LF dropped", "Demo\n", demo},       {"line end only", "\r\n", kName},
        {"utf-8 chinese", chinese.toUtf8(), chinese + u" V9.1.5"_s},
        {"code page 936 (invalid utf-8)", "\xD1\xDD\xCA\xBE", chinese + u" V9.1.5"_s},
        {"1500 bytes: first 1000 used", QByteArray(1500, 'A'), QString(1000, u'A') + u" V9.1.5"_s},
        {"inner space kept", "My Show", u"My Show V9.1.5"_s},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(writeCo(dir.path(), c.bytes));
        EXPECT_EQ(LoadTitlePrefix(kName, dir.path() + u"/Templates/Co.txt"_s), c.title) << c.name;
    }
    EXPECT_EQ(ApplyTitlePrefix(u"Name"_s, "X"), u"XName"_s);  // no space: the whole title is the rest
}

TEST(AppTitle, BuildTitleReadsTemplatesBesideTheProgram)
{
    testsupport::TempHome home;
    EXPECT_EQ(BuildTitle(), kName);
    EXPECT_EQ(ApplicationName(), kName);
    ASSERT_TRUE(writeCo(home.path(), "Demo\r\n"));
    EXPECT_EQ(BuildTitle(), u"Demo V9.1.5"_s);
}

const QString kScaleEn = u"Please change your display scale to 100%，reboot"_s;
const QString kScaleZh = u"请把显示缩放比调整到100%,重启电脑。"_s;
const QString kSizeEn = u"Please change the display resolution to 1366X768."_s;
const QString kSizeZh = u"请把显示分辨率调整到1366X768以上。"_s;

TEST(AppDisplay, ScaleAndSizeRulesAndTheirTexts)
{
    const struct { int w, h; double dx, dy; DisplayCheck expected; } cases[] = {
        {1920, 1080, 96, 96, DisplayCheck::Ok},           {1366, 768, 96, 96, DisplayCheck::Ok},
        {1365, 768, 96, 96, DisplayCheck::TooSmall},      {1366, 767, 96, 96, DisplayCheck::TooSmall},
        {1920, 1080, 120, 120, DisplayCheck::ScaleTooHigh}, {1920, 1080, 96, 97, DisplayCheck::ScaleTooHigh},
        {1920, 1080, 144, 96, DisplayCheck::ScaleTooHigh}, {1366, 768, 72, 72, DisplayCheck::Ok},
        {800, 600, 120, 120, DisplayCheck::ScaleTooHigh},  // scale is checked first
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckDisplay(c.w, c.h, c.dx, c.dy), c.expected) << c.w << "x" << c.h << " " << c.dx << "/" << c.dy;
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::ScaleTooHigh, 9), kScaleEn);
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::ScaleTooHigh, 4), kScaleZh);
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::TooSmall, 9), kSizeEn);
    EXPECT_EQ(DisplayRefusalText(DisplayCheck::TooSmall, 4), kSizeZh);
    EXPECT_TRUE(DisplayRefusalText(DisplayCheck::Ok, 9).isEmpty());
    EXPECT_EQ(SecondInstanceText(9), u"There is an running instance already!"_s);
    EXPECT_EQ(SecondInstanceText(4), u"已经有一个实例在运行中！"_s);
}

TEST(AppInstance, LockNameIsKeyedByTitleAndSafe)
{
    const QString a = InstanceLockName(kName);
    EXPECT_EQ(a, InstanceLockName(u"veluna V9.1.5"_s));
    EXPECT_NE(a, InstanceLockName(u"Demo V9.1.5"_s));
    const QString odd = InstanceLockName(u"../a/b\\c:*?"_s);
    EXPECT_FALSE(odd.contains(u'/') || odd.contains(u'\\'));
}

// ------------------------------------------------------------ the program

class AppProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo(ProgramRun::program()).isExecutable())
            GTEST_SKIP() << "veluna is not built";
        if (testsupport::kUnderThreadChecker)
            GTEST_SKIP() << testsupport::kNoChildProcessesUnderThreadChecker;
    }
    // Starts the program and waits until it holds the lock for `title`.
    static QProcess* startHolding(ProgramRun& sandbox, const QString& title)
    {
        QProcess* p = sandbox.start();
        const QString lock = sandbox.runtimeFolder() + u'/' + InstanceLockName(title);
        EXPECT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(lock) || p->state() == QProcess::NotRunning; }));
        return p;
    }
};

TEST_F(AppProgram, VersionPrintsTheTitle)
{
    ProgramRun sandbox;
    QString out;
    EXPECT_EQ(sandbox.run({u"--version"_s}, &out, nullptr), 0);
    EXPECT_EQ(out.trimmed(), kName);
    ASSERT_TRUE(writeCo(sandbox.homeFolder(), u"演示\r\n"_s.toUtf8()));
    EXPECT_EQ(sandbox.run({u"--version"_s}, &out, nullptr), 0);
    EXPECT_EQ(out.trimmed(), u"演示 V9.1.5"_s);
}

TEST_F(AppProgram, RefusesScaledOrSmallDisplays)
{
    const struct { const char* name; int width, height, dpi; const char* language; QString message; } cases[] = {
        {"120 dpi, English", 1920, 1080, 120, "en", kScaleEn},
        {"120 dpi, Chinese", 1920, 1080, 120, "zh_CN", kScaleZh},
        {"1365 wide, English", 1365, 768, 96, "en", kSizeEn},
        {"767 high, Chinese", 1366, 767, 96, "zh_CN", kSizeZh},
    };
    for (const auto& c : cases) {
        ProgramRun sandbox(c.width, c.height, c.dpi);
        sandbox.setEnv(u"VELUNA_LANGUAGE"_s, QString::fromLatin1(c.language));
        QString err;
        const int code = sandbox.run({}, nullptr, &err);
        EXPECT_NE(code, 0) << c.name;
        EXPECT_NE(code, -1) << c.name << ": did not end";
        EXPECT_TRUE(err.contains(u"MessageBox: "_s + kName + u": "_s + c.message)) << c.name << ": " << err.toStdString();
        EXPECT_TRUE(QDir(sandbox.runtimeFolder()).entryList(QDir::Files).isEmpty()) << c.name << ": lock taken";
    }
}

TEST_F(AppProgram, SecondInstanceWithTheSameTitleIsRefused)
{
    ProgramRun sandbox;
    QProcess* first = startHolding(sandbox, kName);
    ASSERT_EQ(first->state(), QProcess::Running) << first->readAllStandardError().toStdString();

    QString err;
    const int code = sandbox.run({}, nullptr, &err);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, -1) << "second instance did not end";
    EXPECT_TRUE(err.contains(u"MessageBox: "_s + kName + u": There is an running instance already!"_s)) << err.toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // Another title (Co.txt) is another instance.
    ASSERT_TRUE(writeCo(sandbox.homeFolder(), "Other"));
    QProcess* other = startHolding(sandbox, u"Other V9.1.5"_s);
    EXPECT_EQ(other->state(), QProcess::Running) << other->readAllStandardError().toStdString();
}

}  // namespace
