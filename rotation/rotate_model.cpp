#include "rotation/rotate_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace rotation {

int32_t TruncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return int32_t(value);
}

namespace {

PointI scaled(const PointD& p, double s)
{
    return {TruncToInt(p.x * s), TruncToInt(p.y * s)};
}

PointD midpoint02(const Quad& q)
{
    return {(q[0].x + q[2].x) * 0.5, (q[0].y + q[2].y) * 0.5};
}

void setCentre(WallOutput& o)
{
    const PointD c = midpoint02(o.FramePoint);
    o.CentreX = c.x;
    o.CentreY = c.y;
}

Quad rectQuad(double left, double top, double right, double bottom)
{
    return {PointD{left, top}, PointD{right, top}, PointD{right, bottom}, PointD{left, bottom}};
}

void shiftQuad(Quad& dst, const Quad& src, double dx, double dy)
{
    for (std::size_t i = 0; i < 4; ++i)
        dst[i] = {src[i].x + dx, src[i].y + dy};
}

}  // namespace

bool WallScreen::FindSelectedOutput()
{
    SelectedIndex = 0;
    for (uint16_t k = 0; k < kSlotCount; ++k) {
        if (outputs[k].Selected && outputs[k].Display) {
            SelectedIndex = k;
            return true;
        }
    }
    return false;
}

double WallScreen::scale() const
{
    return (std::isfinite(ShowScale) && ShowScale > 0) ? ShowScale : kDefaultShowScale;
}

uint16_t ChannelCountFromCode(uint16_t code)
{
    if (code >= 1 && code <= 9)
        return code;
    if (code >= 11 && code <= 91 && code % 10 == 1)
        return uint16_t(code / 10);
    return 0;
}

uint32_t AngleFromPresetIndex(uint16_t index)
{
    static constexpr uint32_t kAngles[] = {0,   30,  45,  60,  90,  120, 135, 150,
                                           180, 210, 225, 240, 270, 300, 315, 330};
    return index < std::size(kAngles) ? kAngles[index] : 0;
}

void RotateCorners(const Quad& src, Quad& dst, double cy, double angle, double cx)
{
    const double a = std::fmod(angle, 360.0) * 3.1415926535898 / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    Quad out;
    for (std::size_t i = 0; i < 4; ++i) {
        const double dx = src[i].x - cx;
        const double dy = src[i].y - cy;
        out[i] = {dx * c - dy * s + cx, dx * s + dy * c + cy};
    }
    dst = out;
}

void BoundingQuad(const std::vector<Quad>& quads, Quad& dst, int screen)
{
    if (screen < 0 || screen >= 4 || quads.empty())
        return;
    double minX = quads[0][0].x, minY = quads[0][0].y, maxX = minX, maxY = minY;
    const std::size_t n = std::min<std::size_t>(quads.size(), 9);
    for (std::size_t q = 0; q < n; ++q) {
        for (const PointD& p : quads[q]) {
            minX = std::min(minX, p.x);
            minY = std::min(minY, p.y);
            maxX = std::max(maxX, p.x);
            maxY = std::max(maxY, p.y);
        }
    }
    dst = rectQuad(minX, minY, maxX, maxY);
}

double PointToSegmentDistance(PointI p, PointI a, PointI b)
{
    const double c = std::hypot(double(b.x) - a.x, double(b.y) - a.y);
    const double pa = std::hypot(double(p.x) - a.x, double(p.y) - a.y);
    const double pb = std::hypot(double(p.x) - b.x, double(p.y) - b.y);
    if (pa + pb == c)
        return 0;
    if (c <= 0.00001)
        return pa;
    if (pb * pb >= c * c + pa * pa)
        return pa;
    if (pa * pa >= c * c + pb * pb)
        return pb;
    const double s = (pa + pb + c) / 2;
    // Rounding can make Heron's product a hair below zero for a point on the
    // line; the distance is then 0, never NaN.
    const double product = std::max(0.0, s * (s - pa) * (s - pb) * (s - c));
    return 2 * std::sqrt(product) / c;
}

