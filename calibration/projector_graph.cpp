#include "calibration/projector_graph.h"

#include "calibration/geometric_correction.h"  // FileLoad
#include "core/config_exchange.h"
#include "platform/home.h"
#include "transport/protocol.h"

#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>
#include <vector>

namespace calib {

namespace {

constexpr std::size_t kPointSize = 18;
constexpr std::size_t kCurveSize = 6772;
constexpr std::size_t kEdgeSize = 27092;
constexpr std::size_t kBlendSize = 108378;
constexpr std::size_t kChannelsOffset = 222;

static_assert(kChannelsOffset + 9 * kBlendSize + 4 == BlendGraphData::kSize);
static_assert(BlendGraphData::kSize == cfgx::kProjectorGraphSize);

// Default box tops for a canvas whose bottom is 435, entries 0..136.
constexpr int kDefaultTops[137] = {
    430, 425, 420, 415, 411, 406, 401, 396, 392, 387, 382, 377, 373, 368, 363, 358, 354, 350, 346, 342, 338, 334, 330,
    326, 322, 318, 314, 310, 306, 302, 298, 294, 291, 288, 285, 282, 279, 276, 273, 270, 268, 265, 262, 259, 256, 253,
    250, 247, 245, 243, 241, 239, 237, 235, 233, 231, 229, 227, 225, 223, 221, 219, 217, 215, 214, 213, 212, 211, 210,
    209, 208, 207, 206, 205, 204, 203, 202, 201, 200, 199, 198, 197, 196, 195, 194, 193, 192, 191, 191, 190, 189, 188,
    187, 186, 185, 184, 184, 183, 183, 182, 182, 182, 181, 181, 181, 180, 180, 179, 179, 179, 178, 178, 178, 177, 177,
    177, 177, 176, 176, 176, 176, 175, 175, 175, 175, 174, 174, 174, 174, 174, 174, 174, 174, 174, 174, 174, 174,
};
constexpr int kEntry126Bottom = 185;

// Interior points shown per band point count and density (m = 3 .. 129);
// an empty list with `all` set shows every point.
struct Density {
    bool all;
    std::vector<int> points;
};
struct DensityRow {
    int n;
    Density levels[7];
};

const std::vector<DensityRow>& densityTable()
{
    static const std::vector<DensityRow> table = {
        {30, {{false, {15}}, {false, {7, 15, 23}}, {false, {4, 7, 11, 15, 19, 23, 27}},
              {false, {2, 4, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29}}, {true, {}}, {true, {}}, {true, {}}}},
        {34, {{false, {17}}, {false, {8, 17, 25}}, {false, {4, 8, 13, 17, 21, 25, 29}},
              {false, {2, 4, 6, 8, 10, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31}}, {true, {}}, {true, {}}, {true, {}}}},
        {60, {{false, {29}}, {false, {15, 29, 44}}, {false, {7, 15, 22, 29, 36, 44, 51}},
              {false, {3, 7, 11, 15, 19, 22, 25, 29, 32, 36, 39, 43, 47, 51, 55}}, {true, {}}, {true, {}}, {true, {}}}},
        {68, {{false, {33}}, {false, {16, 33, 49}}, {false, {8, 16, 24, 33, 41, 49, 58}},
              {false, {4, 8, 12, 16, 20, 24, 28, 33, 37, 41, 45, 49, 53, 58, 63}}, {true, {}}, {true, {}}, {true, {}}}},
        {90, {{false, {44}}, {false, {21, 44, 65}}, {false, {9, 21, 33, 44, 55, 65, 77}},
              {false, {4, 9, 14, 21, 27, 33, 38, 44, 49, 55, 60, 65, 71, 77, 83}},
              {false, {2, 4, 7, 9, 11, 14, 17, 21, 24, 27, 30, 33, 35, 38, 41, 44, 46, 49, 52, 55, 57, 60, 63, 65, 67, 71,
                       74, 77, 80, 83, 87}},
              {true, {}}, {true, {}}}},
        {101, {{false, {50}}, {false, {24, 50, 75}}, {false, {12, 24, 37, 50, 63, 75, 88}},
               {false, {6, 12, 18, 24, 30, 37, 43, 50, 56, 63, 68, 75, 81, 88, 93}},
               {false, {3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 34, 37, 40, 43, 47, 50, 53, 56, 60, 63, 65, 68, 72, 75, 78,
                        81, 84, 88, 90, 93, 97}},
               {true, {}}, {true, {}}}},
        {120, {{false, {58}}, {false, {28, 58, 88}}, {false, {13, 28, 43, 58, 73, 88, 103}},
               {false, {7, 13, 21, 28, 36, 43, 50, 58, 66, 73, 80, 88, 96, 103, 110}},
               {false, {3, 7, 10, 13, 17, 21, 25, 28, 32, 36, 40, 43, 47, 50, 54, 58, 62, 66, 70, 73, 77, 80, 84, 88, 92,
                        96, 100, 103, 107, 110, 114}},
               {false, {1, 3, 5, 7, 9, 10, 12, 13, 15, 17, 19, 21, 23, 25, 27, 28, 30, 32, 34, 36, 38, 40, 42, 43, 45,
                        47, 49, 50, 52, 54, 56, 58, 60, 62, 64, 66, 68, 70, 72, 73, 75, 77, 79, 80, 82, 84, 86, 88, 90,
                        92, 94, 96, 98, 100, 102, 103, 105, 107, 109, 110, 112, 114, 117}},
               {true, {}}}},
        {135, {{false, {68}}, {false, {34, 68, 102}}, {false, {17, 34, 51, 68, 85, 102, 119}},
               {false, {8, 17, 25, 34, 42, 51, 59, 68, 76, 85, 93, 102, 110, 119, 127}},
               {false, {4, 8, 12, 17, 21, 25, 29, 34, 38, 42, 46, 51, 55, 59, 63, 68, 72, 76, 80, 85, 89, 93, 98, 102,
                        106, 110, 114, 119, 123, 127, 131}},
               {false, {2, 4, 6, 8, 10, 12, 14, 17, 19, 21, 23, 25, 27, 29, 31, 34, 36, 38, 40, 42, 44, 46, 49, 51, 53,
                        55, 57, 59, 61, 63, 65, 68, 70, 72, 74, 76, 78, 80, 83, 85, 87, 89, 91, 93, 95, 98, 100, 102,
                        104, 106, 108, 110, 112, 114, 117, 119, 121, 123, 125, 127, 129, 131, 133}},
               {true, {}}}},
    };
    return table;
}

void putF64(uint8_t* p, double v) { proto::putU64(p, std::bit_cast<uint64_t>(v)); }
double getF64(const uint8_t* p) { return std::bit_cast<double>(proto::getU64(p)); }

void packChannel(const BlendChannel& c, uint8_t* p)
{
    const uint16_t v[11] = {c.screen, c.layoutMode, c.channel, c.left, c.top, c.right, c.bottom,
                            c.bandLeft, c.bandTop, c.bandRight, c.bandBottom};
    for (int i = 0; i < 11; ++i)
        proto::putU16(p + 2 * i, v[i]);
}

BlendChannel unpackChannel(const uint8_t* p)
{
    BlendChannel c;
    uint16_t* v[11] = {&c.screen, &c.layoutMode, &c.channel, &c.left, &c.top, &c.right, &c.bottom,
                       &c.bandLeft, &c.bandTop, &c.bandRight, &c.bandBottom};
    for (int i = 0; i < 11; ++i)
        *v[i] = proto::getU16(p + 2 * i);
    return c;
}

}  // namespace

// ---------------------------------------------------------------- records

void BlendArrangement::pack(uint8_t* out) const
{
    for (std::size_t i = 0; i < 9; ++i)
        packChannel(channels[i], out + BlendChannel::kSize * i);
    proto::putU16(out + 198, screenCount);
    proto::putU16(out + 200, channelCount);
    out[202] = markerColour[0];
    out[203] = markerColour[1];
    out[204] = markerColour[2];
    out[205] = extra;
}

BlendArrangement BlendArrangement::unpack(const uint8_t* in)
{
    BlendArrangement a;
    for (std::size_t i = 0; i < 9; ++i)
        a.channels[i] = unpackChannel(in + BlendChannel::kSize * i);
    a.screenCount = proto::getU16(in + 198);
    a.channelCount = proto::getU16(in + 200);
    a.markerColour = {in[202], in[203], in[204]};
    a.extra = in[205];
    return a;
}

QByteArray BlendGraphData::toBytes() const
{
    QByteArray bytes(qsizetype(kSize), '\0');
    uint8_t* out = reinterpret_cast<uint8_t*>(bytes.data());
    proto::putI32(out + 0, canvas.left);
    proto::putI32(out + 4, canvas.top);
    proto::putI32(out + 8, canvas.right);
    proto::putI32(out + 12, canvas.bottom);
    arrangement.pack(out + 16);
    for (std::size_t p = 0; p < 9; ++p) {
        uint8_t* pb = out + kChannelsOffset + kBlendSize * p;
        const ProjectorBlend& blend = channels[p];
        for (std::size_t e = 0; e < 4; ++e) {
            uint8_t* eb = pb + kEdgeSize * e;
            const BlendEdge& edge = blend.edges[e];
            for (std::size_t c = 0; c < 4; ++c) {
                uint8_t* cb = eb + kCurveSize * c;
                const BlendCurve& curve = edge.curves[c];
                for (std::size_t i = 0; i < BlendCurve::kPoints; ++i) {
                    const CurvePoint& pt = curve.points[i];
                    uint8_t* q = cb + kPointSize * i;
                    proto::putI32(q + 0, pt.left);
                    proto::putI32(q + 4, pt.top);
                    proto::putI32(q + 8, pt.right);
                    proto::putI32(q + 12, pt.bottom);
                    q[16] = pt.visible;
                    q[17] = pt.selected;
                }
                for (std::size_t s = 0; s < BlendCurve::kSamples; ++s)
                    proto::putU16(cb + 2448 + 2 * s, curve.samples[s]);
                proto::putU16(cb + 6768, curve.reserved);
                proto::putU16(cb + 6770, curve.level);
            }
            proto::putU16(eb + 27088, edge.currentCurve);
            proto::putU16(eb + 27090, edge.reserved);
        }
        proto::putU16(pb + 108368, blend.currentEdge);
        putF64(pb + 108370, blend.luminance);
    }
    proto::putU16(out + 975624, currentChannel);
    proto::putU16(out + 975626, channelCount);
    return bytes;
}

bool BlendGraphData::fromBytes(const QByteArray& bytes)
{
    if (std::size_t(bytes.size()) != kSize)
        return false;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.constData());
    canvas = {proto::getI32(in), proto::getI32(in + 4), proto::getI32(in + 8), proto::getI32(in + 12)};
    arrangement = BlendArrangement::unpack(in + 16);
    for (std::size_t p = 0; p < 9; ++p) {
        const uint8_t* pb = in + kChannelsOffset + kBlendSize * p;
        ProjectorBlend& blend = channels[p];
        for (std::size_t e = 0; e < 4; ++e) {
            const uint8_t* eb = pb + kEdgeSize * e;
            BlendEdge& edge = blend.edges[e];
            for (std::size_t c = 0; c < 4; ++c) {
                const uint8_t* cb = eb + kCurveSize * c;
                BlendCurve& curve = edge.curves[c];
                for (std::size_t i = 0; i < BlendCurve::kPoints; ++i) {
                    const uint8_t* q = cb + kPointSize * i;
                    curve.points[i] = {proto::getI32(q), proto::getI32(q + 4), proto::getI32(q + 8),
                                       proto::getI32(q + 12), q[16], q[17]};
                }
                for (std::size_t s = 0; s < BlendCurve::kSamples; ++s)
                    curve.samples[s] = proto::getU16(cb + 2448 + 2 * s);
                curve.reserved = proto::getU16(cb + 6768);
                curve.level = proto::getU16(cb + 6770);
            }
            edge.currentCurve = proto::getU16(eb + 27088);
            edge.reserved = proto::getU16(eb + 27090);
        }
        blend.currentEdge = proto::getU16(pb + 108368);
        blend.luminance = getF64(pb + 108370);
    }
    currentChannel = proto::getU16(in + 975624);
    channelCount = proto::getU16(in + 975626);
    return true;
}

