#pragma once
// The records of the video-wall rotation editor and the operations on them:
// channel counts, angle presets, corner rotation, bounding boxes, laying out
// a wall, Rearrange, and the canvas's mouse and key editing. Plain C++ over
// the wall coordinates (millimetres); the dialog and the canvas widget only
// turn input into calls here and draw the result.
//
// Everything runs on the UI thread.

#include "common/hit_test.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace rotation {

using geom::RectHitTest;
using geom::RectI;

struct PointD {
    double x = 0;
    double y = 0;
    bool operator==(const PointD&) const = default;
};
struct PointI {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const PointI&) const = default;
};
using Quad = std::array<PointD, 4>;
using QuadI = std::array<PointI, 4>;

inline constexpr int kSlotCount = 9;
inline constexpr int kScreenCount = 4;
// 0.2, 0.01 and 0.02 as the single-precision values the editor has always
// used; a file saved at the smallest zoom reloads exactly as saved.
inline constexpr double kDefaultShowScale = double(0.2f);
inline constexpr double kShowScaleStep = double(0.01f);
inline constexpr double kMinShowScale = double(0.02f);
inline constexpr double kMaxShowScale = 1.0;

// A real truncated toward zero, saturated at the ends of the 32-bit range;
// 0 for a value that is not a number.
int32_t TruncToInt(double value);

struct OutputDevice {
    QString Manufacturer;
    QString Model;
    double ScreenWidth = 0;
    double ScreenHeight = 0;
    double BezelLeft = 0;
    double BezelRight = 0;
    double BezelTop = 0;
    double BezelBottom = 0;
    double ResolutionWidth = 0;
    double ResolutionHeight = 0;
    double RefreshRate = 0;

    bool used() const { return !Manufacturer.isEmpty() || !Model.isEmpty(); }
    bool operator==(const OutputDevice&) const = default;
};

struct DeviceBlock {
    std::array<OutputDevice, kSlotCount> slot;
    uint32_t count = 0;
};

struct WallOutput {
    QString Manufacturer;
    QString Model;
    double ScreenWidth = 0;   // outer size: picture area plus both bezels
    double ScreenHeight = 0;
    double BezelLeft = 0;
    double BezelRight = 0;
    double BezelTop = 0;
    double BezelBottom = 0;
    double ResolutionWidth = 0;
    double ResolutionHeight = 0;
    double RefreshRate = 0;
    Quad FramePoint{};
    Quad DragStartFrame{};
    Quad ScreenPoint{};
    Quad DragStartScreen{};
    QuadI FramePolygon{};
    QuadI ScreenPolygon{};
    double CentreX = 0;
    double CentreY = 0;
    double FrameAngle = 0;
    double FontAngle = 0;
    uint16_t Channel = 0;
    uint8_t Selected = 0;
    uint8_t Display = 0;
};

struct WallScreen {
    std::array<WallOutput, kSlotCount> outputs;
    Quad FramePoint{};  // background corners: top-left, top-right, bottom-right, bottom-left
    Quad DragStartBackground{};
    QuadI BackgroundPolygon{};
    std::array<RectI, 9> HandleRects{};
    uint16_t RatioWidth = 4;
    uint16_t RatioHeight = 3;
    int32_t ActiveHandle = -1;
    uint8_t BackgroundSelected = 0;
    uint8_t Display = 0;
    double ShowScale = kDefaultShowScale;
    uint16_t ResolutionWidthTotal = 1920;
    uint16_t ResolutionHeightTotal = 1080;
    uint16_t SelectedIndex = 0;
    uint16_t Row = 1;
    uint16_t Column = 1;

    // The first output 0..8 both selected and displayed, into SelectedIndex.
    bool FindSelectedOutput();
    // ShowScale when it can be divided by, else the default.
    double scale() const;
};

// Channels of a channel-layout code: 1..9 and 11..91 (tens digit), else 0.
uint16_t ChannelCountFromCode(uint16_t code);
// Degrees of an item of the rotation-angle list; 0 for item 0 or any other.
uint32_t AngleFromPresetIndex(uint16_t index);
// Turns four corners by `angle` degrees (clockwise on screen) about (cx, cy);
// src and dst may be the same array.
void RotateCorners(const Quad& src, Quad& dst, double cy, double angle, double cx);
// The axis-parallel box of the corners of the first nine quads; nothing when
// the list is empty or the screen index is 4 or above.
void BoundingQuad(const std::vector<Quad>& quads, Quad& dst, int screen);
// Distance from P to the segment AB (canvas pixels).
double PointToSegmentDistance(PointI p, PointI a, PointI b);
// True when p lies inside the polygon (winding rule).
bool PolygonHitTest(const QuadI& polygon, PointI offset, PointI p);

