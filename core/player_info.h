#pragma once
// Texts about the connected player (status-bar information, window-title
// prefix) and the command line that names a player to connect to.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace playerinfo {

// The channel-layout codes a player can report: 1..9, 11, 21, ..., 91.
bool IsKnownChannelCode(uint16_t code);
// " Channel:(One Input Four Output)" ...; empty for an unknown code.
// "One Input Four Output" / "一输入四输出"; empty for an unknown code.
QString ChannelLayoutName(uint16_t code, unsigned language);
QString ChannelText(uint16_t code, unsigned language);

// What the handshake puts into the status bar, and whether it switches the
// "QVE-" window-title prefix on (+1), off (-1) or leaves it alone (0).
struct PlayerInfoText {
    QString text;
    int titlePrefix = 0;
};
// `product` is the player's product type + 1 (1 blending, 2 rotation, 3 QVE).
PlayerInfoText BuildPlayerInfoText(unsigned language, const QString& ip, uint16_t version, const QString& buildText,
                                   uint16_t fpgaVersion, uint16_t channelCode, uint8_t product);

// The window title with the "QVE-" prefix switched on or off.
QString ApplyTitlePrefix(const QString& title, bool on);
// The prefix of every dialog caption: the title up to its first blank + "-".
QString CaptionPrefix(const QString& title);

// A player named on the command line: IP, port and MAC.
struct CommandLineTarget {
    QString ip;
    uint16_t port = 0;
    QString portText;
    QString mac;  // 12 upper-case hexadecimal digits
};
struct CommandLineParse {
    bool applies = false;  // exactly three arguments were given
    std::optional<CommandLineTarget> target;
    QString error;  // why the arguments were refused (when applies and no target)
};
// Exactly three arguments (after the program name), each with an optional
// leading '-': an IPv4 address, a port 1..65535 and a MAC of exactly 12
// hexadecimal digits (it becomes part of a folder name).
CommandLineParse ParseCommandLine(const QStringList& arguments, unsigned language);

}  // namespace playerinfo