// ---------------------------------------------------------------- gamma ramp

void MakeGammaRamp(int32_t n, uint32_t direction, uint16_t* out, float gamma)
{
    if (n < 1 || direction > 1)
        return;
    // A gamma of 0 or below has no meaning; it is taken as 1 rather than
    // raised to an infinite power.
    const double g = gamma > 0.0f ? double(gamma) : 1.0;
    for (int32_t i = 0; i < n; ++i) {
        // A ramp of one sample is at its end: t = 1, not 0 / 0.
        const double t = n > 1 ? double(i) / double(n - 1) : 1.0;
        const double f = i < n / 2 ? 2.0 * t * t : 1.0 - 2.0 * (1.0 - t) * (1.0 - t);
        const double v = std::min(255.0, std::pow(std::max(0.0, f), 1.0 / g) * 255.0 + 0.4);
        const uint16_t sample = uint16_t(int(std::trunc(v)) * 8);
        out[direction == 0 ? i : n - 1 - i] = sample;
    }
}

// ---------------------------------------------------------------- model

CProjectorGraph::CProjectorGraph() : data_(std::make_unique<BlendGraphData>())
{
    for (ProjectorBlend& p : data_->channels)
        for (BlendEdge& e : p.edges)
            for (BlendCurve& c : e.curves)
                c.level = 1;
}

