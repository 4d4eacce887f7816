#include "common/app_title.h"

#include "common/text_coding.h"
#include "platform/home.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

QString DecodeTitlePrefix(const QByteArray& bytes)
{
    QByteArray text = bytes;
    // A name saved with an editor ends in a line end; it must not become part
    // of the window title (every dialog finds the main window by that title).
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    return text::DecodeUtf8OrCodePage(text);
}

QString ApplyTitlePrefix(const QString& title, const QByteArray& prefixBytes)
{
    const QString prefix = DecodeTitlePrefix(prefixBytes.left(kTitlePrefixMaxBytes));
    if (prefix.isEmpty())
        return title;
    const qsizetype space = title.indexOf(QLatin1Char(' '));
    const QString rest = space < 0 ? title : title.mid(space);
    return prefix + rest;
}

QString LoadTitlePrefix(const QString& title, const QString& coPath)
{
    QFile file(coPath);
    if (!file.open(QIODevice::ReadOnly))
        return title;
    const QByteArray bytes = file.read(kTitlePrefixMaxBytes);
    return ApplyTitlePrefix(title, bytes);
}

QString InstanceLockName(const QString& title)
{
    const QByteArray digest = QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("veluna-instance-") + QString::fromLatin1(digest.left(24)) + QStringLiteral(".lock");
}

QString InstanceLockFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/veluna-") + QString::number(getuid());
    QDir().mkpath(folder);
    return folder;
}

QString SecondInstanceText(unsigned language)
{
    return platform::pickText(language, "There is an running instance already!", "已经有一个实例在运行中！");
}
