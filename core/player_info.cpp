#include "core/player_info.h"

#include "platform/home.h"

#include <arpa/inet.h>

namespace playerinfo {

namespace {

struct ChannelName {
    uint16_t code;
    const char* english;
    const char* chinese;
};

constexpr ChannelName kChannels[] = {
    {1, "No Input One Output", "无输入一输出"},
    {2, "No Input Two Output", "无输入二输出"},
    {3, "No Input Three Output", "无输入三输出"},
    {4, "No Input Four Output", "无输入四输出"},
    {5, "No Input Five Output", "无输入五输出"},
    {6, "No Input Six Output", "无输入六输出"},
    {7, "No Input Seven Output", "无输入七输出"},
    {8, "No Input Eight Output", "无输入八输出"},
    {9, "No Input Nine Output", "无输入九输出"},
    {11, "One Input One Output", "一输入一输出"},
    {21, "One Input Two Output", "一输入二输出"},
    {31, "One Input Three Output", "一输入三输出"},
    {41, "One Input Four Output", "一输入四输出"},
    {51, "One Input Five Output", "一输入五输出"},
    {61, "One Input Six Output", "一输入六输出"},
    {71, "One Input Seven Output", "一输入七输出"},
    {81, "One Input Eight Output", "一输入八输出"},
    {91, "One Input Nine Output", "一输入九输出"},
};

const ChannelName* findChannel(uint16_t code)
{
    for (const auto& c : kChannels) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

QString stripDash(const QString& s)
{
    return s.startsWith(QLatin1Char('-')) ? s.mid(1) : s;
}

}  // namespace

bool IsKnownChannelCode(uint16_t code)
{
    return findChannel(code) != nullptr;
}

QString ChannelLayoutName(uint16_t code, unsigned language)
{
    const ChannelName* c = findChannel(code);
    return c ? platform::pickText(language, c->english, c->chinese) : QString();
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
    if (on && !title.contains(kPrefix))
        return kPrefix + title;
    if (!on && title.contains(kPrefix))
        return title.mid(4);
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