bool PolygonHitTest(const QuadI& polygon, PointI offset, PointI p)
{
    // Winding number over the four edges, point sampled at the pixel's centre.
    const double px = p.x + 0.5, py = p.y + 0.5;
    int winding = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const double x1 = double(polygon[i].x) + offset.x, y1 = double(polygon[i].y) + offset.y;
        const double x2 = double(polygon[(i + 1) % 4].x) + offset.x, y2 = double(polygon[(i + 1) % 4].y) + offset.y;
        const double cross = (x2 - x1) * (py - y1) - (px - x1) * (y2 - y1);
        if (y1 <= py) {
            if (y2 > py && cross > 0)
                ++winding;
        } else if (y2 <= py && cross < 0) {
            --winding;
        }
    }
    return winding != 0;
}

int CursorForHandle(int handle)
{
    static constexpr int kCursors[] = {309, 310, 309, 310, 311, 312, 311, 312, 313};
    return handle >= 0 && handle < 9 ? kCursors[handle] : kArrowCursor;
}

// ================================================================ model

RotateModel::RotateModel()
{
    clockMicros = [] {
        return int64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count());
    };
}

int64_t RotateModel::now() const
{
    return clockMicros ? clockMicros() : 0;
}

void RotateModel::UpdateChannelCount()
{
    ChannelCount = ChannelCountFromCode(ChannelCode);
}

void RotateModel::CountOutputs()
{
    for (DeviceBlock& block : devices)
        block.count = uint32_t(std::count_if(block.slot.begin(), block.slot.end(),
                                             [](const OutputDevice& d) { return d.used(); }));
    ScreenCount = devices[1].count > 0 ? 2 : 1;
    OutputCount = uint16_t(devices[0].count + devices[1].count);
}

void RotateModel::ToggleSlot(int row, int k)
{
    if (row < 0 || row > 1 || k < 0 || k >= kSlotCount)
        return;
    OutputDevice& mine = devices[std::size_t(row)].slot[std::size_t(k)];
    OutputDevice& other = devices[std::size_t(1 - row)].slot[std::size_t(k)];
    if (!mine.used()) {
        mine = CurrentMonitor;
        other = OutputDevice();
    } else {
        mine = OutputDevice();
    }
    CountOutputs();
}

void RotateModel::ClearSlots()
{
    for (DeviceBlock& block : devices)
        for (OutputDevice& d : block.slot)
            d = OutputDevice();
    CountOutputs();
}

void RotateModel::ResetDevices()
{
    for (DeviceBlock& block : devices) {
        for (OutputDevice& d : block.slot)
            d = OutputDevice();
        block.count = 0;
    }
    ScreenCount = 0;
    OutputCount = 0;
}

void RotateModel::ResetWalls()
{
    for (WallScreen& w : walls) {
        w.ResolutionWidthTotal = 1920;
        w.ResolutionHeightTotal = 1080;
        w.SelectedIndex = 0;
        for (WallOutput& o : w.outputs) {
            o.Manufacturer.clear();
            o.Model.clear();
            o.ScreenWidth = o.ScreenHeight = 0;
            o.BezelLeft = o.BezelRight = o.BezelTop = o.BezelBottom = 0;
            o.FramePoint = Quad{};
            o.ScreenPoint = Quad{};
            o.CentreX = o.CentreY = 0;
            o.FrameAngle = o.FontAngle = 0;
            o.Channel = 0;
            o.Selected = 0;
            o.Display = 0;
        }
        w.FramePoint = Quad{};
        w.BackgroundSelected = 0;
        w.Display = 0;
    }
    CurrentScreen = 0;
    leftDrag = rightDrag = false;
}

// ---------------------------------------------------------------- wall

