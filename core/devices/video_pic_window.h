#pragma once
// CVideoPicWindow: places at most one video window, one picture window and
// one input window on the player's first or second screen. Every change goes
// to the player at once (CMD_VIDEO_PIC_WINDOW, sub-code 128); "Save  Exit"
// sends the final state (64) and writes config/VideoPicWindow.QVE, which the
// document exchanges with the player as configuration file 5.

#include "core/devices/device_dialog.h"
#include "core/layout/image_rect_tracker.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRect>

#include <array>
#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace vpw {

inline constexpr int kSpaceWidth = 17280;   // nine outputs of 1920 across
inline constexpr int kSpaceHeight = 9720;   // nine outputs of 1080 down
inline constexpr int kMinSide = 300;
inline constexpr int kMaxWidth = 1920;
inline constexpr int kMaxHeight = 1080;
inline constexpr int kPayloadSize = 28;

struct ScreenRect {
    uint16_t x = 0, y = 0, width = 1920, height = 1080;
    bool operator==(const ScreenRect&) const = default;
};

struct WindowEntry {
    uint16_t left = 0, top = 0, right = 0, bottom = 0;
    uint16_t screen = 0;
    uint8_t selected = 0;
};

enum Kind { kVideo = 0, kPicture = 1, kInput = 2 };

// The 75-byte image of config/VideoPicWindow.QVE and the editor's state.
struct VideoPicWindowBlock {
    static constexpr int kSize = 75;
    std::array<ScreenRect, 4> screens{};
    std::array<WindowEntry, 3> windows{};  // by Kind
    uint16_t inputSource = 0;
    uint16_t inputNumber = 0;
    std::array<uint16_t, 3> counts{};  // by Kind, 0 or 1

    QByteArray pack() const;
    static VideoPicWindowBlock unpack(const uint8_t* bytes);  // exactly kSize bytes
};

// The four screen entries of the handshake's 108-byte output block (bytes 4..35).
std::array<ScreenRect, 4> ScreensOf(const std::array<uint8_t, 108>& outputBlock);
// Whether a stored entry fits its screen: screen 0 or 1, at least 300 x 300,
// at most 1920 x 1080, inside the screen (edges up to width + 1, height + 1).
bool EntryFits(const WindowEntry& e, const std::array<ScreenRect, 4>& screens);
// The stored file's block when its length is 75 and its first two screens are
// the current ones; entries that do not fit are dropped. Otherwise an empty
// block. The screens always come from `screens`.
VideoPicWindowBlock LoadBlock(const QString& path, const std::array<ScreenRect, 4>& screens);
// The 28-byte payload: rectangles with the screen's y added to every y value.
QByteArray StatePayload(const VideoPicWindowBlock& block);
// Arrow key on an entry (Qt::Key_Left ...); true when the entry changed.
bool ApplyKey(WindowEntry& e, int key, bool shift, const ScreenRect& screen);
// A rectangle in player pixels from a drag: at least 300 each way, edges at
// most the screen's width + 1 and height + 1.
void ApplyRect(WindowEntry& e, int left, int top, int right, int bottom, const ScreenRect& screen);

// Player pixels <-> canvas pixels.
struct CanvasMap {
    QRect canvas;
    double sx = 0, sy = 0;
    explicit CanvasMap(const QRect& canvasRect = QRect(0, 0, 1728, 972));
    int toX(int v) const { return canvas.left() + int(v * sx); }
    int toY(int v) const { return canvas.top() + int(v * sy); }
    uint16_t fromX(int c) const { return uint16_t(int((c - canvas.left()) / sx)); }
    uint16_t fromY(int c) const { return uint16_t(int((c - canvas.top()) / sy)); }
    // The screen's canvas rectangle (the second screen drawn from the top).
    layout::LayoutRect screenRect(const VideoPicWindowBlock& b, int screen) const;
    layout::LayoutRect entryRect(const WindowEntry& e) const;
};

// The canvas: the screen outline, every entry of `screen` with its label,
// then the tracker when it holds a rectangle.
void DrawVideoPicWindows(QPainter& painter, const VideoPicWindowBlock& block, int screen, const CanvasMap& map,
                         unsigned language, const CImageRectTracker* tracker);

}  // namespace vpw

class CVideoPicWindow : public CDeviceDialog {
public:
    static constexpr unsigned kTimerPending = 1;
    static constexpr int kTimerPendingMs = 200;

    // `folder`: the folder that holds "config"; `outputBlock`: the handshake's.
    CVideoPicWindow(const QString& titlePrefix, const QString& folder, const std::array<uint8_t, 108>& outputBlock,
                    QWidget* parent = nullptr);
    ~CVideoPicWindow() override;

    void OnInitDialog();
    void OnAdd(vpw::Kind kind);     // 3904, 3905, 3908
    void OnDelete();                // 3910
    void OnScreen(int screen);      // 3902, 3903
    void OnComboChanged();          // 3906, 3907
    void OnSaveExit();              // IDOK "Save  Exit"
    void accept() override { OnSaveExit(); }
    void reject() override;

    // Mouse and keys in dialog coordinates (the canvas forwards them).
    void OnLButtonDown(int x, int y);
    void OnMouseMove(int x, int y);
    void OnLButtonUp(int x, int y);
    bool OnKey(int key, bool press);  // true: swallowed

    void onTimer(unsigned id) override;
    // A reply older than this no longer holds further updates back.
    int pendingExpiryMs = 3000;
    // Whether the player link is up; a dropped link clears the pending flag.
    std::function<bool()> linkUp;

    const vpw::VideoPicWindowBlock& Block() const { return block_; }
    const vpw::CanvasMap& Map() const { return map_; }
    int CurrentScreen() const { return screen_; }
    bool ReplyPending() const { return pending_; }
    QString BlockPath() const;
    const CImageRectTracker& Tracker() const { return tracker_; }
    QComboBox* InputCombo() const { return inputCombo_; }
    QComboBox* NumberCombo() const { return numberCombo_; }
    void PaintCanvas(QPainter& painter);

private:
    platform::LRESULT OnReply(platform::WPARAM, platform::LPARAM);
    void SendState(uint8_t subCode);
    void SetTrackerLimits();
    int SelectedKind() const;
    void ClearSelection();
    void TrackKind(int kind);
    void FinishSave();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QString folder_;
    vpw::VideoPicWindowBlock block_;
    vpw::CanvasMap map_;
    CImageRectTracker tracker_;
    int screen_ = 0;
    bool pending_ = false;
    QElapsedTimer pendingSince_;
    bool unsent_ = false;      // an edit waits for the pending reply
    bool saveWaiting_ = false; // "Save  Exit" waits for the pending reply
    bool tracking_ = false;
    bool shift_ = false;
    QWidget* canvasWidget_ = nullptr;
    QRadioButton* first_ = nullptr;
    QRadioButton* second_ = nullptr;
    QComboBox* inputCombo_ = nullptr;
    QComboBox* numberCombo_ = nullptr;
    QCheckBox* background_ = nullptr;
};
