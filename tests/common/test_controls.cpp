// The shared controls: progress arithmetic and drawing, the number and name
// edit boxes' filters, and the wait box's countdown.
#include "common/controls/folder_edit.h"
#include "common/controls/num_edit.h"
#include "common/controls/save_param_wait.h"
#include "common/controls/text_progress_ctrl.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QFocusEvent>
#include <QImage>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace Qt::StringLiterals;

TEST(TextProgress, LabelAndSplitArithmetic)
{
    const uint64_t tera = 1000000000000ull, top = UINT64_MAX;
    const struct { const char* name; uint64_t lower, upper, position; int width; QString label; int64_t split; } cases[] = {
        {"half of a terabyte range", 0, tera, tera / 2, 1000, u"50.0%"_s, 500},
        {"finished reads 99.9", 0, tera, tera, 1000, u"99.9%"_s, 1000}, {"start", 0, 100, 0, 200, u"0.0%"_s, 0},
        {"third, truncated", 0, 3, 1, 100, u"33.3%"_s, 33}, {"offset range", 100, 200, 150, 300, u"50.0%"_s, 150},
        {"empty range 5..5", 5, 5, 5, 100, QString(), 0},   {"reversed range", 9, 3, 5, 100, QString(), 0},
        {"below the lower bound", 10, 20, 0, 100, u"0.0%"_s, 0}, {"past the upper bound", 10, 20, 90, 100, u"99.9%"_s, 100},
        {"near the top of u64", top - 10, top, top - 5, 100, u"50.0%"_s, 50}, {"zero width", 0, 10, 5, 0, u"50.0%"_s, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTextProgressCtrl::Label(c.lower, c.upper, c.position), c.label) << c.name;
        EXPECT_EQ(CTextProgressCtrl::SplitWidth(c.lower, c.upper, c.position, c.width), c.split) << c.name;
    }

    // Drawn: bar on the left, background on the right; an empty range draws no bar.
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

TEST(NumEdit, CharacterFilterAndNormalisation)
{
    const struct { const char* name; QChar c; QString text; int selStart, selLength, cursor; bool accepted; } cases[] = {
        {"digit", u'7', u"12"_s, 2, 0, 2, true},           {"backspace", QChar(8), u"12"_s, 2, 0, 2, true},
        {"character 16", QChar(16), u"12"_s, 2, 0, 2, true}, {"letter", u'a', u"12"_s, 2, 0, 2, false},
        {"space", u' ', QString(), 0, 0, 0, false},         {"minus into empty", u'-', QString(), 0, 0, 0, true},
        {"minus in the middle", u'-', u"12"_s, 1, 0, 1, false}, {"minus at start", u'-', u"12"_s, 0, 0, 0, true},
        {"second minus at start", u'-', u"-12"_s, 0, 0, 0, false}, {"minus over all selected", u'-', u"-12"_s, 0, 3, 3, true},
        {"minus over part selected", u'-', u"123"_s, 0, 2, 2, false},
        {"first point", u'.', u"12"_s, 2, 0, 2, true},      {"point into empty", u'.', QString(), 0, 0, 0, true},
        {"second point", u'.', u"1.2"_s, 3, 0, 3, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CNumEdit::AcceptChar(c.c, c.text, c.selStart, c.selLength, c.cursor), c.accepted) << c.name;

    const std::pair<QString, QString> normalised[] = {
        {u"007.500"_s, u"7.5"_s}, {u".5"_s, u"0.5"_s},   {u"5."_s, u"5"_s},         {u"000"_s, u"0"_s},
        {u"0.0"_s, u"0"_s},       {u"-007"_s, u"-007"_s}, {u"000.000"_s, u"0"_s},   {QString(), QString()},
        {u"100"_s, u"100"_s},     {u"0.25"_s, u"0.25"_s}, {u"10.0"_s, u"10"_s},
    };
    for (const auto& [in, out] : normalised)
        EXPECT_EQ(CNumEdit::Normalize(in), out) << in.toStdString();
}

TEST(NumEdit, TypingPastingAndLeavingTheBox)
{
    CNumEdit edit;
    QTest::keyClicks(&edit, u"1a2.3.4"_s);
    EXPECT_EQ(edit.text(), u"12.34"_s);
    edit.setCursorPosition(1);
    QTest::keyClicks(&edit, u"-"_s);
    EXPECT_EQ(edit.text(), u"12.34"_s);
    edit.insert(u"x9"_s);  // what a paste does
    EXPECT_EQ(edit.text(), u"12.34"_s);

    edit.setText(u"000.000"_s);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&edit, &out);
    EXPECT_EQ(edit.text(), u"0"_s);
}

TEST(FolderEdit, RefusesCharactersNoNameMayHold)
{
    for (QChar c : u":/\\?*<>\"|"_s)
        EXPECT_TRUE(CFolderEdit::IsForbidden(c)) << int(c.unicode());
    for (QChar c : u"aZ0 .-_()演"_s)
        EXPECT_FALSE(CFolderEdit::IsForbidden(c)) << int(c.unicode());
    EXPECT_EQ(CFolderEdit::StripForbidden(u"a:b/c*d"_s), u"abcd"_s);

    CFolderEdit edit;
    QTest::keyClicks(&edit, u"a:b"_s);
    EXPECT_EQ(edit.text(), u"ab"_s);
    edit.insert(u"c<d>|e"_s);
    EXPECT_EQ(edit.text(), u"abcde"_s);
}

TEST(FolderEdit, BrowseTakesThePickedFolderKeepsItsSeparatorsAndKeepsTextOnCancel)
{
    CFolderEdit edit;
    edit.setText(u"old"_s);
    QString answer = u"/tmp/picked"_s;
    platform::FileDialogKind kind = platform::FileDialogKind::Open;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        kind = call.kind;
        return answer;
    });
    EXPECT_EQ(edit.BrowseForFolder(u"Pick"_s), answer);
    EXPECT_EQ(kind, platform::FileDialogKind::Folder);
    EXPECT_EQ(edit.text(), answer);
    answer.clear();
    EXPECT_TRUE(edit.BrowseForFolder(u"Pick"_s).isEmpty());
    platform::setFileDialogAnswerer({});
    EXPECT_EQ(edit.text(), u"/tmp/picked"_s);
    // Typing after the picked path filters only what is typed.
    edit.setCursorPosition(int(edit.text().size()));
    QTest::keyClicks(&edit, u"b/c"_s);
    EXPECT_EQ(edit.text(), u"/tmp/pickedbc"_s);
}