AddResult RotateModel::AddOutputsToWall()
{
    CountOutputs();
    if (devices[0].count == 0)
        return AddResult::NoScreen1Output;
    if (OutputCount > ChannelCount)
        return AddResult::TooManyOutputs;
    ChannelSlots.fill(0);
    std::size_t n = 0;
    for (int s = 0; s < 2; ++s)
        for (uint16_t k = 0; k < kSlotCount; ++k)
            if (devices[std::size_t(s)].slot[k].used() && n < ChannelSlots.size())
                ChannelSlots[n++] = k;
    for (std::size_t i = 0; i < OutputCount && i < ChannelSlots.size(); ++i)
        if (ChannelSlots[i] + 1 > ChannelCount)
            return AddResult::ChannelTooHigh;
    LayOutWall();
    UpdateVideoWall = true;
    UpdateCanvasPolygons();
    return AddResult::Ok;
}

void RotateModel::LayOutWall()
{
    std::size_t n = 0;
    bool stopped = false;
    for (std::size_t s = 0; s < kScreenCount; ++s) {
        WallScreen& w = walls[s];
        DeviceBlock& block = devices[s];
        const bool empty = std::none_of(block.slot.begin(), block.slot.end(),
                                        [](const OutputDevice& d) { return d.used(); });
        for (std::size_t k = 0; k < kSlotCount && !stopped; ++k) {
            WallOutput& o = w.outputs[k];
            const OutputDevice& d = block.slot[k];
            if (empty || !d.used()) {
                o.Manufacturer.clear();
                o.Model.clear();
                o.Selected = o.Display = 0;
                continue;
            }
            // Nine channels at most: a tenth used slot (only screens 3 and 4
            // of a file can hold one) is never given a channel.
            if (n >= ChannelSlots.size()) {
                stopped = true;
                break;
            }
            if (o.Manufacturer == d.Manufacturer && o.Model == d.Model) {
                ++n;
                continue;
            }
            o.Manufacturer = d.Manufacturer;
            o.Model = d.Model;
            o.ScreenWidth = d.ScreenWidth + d.BezelLeft + d.BezelRight;
            o.ScreenHeight = d.ScreenHeight + d.BezelTop + d.BezelBottom;
            o.BezelLeft = d.BezelLeft;
            o.BezelRight = d.BezelRight;
            o.BezelTop = d.BezelTop;
            o.BezelBottom = d.BezelBottom;
            o.ResolutionWidth = d.ResolutionWidth;
            o.ResolutionHeight = d.ResolutionHeight;
            o.RefreshRate = d.RefreshRate;
            o.Channel = ChannelSlots[n];
            o.Selected = 0;
            o.Display = 1;
            o.FrameAngle = o.FontAngle = 0;
            o.FramePoint = rectQuad(0, 0, o.ScreenWidth, o.ScreenHeight);
            o.ScreenPoint = rectQuad(d.BezelLeft, d.BezelTop, d.BezelLeft + d.ScreenWidth, d.BezelTop + d.ScreenHeight);
            o.CentreX = o.ScreenWidth / 2;
            o.CentreY = o.ScreenHeight / 2;
            ++n;
        }
        w.ResolutionWidthTotal = 5760;
        w.ResolutionHeightTotal = 3240;
        w.SelectedIndex = 0;
        w.ShowScale = kDefaultShowScale;
    }
    walls[0].BackgroundSelected = 0;
    walls[1].BackgroundSelected = 0;
    CurrentScreen = 0;
    leftDrag = false;
}

void RotateModel::GetOutputsBounds(Quad& dst) const
{
    std::vector<Quad> frames;
    for (const WallOutput& o : wall().outputs)
        if (o.Display)
            frames.push_back(o.FramePoint);
    BoundingQuad(frames, dst, CurrentScreen);
}

void RotateModel::FitBackgroundToOutputs()
{
    WallScreen& w = wall();
    if (displayedCount(CurrentScreen) > 0) {
        Quad box;
        GetOutputsBounds(box);
        w.FramePoint = rectQuad(box[0].x - 10, box[0].y - 10, box[2].x + 10, box[2].y + 10);
    }
    w.BackgroundSelected = 0;
    w.Display = 1;
}

int RotateModel::displayedCount(int screen) const
{
    if (screen < 0 || screen >= kScreenCount)
        return 0;
    const auto& outs = walls[std::size_t(screen)].outputs;
    return int(std::count_if(outs.begin(), outs.end(), [](const WallOutput& o) { return o.Display != 0; }));
}

