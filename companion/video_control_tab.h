#pragma once
// CVideoControlTab: Tollivar's "Video Control" window, one tab per player
// ticked in the scan (at most nine), each holding a CVideoControl page that
// controls its own player. The main window's dispatcher finds this window by
// its caption (caption prefix + "Video Control") and sends it the replies
// with the link's tag, which is the replying player's page index, as wParam;
// the window passes each one on to that page:
//   WM_VIDEO_LIST_REPLY       -> page, wParam 0 (PlayerCatalog*, owned)
//   WM_TRACKBAR_VALUES_REPLY  -> page, wParam 1 (ReplyStatusRecord*, owned)
//   WM_VIDEO_UPLOAD_REPLY     -> page, wParam 0 (const QString*)
//   WM_VIDEO_CONTROL_REPLY    -> page, wParam 10 (const QByteArray*)
//   WM_REPLY_TOO_SLOW         -> page, wParam 0 (posted by the hub)
// A reply for an index beyond the open pages is dropped (its record freed).

#include "companion/tollivar_dlg.h"
#include "companion/video_control.h"
#include "platform/window.h"

#include <QDialog>
#include <QString>

#include <vector>

class QTabWidget;

namespace tollivar {

class CVideoControlTab : public QDialog, public platform::MessageWindow {
public:
    static constexpr int kMaxPages = 9;

    // `tickMs`: the period of the pages' timer 5 (shortened by tests).
    CVideoControlTab(const QString& titlePrefix, const QString& tempFolder, const std::vector<TickedPlayer>& players,
                     unsigned language, int tickMs = CVideoControl::kTimerMs, QWidget* parent = nullptr);
    ~CVideoControlTab() override;

    // Starts every page (catalogue request, timer 5).
    void OnInitDialog();
    int PageCount() const { return int(pages_.size()); }
    CVideoControl* Page(int index) const;
    QTabWidget* Tabs() const { return tabs_; }
    // Closing stops every page's timer 5.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Forward(unsigned message, platform::WPARAM pageIndex, platform::WPARAM pageParam, platform::LPARAM lParam);

    QTabWidget* tabs_ = nullptr;
    std::vector<CVideoControl*> pages_;
    bool initialised_ = false;
};

// Opens the window maximised and modal over the main dialog (button 1002).
void OpenVideoControl(const FeatureContext& context);

}  // namespace tollivar