CProjectorGraph::~CProjectorGraph() = default;

uint16_t CProjectorGraph::bandWidth(int channel, int edge) const
{
    const BlendChannel& c = data_->arrangement.channels[std::size_t(std::clamp(channel, 0, 8))];
    switch (edge) {
    case kBlendLeft: return c.bandLeft;
    case kBlendRight: return c.bandRight;
    case kBlendTop: return c.bandTop;
    default: return c.bandBottom;
    }
}

BlendCurve& CProjectorGraph::curve(int channel, int edge, int c)
{
    return data_->channels[std::size_t(channel)].edges[std::size_t(edge)].curves[std::size_t(c)];
}

int CProjectorGraph::currentCurveIndex() const
{
    const ProjectorBlend& p = data_->channels[data_->currentChannel % 9];
    return p.edges[p.currentEdge & 3].currentCurve & 3;
}

BlendCurve& CProjectorGraph::currentCurve()
{
    ProjectorBlend& p = data_->channels[data_->currentChannel % 9];
    BlendEdge& e = p.edges[p.currentEdge & 3];
    return e.curves[e.currentCurve & 3];
}

const BlendCurve& CProjectorGraph::currentCurve() const
{
    const ProjectorBlend& p = data_->channels[data_->currentChannel % 9];
    const BlendEdge& e = p.edges[p.currentEdge & 3];
    return e.curves[e.currentCurve & 3];
}

