#pragma once
// COSD ("OSD", the same caption in both languages): the editor of a
// player's text banner. It asks the player for its OSD.Json (3, kind 4) when
// it opens, shows the settings in a property grid with a speed slider, and
// sends the document back (3, kind 4, the document as payload) on Save and
// whenever the slider changes the speed once the player has answered.
//
// Requests go to Tollivar's main window (found by the application title)
// with WM_SEND_TO_PLAYER and an empty target list (the player chosen in the
// scan). The main window's dispatcher finds this window by its caption:
//   WM_OSD_REPLY  wParam the reply's kind, lParam const QByteArray* (the
//                 document, valid during the call)

#include "companion/osd_record.h"
#include "platform/window.h"

#include <QDialog>
#include <QString>
#include <QVariant>

class PropertyGrid;
class PropertyItem;
class QPushButton;
class QSlider;

class COSD : public QDialog, public platform::MessageWindow {
public:
    // Data numbers of the grid's rows (1 is not used: the corner radius is
    // kept and sent but not shown).
    enum Row : quintptr {
        kBgColor = 0, kTextColor = 2, kShowTime = 3, kLeft = 4, kTop = 5, kWidth = 6, kHeight = 7,
        kText = 8, kTransparent = 9, kEnable = 10, kGroup = 100
    };

    // `tempFolder` (the main dialog's working folder) receives OSD.Json.
    explicit COSD(const QString& tempFolder, QWidget* parent = nullptr);
    ~COSD() override;

    // Asks the player for its settings and builds the grid; runs once,
    // before the dialog is first shown (exec and show call it).
    void OnInitDialog();
    void OnOK();      // 1 "Save"
    void OnCancel();  // 2 "Exit"
    void accept() override;  // Save; the dialog stays open
    void reject() override;  // the window's close box asks as Exit does

    const OsdSettings& Settings() const { return settings_; }
    bool ReplySeen() const { return replySeen_; }
    PropertyGrid* Grid() const { return grid_; }
    QSlider* Slider() const { return slider_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString Text(const char* english, const char* chinese) const;
    void RebuildGrid();
    void OnPropertyChanged(PropertyItem* item, quintptr data, const QVariant& oldValue, const QVariant& newValue);
    void OnSpeedSlider(int position);
    platform::LRESULT OnOsdReply(platform::WPARAM wParam, platform::LPARAM lParam);
    void SendOsd();
    void Warn(const char* english, const char* chinese);

    unsigned language_;
    QString tempFolder_;
    OsdSettings settings_;
    PropertyGrid* grid_ = nullptr;
    QSlider* slider_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    bool replySeen_ = false;
    bool initialised_ = false;
};

// Opens the dialog modally over `parent` (the main dialog's button 1003).
void OpenOsd(QWidget* parent, const QString& tempFolder);
