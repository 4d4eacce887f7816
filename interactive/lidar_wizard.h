#pragma once
// CLidarWizard: the three-page lidar set-up (selection, parameters and
// corner calibration with the live view, check). The sheet's caption is
// always the active page's, because the document finds the pages by
// caption (without the prefix) to hand them CMD_LIDAR replies, and the
// parameter page's UDP endpoint names it the same way.

#include "interactive/lidar_model.h"
#include "interactive/lidar_plot.h"
#include "platform/window.h"

#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class CUDPServer;
class PropertyGrid;
class PropertyItem;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;
struct UdpLinkEvent;
class CLidarWizard;

// Wizard buttons, as a page asks for them.
enum WizardButtons : unsigned { kWizBack = 1, kWizNext = 2, kWizFinish = 4 };

class CLidarPage : public QWidget {
public:
    CLidarPage(CLidarWizard* sheet, const char* caption);
    QString caption() const;
    virtual void OnSetActive() {}
    // True: the sheet moves on.
    virtual bool OnWizardNext() { return true; }
    virtual bool OnWizardBack() { return true; }
    virtual bool OnWizardFinish() { return true; }
    virtual bool OnQueryCancel();
    virtual void OnLidarReply(uint16_t, const QByteArray&) {}

protected:
    // Writes nothing and sends nothing when no main window takes it.
    bool SendLidar(uint16_t operation, const QByteArray& payload = QByteArray());
    // Writes the document to the working folder, reads it back, sends it.
    bool SendDocument(uint16_t operation, const QString& name, const Json::Value& doc);
    QString T(const char* english) const { return lidar::LidarText(english, language_); }
    CLidarWizard* sheet_;
    const char* caption_;
    unsigned language_;
};

class CLidarSelect : public CLidarPage {
public:
    explicit CLidarSelect(CLidarWizard* sheet);
    void OnSetActive() override;
    bool OnWizardNext() override;
    void OnLidarReply(uint16_t operation, const QByteArray& payload) override;
    void OnAddLidar();
    void OnDeleteLidar();
    void ShowLidar(std::size_t index);
    std::vector<lidar::LidarSettings>& lidars() { return lidars_; }
    const std::vector<lidar::LidarModelInfo>& models() const { return models_; }
    QComboBox* modelCombo() const { return combo_; }
    QTreeWidget* tree() const { return tree_; }
    PropertyGrid* grid() const { return grid_; }
    void setPlayerIp(const QString& ip) { playerIp_ = ip; }

private:
    void FillLidarTree();
    void OnPropertyChanged(PropertyItem* item, quintptr data, const QVariant& oldValue, const QVariant& newValue);
    int SelectedLidar() const;  // -1 for the root or no selection
    std::vector<lidar::LidarSettings> lidars_;
    std::vector<lidar::LidarModelInfo> models_;
    QString playerIp_;
    QComboBox* combo_;
    QTreeWidget* tree_;
    PropertyGrid* grid_;
    QPushButton* add_;
    QPushButton* del_;
};

class CLidarPlotView;

class CLidarParam : public CLidarPage {
public:
    explicit CLidarParam(CLidarWizard* sheet);
    ~CLidarParam() override;
    void OnSetActive() override;
    bool OnWizardNext() override;
    bool OnWizardBack() override;
    bool OnQueryCancel() override;
    void OnLidarReply(uint16_t operation, const QByteArray& payload) override;
    void OnUdpEvent(const UdpLinkEvent& event);
    void OnPreviousPoint();
    void OnNextPoint();
    void OnPreviousRadar();
    void OnNextRadar();
    void OnStartStop();
    void OnShowPoint();
    void OnDotSizeChanged(int position);
    void OnPlotClick();
    void SetInputs(const QString& folder, const QString& playerIp, const QString& localIp);

