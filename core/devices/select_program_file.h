#pragma once
// CSelectProgramFile: upgrades one part of the current player: the CPU
// program or the FPGA image over the player link (a name message, then
// acknowledged chunks), or the server program through the Android debug
// bridge and our script.

#include "core/devices/device_dialog.h"
#include "transport/chunk_source.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class CTextProgressCtrl;
class QLabel;
class QLineEdit;

namespace firmware {

enum Kind : uint8_t { kCpu = 1, kFpga = 2, kServer = 3 };

// One packet of a transfer.
struct Packet {
    proto::PlayerPacketHeader header;
    QByteArray payload;
    std::shared_ptr<const void> owner;  // keeps a payload that is a shared file chunk
    QString source;                     // the file such a payload comes from
    // The transfer before still waits for an answer, which may come later
    // or never and which nothing in it tells apart from this transfer's: the
    // packet goes on a new connection, which no answer of that one follows.
    bool freshLink = false;
};

// The CPU and FPGA transfer: name message, then chunks of at most
// 8,192,000 bytes, one per acknowledgement. Plain state, no widgets.
class FirmwareTransfer {
public:
    enum State { kNameSent = 0, kSending = 1, kLastSent = 2, kIdle = 3 };
    enum class Step { None, Sent, LatestVersion, Completed, OpenFailed, ReadFailed };

    // The name message for `path` with `subCode` (0 CPU, 1 FPGA); the name is
    // the text after the last separator, in code page 936. Nothing (and the
    // running transfer left alone) when the name cannot be held whole.
    std::optional<Packet> Begin(const QString& path, uint8_t subCode);
    // One reply (`arg` of its header; what a player puts in `param` is
    // not relied on, for not every player echoes the step there). `packet`
    // is filled when the next chunk goes out.
    Step OnReply(uint8_t code, uint16_t arg, Packet* packet);
    // The link went, or is about to: no reply of this transfer can come any
    // more. True when a transfer was running.
    bool Abort();
    // A packet of this transfer went and its answer has not come.
    bool AwaitsAnswer() const { return awaiting_; }

    State state() const { return state_; }
    uint16_t counter() const { return counter_; }
    // Percent of the file sent (truncated); 100 for an empty file.
    int Percent() const;
    QString path() const { return path_; }
    // After ReadFailed: the file could not be read, or changed while it was
    // being sent, naming it.
    QString FailureMessage(int language) const { return file_.FailureMessage(language); }

private:
    Step Chunk(Packet* packet);

    uint16_t counter_ = 0;
    uint8_t subCode_ = 0;
    State state_ = kIdle;
    QString path_;
    upload::Upload file_;
    // Answers come in the order of the packets, one each, and carry nothing
    // that says which packet they answer: only the connection tells an
    // answer of this transfer from one a replaced transfer still owes.
    bool awaiting_ = false;
};

// Where the server upgrade's script lies: beside the program, in "adb".
QString ScriptPath();
// The debug bridge on PATH; empty when it is not installed.
QString AdbPath();
// Starts the script with the player's address and the file as two arguments
// (never pasted into script text); false when it could not start.
bool RunServerUpgrade(const QString& playerIp, const QString& filePath);

}  // namespace firmware

class CSelectProgramFile : public CDeviceDialog {
public:
    CSelectProgramFile(uint8_t kind, const QString& playerIp, const QString& titlePrefix, QWidget* parent = nullptr);
    void OnInitDialog() {}

    void OnBrowse();
    void OnUpdate();  // IDOK "Update"
    void accept() override { OnUpdate(); }
    void done(int result) override;

    QLineEdit* PathEdit() const { return path_; }
    const firmware::FirmwareTransfer& Transfer() const { return transfer_; }
    CTextProgressCtrl* Progress() const { return progress_; }

private:
    platform::LRESULT OnReply(platform::WPARAM, platform::LPARAM lParam);
    // WM_LINK_CLOSED: wParam the link's event type, lParam its error code.
    platform::LRESULT OnLinkClosed(platform::WPARAM linkEvent, platform::LPARAM error);

    uint8_t kind_;
    QString playerIp_;
    QLineEdit* path_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
    firmware::FirmwareTransfer transfer_;
};
