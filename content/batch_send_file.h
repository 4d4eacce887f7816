#pragma once
// One batch page: finds players itself (its own UDP endpoint on port 6001),
// and sends one set of videos, layouts and material to every ticked player,
// one after another, on its own TCP link. Three live in CBatchSendFileTab.
//
// All protocol state belongs to the UI thread: link events arrive there
// (TCP through the host by link index, UDP straight from the page's own
// endpoint) and the page's timers run there.

#include "common/digest.h"
#include "content/batch_model.h"
#include "platform/window.h"
#include "transport/records.h"
#include "transport/scan_engine.h"
#include "transport/chunk_source.h"
#include "transport/upload_chunks.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class CTCPClient;
class CUDPServer;
class CTextProgressCtrl;
struct LinkEvent;
struct UdpLinkEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

class CBatchSendFile : public QWidget {
public:
    enum Column { kColSn, kColIp, kColMac, kColPort, kColId, kColVer, kColVideo, kColLayout, kColumnCount };
    static constexpr unsigned kScanTimerId = 4;
    static constexpr unsigned kWatchdogTimerId = 9;
    static constexpr int kScanPeriodMs = 2000;

    // `host` receives the TCP link's events (relayed back by link index).
    CBatchSendFile(int pageIndex, const QString& titlePrefix, unsigned language, platform::WindowHandle host,
                   QWidget* parent = nullptr);
    ~CBatchSendFile() override;

    // Controls.
    void OnUpdateCards();  // "Updata"
    void OnScan();         // "Scan" / "Stop"
    void OnAll();
    void OnInvert();
    void OnSend();
    void OnStop();
    // "Do you really want to quit?"; true when the page may close (it has
    // then stopped its timers and closed its link and endpoint).
    bool OnCancel();
    // Ends everything without asking: timers, files, link and endpoint.
    void Shutdown();

    // Events.
    void OnTcpEvent(const LinkEvent& event);
    void OnUdpEvent(const UdpLinkEvent& event);
    void OnWatchdogTick();
    void OnScanTick();

    // Folders and material (an empty material folder means "Material" of the
    // home folder, looked up at each send).
    void SetFolders(const QString& firstAct, const QString& secondAct, const QString& layouts);
    void SetMaterialFolder(const QString& folder) { materialFolder_ = folder; }
    // The watchdog's clock: one tick every `tickMs`, a step repeated after
    // `ticksPerTry` ticks without a reply (1,000 ms and 20 in use).
    void SetWatchdogClock(int tickMs, int ticksPerTry);

    // The list (also for tests): rows as the scan left them.
    void AddRow(const PlayerRow& row);
    void SetTicked(int row, bool ticked);
    int RowCount() const;
    QString Cell(int row, int column) const;
    bool IsTicked(int row) const;

    bool IsIdle() const { return idle_; }
    // A material file's MD5 is being worked out (its announce waits).
    bool IsHashing() const;
    bool IsScanning() const;
    QString StatusLine() const;
    int PageIndex() const { return pageIndex_; }
    uint16_t EndpointPort() const;
    const std::vector<scan::CardEntry>& Cards() const { return cards_; }
    QComboBox* CardCombo() const { return cardCombo_; }

protected:
    void keyPressEvent(class QKeyEvent* event) override;
    void keyReleaseEvent(class QKeyEvent* event) override;

private:
    struct Target {
        QString ip;
        uint16_t port = 0;
        uint32_t videoStatus = batch::kNoChoice;
        uint32_t layoutStatus = batch::kNoChoice;
        uint32_t videoOrdinal = 0;
        uint32_t layoutsSent = 0;
        int tries = 0;
        int seconds = 0;
        int restarts = 0;
        uint8_t lastCommand = 0;
        bool secondAct = false;
        // A file of that column could not be read and did not reach the
        // player: the column ends "Not delivered", not "OK".
        bool videoMissed = false;
        bool layoutMissed = false;
    };

    QString T(const batch::Message& m) const { return batch::Text(m, language_); }
    void BuildControls();
    void EnableControls(bool enable);
    void RebuildRows(bool checkable);
    void SetCell(int row, int column, const QString& text);
    void Broadcast();
    void StopScanning();
    void EndBatchQuietly();