void CProjectorGraph::SetDefaultPoints()
{
    const BlendRect& cv = data_->canvas;
    for (ProjectorBlend& p : data_->channels) {
        for (BlendEdge& e : p.edges) {
            for (BlendCurve& c : e.curves) {
                for (int i = 0; i < BlendCurve::kPoints; ++i)
                    c.points[std::size_t(i)] = {cv.left - 5 + 10 * i, cv.bottom - 5, cv.left + 5 + 10 * i,
                                                cv.bottom + 5, 0, 0};
                c.level = 7;
            }
            e.currentCurve = 0;
            e.reserved = 0;
        }
    }
    for (int p = 0; p < 9; ++p)
        for (int e = 0; e < 4; ++e)
            for (int c = 0; c < 4; ++c)
                BuildSamples(p, e, c);
}

void CProjectorGraph::ApplyBandDefaults()
{
    // The table was made for a canvas bottom of 435; another canvas keeps the
    // same heights above its own bottom.
    const int shift = data_->canvas.bottom - kDefaultCanvasBottom;
    const int count = std::min<int>(data_->arrangement.channelCount, 9);
    for (int p = 0; p < count; ++p) {
        for (int e = 0; e < 4; ++e) {
            const uint16_t w = bandWidth(p, e);
            for (int i = 0; i < BlendCurve::kPoints; ++i) {
                int entry = -1;
                const int i15 = int(std::trunc(1.5 * i)), i134 = int(std::trunc(1.34 * i));
                const bool wide = w == 120 || w == 240 || w == 360 || w == 480 || w == 960;
                const bool tall = w == 135 || w == 270 || w == 540;
                switch (e) {
                case kBlendLeft:
                    entry = w == 30 ? (i < 30 ? 4 * i : -1) : w == 60 ? (i < 60 ? 2 * i : -1) : wide ? i
                            : w == 180 ? (i < 90 ? i15 : -1) : -1;
                    break;
                case kBlendRight:
                    entry = w == 30 ? (i < 30 ? 120 - 4 * i : -1) : w == 60 ? (i < 60 ? 120 - 2 * i : -1)
                            : wide ? (i <= 120 ? 120 - i : -1) : w == 180 ? (i < 90 ? 136 - i15 : -1) : -1;
                    break;
                case kBlendTop:
                    entry = w == 34 ? (i < 34 ? 4 * i : -1) : w == 68 ? (i < 68 ? 2 * i : -1) : tall ? i
                            : w == 202 ? (i < 101 ? i134 : -1) : -1;
                    break;
                default:
                    entry = w == 34 ? (i < 34 ? 136 - 4 * i : -1) : w == 68 ? (i < 68 ? 136 - 2 * i : -1)
                            : tall ? 136 - i : w == 202 ? (i < 101 ? 136 - i134 : -1) : -1;
                    break;
                }
                if (entry < 0 || entry > 136)
                    continue;
                const int top = kDefaultTops[entry] + shift;
                const int bottom = (entry == 126 ? kEntry126Bottom : kDefaultTops[entry] + 10) + shift;
                for (BlendCurve& c : data_->channels[std::size_t(p)].edges[std::size_t(e)].curves) {
                    c.points[std::size_t(i)].top = top;
                    c.points[std::size_t(i)].bottom = bottom;
                }
            }
        }
    }
}

