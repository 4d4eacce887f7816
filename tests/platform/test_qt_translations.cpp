// Qt's own texts (standard buttons) follow the language the program picked.

#include "platform/qt_translations.h"
#include "platform/home.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace {

QString ButtonText(QMessageBox::StandardButton which)
{
    QMessageBox box;
    box.setStandardButtons(which);
    return box.button(which)->text().remove(QLatin1Char('&'));
}

TEST(QtTranslations, StandardButtonsFollowTheLanguage)
{
    const struct {
        unsigned language;
        const char *ok, *cancel, *yes, *no;
    } cases[] = {
        {platform::kLanguageChinese, "确定", "取消", "是(Y)", "否(N)"},
        {platform::kLanguageEnglish, "OK", "Cancel", "Yes", "No"},
        {platform::kLanguageChinese, "确定", "取消", "是(Y)", "否(N)"},
        {0, "OK", "Cancel", "Yes", "No"},  // before a language is known: Qt's own English
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(platform::installQtTranslations(c.language)) << "qt6-translations-l10n is not installed";
        EXPECT_EQ(ButtonText(QMessageBox::Ok), QString::fromUtf8(c.ok)) << c.language;
        EXPECT_EQ(ButtonText(QMessageBox::Cancel), QString::fromUtf8(c.cancel)) << c.language;
        EXPECT_EQ(ButtonText(QMessageBox::Yes), QString::fromUtf8(c.yes)) << c.language;
        EXPECT_EQ(ButtonText(QMessageBox::No), QString::fromUtf8(c.no)) << c.language;
    }
    platform::installQtTranslations(platform::kLanguageEnglish);
}

}  // namespace
