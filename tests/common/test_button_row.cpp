// A row of buttons made once, showing lists of changing length.
#include "common/controls/button_row.h"

#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(ButtonRow, ShowsTheListAndHidesTheRestWhereTheyWere)
{
    QWidget parent;
    std::array<QPushButton*, 3> row{};
    for (auto& b : row) {
        b = new QPushButton(QStringLiteral("old"), &parent);
        b->setGeometry(1, 2, 3, 4);
    }
    const auto cell = [](int j) { return QRect(10 * j, 5, 8, 6); };
    const struct { QStringList labels; const char* texts; const char* hidden; } steps[] = {
        {{"a", "b", "c"}, "a|b|c", "---"},
        {{"x"}, "x|b|c", "-hh"},  // a shorter list hides the rest, their text kept
        {{}, "x|b|c", "hhh"},
        {{"p", "q", "r", "s"}, "p|q|r", "---"},  // a longer list is cut at the row's end
    };
    for (const auto& step : steps) {
        controls::ShowButtonRow(row, step.labels, cell);
        QStringList texts;
        QString hidden;
        for (std::size_t j = 0; j < row.size(); ++j) {
            texts << row[j]->text();
            hidden += row[j]->isHidden() ? QLatin1Char('h') : QLatin1Char('-');
            if (!row[j]->isHidden()) {
                EXPECT_EQ(row[j]->geometry(), cell(int(j))) << j;
            }
        }
        EXPECT_EQ(texts.join(QLatin1Char('|')), QString::fromLatin1(step.texts));
        EXPECT_EQ(hidden, QString::fromLatin1(step.hidden));
    }
}

}  // namespace