TEST(SaveParamWait, CountsDownAndHidesItself)
{
    for (const auto& [seconds, hidesAtTick] : {std::pair<uint16_t, int>{3, 3}, {0, 1}, {1, 1}}) {
        CSaveParamWait box(9);
        box.ShowWait(u"Save Param Wait..."_s, seconds);
        EXPECT_TRUE(box.isVisible());
        for (int tick = 1; tick <= hidesAtTick; ++tick) {
            box.Tick();
            EXPECT_EQ(box.isVisible(), tick < hidesAtTick) << seconds << " tick " << tick;
            EXPECT_EQ(box.IsActive(), tick < hidesAtTick);
        }
        box.Tick();  // inactive: nothing more
        EXPECT_FALSE(box.isVisible());
    }
}

TEST(SaveParamWait, TextsKeysAndClosing)
{
    CSaveParamWait english(9);
    EXPECT_EQ(english.Text(), u"Save Param Wait..."_s);
    EXPECT_EQ(CSaveParamWait(4).Text(), QString());
    ASSERT_NE(english.findChild<QLabel*>(u"5101"_s), nullptr);

    english.ShowWait(u"正在保存参数..."_s, 10);
    EXPECT_EQ(english.Text(), u"正在保存参数..."_s);
    QTest::keyClick(&english, Qt::Key_Escape);
    QTest::keyClick(&english, Qt::Key_Return);
    EXPECT_TRUE(english.isVisible());
    english.CloseWait();
    EXPECT_FALSE(english.isVisible());
    EXPECT_FALSE(english.IsActive());
}

}  // namespace
