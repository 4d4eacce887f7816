#pragma once
// CRotate ("Rotate set"): the video-wall rotation editor. The operator picks
// display models, assigns them to the player's channels on screen 1 or 2,
// lays the wall out and arranges, turns and frames it on the canvas while
// the player shows each edit live (Rotate.Json). The document saves
// config/Rotate.QVE after the editor closes.
//
// The dialog is thin: the records and every rule live in RotateModel; this
// class turns input into model calls and shows the result.

#include "common/controls/default_window_proc.h"
#include "platform/window.h"
#include "rotation/rotate_model.h"
#include "transport/announcement.h"

#include <QDialog>

#include <array>
#include <vector>

class QButtonGroup;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace rotation {
class CanvasWidget;
}

// What the document hands the editor when it opens it.
struct RotateEditorSetup {
    std::vector<DeviceRecord> devices;
    QString ip;
    QString mac;
    uint16_t port = 0;
    uint16_t reserved = 0;
    uint16_t channelCode = 0;
    QString configFolder;  // the player's folder; config/Rotate.QVE lies below it
    QString tempFolder;    // where Rotate.Json is written before it is sent
    QString prefix;        // caption prefix
};

class CRotate : public controls::DefaultProcessing<QDialog>, public platform::MessageWindow {
    Q_OBJECT
public:
    static constexpr int kDialogId = 344;
    static constexpr unsigned kTickTimer = 1;
    static constexpr int kTickMs = 500;

    explicit CRotate(RotateEditorSetup setup, QWidget* parent = nullptr);
    ~CRotate() override;

    rotation::RotateModel& model() { return model_; }
    const std::vector<rotation::OutputDevice>& monitorList() const { return monitorList_; }
    QRect slotRowRect(int row) const { return rows_[std::size_t(row & 1)]; }

    // Persistence (config/Rotate.QVE and Monitor/monitors.json).
    void LoadRotateConfig(bool read);
    // False, said to the operator with the reason, when the file could not
    // be written: the one on disk is then not what the editor shows.
    bool SaveRotateConfig();
    void LoadMonitorList();

    // Handlers (named as the message map names them).
    void OnManufacturerChanged();
    void OnModelChanged();
    void ShowSelectedMonitor();
    void OnEditMonitors();
    void OnSlotDoubleClick(QPoint p);
    void OnAddOutputsToWall();
    void OnClearSelection();
    void OnScreen1();
    void OnScreen2();
    void OnBackgroundDisplayChanged();
    void OnSetAspectRatio();
    void OnRotateMinus();
    void OnRotatePlus();
    void OnRemove();
    void OnRearrange();
    void OnRotateReply();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QString text(const char* english, const char* chinese) const;
    void buildControls();
    void LayOutSlotRows();
    // Keys handled before any control sees them; true when consumed.
    bool handleKey(int key);
    void refreshCanvas();
    void updateSelectionControls();
    void updateWallControls();
    void showScreenControls();
    void fillManufacturerList();
    void message(const QString& text);
    void applyCursor(int resource);

    RotateEditorSetup setup_;
    unsigned language_ = 9;
    rotation::RotateModel model_;
    std::vector<rotation::OutputDevice> monitorList_;
    std::vector<QString> manufacturerList_;
    std::vector<QString> modelList_;
    std::array<QRect, 2> rows_;

    QComboBox* manufacturerBox_ = nullptr;  // 4701
    QComboBox* modelBox_ = nullptr;         // 4702
    QPushButton* addButton_ = nullptr;      // 4704
    QRadioButton* screen1_ = nullptr;       // 4718
    QRadioButton* screen2_ = nullptr;       // 4719
    QButtonGroup* screens_ = nullptr;
    QComboBox* angleBox_ = nullptr;         // 4721
    QPushButton* minusButton_ = nullptr;    // 4722
    QPushButton* plusButton_ = nullptr;     // 4723
    QComboBox* backgroundBox_ = nullptr;    // 4720
    std::array<QLineEdit*, 8> properties_{};  // 4706, 4707, 4715, 4716, 4709, 4710, 4711, 4712
    QPushButton* removeButton_ = nullptr;   // 4724
    QComboBox* rowBox_ = nullptr;           // 4726
    QComboBox* columnBox_ = nullptr;        // 4727
    QLineEdit* ratioWidth_ = nullptr;       // 4729
    QLineEdit* ratioHeight_ = nullptr;      // 4730
    QPushButton* ratioButton_ = nullptr;    // 4731
    QFrame* canvasGroup_ = nullptr;         // 4717
    rotation::CanvasWidget* canvas_ = nullptr;
};