bool RotateModel::Rearrange(uint16_t row, uint16_t column)
{
    WallScreen& w = wall();
    w.Row = row;
    w.Column = column;
    if (uint16_t(w.Row * w.Column) != displayedCount(CurrentScreen))
        return false;
    double x = 0, y = 0, h = 0;
    int c = 0, r = 0;
    for (WallOutput& o : w.outputs) {
        if (!o.Display)
            continue;
        if (r >= w.Row)
            break;
        const double W = o.ScreenWidth, H = o.ScreenHeight;
        o.FramePoint = rectQuad(x, y, x + W, y + H);
        // The picture area from the output's own copy of its device's
        // bezels (the same values as its slot's, and still there when the
        // slot has been cleared since).
        const double pw = W - o.BezelLeft - o.BezelRight;
        const double ph = H - o.BezelTop - o.BezelBottom;
        o.ScreenPoint = rectQuad(x + o.BezelLeft, y + o.BezelTop, x + o.BezelLeft + pw, y + o.BezelTop + ph);
        setCentre(o);
        x += W;
        h = std::max(h, H);
        if (c + 1 < w.Column) {
            ++c;
        } else {
            y += h;
            x = h = 0;
            c = 0;
            ++r;
        }
    }
    if (w.Display)
        FitBackgroundToOutputs();
    UpdateCanvasPolygons();
    SendRotateJson(0, false);
    return true;
}

RatioResult RotateModel::SetAspectRatio(int width, int height)
{
    if (width < 1 || width > 10000 || height < 1 || height > 10000)
        return RatioResult::OutOfRange;
    const double r = double(width) / double(height);
    if (r > 11.0)
        return RatioResult::TooWide;
    WallScreen& w = wall();
    w.RatioWidth = uint16_t(width);
    w.RatioHeight = uint16_t(height);
    Quad& bg = w.FramePoint;
    double left = bg[0].x, top = bg[0].y, right = bg[1].x, bottom = bg[2].y;
    if (right - left > bottom - top)
        bottom = top + (right - left) / r;
    else
        right = left + (bottom - top) * r;
    GetOutputsBounds(OutputLimits);
    left = std::min(left, OutputLimits[0].x);
    top = std::min(top, OutputLimits[0].y);
    right = std::max(right, OutputLimits[2].x);
    bottom = std::max(bottom, OutputLimits[2].y);
    bg = rectQuad(left, top, right, bottom);
    UpdateCanvasPolygons();
    return RatioResult::Ok;
}

void RotateModel::SetBackgroundDisplay(bool on)
{
    if (on)
        FitBackgroundToOutputs();
    else
        wall().Display = 0;
    UpdateCanvasPolygons();
    SendRotateJson(0, false);
}

bool RotateModel::RemoveSelected()
{
    for (WallOutput& o : wall().outputs) {
        if (o.Display && o.Selected) {
            o.Display = 0;
            o.Selected = 0;
            o.Manufacturer.clear();
            o.Model.clear();
            UpdateCanvasPolygons();
            SendRotateJson(0, false);
            return true;
        }
    }
    return false;
}

void RotateModel::SelectScreen(int screen)
{
    CurrentScreen = screen == 1 ? 1 : 0;
    WallScreen& w = wall();
    w.SelectedIndex = 0;
    for (WallOutput& o : w.outputs)
        o.Selected = 0;
    UpdateCanvasPolygons();
}

bool RotateModel::hasSelection() const
{
    WallScreen copy = wall();
    return copy.FindSelectedOutput();
}

// ---------------------------------------------------------------- canvas

void RotateModel::UpdateCanvasPolygons()
{
    WallScreen& w = wall();
    const double s = w.scale();
    if (w.Display)
        for (std::size_t i = 0; i < 4; ++i)
            w.BackgroundPolygon[i] = scaled(w.FramePoint[i], s);
    for (WallOutput& o : w.outputs) {
        if (!o.Display)
            continue;
        for (std::size_t i = 0; i < 4; ++i) {
            o.FramePolygon[i] = scaled(o.FramePoint[i], s);
            o.ScreenPolygon[i] = scaled(o.ScreenPoint[i], s);
        }
    }
}

