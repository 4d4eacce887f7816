#pragma once
// Fetching the player's configuration files after the user asks for its
// parameters, pushing them back after a wizard leaves its adjustment mode,
// and converting the two older file forms. Every file travels as one
// CMD_CONFIG_FILE packet whose payload ends with a CRC-16/MODBUS trailer.
//
// The document owns one ConfigExchange and hands it a host: the narrow set of
// document services the exchange needs. Everything runs on the UI thread.

#include "common/file_commit.h"
#include "transport/protocol.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace cfgx {

// Configuration file numbers (the sub-code of CMD_CONFIG_FILE).
enum ConfigFile : uint8_t {
    kWarpFile = 1,
    kJunctionPointFile = 2,
    kProjectorGraphFile = 3,
    kCustomShapesFile = 4,
    kVideoPicWindowFile = 5,
    kGammaFile = 6,
    kCustomShapesNewFile = 7,
    kRotateFile = 17,
    kGridFile = 18,
};

// File name inside the `config` folder ("Warp.QVE" ...); empty for an
// unknown number.
QString configFileName(uint8_t file);
// playerFolder/config/<name>; empty for an unknown number.
QString configFilePath(const QString& playerFolder, uint8_t file);

// Players from this version on exchange configuration files.
inline constexpr uint16_t kMinExchangeVersion = 0x1500;
inline bool SupportsConfigExchange(uint16_t playerVersion) { return playerVersion >= kMinExchangeVersion; }

// Sizes of the files on disk.
inline constexpr std::size_t kWarpSize = 6515;
inline constexpr std::size_t kJunctionPointSize = 193439;
inline constexpr std::size_t kProjectorGraphSize = 975628;
inline constexpr std::size_t kCustomShapesSize = 307224;
inline constexpr std::size_t kVideoPicWindowSize = 75;
inline constexpr std::size_t kGammaSize = 288;
inline constexpr std::size_t kCustomShapesNewSize = 4608420;
inline constexpr std::size_t kCustomShapesNewSmallSize = 1536140;
// Older forms converted on fetch.
inline constexpr std::size_t kLegacyJunctionPointSize = 23593349;
inline constexpr std::size_t kLegacyCustomShapesSize = 82944024;
// One configuration file travels in one packet of at most this many file
// bytes; bigger files are refused rather than cut.
inline constexpr std::size_t kMaxUploadFileSize = proto::kChunkSize;

// Silent ticks before a step is repeated, and how often it is repeated
// before the exchange gives up.
inline constexpr uint16_t kRepeatAfterTicks = 3;
inline constexpr int kMaxRepeats = 10;
// Ticks (seconds) the window file may take before the user is told that the
// player did not answer.
inline constexpr uint16_t kWindowFileNoAnswerTicks = 10;

// What the exchange needs from the document.
struct ConfigExchangeHost {
    virtual ~ConfigExchangeHost() = default;
    // Sends one request to the current player (through the main window).
    // False when it could not be handed over.
    virtual bool sendToCurrentPlayer(const proto::PlayerPacketHeader& header, const QByteArray& payload) = 0;
    virtual QString playerFolder() const = 0;
    virtual QString currentPlayerIp() const = 0;
    virtual uint16_t playerVersion() const = 0;
    // The document's running sequence for requests it builds.
    virtual uint16_t sequence() const = 0;
    // Status-bar progress bar (range 100); -1 hides it.
    virtual void setProgress(int percent) = 0;
    virtual void postToMainWindow(unsigned message) = 0;
    // The fetch of files 1..7 or 17 ended: ask CMD_LOAD_STATE 0 and show
    // the wait box with "Loading..." (the fetch flags are already cleared).
    virtual void onFetchEnded() = 0;
    virtual void showWaitBox(const QString& text) = 0;
    virtual void hideWaitBox() = 0;
    virtual void notifyBlendWizard(uint16_t value) = 0;
    // Grid.QVE was written from the player's copy: read the grid settings.
    virtual void onGridFileFetched(const QString& path) = 0;
    // 4 = Chinese texts, else English.
    virtual unsigned language() const = 0;
};

class ConfigExchange {
public:
    enum Mode : uint16_t { Idle = 0, Fetch = 1, Upload = 2 };