void CProjectorGraph::MarkBandPoints()
{
    for (ProjectorBlend& p : data_->channels)
        for (BlendEdge& e : p.edges)
            for (BlendCurve& c : e.curves)
                for (CurvePoint& pt : c.points)
                    pt.visible = 0;
    const int count = std::min<int>(data_->arrangement.channelCount, 9);
    for (int p = 0; p < count; ++p)
        for (int e = 0; e < 4; ++e) {
            const int last = std::min<int>(bandWidth(p, e), 135);
            for (BlendCurve& c : data_->channels[std::size_t(p)].edges[std::size_t(e)].curves)
                for (int i = 0; i <= last; ++i)
                    c.points[std::size_t(i)].visible = 1;
        }
}

uint16_t CProjectorGraph::bandPointCount(int edge, uint16_t w)
{
    if (edge == kBlendLeft || edge == kBlendRight) {
        switch (w) {
        case 0: case 30: case 60: case 120: return w;
        case 180: return 90;
        case 240: case 360: case 480: case 960: return 120;
        default: return 0;
        }
    }
    switch (w) {
    case 0: case 34: case 68: case 135: return w;
    case 202: return 101;
    case 270: case 540: return 135;
    default: return 0;
    }
}

uint16_t CProjectorGraph::BandPointCount() const
{
    const int p = data_->currentChannel % 9;
    const int e = data_->channels[std::size_t(p)].currentEdge & 3;
    return bandPointCount(e, bandWidth(p, e));
}

void CProjectorGraph::UpdateVisiblePoints(int c)
{
    ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
    BlendCurve& curve = pb.edges[pb.currentEdge & 3].curves[std::size_t(c & 3)];
    for (CurvePoint& pt : curve.points)
        pt.visible = 0;
    const int n = BandPointCount();
    const int level = std::clamp<int>(curve.level, 1, 7);
    for (const DensityRow& row : densityTable()) {
        if (row.n != n)
            continue;
        const Density& d = row.levels[level - 1];
        if (d.all)
            for (int i = 0; i < n; ++i)
                curve.points[std::size_t(i)].visible = 1;
        for (int i : d.points)
            curve.points[std::size_t(i)].visible = 1;
    }
    curve.points[0].visible = 1;
    if (n >= 1)
        curve.points[std::size_t(n - 1)].visible = 1;
}

void CProjectorGraph::setLevel(int level)
{
    BlendCurve& c = currentCurve();
    c.level = uint16_t(std::clamp(level, 1, 7));
    if (currentCurveIndex() == 0) {
        ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
        for (int k = 1; k < 4; ++k)
            pb.edges[pb.currentEdge & 3].curves[std::size_t(k)].level = c.level;
    }
    ClearSelection();
    for (int k = 0; k < 4; ++k)
        UpdateVisiblePoints(k);
}

void CProjectorGraph::FewerPoints()
{
    setLevel(currentCurve().level - 1);
}

void CProjectorGraph::MorePoints()
{
    setLevel(currentCurve().level + 1);
}

void CProjectorGraph::ClearSelection()
{
    ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
    const bool master = currentCurveIndex() == 0;
    for (int k = 0; k < 4; ++k) {
        if (!master && k != currentCurveIndex())
            continue;
        for (CurvePoint& pt : pb.edges[pb.currentEdge & 3].curves[std::size_t(k)].points)
            pt.selected = 0;
    }
}

bool CProjectorGraph::HasSelection() const
{
    const BlendCurve& c = currentCurve();
    const int n = BandPointCount();
    for (int i = 0; i < n; ++i)
        if (c.points[std::size_t(i)].selected)
            return true;
    return false;
}

uint16_t CProjectorGraph::FirstSelected() const
{
    const BlendCurve& c = currentCurve();
    const int n = BandPointCount();
    for (int i = 0; i < n; ++i)
        if (c.points[std::size_t(i)].selected)
            return uint16_t(i);
    return 0;
}

uint16_t CProjectorGraph::PrevVisible() const
{
    const BlendCurve& c = currentCurve();
    for (int i = int(FirstSelected()) - 1; i >= 1; --i)
        if (c.points[std::size_t(i)].visible)
            return uint16_t(i);
    return 0;
}