void RotateModel::ComputeHandleRects()
{
    WallScreen& w = wall();
    const double s = w.scale();
    const double L = s * w.FramePoint[0].x, T = s * w.FramePoint[0].y;
    const double R = s * w.FramePoint[1].x, B = s * w.FramePoint[2].y;
    const double mx = (L + R) / 2, my = (T + B) / 2;
    auto rect = [](double l, double t, double r, double b) {
        return RectI{TruncToInt(l), TruncToInt(t), TruncToInt(r), TruncToInt(b)};
    };
    w.HandleRects = {rect(L, T, L + 10, T + 10),          rect(R - 10, T, R, T + 10),
                     rect(R - 10, B - 10, R, B),          rect(L, B - 10, L + 10, B),
                     rect(mx - 5, T, mx + 5, T + 10),     rect(R - 10, my - 5, R, my + 5),
                     rect(mx - 5, B - 10, mx + 5, B),     rect(L, my - 5, L + 10, my + 5),
                     rect(L, T, R, B)};
}

void RotateModel::HitHandle(PointI p)
{
    WallScreen& w = wall();
    w.ActiveHandle = -1;
    for (int i = 0; i < 9; ++i) {
        RectI r = w.HandleRects[std::size_t(i)];
        if (RectHitTest(r, int64_t(p.x) - CanvasRect.left, int64_t(p.y) - CanvasRect.top)) {
            w.ActiveHandle = i;
            return;
        }
    }
}

void RotateModel::LeftButtonDown(PointI p)
{
    WallScreen& w = wall();
    w.SelectedIndex = 0;
    for (WallOutput& o : w.outputs)
        o.Selected = 0;
    w.BackgroundSelected = 0;
    leftDrag = false;
    lastDrag_ = now();
    if (RectHitTest(CanvasRect, p.x, p.y)) {
        const PointI origin{CanvasRect.left, CanvasRect.top};
        bool hit = false;
        for (int k = kSlotCount - 1; k >= 0; --k) {
            WallOutput& o = w.outputs[std::size_t(k)];
            if (!o.Display || !PolygonHitTest(o.FramePolygon, origin, p))
                continue;
            o.Selected = 1;
            dragStart = p;
            o.DragStartFrame = o.FramePoint;
            o.DragStartScreen = o.ScreenPoint;
            w.SelectedIndex = uint16_t(k);
            SendRotateJson(o.Channel, true);
            leftDrag = true;
            hit = true;
            break;
        }
        if (!hit && w.Display && PolygonHitTest(w.BackgroundPolygon, origin, p)) {
            w.BackgroundSelected = 1;
            dragStart = p;
            w.DragStartBackground = w.FramePoint;
            ComputeHandleRects();
            HitHandle(p);
            GetOutputsBounds(OutputLimits);
            leftDrag = true;
        }
    }
    UpdateCanvasPolygons();
}

void RotateModel::LeftButtonUp()
{
    leftDrag = false;
    wall().ActiveHandle = -1;
}

void RotateModel::RightButtonDown(PointI p)
{
    if (!RectHitTest(CanvasRect, p.x, p.y))
        return;
    WallScreen& w = wall();
    for (WallOutput& o : w.outputs) {
        if (!o.Display)
            continue;
        o.DragStartFrame = o.FramePoint;
        o.DragStartScreen = o.ScreenPoint;
    }
    if (w.Display) {
        w.DragStartBackground = w.FramePoint;
        ComputeHandleRects();
        HitHandle(p);
        GetOutputsBounds(OutputLimits);
    }
    dragStart = p;
    rightDrag = true;
    UpdateCanvasPolygons();
}

void RotateModel::RightButtonUp()
{
    rightDrag = false;
}

