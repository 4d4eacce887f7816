#pragma once
// CVideoSetWizard ("Video Set"): three pages in a row. Page 1 scans the
// network and takes the ticked players (the companion scan, in tick-box
// mode, five fresh rounds each time the page is entered); page 2, "Set Param",
// learns the players' roles and takes their acts and video types; page 3,
// "Batch Send", sends the videos and the video-type document.
//
// Only the active page carries its caption: the main window's dispatcher,
// which finds pages 2 and 3 by caption, reaches neither while it is hidden,
// so a reply meant for one page never reaches another.

#include "companion/tollivar_dlg.h"

#include <QDialog>
#include <QString>

#include <vector>

class CBatchSend;
class CSetParam;
class QPushButton;
class QStackedWidget;

namespace tollivar {
class CScanForDevices;
}

class CVideoSetWizard : public QDialog {
public:
    CVideoSetWizard(const QString& titlePrefix, const QString& tempFolder, QWidget* parent = nullptr);
    ~CVideoSetWizard() override;

    int ActivePage() const;
    // Next and Back of the wizard (public so that tests can drive them).
    void OnNext();
    void OnBack();
    void OnFinish();
    void reject() override;  // Cancel: asks first
    // Page 1's Next with these players ticked.
    void EnterParamPage(const std::vector<tollivar::TickedPlayer>& ticked);

    tollivar::CScanForDevices* SelectPage() const { return select_; }
    CSetParam* ParamPage() const { return param_; }
    CBatchSend* BatchPage() const { return batch_; }

private:
    QString Text(const char* english, const char* chinese) const;
    void Show(int page);
    void StartScan();
    void StopPages();

    unsigned language_;
    std::vector<tollivar::TickedPlayer> ticked_;
    QStackedWidget* stack_ = nullptr;
    tollivar::CScanForDevices* select_ = nullptr;
    CSetParam* param_ = nullptr;
    CBatchSend* batch_ = nullptr;
    QPushButton* backButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* finishButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

// Opens the wizard modally over `parent` (the main dialog's button 1001).
void OpenVideoSetWizard(QWidget* parent, const QString& titlePrefix, const QString& tempFolder);
