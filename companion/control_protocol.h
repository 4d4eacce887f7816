#pragma once
// CControlProtocol ("Setup UART"): the editor of one player's serial control
// protocol. It fetches the player's video store (19) and then its protocol
// document (3, kind 1), shows the document in five property grids, learns
// byte strings from the player's serial port (50, polled every 2 s once the
// document has arrived), and sends the edited document back (3, kind 1,
// sub-code = the answer to the restart question). Load and Save As move the
// document to and from files.
//
// Requests go to Tollivar's main window (found by the application title)
// with WM_SEND_TO_PLAYER and an empty target list (the player chosen in the
// scan). Replies come from the main window's dispatcher, which finds this
// window by its caption ("Setup UART" or its Chinese twin, without prefix):
//   WM_VIDEO_LIST_REPLY        wParam 0, lParam a heap PlayerCatalog (freed here)
//   WM_CONTROL_PROTOCOL_REPLY  wParam 1, lParam const QByteArray* (the document, valid during the call)
//   WM_USART_DATA_REPLY        lParam a heap tollivar::UsartDataRecord (freed here)
//   WM_REPLY_TOO_SLOW          lParam const QString* (the player), a reply dropped as too slow
//
// Until the player's own document has been read (its reply was dropped, or
// an older player does not answer) the grids hold the defaults: Save To
// Device then asks before they replace the player's settings.

#include "companion/control_protocol_record.h"
#include "companion/hub_records.h"
#include "companion/slow_reply_notice.h"
#include "platform/window.h"
#include "transport/records.h"

#include <QDialog>
#include <QVariant>
#include <QString>

#include <array>
#include <memory>

class PropertyGrid;
class PropertyItem;
class QGroupBox;
class QPushButton;

namespace controlprotocol {

inline constexpr const char* kCaptionEnglish = "Setup UART";
inline constexpr const char* kCaptionChinese = "串口设置";
inline constexpr unsigned kPollTimerId = 7;
inline constexpr int kPollTimerMs = 2000;
inline constexpr int kExitDelayMs = 1000;

// The player's folder names (the categories whose 8-byte name is not empty,
// each decoded within its 8 bytes, in category order), less those already
// used as a folder name in `record`, fill the record's empty folder names
// from folder 1 on. A name is never given twice.
void FillFolderNames(ControlProtocolRecord& record, const PlayerCatalog& catalog);

// Received serial bytes as a command text: "%02X" per byte.
QString LearnedCommand(const tollivar::UsartDataRecord& record);

}  // namespace controlprotocol

class CControlProtocol : public QDialog, public platform::MessageWindow {
public:
    // `captionPrefix` and `tempFolder` come from the main dialog; the
    // document for the player is written into `tempFolder`. The caption
    // itself carries no prefix: the dispatcher looks for it as it stands.
    CControlProtocol(const QString& captionPrefix, const QString& tempFolder, QWidget* parent = nullptr);
    ~CControlProtocol() override;

    // Sends the first request (19); runs once, before the dialog is first
    // shown (exec and show call it).
    void OnInitDialog();

    // Control handlers (public so that tests can drive them).
    void OnLoad();    // 2606
    void OnSaveAs();  // 2607
    void OnOK();      // 1 "Save To Device"
    void OnCancel();  // 2 "Exit"
    void reject() override;  // the window's close box asks as Exit does
    void accept() override;  // Save To Device; the dialog stays open

    const ControlProtocolRecord& Record() const { return record_; }
    // The five grids by control id 2601 .. 2605.
    PropertyGrid* Grid(int id) const;

    void onTimer(unsigned id) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Text(const char* english, const char* chinese) const;
    void BuildGrids();
    void BuildHostGrid();
    void BuildSerialGrid();
    void BuildFolderGrid();
    void BuildLayoutGrid();
    void BuildSwitchGrid(PropertyGrid* grid, const std::array<SwitchCommand, 64>& entries, const QString& groupLabel,
                         const QString& nameLabel);
    void BuildProjectorGrid();
    void CommitEditors();
    void OnPropertyChanged(int gridId, PropertyItem* item, const QVariant& newValue);
    bool StoreCommand(PropertyItem* item, QString& stored, const QVariant& typed);
    platform::LRESULT OnVideoListReply(platform::WPARAM wParam, platform::LPARAM lParam);
    platform::LRESULT OnProtocolReply(platform::WPARAM wParam, platform::LPARAM lParam);
    platform::LRESULT OnUsartData(platform::WPARAM wParam, platform::LPARAM lParam);
    void SendRequestPacket(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg,
                           const QByteArray& payload = QByteArray());
    bool SendProtocolFile(bool restart);

    unsigned language_;
    QString captionPrefix_;
    QString tempFolder_;
    ControlProtocolRecord record_;
    std::unique_ptr<PlayerCatalog> catalog_;
    PropertyGrid* grids_[5] = {};
    QGroupBox* boxes_[5] = {};
    QPushButton* saveButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* loadButton_ = nullptr;
    QPushButton* saveAsButton_ = nullptr;
    bool initialised_ = false;
    bool closing_ = false;
    bool playerDocumentRead_ = false;
    tollivar::SlowReplyNotice slowNotice_;
};

// Opens the dialog modally over `parent` (the main dialog's button 1004).
void OpenControlProtocol(QWidget* parent, const QString& captionPrefix, const QString& tempFolder);