// Results of the editor's checked operations (each has its message).
enum class AddResult { Ok, NoScreen1Output, TooManyOutputs, ChannelTooHigh };
enum class RatioResult { Ok, OutOfRange, TooWide };

// Cursor resources of the background handles; 0 = the arrow.
inline constexpr int kArrowCursor = 0;
int CursorForHandle(int handle);

// The editor's records (CRotate's state without its controls).
class RotateModel {
public:
    RotateModel();

    std::array<DeviceBlock, kScreenCount> devices;
    std::array<uint16_t, kSlotCount> ChannelSlots{};
    uint16_t ScreenCount = 0;
    uint16_t OutputCount = 0;
    std::array<WallScreen, kScreenCount> walls;
    PointI dragStart;
    int CurrentScreen = 0;
    bool UpdateVideoWall = false;
    bool leftDrag = false;
    bool rightDrag = false;
    uint16_t ChannelCode = 0;
    uint16_t ChannelCount = 0;
    Quad OutputLimits{};
    RectI CanvasRect;
    QString currentManufacturer;
    QString currentModel;
    OutputDevice CurrentMonitor;

    // Microseconds of a steady clock; tests replace it.
    std::function<int64_t()> clockMicros;
    // Hands one document to the player; false when it could not be sent.
    // Given the clicked channel and the click flag.
    std::function<bool(uint16_t channel, bool click)> transmit;

    WallScreen& wall() { return walls[std::size_t(CurrentScreen)]; }
    const WallScreen& wall() const { return walls[std::size_t(CurrentScreen)]; }

    // ------------------------------------------------------------ slot
    void UpdateChannelCount();
    void CountOutputs();
    // Double-click on slot `k` of row 0 (screen 1) or row 1 (screen 2):
    // takes CurrentMonitor or empties the slot; a channel lives on one screen.
    void ToggleSlot(int row, int k);
    void ClearSlots();
    // Output-device part only (the reset of loading).
    void ResetDevices();
    // The wall records as the dialog's opening leaves them.
    void ResetWalls();

    // ------------------------------------------------------------ wall
    AddResult AddOutputsToWall();
    void LayOutWall();
    void GetOutputsBounds(Quad& dst) const;
    void FitBackgroundToOutputs();
    // Stores Row and Column; false when their product differs from the
    // number of displayed outputs. Arranges and sends otherwise.
    bool Rearrange(uint16_t row, uint16_t column);
    RatioResult SetAspectRatio(int width, int height);
    void SetBackgroundDisplay(bool on);
    // Takes the selected output off the wall; false when none is selected.
    bool RemoveSelected();
    void SelectScreen(int screen);
    int displayedCount(int screen) const;

    // ------------------------------------------------------------ canvas
    void UpdateCanvasPolygons();
    void ComputeHandleRects();
    void HitHandle(PointI p);
    // Mouse handlers in client coordinates. MouseMove returns the cursor to
    // show (a handle's resource or kArrowCursor), or -1 to leave it.
    void LeftButtonDown(PointI p);
    void LeftButtonUp();
    void RightButtonDown(PointI p);
    void RightButtonUp();
    int MouseMove(PointI p);
    void MouseWheel(int delta);
    bool MoveSelected(double dx, double dy);
    bool RotateSelected(double step);
    bool RotationStaysInBackground(double angle);
    bool FindSnapEdge(int& corner, int& other, int& edge, int* distance = nullptr);
    bool IsOnEdge(int corner, int other, int edge);
    void SnapToEdge(int corner, int other, int edge);
    bool hasSelection() const;

    // ------------------------------------------------------------ document
    // Sends the wall unless a document is still unanswered (then the edit is
    // remembered and sent when the reply comes).
    void SendRotateJson(uint16_t channel, bool click);
    void OnRotateReply();
    // Called periodically: a document unanswered for kPendingTimeoutMicros
    // stops blocking, and a remembered edit is sent then.
    void Tick();
    bool pending() const { return pending_; }
    bool unsentEdit() const { return unsent_; }
    static constexpr int64_t kPendingTimeoutMicros = 3'000'000;
    static constexpr int64_t kSnapQuietMicros = 10'000;

private:
    void DragSelected(double dx, double dy, PointI p);
    void DragBackground(double dx, double dy);
    bool pendingBlocks() const;
    int64_t now() const;

    bool pending_ = false;
    bool unsent_ = false;
    int64_t sentAt_ = 0;
    int64_t lastDrag_ = 0;
};

}  // namespace rotation
