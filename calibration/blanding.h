#pragma once
// CBlanding: the edge-blending page. Per output channel, edge and colour the
// operator shapes the blend band either by a gamma value (Gamma Line) or by a
// free curve edited on the canvas with mouse and keys (Custom Line), sets a
// luminance coefficient, and copies a band to other channels. Every change
// is sent to the player at once as ramp files, one channel and direction at
// a time, each waiting for its reply.
//
// The page lives in a tab of the warp setup step or on its own. The wizard
// that hosts it hands it the arrangement (LoadChannelConfig), its target
// players, and every reply to commands 4 and 12 while it has a request
// outstanding (OnBlendReply).

#include "calibration/blend_ramps.h"
#include "calibration/projector_graph.h"
#include "calibration/test_patterns.h"
#include "transport/records.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace calib {
class BlendCanvas;
}

class CBlanding : public QWidget {
    Q_OBJECT
public:
    enum Mode { kGammaLine = 0, kCustomLine = 1 };
    enum Colour { kAll = 0, kRed = 1, kGreen = 2, kBlue = 3 };
    static constexpr int kKeyTimer = 6;
    static constexpr int kKeyTimerMs = 250;
    // Ticks of the key timer after which a request whose reply never came
    // stops holding the page.
    static constexpr int kBusyTicks = 40;
    // Key codes as the page receives them.
    enum Key { kTab = 9, kEnter = 13, kEsc = 27, kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kR = 0x52,
               kPadPlus = 107, kPadMinus = 109, kPlus = 187, kMinus = 189 };
    // The wizard command that Ctrl+Shift+Tab asks for.
    static constexpr int kWizardNextCommand = 3002;
    static constexpr int kWizardCancelCommand = 2;

    CBlanding(const QString& playerFolder, const QString& titlePrefix, QWidget* parent = nullptr);
    ~CBlanding() override;

    // The wizard's target players, one per channel entry; empty when one
    // player drives all channels.
    std::vector<SendTarget> players;
    // WM_COMMAND to the wizard window (3002 next, 2 cancel); the wizard sets it.
    std::function<void(int command)> sendWizardCommand;

    void LoadChannelConfig(const calib::BlendArrangement& arrangement);
    void SendAdjustStart();
    void SendAdjustEnd();
    void SendWhite();
    void SendMarker();
    // A reply to command 4 or 12 with its sub-code as status; code 0 (the
    // player refused, or the link went) ends whatever was outstanding.
    void OnBlendReply(uint8_t command, uint8_t status);
    void StartSend();
    // Writes ProjectorGraph.QVE and Gamma.QVE (the wizard's save step).
    // A file is written only when what it holds changed since it was read
    // (or set up, when it could not be read): the upload after leaving the
    // wizard must not replace the player's copy with one nobody edited.
    bool SaveFiles();

    // The controls' handlers.
    void OnChannelChange(int index);
    void OnEdge(int edge);
    void OnColour(int colour);
    void OnMode(int mode);
    void OnGammaReleased(int position);
    void OnLuminanceReleased(int position);
    void OnSyncAll(bool horizontal);
    void OnSyncInvert(bool horizontal);
    void OnPreview();
    void OnSave();
    // Key-down and key-up as PreTranslateMessage sees them; true when taken.
    bool OnKeyDown(int key, bool ctrl, bool shift);
    void OnKeyUp(int key);
    void OnKeyTimer();
    // Mouse on the canvas, in model coordinates.
    void OnCanvasPress(int x, int y);
    void OnCanvasMove(int x, int y);
    void OnCanvasRelease();
    void OnCanvasWheel(int delta);

    bool busy() const { return busy_; }
    bool HasRequestOutstanding() const { return busy_; }
    // The enter request went out and the leave request has not.
    bool inAdjustment() const { return inAdjustment_; }
    // The page's key code of a Qt key (0 for keys it does not read).
    static int KeyCode(int qtKey, Qt::KeyboardModifiers modifiers);
    uint16_t sequence() const { return sequence_; }
    void setSequence(uint16_t s) { sequence_ = s; }
    int currentChannel() const { return channel_; }
    int currentEdge() const { return edge_; }
    int currentColour() const { return colour_; }
    int mode() const { return mode_; }
    uint16_t keyTicks() const { return ticks_; }
    calib::CProjectorGraph& graph() { return graph_; }
    calib::GammaTable& gamma() { return gamma_; }
    QString statusText() const;
    QCheckBox* syncBox(int edge, int channelNumber) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void TellWriteFailure(const filecommit::WriteFailure& failure);

    QByteArray graphAsRead_, gammaAsRead_;
    struct EntryFlags {
        bool left = false, right = false, top = false, bottom = false;  // synchronised bands
        bool horizontal = false, vertical = false;                      // files to send
    };
    QString text(const char* english, const char* chinese) const;
    int channelCount() const;
    bool horizontalEdge() const { return edge_ == calib::kBlendLeft || edge_ == calib::kBlendRight; }
    void CollectSyncFlags();
    void SyncChannels();
    bool NextPendingChannel(int& entry, int& kind);
    void SendNextFile();
    bool WriteAndSendBlendFile(const QByteArray& bytes, int entry, int kind);
    bool sendToAll(const QByteArray& packet);
    void begin(uint16_t expected);
    void finishSequence(bool completed);
    void updateGammaControls();
    void refillChannels();
    static int gammaEdge(int edge);
    int gammaColour() const;

    QString playerFolder_;
    QString prefix_;
    unsigned language_;
    calib::BlendArrangement arrangement_;
    calib::GammaTable gamma_;
    calib::CProjectorGraph graph_;
    std::array<EntryFlags, 9> flags_{};
    int channel_ = 0;
    int edge_ = calib::kBlendLeft;
    int colour_ = kAll;
    int mode_ = kGammaLine;
    int luminanceValue_ = 100;
    uint16_t received_ = 0;
    uint16_t expected_ = 1;
    uint16_t sequence_ = 0;
    bool busy_ = false;
    bool inAdjustment_ = false;
    int busyTicks_ = 0;
    bool moved_ = false;
    bool dragging_ = false;
    bool arrowHeld_ = false;
    uint16_t ticks_ = 0;
    QTimer keyTimer_;

    QComboBox* channelCombo_ = nullptr;
    QComboBox* modeCombo_ = nullptr;
    std::array<QRadioButton*, 4> edgeRadios_{};    // by edge index (left, right, top, bottom)
    std::array<QRadioButton*, 4> colourRadios_{};  // all, red, green, blue
    QSlider* luminance_ = nullptr;
    QLabel* luminanceText_ = nullptr;
    QSlider* gammaSlider_ = nullptr;
    QLabel* gammaText_ = nullptr;
    QLabel* gammaLabel_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* preview_ = nullptr;
    QPushButton* save_ = nullptr;
    std::array<std::array<QCheckBox*, 9>, 4> sync_{};  // [edge][channel number]
    calib::BlendCanvas* canvas_ = nullptr;
};

// The page as the warp setup step hosts it in a tab.
CBlanding* CreateBlandingPage(const QString& playerFolder, const QString& titlePrefix, QWidget* parent);