    // Transfer.
    bool Request(const QByteArray& packet, uint8_t command);
    bool Request(const QByteArray& head, const QByteArray& body, std::shared_ptr<const void> owner, uint8_t command,
                 const QString& source = QString());
    // A chunk as the body of its packet, shared with the link.
    bool RequestChunk(const proto::PlayerPacketHeader& header, upload::Upload::Chunk&& chunk, uint8_t command);
    void StartPlayer();
    // Closes the link and forgets what was in flight on it.
    void DropLink();
    void AfterThisEvent(std::function<void()> step);
    void EndPlayer();
    void CutOnTheLink(const QString& source);
    void PlayerFinished();
    void OnReply(const ReplyAssembler& reply);
    void NextVideo();
    void SendVideo(std::size_t index, bool again);
    void SendVideoChunk(upload::Upload::Chunk&& chunk);
    // The video or material file in flight cannot be read whole, or
    // `changed` since it was announced: said in the status line, and the
    // batch goes on with the next file.
    void VideoUnreadable(bool changed = false);
    void MaterialUnreadable(bool changed = false);
    void LayoutUnreadable(std::size_t index);
    // Says in the status line that `path` could not be read (or changed
    // while it was being sent); the line that ends the batch names each
    // such file once.
    void PassOver(const QString& path, bool changed = false);
    void StartLayouts();
    void SendLayout(std::size_t index);
    void AfterLayouts();
    void AnnounceMaterial(std::size_t index);
    void SendMaterialChunk(upload::Upload::Chunk&& chunk);
    void NextMaterial();
    void RefreshColumns();
    void Progress(uint64_t lower, uint64_t upper, uint64_t pos, bool visible);
    void SetStatusLine(const QString& text);

    int pageIndex_ = 0;
    QString titlePrefix_;
    unsigned language_ = 9;
    platform::WindowHandle host_ = 0;
    QString materialFolder_;
    int watchdogTickMs_ = 1000;
    int ticksPerTry_ = 20;

    std::unique_ptr<CTCPClient> link_;
    std::unique_ptr<CUDPServer> endpoint_;
    std::unique_ptr<platform::MessageWindow> udpReceiver_;
    std::unique_ptr<ReplyAssembler> assembler_;
    QTimer* scanTimer_ = nullptr;
    QTimer* watchdog_ = nullptr;

    // Scan.
    std::vector<scan::CardEntry> cards_;
    scan::CardEntry openCard_;
    std::vector<PlayerRow> rows_;
    std::vector<DeviceRecord> records_;
    bool scanning_ = false;

    // Batch.
    bool idle_ = true;
    uint64_t generation_ = 0;  // bumped by every start and stop; stale continuations check it
    bool stepScheduled_ = false;  // a step waits for the current link event to end
    uint16_t sequence_ = 0;
    std::vector<Target> targets_;
    std::size_t current_ = 0;
    std::vector<batch::VideoEntry> videos_;
    QStringList layouts_;
    std::vector<QByteArray> layoutNames_;
    std::vector<batch::MaterialEntry> material_;
    std::vector<QByteArray> materialNames_;
    uint64_t neededMB_ = 0;
    std::unique_ptr<std::array<PlayerCatalog, 2>> catalogs_;
    std::size_t videoCursor_ = 0;
    std::size_t videoInFlight_ = 0;
    upload::Upload video_;
    std::size_t layoutCursor_ = 0;
    std::size_t layoutInFlight_ = 0;
    std::size_t materialInFlight_ = 0;
    upload::Upload materialFile_;
    digest::BackgroundMd5 materialMd5_;
    QStringList passedOver_;  // read-failure messages of this batch

    // Controls.
    QTableWidget* list_ = nullptr;
    QComboBox* cardCombo_ = nullptr;
    QPushButton* updata_ = nullptr;
    QPushButton* scan_ = nullptr;
    QPushButton* all_ = nullptr;
    QPushButton* invert_ = nullptr;
    QLineEdit* folders_[3] = {nullptr, nullptr, nullptr};
    QPushButton* browse_[3] = {nullptr, nullptr, nullptr};
    QPushButton* send_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* status_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
};