    explicit ConfigExchange(ConfigExchangeHost& host);
    ConfigExchange(const ConfigExchange&) = delete;
    ConfigExchange& operator=(const ConfigExchange&) = delete;

    // Asks the current player for one file (arg 0, empty payload).
    bool RequestConfigFile(uint8_t file);
    // Starts a fetch at file 1 (then 2, 3, 4, 6, 7), 5, 17 or 18: progress
    // at 0, then the request. Does not change `active`.
    void StartFetch(uint8_t file);
    // Sends one file (with its trailer) and waits for its acknowledgement.
    // False when the file is missing, too big for one packet (with a
    // message) or could not be handed over.
    bool UploadConfigFile(uint8_t file);
    // Pushes one file an editor has just written (file 17 after the rotation
    // editor closes): the wait box with "Save Param Wait...", then the
    // upload; when it cannot start, the box and the progress bar go again.
    bool PushConfigFile(uint8_t file);

    // CMD_CONFIG_FILE reply (dispatcher code 54).
    void OnConfigFileReply(const QString& peerIp, const proto::PlayerPacketHeader& header, const uint8_t* payload,
                           std::size_t size);
    void OnConfigFileReply(const QString& peerIp, const proto::PlayerPacketHeader& header, const QByteArray& payload);
    // CMD_ADJUST_MODE reply (dispatcher code 12).
    void OnAdjustModeReply(const QString& peerIp, const proto::PlayerPacketHeader& header);
    // A reply with the not-supported bit: `rawCommand` is the command byte
    // as received. When it answers the exchange's request the exchange stops
    // (so the timer does not resend it every second); true then.
    bool OnNotSupportedReply(const QString& peerIp, uint8_t rawCommand);
    // Timer 1 tick (every 1,000 ms).
    void FetchParamsStep();

    // The menu commands mark an exchange running (the timer may repeat its
    // steps); a failed connection clears it.
    void SetActive(bool active);
    // The wait box closes: back to idle, the exchange stopped, the progress
    // bar off, the box hidden.
    void CloseWaitBox() { closeWaitBox(); }
    void ResetTicks() { ticks_ = 0; }

    Mode mode() const { return Mode(mode_); }
    uint8_t file() const { return uint8_t(file_); }
    uint16_t ticks() const { return ticks_; }
    bool active() const { return active_ != 0; }

private:
    void fetchNext(uint8_t file, int progress);
    void handleFetchReply(const uint8_t* payload, std::size_t size);
    void handleUploadAck();
    void uploadAfter(uint8_t acknowledged);
    // Back to idle with the progress bar off; `stopExchange` also ends the
    // running exchange (the timer stops repeating steps).
    void goIdle(bool stopExchange);
    void endFetch();
    void finishVideoPicFetch();
    void finishGridFetch();
    void closeWaitBox();
    void requestStatus();
    void giveUp();
    void repeatStep();
    bool writeConfigFile(uint8_t file, const uint8_t* data, std::size_t size);
    QString text(const char* english, const char* chinese) const;

    ConfigExchangeHost& host_;
    bool writeFailureShown_ = false;  // in the exchange that runs
    uint16_t mode_ = Idle;
    uint16_t file_ = 0;
    uint16_t ticks_ = 0;
    uint8_t active_ = 0;
    int repeats_ = 0;  // repeats of the step in flight
    uint16_t windowFileTicks_ = 0;  // ticks since the window file was asked for
};

// Rewrites an older JunctionPoint.QVE (23,593,349 bytes) in the current form
// (193,439 bytes). A file of any other length, or one whose counts do not
// fit the records, is left alone (false).
bool ConvertLegacyJunctionPoint(const QString& path);
// Rewrites an older CustomShapesPoint.QVE (82,944,024 bytes) as four edge
// shapes (307,224 bytes). Any other length, or a block whose width or height
// exceeds the canvas, leaves the file alone (false).
bool ConvertLegacyCustomShapes(const QString& path);

// Writes `size` bytes to `path` through a temporary file and a rename,
// creating missing folders. False (the old file untouched, `error` saying
// why) on failure.
bool WriteFileAtomically(const QString& path, const uint8_t* data, std::size_t size, QString* error = nullptr);
// The same for `bytes`; a failure names the file and the reason in `failure`.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, filecommit::WriteFailure* failure);

}  // namespace cfgx
