#pragma once
// The blend-curve model of the edge-blending wizard: for up to nine output
// channels the curves of the four edge bands (left, right, top, bottom) in
// four colour variants (all colours, red, green, blue), edited with keys and
// the mouse, turned into 2,160 intensity samples each, and kept as one
// fixed-size block that is also the file config/ProjectorGraph.QVE.
//
// Heights are canvas y coordinates (box tops of 10 x 10 point boxes); the
// canvas bottom is level 0 and 256 pixels above it full level. The block and
// the samples hold the numbers the file and the player see; a view that shows
// the canvas elsewhere translates its painter.

#include "common/file_commit.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

class QPainter;

namespace calib {

enum class FileLoad;

// One channel of the arrangement (22 bytes).
struct BlendChannel {
    static constexpr std::size_t kSize = 22;
    uint16_t screen = 0;
    uint16_t layoutMode = 0;
    uint16_t channel = 0;
    uint16_t left = 0, top = 0, right = 1920, bottom = 1080;
    uint16_t bandLeft = 128, bandTop = 128, bandRight = 128, bandBottom = 128;
    bool operator==(const BlendChannel&) const = default;
};

// The channels and their band widths (206 bytes).
struct BlendArrangement {
    static constexpr std::size_t kSize = 206;
    std::array<BlendChannel, 9> channels{};
    uint16_t screenCount = 0;
    uint16_t channelCount = 0;  // 1..9 valid entries
    std::array<uint8_t, 3> markerColour{};
    uint8_t extra = 0;

    void pack(uint8_t* out) const;
    static BlendArrangement unpack(const uint8_t* in);
    bool operator==(const BlendArrangement&) const = default;
};

struct CurvePoint {
    int32_t left = 0, top = 0, right = 0, bottom = 0;  // box on the canvas; the point is its centre
    uint8_t visible = 0;
    uint8_t selected = 0;
};

struct BlendCurve {
    static constexpr int kPoints = 136;
    static constexpr int kSamples = 2160;
    std::array<CurvePoint, kPoints> points{};
    std::array<uint16_t, kSamples> samples{};
    uint16_t reserved = 0;
    uint16_t level = 1;  // 1..7: 2^level + 1 control points shown
};

struct BlendEdge {
    std::array<BlendCurve, 4> curves{};  // all colours, red, green, blue
    uint16_t currentCurve = 0;
    uint16_t reserved = 0;
};

struct ProjectorBlend {
    std::array<BlendEdge, 4> edges{};  // left, right, top, bottom
    uint16_t currentEdge = 0;
    double luminance = 1.0;
};

enum BlendEdgeIndex { kBlendLeft = 0, kBlendRight = 1, kBlendTop = 2, kBlendBottom = 3 };

struct BlendRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const BlendRect&) const = default;
};

struct BlendGraphData {
    static constexpr std::size_t kSize = 975628;
    BlendRect canvas;
    BlendArrangement arrangement;
    std::array<ProjectorBlend, 9> channels{};
    uint16_t currentChannel = 0;
    uint16_t channelCount = 0;

    QByteArray toBytes() const;
    // False (and *this untouched) unless exactly kSize bytes are given.
    bool fromBytes(const QByteArray& bytes);
};

// Writes the S-shaped gamma ramp of n samples (trunc(v) x 8 with v up to
// 255) to out[i] (direction 0) or out[n - 1 - i] (direction 1).
void MakeGammaRamp(int32_t n, uint32_t direction, uint16_t* out, float gamma);

class CProjectorGraph {
public:
    // Key codes the model understands.
    enum Key { kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kPadPlus = 107, kPadMinus = 109, kPlus = 187, kMinus = 189 };
    // The canvas bottom the default heights were made for.
    static constexpr int32_t kDefaultCanvasBottom = 435;

    CProjectorGraph();
    virtual ~CProjectorGraph();
    CProjectorGraph(const CProjectorGraph&) = delete;
    CProjectorGraph& operator=(const CProjectorGraph&) = delete;

    QString baseFolder;  // the player folder, ending with a separator
    BlendGraphData& data() { return *data_; }
    const BlendGraphData& data() const { return *data_; }
    uint32_t step = 1;  // key step, 1..10

    void SetDefaultPoints();
    void ApplyBandDefaults();
    void MarkBandPoints();
    bool Save(filecommit::WriteFailure* failure = nullptr) const;
    bool Load(FileLoad* outcome = nullptr);
    // The checks and the copy of Load over bytes already read.
    FileLoad ApplyFileBytes(const QByteArray& bytes);

    uint16_t BandPointCount() const;
    void UpdateVisiblePoints(int curve);
    void FewerPoints();
    void MorePoints();
    void ClearSelection();
    bool HasSelection() const;
    uint16_t FirstSelected() const;
    uint16_t PrevVisible() const;
    uint16_t NextVisible() const;
    int OnKey(int key);
    void OnDrag(int32_t x, int32_t y);
    void SetLastMouse(int32_t x, int32_t y) { lastX_ = x; lastY_ = y; }
    void RelinePoints(int curve);
    void BuildSamples(int channel, int edge, int curve);
    void CopyEdgeCurve(uint16_t bandWidth, int sourceChannel, int sourceEdge, int targetChannel, int targetEdge);
    void Draw(QPainter& painter) const;

    // Band width of an edge of a channel entry.
    uint16_t bandWidth(int channel, int edge) const;
    BlendCurve& curve(int channel, int edge, int curve);
    BlendCurve& currentCurve();
    const BlendCurve& currentCurve() const;

private:
    int currentCurveIndex() const;
    void setLevel(int level);  // 1..7; the master curve sets all four
    void selectPoint(int index);
    void copyBoxToSiblings(int index);
    static uint16_t bandPointCount(int edge, uint16_t width);

    std::unique_ptr<BlendGraphData> data_;
    int32_t lastX_ = 0, lastY_ = 0;
};

}  // namespace calib
