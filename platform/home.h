#pragma once
// The folder "beside the program", settings in place of the registry, and
// the user-interface language.

#include <QSettings>
#include <QString>

#include <memory>

namespace platform {

// VELUNA_HOME when set, else the executable's folder when writable, else the
// user's data folder. Never ends with a separator.
QString homeFolder();
// homeFolder() + "/" + relative (relative may hold several levels).
QString homePath(const QString& relative);
// Makes the folder (and its parents) when missing; false when it cannot.
bool ensureFolder(const QString& path);

// The settings of one registry key ("veluna" for the main program), kept as
// an INI file in the home folder.
std::unique_ptr<QSettings> settings(const QString& key = QStringLiteral("veluna"));

// 4 when the user-interface language is Simplified Chinese, else 9.
// VELUNA_LANGUAGE=zh_CN|en (or any locale name) overrides the system's.
unsigned languageCode();
inline constexpr unsigned kLanguageChinese = 4;
inline constexpr unsigned kLanguageEnglish = 9;

// Picks the Chinese text when `language` is 4, else the English one.
inline QString pickText(unsigned language, const QString& english, const QString& chinese)
{
    return language == kLanguageChinese ? chinese : english;
}
QString pickText(unsigned language, const char* english, const char* chinese);

}  // namespace platform