uint16_t CProjectorGraph::NextVisible() const
{
    const BlendCurve& c = currentCurve();
    const int n = BandPointCount();
    for (int i = FirstSelected() + 1; i < n; ++i)
        if (c.points[std::size_t(i)].visible)
            return uint16_t(i);
    return 0;
}

void CProjectorGraph::selectPoint(int index)
{
    ClearSelection();
    ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
    BlendEdge& e = pb.edges[pb.currentEdge & 3];
    if (currentCurveIndex() == 0) {
        for (BlendCurve& c : e.curves)
            c.points[std::size_t(index)].selected = 1;
    } else {
        currentCurve().points[std::size_t(index)].selected = 1;
    }
}

void CProjectorGraph::copyBoxToSiblings(int index)
{
    if (currentCurveIndex() != 0)
        return;
    ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
    BlendEdge& e = pb.edges[pb.currentEdge & 3];
    const CurvePoint& src = e.curves[0].points[std::size_t(index)];
    for (int k = 1; k < 4; ++k) {
        CurvePoint& dst = e.curves[std::size_t(k)].points[std::size_t(index)];
        dst.left = src.left;
        dst.top = src.top;
        dst.right = src.right;
        dst.bottom = src.bottom;
        RelinePoints(k);
    }
}

void CProjectorGraph::RelinePoints(int c)
{
    ProjectorBlend& pb = data_->channels[data_->currentChannel % 9];
    BlendCurve& curve = pb.edges[pb.currentEdge & 3].curves[std::size_t(c & 3)];
    const int s = FirstSelected();
    const int n = BandPointCount();
    auto top = [&](int i) { return double(curve.points[std::size_t(i)].top); };
    auto line = [&](int from, int to, double start, double slope) {
        double y = start;
        for (int j = from; j < to; ++j, y += slope) {
            curve.points[std::size_t(j)].top = int32_t(std::trunc(y));
            curve.points[std::size_t(j)].bottom = int32_t(std::trunc(y + 10.0));
        }
    };
    if (n < 1)
        return;
    if (s == 0) {
        const int next = NextVisible();
        if (next > 0)
            line(0, next, top(0), (top(next) - top(0)) / next);
    } else if (s == n - 1) {
        const int prev = PrevVisible();
        if (s > prev)
            line(prev, s, top(prev), (top(s) - top(prev)) / (s - prev));
    } else {
        const int prev = PrevVisible();
        const int next = NextVisible();
        if (s > prev)
            line(prev, s, top(prev), (top(s) - top(prev)) / (s - prev));
        if (next > s)
            line(s, next, top(s), (top(next) - top(s)) / (next - s));
    }
}

void CProjectorGraph::BuildSamples(int channel, int edge, int c)
{
    if (channel < 0 || channel > 8 || edge < 0 || edge > 3 || c < 0 || c > 3)
        return;
    BlendCurve& curve = data_->channels[std::size_t(channel)].edges[std::size_t(edge)].curves[std::size_t(c)];
    const double bottom = data_->canvas.bottom;
    auto centre = [&](int k) {
        const CurvePoint& p = curve.points[std::size_t(k)];
        return double((int64_t(p.top) + p.bottom) / 2);
    };
    for (int k = 1; k < BlendCurve::kPoints; ++k) {
        const double y0 = centre(k - 1), y1 = centre(k);
        for (int j = 0; j < 16; ++j) {
            const double s = y0 + j * (y1 - y0) / 16;
            const double v = std::min(std::fabs(s - bottom) * 8.0, 65535.0);
            curve.samples[std::size_t((k - 1) * 16 + j)] = uint16_t(v);
        }
    }
}

int CProjectorGraph::OnKey(int key)
{
    step = std::clamp<uint32_t>(step, 1, 10);
    const int s = int(step);
    const int32_t bottom = data_->canvas.bottom;
    const int n = BandPointCount();
    BlendCurve& c = currentCurve();
    switch (key) {
    case kLeft:
        if (!HasSelection()) {
            selectPoint(0);
        } else {
            const int first = FirstSelected();
            for (int i = first - 1; i >= 0; --i)
                if (c.points[std::size_t(i)].visible) {
                    selectPoint(i);
                    break;
                }
        }
        return 0;
    case kRight:
        if (!HasSelection()) {
            selectPoint(0);
        } else {
            const int next = NextVisible();
            if (next > 0)
                selectPoint(next);
        }
        return 0;
    case kUp:
    case kDown: {
        if (!HasSelection() || n < 1)
            return -1;
        const int i = FirstSelected();
        CurvePoint& p = c.points[std::size_t(i)];
        if (key == kUp) {
            if (p.top - s < bottom - 261)
                return 1;
            p.top -= s;
            p.bottom -= s;
        } else {
            if (p.bottom + s > bottom + 5)
                return 1;
            p.top += s;
            p.bottom += s;
        }
        RelinePoints(currentCurveIndex());
        copyBoxToSiblings(i);
        return 0;
    }
    case kPadPlus:
    case kPlus:
        FewerPoints();
        return 0;
    case kPadMinus:
    case kMinus:
        MorePoints();
        return 0;
    default:
        return -1;
    }
}

