#include "core/player_info.h"

#include "platform/home.h"
#include "transport/scan_engine.h"

#include <arpa/inet.h>

namespace playerinfo {

namespace {

QString stripDash(const QString& s)
{
    return s.startsWith(QLatin1Char('-')) ? s.mid(1) : s;
}

}  // namespace

bool IsKnownChannelCode(uint16_t code)
{
    return !scan::ChannelPart(code, platform::kLanguageEnglish).isEmpty();
}

QString ChannelLayoutName(uint16_t code, unsigned language)
{
    // One table of channel texts, shared with every scan list.
    return scan::ChannelPart(code, language);
}

QString ChannelText(uint16_t code, unsigned language)
{
    const QString name = ChannelLayoutName(code, language);
    if (name.isEmpty())
        return QString();
    return platform::pickText(language, " Channel:(", " 通道:(") + name + QLatin1Char(')');
}

PlayerInfoText BuildPlayerInfoText(unsigned language, const QString& ip, uint16_t version, const QString& buildText,
                                   uint16_t fpgaVersion, uint16_t channelCode, uint8_t product)
{
    PlayerInfoText out;
    QString& t = out.text;
    t = platform::pickText(language, "Player IP Address:", "播放器IP地址:") + ip;
    const int major = version >> 12, minor = (version >> 8) & 15, patch = (version >> 4) & 15;
    t += platform::pickText(language, QStringLiteral(" Ver:%1.%2.%3 "), QStringLiteral(" 版本号:%1.%2.%3"))
             .arg(major)
             .arg(minor)
             .arg(patch);
    t += buildText;
    if (fpgaVersion != 0)
        t += platform::pickText(language, QStringLiteral("FPGA Ver:%1.0"), QStringLiteral(" FPGA版本号:%1.0"))
                 .arg(fpgaVersion);
    if (IsKnownChannelCode(channelCode))
        t += ChannelText(channelCode, language);
    else
        t = platform::pickText(language, "Unknown Player", "未知播放器");
    switch (product) {
    case 1:
        t = platform::pickText(language, "Vuvo", "融合") + t;
        out.titlePrefix = -1;
        break;
    case 2:
        t = platform::pickText(language, "Rotate", "拼接") + t;
        out.titlePrefix = -1;
        break;
    case 3:
        t = QStringLiteral("QVE") + t;
        out.titlePrefix = 1;
        break;
    default:
        break;
    }
    t += QStringLiteral("  ");
    return out;
}

QString ApplyTitlePrefix(const QString& title, bool on)
{
    static const QString kPrefix = QStringLiteral("QVE-");
    // Only a prefix at the start is ours: a title that holds the text
    // elsewhere keeps it, and is never cut in the wrong place.
    if (on && !title.startsWith(kPrefix))
        return kPrefix + title;
    if (!on && title.startsWith(kPrefix))
        return title.mid(kPrefix.size());
    return title;
}

QString CaptionPrefix(const QString& title)
{
    const int blank = title.indexOf(QLatin1Char(' '));
    return (blank < 0 ? title : title.left(blank)) + QLatin1Char('-');
}

CommandLineParse ParseCommandLine(const QStringList& arguments, unsigned language)
{
    CommandLineParse out;
    if (arguments.size() != 3)
        return out;
    out.applies = true;
    const QString ip = stripDash(arguments[0]);
    const QString portText = stripDash(arguments[1]);
    const QString mac = stripDash(arguments[2]);

    in_addr address{};
    const QByteArray ipBytes = ip.toLatin1();
    if (ip.isEmpty() || ip.size() > 15 || inet_pton(AF_INET, ipBytes.constData(), &address) != 1) {
        out.error = platform::pickText(language, QStringLiteral("Invalid player address on the command line: %1"),
                                       QStringLiteral("命令行中的播放器地址无效：%1"))
                        .arg(ip);
        return out;
    }
    bool digits = !portText.isEmpty() && portText.size() <= 5;
    for (QChar ch : portText)
        digits = digits && ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
    const int port = digits ? portText.toInt() : 0;
    if (!digits || port < 1 || port > 65535) {
        out.error =
            platform::pickText(language, QStringLiteral("Invalid player port on the command line: %1 (1 to 65535)"),
                               QStringLiteral("命令行中的播放器端口无效：%1（1～65535）"))
                .arg(portText);
        return out;
    }
    bool hex = mac.size() == 12;
    for (QChar ch : mac)
        hex = hex && ((ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) ||
                      (ch >= QLatin1Char('a') && ch <= QLatin1Char('f')) ||
                      (ch >= QLatin1Char('A') && ch <= QLatin1Char('F')));
    if (!hex) {
        out.error = platform::pickText(
                        language,
                        QStringLiteral("Invalid player MAC address on the command line: %1 (12 hexadecimal digits)"),
                        QStringLiteral("命令行中的播放器MAC地址无效：%1（12位十六进制数字）"))
                        .arg(mac);
        return out;
    }
    CommandLineTarget target;
    target.ip = ip;
    target.port = uint16_t(port);
    target.portText = portText;
    target.mac = mac.toUpper();
    out.target = target;
    return out;
}

}  // namespace playerinfo
