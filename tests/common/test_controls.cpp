// The shared controls: progress arithmetic and drawing, the number and name
// edit boxes' filters, and the wait box's countdown.
#include "common/controls/folder_edit.h"
#include "common/controls/num_edit.h"
#include "common/controls/save_param_wait.h"
#include "common/controls/text_progress_ctrl.h"
#include "platform/dialogs.h"

#include <QFocusEvent>
#include <QImage>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct ProgressCase {
    const char* name;
    uint64_t lower, upper, position;
    int width;
    QString label;
    int64_t split;
};

TEST(TextProgress, LabelAndSplitArithmetic)
{
    const uint64_t tera = 1000000000000ull;
    const ProgressCase cases[] = {
        {"half of a terabyte range", 0, tera, tera / 2, 1000, QStringLiteral("50.0%"), 500},
        {"finished reads 99.9", 0, tera, tera, 1000, QStringLiteral("99.9%"), 1000},
        {"start", 0, 100, 0, 200, QStringLiteral("0.0%"), 0},
        {"third, truncated", 0, 3, 1, 100, QStringLiteral("33.3%"), 33},
        {"offset range", 100, 200, 150, 300, QStringLiteral("50.0%"), 150},
        {"empty range 5..5", 5, 5, 5, 100, QString(), 0},
        {"reversed range", 9, 3, 5, 100, QString(), 0},
        {"below the lower bound", 10, 20, 0, 100, QStringLiteral("0.0%"), 0},
        {"past the upper bound", 10, 20, 90, 100, QStringLiteral("99.9%"), 100},
        {"near the top of u64", UINT64_MAX - 10, UINT64_MAX, UINT64_MAX - 5, 100, QStringLiteral("50.0%"), 50},
        {"zero width", 0, 10, 5, 0, QStringLiteral("50.0%"), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTextProgressCtrl::Label(c.lower, c.upper, c.position), c.label) << c.name;
        EXPECT_EQ(CTextProgressCtrl::SplitWidth(c.lower, c.upper, c.position, c.width), c.split) << c.name;
    }
}

TEST(TextProgress, DrawsBarAndBackgroundAndSurvivesAnEmptyRange)
{
    CTextProgressCtrl bar;
    bar.resize(200, 20);
    bar.SetBarColour(Qt::blue);
    bar.SetBackgroundColour(Qt::white);
    bar.SetRange(0, 100);
    bar.SetPos(50);
    EXPECT_EQ(bar.filledWidth(), 100);
    const QImage image = bar.grab().toImage();
    EXPECT_EQ(image.pixelColor(5, 10), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(195, 10), QColor(Qt::white));

    bar.SetRange(5, 5);
    bar.SetPos(5);
    EXPECT_EQ(bar.filledWidth(), 0);
    EXPECT_FALSE(bar.grab().isNull());
}

struct CharCase {
    const char* name;
    QChar c;
    QString text;
    int selStart, selLength, cursor;
    bool accepted;
};

TEST(NumEdit, CharacterFilter)
{
    const CharCase cases[] = {
        {"digit", '7', QStringLiteral("12"), 2, 0, 2, true},
        {"backspace", QChar(8), QStringLiteral("12"), 2, 0, 2, true},
        {"character 16", QChar(16), QStringLiteral("12"), 2, 0, 2, true},
        {"letter", 'a', QStringLiteral("12"), 2, 0, 2, false},
        {"space", ' ', QString(), 0, 0, 0, false},
        {"minus into empty", '-', QString(), 0, 0, 0, true},
        {"minus in the middle", '-', QStringLiteral("12"), 1, 0, 1, false},
        {"minus at start", '-', QStringLiteral("12"), 0, 0, 0, true},
        {"second minus at start", '-', QStringLiteral("-12"), 0, 0, 0, false},
        {"minus over all selected", '-', QStringLiteral("-12"), 0, 3, 3, true},
        {"minus over part selected", '-', QStringLiteral("123"), 0, 2, 2, false},
        {"first point", '.', QStringLiteral("12"), 2, 0, 2, true},
        {"point into empty", '.', QString(), 0, 0, 0, true},
        {"second point", '.', QStringLiteral("1.2"), 3, 0, 3, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CNumEdit::AcceptChar(c.c, c.text, c.selStart, c.selLength, c.cursor), c.accepted) << c.name;
}

TEST(NumEdit, Normalisation)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("007.500"), QStringLiteral("7.5")}, {QStringLiteral(".5"), QStringLiteral("0.5")},
        {QStringLiteral("5."), QStringLiteral("5")},        {QStringLiteral("000"), QStringLiteral("0")},
        {QStringLiteral("0.0"), QStringLiteral("0")},       {QStringLiteral("-007"), QStringLiteral("-007")},
        {QStringLiteral("000.000"), QStringLiteral("0")},   {QString(), QString()},
        {QStringLiteral("100"), QStringLiteral("100")},     {QStringLiteral("0.25"), QStringLiteral("0.25")},
        {QStringLiteral("10.0"), QStringLiteral("10")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(CNumEdit::Normalize(in), out) << in.toStdString();
}