void CProjectorGraph::OnDrag(int32_t x, int32_t y)
{
    if (!HasSelection())
        return;
    const int32_t dy = y - lastY_;
    lastX_ = x;
    lastY_ = y;
    const int32_t bottom = data_->canvas.bottom;
    const int i = FirstSelected();
    CurvePoint& p = currentCurve().points[std::size_t(i)];
    p.top += dy;
    p.bottom += dy;
    if (p.top < bottom - 261) {
        p.top = bottom - 261;
        p.bottom = bottom - 251;
    } else if (p.top > bottom - 5) {
        p.top = bottom - 5;
        p.bottom = bottom + 5;
    }
    RelinePoints(currentCurveIndex());
    copyBoxToSiblings(i);
}

void CProjectorGraph::CopyEdgeCurve(uint16_t w, int ps, int gs, int pt, int gt)
{
    if (ps < 0 || ps > 8 || pt < 0 || pt > 8 || gs < 0 || gs > 3 || gt < 0 || gt > 3)
        return;
    BlendEdge& src = data_->channels[std::size_t(ps)].edges[std::size_t(gs)];
    BlendEdge& dst = data_->channels[std::size_t(pt)].edges[std::size_t(gt)];
    const BlendCurve& from = src.curves[src.currentCurve & 3];
    const int targetCurve = dst.currentCurve & 3;
    const int count = gt == kBlendLeft || gt == kBlendRight ? 120 : 135;
    BlendCurve& to = dst.curves[std::size_t(targetCurve)];
    for (int i = 0; i < count; ++i) {
        to.points[std::size_t(i)].top = from.points[std::size_t(i)].top;
        to.points[std::size_t(i)].bottom = from.points[std::size_t(i)].bottom;
    }
    to.level = from.level;
    if (targetCurve == 0) {
        for (int k = 1; k < 4; ++k) {
            dst.curves[std::size_t(k)].points = to.points;
            dst.curves[std::size_t(k)].level = to.level;
        }
    }
    if (gs != gt) {
        const int n = bandPointCount(gt, w);
        auto reverse = [&](BlendCurve& c) {
            for (int k = 0; k < n / 2; ++k) {
                CurvePoint& a = c.points[std::size_t(k)];
                CurvePoint& b = c.points[std::size_t(n - 1 - k)];
                std::swap(a.top, b.top);
                std::swap(a.bottom, b.bottom);
            }
        };
        reverse(dst.curves[0]);
        if (targetCurve == 0)
            for (int k = 1; k < 4; ++k)
                reverse(dst.curves[std::size_t(k)]);
    }
}

void CProjectorGraph::Draw(QPainter& painter) const
{
    const BlendCurve& c = currentCurve();
    const int n = BandPointCount();
    const int32_t bottom = data_->canvas.bottom;
    const QColor line(80, 150, 100);
    // Points are drawn as clamped to the canvas, without changing the model.
    auto clamped = [&](int i) {
        CurvePoint p = c.points[std::size_t(i)];
        if (p.top < bottom - 261) {
            p.top = bottom - 261;
            p.bottom = bottom - 251;
        } else if (p.top > bottom - 5) {
            p.top = bottom - 5;
            p.bottom = bottom + 5;
        }
        return p;
    };
    painter.save();
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(7);
    painter.setFont(font);
    for (int i = 0; i < n; ++i) {
        const CurvePoint p = clamped(i);
        if (!p.visible)
            continue;
        painter.setPen(Qt::NoPen);
        painter.setBrush(p.selected ? QColor(255, 0, 0) : QColor(0, 0, 255));
        painter.drawEllipse(QRect(QPoint(p.left, p.top), QPoint(p.right - 1, p.bottom - 1)));
        if (p.selected) {
            const int shift = i == 0 ? 2 : 0;
            painter.setPen(line);
            painter.drawText(QRect(QPoint(p.left - 10 + shift, bottom + 10), QPoint(p.left + 20 + shift, bottom + 25)),
                             Qt::AlignLeft | Qt::AlignTop, QString::asprintf("%d", bottom - (p.top + p.bottom) / 2));
        }
    }
    painter.setPen(QPen(line, 1));
    painter.setBrush(Qt::NoBrush);
    if (n >= 1) {
        auto centre = [&](const CurvePoint& p) { return QPoint((p.left + p.right) / 2, (p.top + p.bottom) / 2); };
        QPoint prev = centre(clamped(0));
        for (int i = 1; i < n; ++i) {
            const CurvePoint p = clamped(i);
            if (!p.visible)
                continue;
            painter.drawLine(prev, centre(p));
            prev = centre(p);
        }
    }
    painter.restore();
}

