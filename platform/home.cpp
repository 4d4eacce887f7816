#include "platform/home.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace platform {

QString homeFolder()
{
    QString home = qEnvironmentVariable("VELUNA_HOME");
    if (home.isEmpty()) {
        const QString exeDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
        if (!exeDir.isEmpty() && QFileInfo(exeDir).isWritable())
            home = exeDir;
        else
            home = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    }
    home = QDir::cleanPath(home);
    QDir().mkpath(home);
    return home;
}

QString homePath(const QString& relative)
{
    return QDir::cleanPath(homeFolder() + QLatin1Char('/') + relative);
}

bool ensureFolder(const QString& path)
{
    return QDir().mkpath(path);
}

std::unique_ptr<QSettings> settings(const QString& key)
{
    return std::make_unique<QSettings>(homePath(key + QStringLiteral(".ini")), QSettings::IniFormat);
}

unsigned languageCode()
{
    const QString forced = qEnvironmentVariable("VELUNA_LANGUAGE");
    const QLocale locale = forced.isEmpty() ? QLocale::system() : QLocale(forced);
    QStringList ui = forced.isEmpty() ? locale.uiLanguages() : QStringList{locale.name()};
    const QString first = ui.isEmpty() ? locale.name() : ui.first();
    const QLocale chosen(first);
    // Simplified Chinese only: zh_CN, zh_SG, zh-Hans; traditional gives English.
    if (chosen.language() == QLocale::Chinese && chosen.script() != QLocale::TraditionalChineseScript &&
        (chosen.territory() == QLocale::China || chosen.territory() == QLocale::Singapore ||
         chosen.script() == QLocale::SimplifiedChineseScript))
        return kLanguageChinese;
    return kLanguageEnglish;
}

QString pickText(unsigned language, const char* english, const char* chinese)
{
    return pickText(language, QString::fromUtf8(english), QString::fromUtf8(chinese));
}

}  // namespace platform