int RotateModel::MouseMove(PointI p)
{
    if (!RectHitTest(CanvasRect, p.x, p.y))
        return -1;
    WallScreen& w = wall();
    const double s = w.scale();
    const double dx = (double(p.x) - dragStart.x) / s;
    const double dy = (double(p.y) - dragStart.y) / s;
    if (!leftDrag && !rightDrag) {
        if (w.Display && w.BackgroundSelected) {
            ComputeHandleRects();
            HitHandle(p);
            return CursorForHandle(w.ActiveHandle);
        }
        return kArrowCursor;
    }
    if (rightDrag) {
        for (WallOutput& o : w.outputs) {
            if (!o.Display)
                continue;
            shiftQuad(o.FramePoint, o.DragStartFrame, dx, dy);
            shiftQuad(o.ScreenPoint, o.DragStartScreen, dx, dy);
            setCentre(o);
        }
        if (w.Display)
            shiftQuad(w.FramePoint, w.DragStartBackground, dx, dy);
        UpdateCanvasPolygons();
        SendRotateJson(0, false);
        return -1;
    }
    if (w.FindSelectedOutput()) {
        const WallOutput& o = w.outputs[w.SelectedIndex];
        if (w.Display) {
            const RectI box{TruncToInt(w.FramePoint[0].x), TruncToInt(w.FramePoint[0].y), TruncToInt(w.FramePoint[1].x),
                            TruncToInt(w.FramePoint[2].y)};
            for (const PointD& c : o.DragStartFrame)
                if (!RectHitTest(box, TruncToInt(c.x + dx), TruncToInt(c.y + dy)))
                    return -1;
        }
        DragSelected(dx, dy, p);
        UpdateCanvasPolygons();
        SendRotateJson(0, false);
        return -1;
    }
    if (w.Display && w.BackgroundSelected)
        DragBackground(dx, dy);
    return -1;
}

void RotateModel::DragSelected(double dx, double dy, PointI p)
{
    WallScreen& w = wall();
    if (!w.FindSelectedOutput())
        return;
    WallOutput& o = w.outputs[w.SelectedIndex];
    const int64_t t = now();
    const int64_t elapsed = t - lastDrag_;
    lastDrag_ = t;
    int corner = 0, other = 0, edge = 0;
    if (elapsed > kSnapQuietMicros && FindSnapEdge(corner, other, edge)) {
        if (!IsOnEdge(corner, other, edge)) {
            SnapToEdge(corner, other, edge);
            dragStart = p;
            o.DragStartFrame = o.FramePoint;
            o.DragStartScreen = o.ScreenPoint;
        }
        return;
    }
    shiftQuad(o.FramePoint, o.DragStartFrame, dx, dy);
    shiftQuad(o.ScreenPoint, o.DragStartScreen, dx, dy);
    setCentre(o);
}

void RotateModel::DragBackground(double dx, double dy)
{
    WallScreen& w = wall();
    ComputeHandleRects();
    const Quad& st = w.DragStartBackground;
    Quad& bg = w.FramePoint;
    const int handle = w.ActiveHandle;
    if (handle == 8) {
        const double L = st[0].x + dx, T = st[0].y + dy, R = st[1].x + dx, B = st[2].y + dy;
        const Quad& lim = OutputLimits;
        if ((L != bg[0].x && L > lim[0].x) || (T != bg[0].y && T > lim[0].y) || (R != bg[1].x && R < lim[2].x) ||
            (B != bg[2].y && B < lim[2].y))
            return;
        bg = rectQuad(L, T, R, B);
    } else if (handle >= 0 && handle < 8) {
        static constexpr bool kMoves[8][4] = {
            // left, top, right, bottom
            {true, true, false, false}, {false, true, true, false}, {false, false, true, true},
            {true, false, false, true}, {false, true, false, false}, {false, false, true, false},
            {false, false, false, true}, {true, false, false, false}};
        const bool* m = kMoves[handle];
        double L = bg[0].x, T = bg[0].y, R = bg[1].x, B = bg[2].y;
        const Quad& lim = OutputLimits;
        auto clampL = [&] { L = std::min(L, lim[0].x); };
        auto clampT = [&] { T = std::min(T, lim[0].y); };
        auto clampR = [&] { R = std::max(R, lim[2].x); };
        auto clampB = [&] { B = std::max(B, lim[2].y); };
        if (m[0]) { L = st[0].x + dx; clampL(); }
        if (m[1]) { T = st[0].y + dy; clampT(); }
        if (m[2]) { R = st[1].x + dx; clampR(); }
        if (m[3]) { B = st[2].y + dy; clampB(); }
        const double r = w.RatioHeight > 0 && w.RatioWidth > 0 ? double(w.RatioWidth) / w.RatioHeight : 4.0 / 3.0;
        switch (handle) {
        case 0: T = B - (R - L) / r; clampT(); L = R - r * (B - T); clampL(); break;
        case 1: T = B - (R - L) / r; clampT(); R = L + r * (B - T); clampR(); break;
        case 2: R = L + r * (B - T); clampR(); B = T + (R - L) / r; clampB(); break;
        case 3: L = R - r * (B - T); clampL(); B = T + (R - L) / r; clampB(); break;
        case 4: case 6: R = L + r * (B - T); clampR(); break;
        default: B = T + (R - L) / r; clampB(); break;
        }
        bg = rectQuad(L, T, R, B);
    }
    UpdateCanvasPolygons();
    SendRotateJson(0, false);
}