TEST(NumEdit, TypingPastingAndLeavingTheBox)
{
    CNumEdit edit;
    QTest::keyClicks(&edit, QStringLiteral("1a2.3.4"));
    EXPECT_EQ(edit.text(), QStringLiteral("12.34"));
    edit.setCursorPosition(1);
    QTest::keyClicks(&edit, QStringLiteral("-"));
    EXPECT_EQ(edit.text(), QStringLiteral("12.34"));
    edit.insert(QStringLiteral("x9"));  // what a paste does
    EXPECT_EQ(edit.text(), QStringLiteral("12.34"));

    edit.setText(QStringLiteral("000.000"));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&edit, &out);
    EXPECT_EQ(edit.text(), QStringLiteral("0"));
}

TEST(FolderEdit, RefusesCharactersNoNameMayHold)
{
    for (QChar c : QStringLiteral(":/\\?*<>\"|"))
        EXPECT_TRUE(CFolderEdit::IsForbidden(c)) << int(c.unicode());
    for (QChar c : QStringLiteral("aZ0 .-_()演"))
        EXPECT_FALSE(CFolderEdit::IsForbidden(c)) << int(c.unicode());
    EXPECT_EQ(CFolderEdit::StripForbidden(QStringLiteral("a:b/c*d")), QStringLiteral("abcd"));

    CFolderEdit edit;
    QTest::keyClicks(&edit, QStringLiteral("a:b"));
    EXPECT_EQ(edit.text(), QStringLiteral("ab"));
    edit.insert(QStringLiteral("c<d>|e"));
    EXPECT_EQ(edit.text(), QStringLiteral("abcde"));
}

TEST(FolderEdit, BrowseTakesThePickedFolderAndKeepsTextOnCancel)
{
    CFolderEdit edit;
    edit.setText(QStringLiteral("old"));
    QString answer = QStringLiteral("/tmp/picked");
    platform::FileDialogKind kind = platform::FileDialogKind::Open;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        kind = call.kind;
        return answer;
    });
    EXPECT_EQ(edit.BrowseForFolder(QStringLiteral("Pick")), answer);
    EXPECT_EQ(kind, platform::FileDialogKind::Folder);
    EXPECT_EQ(edit.text(), answer);
    answer.clear();
    EXPECT_TRUE(edit.BrowseForFolder(QStringLiteral("Pick")).isEmpty());
    EXPECT_EQ(edit.text(), QStringLiteral("/tmp/picked"));
    platform::setFileDialogAnswerer({});
}

TEST(SaveParamWait, CountsDownAndHidesItself)
{
    struct Case {
        uint16_t seconds;
        int hidesAtTick;
    };
    for (const Case c : {Case{3, 3}, Case{0, 1}, Case{1, 1}}) {
        CSaveParamWait box(9);
        box.ShowWait(QStringLiteral("Save Param Wait..."), c.seconds);
        EXPECT_TRUE(box.isVisible());
        for (int tick = 1; tick <= c.hidesAtTick; ++tick) {
            box.Tick();
            EXPECT_EQ(box.isVisible(), tick < c.hidesAtTick) << c.seconds << " tick " << tick;
            EXPECT_EQ(box.IsActive(), tick < c.hidesAtTick);
        }
        box.Tick();  // inactive: nothing more
        EXPECT_FALSE(box.isVisible());
    }
}

TEST(SaveParamWait, TextsKeysAndClosing)
{
    CSaveParamWait english(9);
    CSaveParamWait chinese(4);
    EXPECT_EQ(english.Text(), QStringLiteral("Save Param Wait..."));
    EXPECT_EQ(chinese.Text(), QString());
    ASSERT_NE(english.findChild<QLabel*>(QStringLiteral("5101")), nullptr);

    english.ShowWait(QStringLiteral("正在保存参数..."), 10);
    EXPECT_EQ(english.Text(), QStringLiteral("正在保存参数..."));
    QTest::keyClick(&english, Qt::Key_Escape);
    QTest::keyClick(&english, Qt::Key_Return);
    EXPECT_TRUE(english.isVisible());
    english.CloseWait();
    EXPECT_FALSE(english.isVisible());
    EXPECT_FALSE(english.IsActive());
}

}  // namespace

TEST(FolderEdit, TypingAfterAPickedPathKeepsItsSeparators)
{
    CFolderEdit edit;
    platform::setFileDialogAnswerer([](const platform::FileDialogCall&) { return QStringLiteral("/tmp/a"); });
    edit.BrowseForFolder(QStringLiteral("Pick"));
    platform::setFileDialogAnswerer({});
    edit.setCursorPosition(int(edit.text().size()));
    QTest::keyClicks(&edit, QStringLiteral("b/c"));
    EXPECT_EQ(edit.text(), QStringLiteral("/tmp/abc"));
}