// ---------------------------------------------------------------- file

bool CProjectorGraph::Save(filecommit::WriteFailure* failure) const
{
    return cfgx::WriteFileAtomically(cfgx::configFilePath(baseFolder, cfgx::kProjectorGraphFile), data_->toBytes(),
                                     failure);
}

namespace {

// Every index and height the model will use from the file lies in its table
// and on the canvas.
bool soundGraph(const BlendGraphData& f)
{
    const BlendRect& cv = f.canvas;
    constexpr int32_t kLimit = 100000;
    if (cv.right <= cv.left || cv.bottom <= cv.top || cv.left < -kLimit || cv.right > kLimit || cv.top < -kLimit ||
        cv.bottom > kLimit)
        return false;
    if (f.currentChannel > 8 || f.channelCount > 9)
        return false;
    for (const ProjectorBlend& p : f.channels) {
        if (p.currentEdge > 3 || !std::isfinite(p.luminance))
            return false;
        for (const BlendEdge& e : p.edges) {
            if (e.currentCurve > 3)
                return false;
            for (const BlendCurve& c : e.curves) {
                if (c.level < 1 || c.level > 7)
                    return false;
                for (const CurvePoint& pt : c.points) {
                    if (pt.top < cv.bottom - 261 || pt.top > cv.bottom + 5 || pt.bottom < cv.bottom - 261 ||
                        pt.bottom > cv.bottom + 5 || pt.left < -kLimit || pt.left > kLimit || pt.right < -kLimit ||
                        pt.right > kLimit)
                        return false;
                }
            }
        }
    }
    return true;
}

}  // namespace

bool CProjectorGraph::Load(FileLoad* outcome)
{
    FileLoad r = FileLoad::Missing;
    MarkBandPoints();
    const QString path = cfgx::configFilePath(baseFolder, cfgx::kProjectorGraphFile);
    platform::ensureFolder(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.exists())
        r = FileLoad::Missing;
    else if (!f.open(QIODevice::ReadOnly) || f.size() != qint64(BlendGraphData::kSize))
        r = FileLoad::Refused;
    else
        r = ApplyFileBytes(f.readAll());
    if (outcome)
        *outcome = r;
    return r == FileLoad::Loaded;
}

FileLoad CProjectorGraph::ApplyFileBytes(const QByteArray& bytes)
{
    auto scratch = std::make_unique<BlendGraphData>();
    if (!scratch->fromBytes(bytes))
        return FileLoad::Refused;
    MarkBandPoints();
    const BlendGraphData& live = *data_;
    if (scratch->channelCount != live.channelCount || !(scratch->arrangement == live.arrangement) ||
        !soundGraph(*scratch))
        return FileLoad::Refused;
    BlendGraphData& d = *data_;
    d.canvas = scratch->canvas;
    d.arrangement = scratch->arrangement;
    for (std::size_t p = 0; p < 9; ++p) {
        d.channels[p].currentEdge = scratch->channels[p].currentEdge;
        d.channels[p].luminance = scratch->channels[p].luminance;
        for (std::size_t e = 0; e < 4; ++e) {
            BlendEdge& de = d.channels[p].edges[e];
            const BlendEdge& se = scratch->channels[p].edges[e];
            de.currentCurve = se.currentCurve;
            de.reserved = se.reserved;
            for (std::size_t c = 0; c < 4; ++c) {
                de.curves[c].level = se.curves[c].level;
                de.curves[c].points = se.curves[c].points;
                for (CurvePoint& pt : de.curves[c].points) {
                    pt.visible = pt.visible ? 1 : 0;
                    pt.selected = pt.selected ? 1 : 0;
                }
            }
        }
    }
    d.currentChannel = scratch->currentChannel;
    d.channelCount = scratch->channelCount;
    return FileLoad::Loaded;
}

}  // namespace calib