    uint32_t state() const { return state_; }
    bool running() const { return running_; }
    float dotSize() const { return dotSize_; }
    uint16_t currentLidar() const { return current_; }
    std::vector<lidar::LidarSettings>& lidars() { return lidars_; }
    const std::vector<lidar::LidarPoint>& points() const { return points_; }
    QString dataLabel() const;
    QString prompt() const;
    CLidarPlotView* plot() const { return plot_; }
    PropertyGrid* grid() const { return grid_; }
    QSlider* slider() const { return slider_; }
    QCheckBox* showPoint() const { return show_; }
    QPushButton* button(int id) const;  // 5009..5013
    bool udpOpen() const;

    // The plot's shared view state.
    float zoom = lidar::kZoomStart;
    double bearing = 0;
    lidar::PickedPoint picked;

private:
    void SendLidarJson();
    void SendLidarXYJson();
    void SendLidarRequest(uint32_t command);
    void PromptStandAtPoint();
    void BuildGrid();
    void Leave();
    void OnTimer();
    std::vector<lidar::LidarSettings> lidars_;
    std::vector<lidar::LidarPoint> points_;
    uint16_t current_ = 0;
    uint32_t state_ = lidar::kStateStarting;
    bool running_ = false;
    float dotSize_;
    QString folder_, playerIp_, localIp_;
    std::unique_ptr<CUDPServer> udp_;
    QTimer timer_;
    CLidarPlotView* plot_;
    PropertyGrid* grid_;
    QSlider* slider_;
    std::array<QPushButton*, 5> buttons_{};
    QLabel* prompt_;
    QLabel* data_;
    QCheckBox* show_;
};

// The plot area (group box 5006): paints without erasing, tracks the mouse.
class CLidarPlotView : public QWidget {
public:
    explicit CLidarPlotView(CLidarParam* page);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    CLidarParam* page_;
};

class CLidarCheck : public CLidarPage {
public:
    explicit CLidarCheck(CLidarWizard* sheet);
    void OnSetActive() override;
    bool OnWizardBack() override;
    bool OnWizardFinish() override;
    bool OnQueryCancel() override;
    void OnLidarReply(uint16_t operation, const QByteArray& payload) override;
    void OnScanObstacles();
    void OnCheck();
    void OnTimer();
    void setFolder(const QString& folder) { folder_ = folder; }
    bool scanning() const { return scanFlag_; }
    uint16_t countdown() const { return countdown_; }
    QPushButton* scanButton() const { return scan_; }
    QPushButton* checkButton() const { return check_; }
    QTimer& timer() { return timer_; }

private:
    void SendLidarXYJson();
    QString folder_;
    bool scanFlag_ = false;
    uint16_t countdown_ = 0;
    QTimer timer_;
    QPushButton* scan_;
    QPushButton* check_;
};

class CLidarWizard : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    explicit CLidarWizard(QWidget* parent = nullptr);
    ~CLidarWizard() override;
    // What the document hands in before the sheet runs.
    void SetInputs(const QString& folder, const QString& playerIp, const QString& localIp);

    // Activates the first page; runs once, when the sheet is first shown.
    void Start();
    void SetWizardButtons(unsigned buttons);
    unsigned wizardButtons() const { return buttons_; }
    void PressNext();
    void PressBack();
    void PressFinish();
    int activeIndex() const;
    CLidarPage* activePage() const;
    void SetActivePage(int index);
    QString folder() const { return folder_; }

    CLidarSelect* selectPage() const { return select_; }
    CLidarParam* paramPage() const { return param_; }
    CLidarCheck* checkPage() const { return check_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* nextButton() const { return next_; }
    QPushButton* finishButton() const { return finish_; }
    QPushButton* cancelButton() const { return cancel_; }

protected:
    void reject() override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString folder_;
    CLidarSelect* select_;
    CLidarParam* param_;
    CLidarCheck* check_;
    QStackedWidget* stack_;
    QPushButton* back_;
    QPushButton* next_;
    QPushButton* finish_;
    QPushButton* cancel_;
    unsigned buttons_ = 0;
    bool started_ = false;
};
