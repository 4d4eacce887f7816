#pragma once
// The serial control protocol of one player: how a song-request host system
// drives it over its serial port (byte strings for fixed actions, for each
// video folder, layout and projector) and where that host lives on the
// network. ControlProtocol.Json is its document form: it travels to the
// player and back, and the user loads and saves it as a file.
//
// Command texts are upper-case hexadecimal byte strings of even length; the
// empty text means "no command".

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>

struct SwitchCommand {
    QString name;
    QString sendCmd;
    QString recvCmd;
    bool operator==(const SwitchCommand&) const = default;
};

struct ProjectorCommands {
    static constexpr std::size_t kPairs = 6;
    QString ip;
    std::array<QString, kPairs> onCmd;
    std::array<QString, kPairs> offCmd;
    bool operator==(const ProjectorCommands&) const = default;
};

struct SerialSettings {
    // The eleven numbers, in document order.
    enum Number : std::size_t {
        BaudRate, DataBit, StopBit, Parity, Random, Repeat, PlayMode, LayOutMov, AudioOutChl, Language, AspectRatio,
        kNumberCount
    };
    static constexpr std::size_t kCommandCount = 23;

    std::array<uint32_t, kNumberCount> numbers{1200, 8, 1, 0, 0, 0, 1, 0, 0, 0, 0};
    // "Play" ... "Hand", in the order of commandKeys().
    std::array<QString, kCommandCount> commands;

    bool operator==(const SerialSettings&) const = default;

    // The document's keys of the numbers and of the commands.
    static const std::array<const char*, kNumberCount>& numberKeys();
    static const std::array<const char*, kCommandCount>& commandKeys();
    // The options the dialog offers for the numbers Random .. AspectRatio
    // (position = stored number), in language 4 (Chinese) or else English.
    static QStringList options(Number number, unsigned language);
};

struct ControlProtocolRecord {
    static constexpr std::size_t kFolders = 64;
    static constexpr std::size_t kLayouts = 64;
    static constexpr std::size_t kProjectors = 30;
    static constexpr std::size_t kHostNames = 3;

    uint32_t nameIndex = 0;
    uint32_t serverPort = 8192;
    QString serverIp = QStringLiteral("192.168.84.101");
    std::array<QString, kHostNames> hostNames = defaultHostNames();
    SerialSettings serial;
    std::array<SwitchCommand, kFolders> videoTypes;
    std::array<SwitchCommand, kLayouts> layouts;
    std::array<ProjectorCommands, kProjectors> projectors;

    bool operator==(const ControlProtocolRecord&) const = default;

    static std::array<QString, kHostNames> defaultHostNames();
    // Upper-cases every command text (serial, switch and projector
    // commands); names and addresses keep their case.
    void upperCaseCommands();
};

// The document's file name.
inline constexpr const char* kControlProtocolFileName = "ControlProtocol.Json";

// The document's text: every member, all 64, 64 and 30 entries and all six
// pairs, empty texts included; texts as UTF-8.
QByteArray ControlProtocolJson(const ControlProtocolRecord& record);
// Writes the document to `path` (temporary file, then rename). False, with a
// message in `error`, when it cannot be written.
bool WriteProtocolJson(const QString& path, const ControlProtocolRecord& record, QString* error = nullptr);

// Reads a document into `record`. False, and the record untouched, when the
// text is empty, fails the pre-checks or does not parse. Otherwise every key
// present with the right type is taken (numbers: non-negative integers that
// fit 32 bits; texts: strings, decoded as UTF-8 or, failing that, code page
// 936), arrays are read as far as they go, and the command texts are
// upper-cased; true.
bool ReadProtocolJson(const QByteArray& text, ControlProtocolRecord& record);

// An even number of hexadecimal digits (either case); the empty text counts.
bool IsHexCommand(const QString& text);
// What the user typed into a command item, as it is stored: upper-cased,
// with every blank removed. False when the result is not IsHexCommand
// (`normalised` then holds it anyway).
bool NormaliseCommand(const QString& typed, QString& normalised);
