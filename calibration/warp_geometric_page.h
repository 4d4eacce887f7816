#pragma once
// Step 2 of the warp wizard: the grid-warp model of one output channel at a
// time, every edit sent to the player as point data, a channel's per-pixel
// map sent when it is left, the custom edge shapes through their own
// command. One request in flight: while busy, edits are drawn, not sent.

#include "calibration/geometric_correction.h"
#include "calibration/warp_settings.h"
#include "transport/records.h"

#include <QWidget>

#include <memory>
#include <set>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace calib {

// Hands a request to the main window with the page's sequence number at
// header offset 6. False when no main window took it.
// The keys of the geometry step and what each does, as the page lists them.
struct ShortcutKey {
    const char* key;
    const char* english;
    const char* chinese;
    const char* keyChinese = nullptr;  // where the key has a Chinese name
};
const std::vector<ShortcutKey>& ShortcutKeys();
QString ShortcutKeyName(const ShortcutKey& key, int language);
QString ShortcutKeysText(int language);

bool SendWarpRequest(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, uint16_t sequence,
                     const QByteArray& payload, const std::vector<SendTarget>& targets);

// The key step after an arrow key was held for `ticks` timer ticks of 250 ms.
int ArrowStepForTicks(int ticks);

class CWarpGeometricPage : public QWidget {
public:
    CWarpGeometricPage(QWidget* parent = nullptr);
    ~CWarpGeometricPage() override;

    // Set by the wizard before use.
    QString prefix;
    QString playerFolder;
    uint16_t channelCount = 0;
    uint16_t version = 0;
    bool singleChannel = false;
    bool horizontalCurved = false;
    bool verticalCurved = false;
    std::vector<SendTarget> targets;
    uint8_t pendingStep = 0;
    uint16_t sequence = 0;

    // Builds the output configuration from the block and loads the grids.
    void ApplyWarpSettings(const WarpSettings& settings);
    // Entering step 2: first active channel, busy, and the entry chain.
    void Start();
    // Leaving towards `step` (1 back, 3 forward, 0 close): blend switch on.
    void Leave(uint8_t step);
    void SendBlendSwitch(uint8_t on);
    void SendVideoChannelSetup();
    void LeaveAdjustment();
    void OnReply(uint8_t command, uint8_t status);
    bool SaveJunctionPoints();
    int FirstActiveChannel() const;
    void OnPreviousChannel();
    void OnNextChannel();
    bool OnKey(int key, Qt::KeyboardModifiers modifiers, bool pressed, bool autoRepeat);
    // Custom edge shapes of screen 1 or 2; Stop returns to the grids.
    void EnterShapes(int set);
    void StopShapes();
    void MoveShape(int delta);
    int shapeSet() const { return shapeSet_; }

    bool busy() const { return busy_; }
    bool inAdjustment() const { return inAdjustment_; }
    const CGeometricCorrection& model() const { return *model_; }
    CGeometricCorrection& model() { return *model_; }
    QString status() const;

    // The 10,240-byte point block of the corrected grid (or the current
    // shape set) of the current channel.
    QByteArray PointBlock(bool shapes) const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    bool event(QEvent*) override;

private:
    void showShapeLabel();
    // Shape set 1 or 2 on the canvas, without sending.
    void showShapeSet(int set);
    void warnIfRefused(FileLoad outcome, uint8_t file);
    bool send(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, const QByteArray& payload,
              const std::vector<SendTarget>& to, int expected = 1);
    std::vector<SendTarget> allTargets() const;
    std::vector<SendTarget> currentTarget() const;
    std::vector<SendTarget> otherTargets() const;
    void EnterAdjustment();
    void SelectChannelRequest();
    void SelectChannel(int channel);
    void SendGridPoints();
    void SendReferenceGrid();
    void SendShapePoints();
    bool SendChannelMap();
    void notifyWizard(uint8_t step);
    void setStatus(const char* english, const char* chinese, int value = -1);
    void layoutCanvas();
    void onTick();

    int language_ = 9;
    std::unique_ptr<CGeometricCorrection> model_;
    WarpSettings settings_;
    bool busy_ = false;
    bool inAdjustment_ = false;
    int expected_ = 1, received_ = 0;
    int direction_ = 0;
    bool sendReferenceNext_ = false;
    uint8_t lastMapSub_ = 0;
    uint16_t transparency_ = 0;
    bool pressed_ = false;
    bool keyHeld_ = false;
    int ticks_ = 0;
    QLabel* label_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* shape1_ = nullptr;
    QPushButton* shape2_ = nullptr;
    QPushButton* shapeStop_ = nullptr;
    QPushButton* shapeBack_ = nullptr;
    QPushButton* shapeNext_ = nullptr;
    QComboBox* shapeFlag_ = nullptr;
    QSlider* alpha_ = nullptr;
    QLabel* keys_ = nullptr;  // the shortcut keys and what they do
    int shapeSet_ = 0;  // 0 none, 1 or 2
    std::set<uint8_t> warned_;  // files whose refusal was shown this run
    QTimer* timer_ = nullptr;
};

}  // namespace calib