void RotateModel::MouseWheel(int delta)
{
    WallScreen& w = wall();
    if (delta <= 0) {
        w.ShowScale -= kShowScaleStep;
        if (w.ShowScale < 0.02)
            w.ShowScale = kMinShowScale;
    } else {
        w.ShowScale += kShowScaleStep;
        if (w.ShowScale > kMaxShowScale)
            w.ShowScale = kMaxShowScale;
    }
    UpdateCanvasPolygons();
}

bool RotateModel::MoveSelected(double dx, double dy)
{
    WallScreen& w = wall();
    if (!w.FindSelectedOutput())
        return false;
    WallOutput& o = w.outputs[w.SelectedIndex];
    if (w.Display) {
        const QuadI& bp = w.BackgroundPolygon;
        const RectI box{bp[0].x, bp[0].y, bp[1].x, bp[3].y};
        for (const PointI& c : o.FramePolygon)
            if (!RectHitTest(box, TruncToInt(c.x + dx), TruncToInt(c.y + dy)))
                return false;
    }
    const double s = w.scale();
    shiftQuad(o.FramePoint, o.FramePoint, dx / s, dy / s);
    shiftQuad(o.ScreenPoint, o.ScreenPoint, dx / s, dy / s);
    setCentre(o);
    UpdateCanvasPolygons();
    SendRotateJson(0, false);
    return true;
}

bool RotateModel::RotateSelected(double step)
{
    if (CurrentScreen >= 4)
        return false;
    WallScreen& w = wall();
    if (!w.FindSelectedOutput())
        return false;
    // The test turns the frame by the step about to be applied (not by the
    // sum of the previous and the new step), so what is checked is what
    // happens.
    if (!RotationStaysInBackground(step))
        return false;
    WallOutput& o = w.outputs[w.SelectedIndex];
    o.FrameAngle = step;
    o.FontAngle += step;
    RotateCorners(o.FramePoint, o.FramePoint, o.CentreY, o.FrameAngle, o.CentreX);
    RotateCorners(o.ScreenPoint, o.ScreenPoint, o.CentreY, o.FrameAngle, o.CentreX);
    UpdateCanvasPolygons();
    SendRotateJson(0, false);
    return true;
}

bool RotateModel::RotationStaysInBackground(double angle)
{
    WallScreen& w = wall();
    if (!w.Display)
        return true;
    if (!w.FindSelectedOutput())
        return true;
    const WallOutput& o = w.outputs[w.SelectedIndex];
    Quad turned;
    RotateCorners(o.FramePoint, turned, o.CentreY, angle, o.CentreX);
    const double s = w.scale();
    const QuadI& bp = w.BackgroundPolygon;
    const RectI box{bp[0].x - 1, bp[0].y - 1, bp[1].x + 1, bp[2].y + 1};
    for (const PointD& c : turned) {
        const PointI q = scaled(c, s);
        if (!RectHitTest(box, q.x, q.y))
            return false;
    }
    return true;
}

