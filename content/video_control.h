#pragma once
// CVideoControl: "Video Control", the operator's remote control for what the
// connected player plays: types, videos and layouts as rows of buttons, five
// play modes, play, pause, previous, next, the volume and the play position.
// Every action is one VideoControl.Json sent with CMD_VIDEO_CONTROL.

#include "common/controls/remote_panel.h"
#include "platform/window.h"
#include "transport/remote_control.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>


class CVideoControl : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    static constexpr unsigned kTimer = 5;
    static constexpr int kTimerMs = 1000;
    static constexpr int kNoType = 9999;

    CVideoControl(const QString& titlePrefix, const QString& folder, QWidget* parent = nullptr);
    ~CVideoControl() override;

    // Sends the catalogue request and starts timer 5 (dialog start).
    void OnInitDialog();
    void onTimer(unsigned id) override;

    void OnTypeButton(int i) { OnListButton(remote::ListButton::Type, i); }
    void OnVideoButton(int j) { OnListButton(remote::ListButton::Video, j); }
    void OnLayoutButton(int i) { OnListButton(remote::ListButton::Layout, i); }
    void OnModeButton(remote::PlayMode mode);
    void OnPlay(bool play);

    const std::vector<remote::PlayTypeEntry>& types() const { return types_; }
    const QStringList& layouts() const { return layouts_; }
    bool polling() const { return polling_; }
    QString timeText() const;
    QString nameText() const;
    int progress() const;
    QCheckBox* videoCheck() const { return panel_.videoCheck; }
    QSlider* volume() const { return panel_.volume; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void Send(int cmdId, const QString& value);
    void OnLayoutList(const QString& text);
    void OnListButton(remote::ListButton button, int index);
    void ListVideos(const QStringList& videos);
    void OnProgressReply(const QByteArray& payload);
    void LayoutControls();
    // Tab walks the panels as they are read; built buttons join the walk.
    void UpdateTabOrder();
    QPushButton* MakeButton(const QString& label, int id, QWidget* parent);

    int language_;
    QString folder_;
    std::vector<remote::PlayTypeEntry> types_;
    QStringList layouts_;
    int selectedType_ = kNoType;
    bool volumeChanged_ = false;
    bool polling_ = false;
    bool buttonsBuilt_ = false;

    controls::RemotePanel panel_;
    std::array<QPushButton*, 5> modeButtons_{};
    QPushButton* play_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QWidget* startFocus_ = nullptr;  // where the dialog put the focus
};
