#pragma once
// CTollivarDlg: Tollivar's main dialog. A launcher with four buttons, each
// opening one feature window after a device scan, and at the same time the
// program's hub for the player links (CLinkHub): its caption is the
// application title, by which every window finds it.

#include "companion/link_hub.h"
#include "platform/window.h"
#include "transport/announcement.h"
#include "transport/records.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPushButton;

namespace tollivar {

// One player ticked in a tick-box scan.
struct TickedPlayer {
    QString ip;
    QString portText;
};

// What a device scan closed with OK hands back.
struct ScanOutcome {
    PlayerRow chosen;                    // single mode
    std::vector<TickedPlayer> ticked;    // tick-box mode
    std::vector<DeviceRecord> devices;   // every player seen, sorted by IP text
};

// What a feature window is opened with.
struct FeatureContext {
    QString titlePrefix;
    QString tempFolder;  // with a trailing '/'
    PlayerRow device;    // the chosen device (empty for "Video Set")
    std::vector<TickedPlayer> ticked;
    std::vector<DeviceRecord> devices;
    QWidget* parent = nullptr;
};
// Runs one feature window modally and returns when it has closed.
using FeatureOpener = std::function<void(const FeatureContext&)>;

// One opener per button; a button without one is shown disabled.
struct FeatureOpeners {
    FeatureOpener videoSet;      // 1001
    FeatureOpener videoControl;  // 1002, scans with tick boxes
    FeatureOpener osd;           // 1003
    FeatureOpener setupUart;     // 1004
};

// The device scan: modal, scanning at once; nothing when it ended without OK.
using ScanRunner = std::function<std::optional<ScanOutcome>(const QString& titlePrefix, bool tickBoxes, QWidget* parent)>;

// "Tollivar V1.23" gives "Tollivar-": the title up to its first blank, then "-".
QString CaptionPrefixOf(const QString& title);
// Deletes `path` and everything in it. A symbolic link is removed as a link:
// its target is never entered nor deleted. False when something stayed.
bool DeleteFolderTree(const QString& path);

class CTollivarDlg : public QDialog, public platform::MessageWindow {
public:
    enum ButtonId { kVideoSet = 1001, kVideoControl = 1002, kOsd = 1003, kSetupUart = 1004 };

    CTollivarDlg(const QString& title, unsigned language, FeatureOpeners openers, QWidget* parent = nullptr);
    ~CTollivarDlg() override;

    // The scan run by buttons 1002-1004 (the companion scan dialog unless set).
    void setScanRunner(ScanRunner runner) { scanRunner_ = std::move(runner); }

    // Button handlers (public so that tests can drive them).
    void OnVideoSet();
    void OnVideoControl();
    void OnOsd();
    void OnSetupUart();
    void OnAbout();
    // Exit: asks, deletes the Temp folder, fades the window out and closes.
    void reject() override;
    // A signal (SIGTERM, SIGINT, SIGHUP) ends the program as Exit does but
    // asks nothing: every open loop ends now (a feature window and a
    // question waiting for its answer included; each feature window stops
    // its work and closes its links in order on its way out). Once the
    // dialog's own loop has returned, EndAfterSignal closes what links are
    // left and deletes the Temp folder.
    void CloseWithoutQuestions();
    bool IsClosingBySignal() const { return signalled_; }
    void EndAfterSignal();

    CLinkHub& hub() { return *hub_; }
    QString titlePrefix() const { return titlePrefix_; }
    QString tempFolder() const { return tempFolder_; }
    const PlayerRow& currentDevice() const { return currentDevice_; }
    const std::vector<DeviceRecord>& devices() const { return devices_; }
    QPushButton* button(ButtonId id) const;
    unsigned language() const { return language_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void RunScannedFeature(const FeatureOpener& opener, bool tickBoxes);
    QString Text(const char* english, const char* chinese) const;

    unsigned language_;
    QString titlePrefix_;
    QString tempFolder_;
    PlayerRow currentDevice_;
    std::vector<DeviceRecord> devices_;
    FeatureOpeners openers_;
    ScanRunner scanRunner_;
    std::unique_ptr<CLinkHub> hub_;
    QPushButton* buttons_[4] = {};
    bool closing_ = false;  // Exit confirmed: the window is fading out
    bool signalled_ = false;
};

}  // namespace tollivar