bool RotateModel::FindSnapEdge(int& corner, int& other, int& edge, int* distance)
{
    WallScreen& w = wall();
    if (!w.FindSelectedOutput())
        return false;
    const WallOutput& me = w.outputs[w.SelectedIndex];
    for (int j = 0; j < kSlotCount; ++j) {
        const WallOutput& o = w.outputs[std::size_t(j)];
        if (j == w.SelectedIndex || !o.Display)
            continue;
        for (int i = 0; i < 4; ++i) {
            for (int e = 0; e < 4; ++e) {
                const double d = PointToSegmentDistance(me.FramePolygon[std::size_t(i)], o.FramePolygon[std::size_t(e)],
                                                        o.FramePolygon[std::size_t((e + 1) % 4)]);
                const int32_t t = TruncToInt(d);
                if (t < 10) {
                    corner = i;
                    other = j;
                    edge = e;
                    if (distance)
                        *distance = t;
                    return true;
                }
            }
        }
    }
    return false;
}

bool RotateModel::IsOnEdge(int corner, int other, int edge)
{
    WallScreen& w = wall();
    if (!w.FindSelectedOutput() || other < 0 || other >= kSlotCount || corner < 0 || corner > 3 || edge < 0 || edge > 3)
        return false;
    const WallOutput& me = w.outputs[w.SelectedIndex];
    const WallOutput& o = w.outputs[std::size_t(other)];
    return TruncToInt(PointToSegmentDistance(me.FramePolygon[std::size_t(corner)], o.FramePolygon[std::size_t(edge)],
                                             o.FramePolygon[std::size_t((edge + 1) % 4)])) == 0;
}

void RotateModel::SnapToEdge(int corner, int other, int edge)
{
    WallScreen& w = wall();
    if (!w.FindSelectedOutput() || other < 0 || other >= kSlotCount || corner < 0 || corner > 3 || edge < 0 || edge > 3)
        return;
    WallOutput& me = w.outputs[w.SelectedIndex];
    const WallOutput& o = w.outputs[std::size_t(other)];
    const PointD P = me.FramePoint[std::size_t(corner)];
    const PointD a = o.FramePoint[std::size_t(edge)];
    const PointD b = o.FramePoint[std::size_t((edge + 1) % 4)];
    const double ex = b.x - a.x, ey = b.y - a.y, d = ex * ex + ey * ey;
    PointD foot = P;
    if (d != 0) {
        const double k = b.y * a.x - b.x * a.y;
        foot.x = (ex * ex * P.x + ex * ey * P.y + ey * k) / d;
        foot.y = (ey * ey * P.y + ex * ey * P.x - ex * k) / d;
    }
    foot.x = std::clamp(foot.x, std::min(a.x, b.x), std::max(a.x, b.x));
    foot.y = std::clamp(foot.y, std::min(a.y, b.y), std::max(a.y, b.y));
    shiftQuad(me.FramePoint, me.FramePoint, foot.x - P.x, foot.y - P.y);
    shiftQuad(me.ScreenPoint, me.ScreenPoint, foot.x - P.x, foot.y - P.y);
    setCentre(me);
}

// ---------------------------------------------------------------- document

bool RotateModel::pendingBlocks() const
{
    return pending_ && now() - sentAt_ < kPendingTimeoutMicros;
}

void RotateModel::SendRotateJson(uint16_t channel, bool click)
{
    if (pendingBlocks()) {
        // Not lost: the whole current wall goes out when the reply comes.
        unsent_ = true;
        return;
    }
    if (!transmit || !transmit(channel, click))
        return;
    pending_ = true;
    unsent_ = false;
    sentAt_ = now();
}

void RotateModel::OnRotateReply()
{
    pending_ = false;
    if (unsent_)
        SendRotateJson(0, false);
}

void RotateModel::Tick()
{
    if (pending_ && unsent_ && !pendingBlocks())
        SendRotateJson(0, false);
}

}  // namespace rotation
