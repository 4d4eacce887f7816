#pragma once
// CBatchSend ("Batch Send"): the Video Set wizard's last page. It works
// through the players one after another: asks for the catalogues of acts 0
// and 1, leaves out the videos a player holds already, checks the free
// space, uploads the rest in 8,192,000-byte chunks, one per acknowledgement,
// then sends VideoTypeProtocol.Json; the links are closed between players.
// A watchdog (timer 9, every second) sends the last request again after 30
// seconds without an accepted reply; from the fourth try the player is
// marked "Time Out".
//
// Requests go to Tollivar's main window (found by the application title)
// with WM_SEND_TO_PLAYER, each with the player as its one target. Replies
// come from the main window's dispatcher, which finds this page by its
// caption:
//   WM_VIDEO_LIST_REPLY        lParam a heap PlayerCatalog (freed here)
//   WM_VIDEO_UPLOAD_REPLY      wParam, lParam: the reply's u16 at 8 and at 10
//   WM_CONTROL_PROTOCOL_REPLY  the document was taken
//   WM_LINK_CLOSED             a link to the player closed
//   WM_PARAM_FILE_REPLY        ignored

#include "companion/video_set_model.h"
#include "platform/window.h"
#include "transport/records.h"
#include "transport/chunk_source.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class CTextProgressCtrl;
class QLabel;
class QPushButton;
class QTableWidget;

namespace videoset {


struct BatchDevice {
    enum Status : uint32_t { kTimeOut = 1, kSmallDisk = 2, kSending = 5, kWaiting = 6, kDone = 7 };
    QString ip;
    QString portText;
    uint32_t status = kWaiting;
    uint8_t tries = 0;
    uint8_t seconds = 0;
    uint8_t lastCommand = 0;  // 19, 20 or 3
    std::vector<BatchFile> files;
    // Files whose last chunk went out: only these count as sent.
    uint32_t filesSent = 0;
    // Files that could not be read and were passed over unsent.
    uint32_t filesPassedOver = 0;
    // The file being sent, counted from 0.
    std::size_t FileIndex() const { return std::size_t(filesSent) + filesPassedOver; }
};

// The text of the "Update Video" column.
QString StatusText(const BatchDevice& device, unsigned language);

}  // namespace videoset

class CBatchSend : public QWidget, public platform::MessageWindow {
public:
    static constexpr unsigned kWatchdogTimer = 9;
    static constexpr int kWatchdogSeconds = 30;
    static constexpr int kMaxTries = 4;

    CBatchSend(const QString& tempFolder, QWidget* parent = nullptr);
    ~CBatchSend() override;

    // Activation: the players and acts of the parameter page.
    void SetDevices(const std::vector<videoset::DeviceSetup>& devices);
    void OnSend();  // 2402
    void OnStop();  // 2404
    // Stops a running batch cleanly (the wizard closes or the page is left).
    void Shutdown();

    // Shortened clocks for tests: the watchdog tick and the pause between players.
    void SetClock(int tickMs, int pauseMs)
    {
        tickMs_ = tickMs;
        pauseMs_ = pauseMs;
    }

    const std::vector<videoset::BatchDevice>& Devices() const { return devices_; }
    // Where the progress bar stands (0-100).
    uint64_t Progress() const;
    bool IsStopped() const { return stopped_; }
    QString StatusLine() const;
    QTableWidget* List() const { return list_; }

    void onTimer(unsigned id) override;

private:
    QString Text(const char* english, const char* chinese) const;
    platform::LRESULT OnVideoList(platform::WPARAM wParam, platform::LPARAM lParam);
    platform::LRESULT OnUploadReply(platform::WPARAM wParam, platform::LPARAM lParam);
    platform::LRESULT OnDocumentTaken();
    platform::LRESULT OnLinkClosed();
    // `bodyOwner` set: the payload is a mapped chunk, shared with the link
    // rather than copied into the packet.
    void Send(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, const QByteArray& payload = {},
              std::shared_ptr<const void> bodyOwner = nullptr, const QString& source = QString());
    void CloseLinks();
    void QueryCatalogue(uint16_t argument);
    void StartFile();
    void SendChunk(upload::Upload::Chunk&& chunk);
    // The file in flight cannot be read whole: said, and the next one goes.
    void FileUnreadable();
    void SendDocument();
    void NextPlayer();
    void StartCurrentPlayer();
    void Finish();
    void Accepted();  // a reply was taken: the watchdog starts again
    void ShowStatuses();
    videoset::BatchDevice* Current();

    unsigned language_;
    QString tempFolder_;
    std::vector<videoset::DeviceSetup> setups_;
    std::vector<videoset::BatchDevice> devices_;
    std::size_t current_ = 0;
    uint16_t askedCatalogue_ = 0;
    // Each chunk goes from the page cache to the socket without a copy in
    // between; the next one is fetched from the disk meanwhile.
    upload::Upload upload_;
    QStringList passedOver_;  // read-failure messages of this batch
    PlayerCatalog catalogues_[2];
    bool stopped_ = true;
    bool closedDuringClose_ = false;
    bool closing_ = false;
    int tickMs_ = 1000;
    int pauseMs_ = 2000;
    uint64_t pauseGeneration_ = 0;

    QTableWidget* list_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
};
