#include "calibration/channel_map.h"

#include "transport/protocol.h"

#include <algorithm>
#include <emmintrin.h>
#include <cmath>
#include <cstring>

namespace calib {

namespace {

// Values far outside any table are held here before they become integers,
// so that no out-of-range double is ever converted.
constexpr double kIntLimit = 1.0e9;

// floor(v + 0.5) above 0, else ceil(v - 0.5). Truncating v +- 0.5 gives the
// same value (truncation is floor for positive and ceil for negative
// numbers) and is one instruction where floor and ceil are library calls.
// Adding a half with v's sign before truncating is the same again, without
// a branch (for v = 0 both give 0).
inline double roundHalf(double v)
{
    if (std::fabs(v) < 4.0e15) [[likely]]
        return double(int64_t(v + std::copysign(0.5, v)));
    return v > 0.0 ? std::floor(v + 0.5) : std::ceil(v - 0.5);
}

int32_t toInt(double v)
{
    if (!(v == v))  // NaN
        return 0;
    return int32_t(std::clamp(v, -kIntLimit, kIntLimit));
}

// toInt(roundHalf(v)) in one conversion for the values a cell gives.
inline int32_t roundToInt(double v)
{
    if (std::fabs(v) < kIntLimit) [[likely]]
        return int32_t(v + std::copysign(0.5, v));
    return toInt(v);
}

inline int32_t addHeld(int32_t a, int32_t b)
{
    return int32_t(std::clamp<int64_t>(int64_t(a) + b, -int64_t(kIntLimit), int64_t(kIntLimit)));
}

// roundHalf(v) as an integer, false when v is too large to matter (or NaN):
// such a value lies beyond any cell.
inline bool roundedInt(double v, int64_t& out)
{
    if (!(std::fabs(v) < 4.0e15))
        return false;
    out = int64_t(v + std::copysign(0.5, v));
    return true;
}

// One axis of the inverse map: the root of a u^2 + b u + c = 0 (scaled by k)
// that lies within 0..extent, or the linear solution when a vanishes.
inline int32_t solveOffset(double a, double k, double b, double c, double extent, int64_t extentInt)
{
    if (std::fabs(a) > 0.5) {
        const double disc = b * b - 4.0 * a * c;
        if (disc < 0.0)
            return 0;  // no real root: no valid offset
        const double s = std::sqrt(disc);
        int64_t u = 0;
        if (roundedInt((-b - s) * k, u) && u >= 0 && u <= extentInt)
            return int32_t(u);
        if (roundedInt((s - b) * k, u) && u >= 0 && u <= extentInt)
            return int32_t(u);
        return 0;
    }
    // A parallelogram cell: the equation is linear. B = 0 means a degenerate
    // cell with no solution, taken as offset 0 rather than a division by zero.
    if (b == 0.0)
        return 0;
    return roundToInt(extent * -c / b);
}

}  // namespace

double roundHalfAway(double v)
{
    return roundHalf(v);
}

void ScanQuad(const Quad& q, SpanTable& spans)
{
    struct Edge {
        double slope = 0, intercept = 0;
        bool horizontal = false;
        int64_t x1, y1, x2, y2;
    };
    static constexpr int kOrder[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    Edge edges[4];
    for (int i = 0; i < 4; ++i) {
        Edge& e = edges[i];
        e.x1 = q.x[std::size_t(kOrder[i][0])];
        e.y1 = q.y[std::size_t(kOrder[i][0])];
        e.x2 = q.x[std::size_t(kOrder[i][1])];
        e.y2 = q.y[std::size_t(kOrder[i][1])];
        if (e.y1 == e.y2) {
            e.horizontal = true;
        } else {
            // The integer quotient is what the player's maps were made with.
            e.slope = double((e.x1 - e.x2) / (e.y1 - e.y2));
            e.intercept = double(e.x1) - double(e.y1) * e.slope;
        }
    }
    const auto [minY, maxY] = std::minmax({q.y[0], q.y[1], q.y[2], q.y[3]});
    const auto [minX, maxX] = std::minmax({q.x[0], q.x[1], q.x[2], q.x[3]});
    spans.firstRow = std::max<int32_t>(0, minY);
    spans.lastRow = std::min<int32_t>(SpanTable::kRows - 1, maxY);
    spans.firstColumn = std::max<int32_t>(0, minX);
    spans.lastColumn = std::min<int32_t>(ChannelMap::kOutputColumns - 1, maxX);

    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        double low = 10000.0, high = 0.0;
        bool done = false;
        for (const Edge& e : edges) {
            if (e.horizontal && e.y1 == y) {
                low = double(std::min(e.x1, e.x2));
                high = double(std::max(e.x1, e.x2));
                done = true;
                break;
            }
        }
        if (!done) {
            for (const Edge& e : edges) {
                if (e.horizontal)
                    continue;
                const double xe = e.slope * double(y) + e.intercept;
                const double r = roundHalfAway(xe);
                if (r < double(std::min(e.x1, e.x2)) || r > double(std::max(e.x1, e.x2)))
                    continue;
                if (y < std::min(e.y1, e.y2) || y > std::max(e.y1, e.y2))
                    continue;
                low = std::min(low, xe);
                high = std::max(high, xe);
            }
        }
        // Clamped to the table so that no pixel is ever written outside it.
        const double first = std::max(std::ceil(low), double(spans.firstColumn));
        const double last = std::min(std::trunc(high), double(spans.lastColumn));
        spans.firstX[std::size_t(y)] = toInt(first);
        spans.lastX[std::size_t(y)] = toInt(last);
    }
}

namespace {

// The terms of one quad that do not depend on the pixel, and the pixel terms
// D, C and C' as integers that grow by a fixed amount per column, so that a
// row costs additions and the two solves. Every value is the exact integer
// the direct formula gives, so the results are the same.
// Corner coordinates are held within +-2^20 (far outside any output), so
// that every product below stays well inside 64 bits.
constexpr int32_t kCornerLimit = 1 << 20;

Quad heldQuad(const Quad& q)
{
    Quad out;
    for (std::size_t i = 0; i < 4; ++i) {
        out.x[i] = std::clamp(q.x[i], -kCornerLimit, kCornerLimit);
        out.y[i] = std::clamp(q.y[i], -kCornerLimit, kCornerLimit);
    }
    return out;
}

struct QuadSolver {
    int64_t x0, y0, ax, ay, dx2, dy2, dx1, dy1;
    double w, h;
    int64_t wi, hi;
    int32_t refX, refY;

    // Both quads already held by heldQuad.
    QuadSolver(const Quad& r, const Quad& c)
        : x0(c.x[0]), y0(c.y[0]),
          ax(int64_t(c.x[0]) - c.x[1] - c.x[2] + c.x[3]), ay(int64_t(c.y[0]) - c.y[1] - c.y[2] + c.y[3]),
          dx2(int64_t(c.x[2]) - c.x[0]), dy2(int64_t(c.y[2]) - c.y[0]),
          dx1(int64_t(c.x[1]) - c.x[0]), dy1(int64_t(c.y[1]) - c.y[0]),
          w(double(int64_t(r.x[1]) - r.x[0])), h(double(int64_t(r.y[2]) - r.y[0])),
          wi(int64_t(r.x[1]) - r.x[0]), hi(int64_t(r.y[2]) - r.y[0]), refX(r.x[0]), refY(r.y[0])
    {
    }

    void terms(QuadCache& cache) const
    {
        // A = ay (x0 - x1) - ax (y0 - y1), B0 = (y2 - y0)(x0 - x1) - (x2 - x0)(y0 - y1), and their twins.
        cache.a = double(ay * -dx1 - ax * -dy1);
        cache.k = cache.a != 0.0 ? w / (2.0 * cache.a) : 0.0;
        cache.b0 = double(dy2 * -dx1 - dx2 * -dy1);
        cache.a2 = double(-dx2 * ay - -dy2 * ax);
        cache.k2 = cache.a2 != 0.0 ? h / (2.0 * cache.a2) : 0.0;
        cache.b02 = double(dy1 * -dx2 - dx1 * -dy2);
    }

    // D, C and C' at pixel (x, y).
    void at(int64_t x, int64_t y, int64_t& d, int64_t& cu, int64_t& cv) const
    {
        const int64_t dx = x - x0, dy = y - y0;
        d = dx * ay - dy * ax;
        cu = dy2 * dx - dx2 * dy;
        cv = dy1 * dx - dx1 * dy;
    }

    SourcePixel map(const QuadCache& cache, int64_t d, int64_t cu, int64_t cv) const
    {
        const double dd = double(d);
        const int32_t u = solveOffset(cache.a, cache.k, dd + cache.b0, double(cu), w, wi);
        const int32_t v = solveOffset(cache.a2, cache.k2, dd + cache.b02, double(cv), h, hi);
        return {addHeld(refX, u), addHeld(refY, v)};
    }
};

}  // namespace

SourcePixel MapPixelInverseBilinear(const Quad& r, const Quad& c, bool first, int32_t x, int32_t y,
                                    QuadCache& cache)
{
    // Products in 64 bits: points pushed far out must not overflow.
    const QuadSolver q(heldQuad(r), heldQuad(c));
    if (first)
        q.terms(cache);
    int64_t d = 0, cu = 0, cv = 0;
    q.at(x, y, d, cu, cv);
    return q.map(cache, d, cu, cv);
}

ChannelMap::ChannelMap() : entries_(new int32_t[kEntries])
{
    clear();
}

void ChannelMap::clear()
{
    std::fill(entries_.get(), entries_.get() + kEntries, -1);
}

QByteArray ChannelMap::payload() const
{
    QByteArray out(qsizetype(kPayloadSize), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (int y = 0; y < kRows; ++y) {
        const int32_t* src = row(y);
        for (int x = 0; x < kOutputColumns; ++x, p += 4)
            proto::putU32(p, uint32_t(src[x]));
    }
    return out;
}

namespace {

// Two neighbouring pixels of a row at once (SSE2, part of every x86-64).
// Every step is the same IEEE operation in the same order as the scalar
// solve, so each lane gives the scalar result; where a lane needs the
// scalar path's clamping, the pair is mapped by the scalar path instead.
struct PairAxis {
    __m128d a4, k, b0, extent, minusExtent;
    __m128i extentPlusOne;
    bool quadratic;

    PairAxis(double a, double kk, double b0v, double ext, int64_t extInt)
        : a4(_mm_set1_pd(4.0 * a)), k(_mm_set1_pd(kk)), b0(_mm_set1_pd(b0v)), extent(_mm_set1_pd(ext)),
          minusExtent(_mm_set1_pd(-ext)), extentPlusOne(_mm_set1_epi32(int32_t(extInt + 1))),
          quadratic(std::fabs(a) > 0.5)
    {
    }
};

inline __m128d withSignOf(__m128d half, __m128d v)
{
    const __m128d sign = _mm_set1_pd(-0.0);
    return _mm_or_pd(half, _mm_and_pd(sign, v));
}

// Offsets of the two lanes in the low two 32-bit lanes; false when the scalar
// path must decide.
inline bool solvePair(const PairAxis& ax, __m128d d, __m128d c, __m128i& out)
{
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d b = _mm_add_pd(d, ax.b0);
    if (ax.quadratic) {
        // disc = b * b - (4 a) * c; a negative disc gives NaN roots, which
        // convert to no valid offset, as in the scalar path.
        const __m128d disc = _mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(ax.a4, c));
        const __m128d s = _mm_sqrt_pd(disc);
        const __m128d nb = _mm_xor_pd(b, _mm_set1_pd(-0.0));
        const __m128d r1 = _mm_mul_pd(_mm_sub_pd(nb, s), ax.k);
        const __m128d r2 = _mm_mul_pd(_mm_sub_pd(s, b), ax.k);
        const __m128i i1 = _mm_cvttpd_epi32(_mm_add_pd(r1, withSignOf(half, r1)));
        const __m128i i2 = _mm_cvttpd_epi32(_mm_add_pd(r2, withSignOf(half, r2)));
        const __m128i minusOne = _mm_set1_epi32(-1);
        const __m128i in1 = _mm_and_si128(_mm_cmpgt_epi32(i1, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i1));
        const __m128i in2 = _mm_and_si128(_mm_cmpgt_epi32(i2, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i2));
        const __m128i second = _mm_andnot_si128(in1, _mm_and_si128(in2, i2));
        out = _mm_or_si128(_mm_and_si128(in1, i1), second);
        return true;
    }
    // Linear: extent * -c / b, rounded; a lane whose quotient leaves the
    // plain range (or whose b is 0) goes the scalar way.
    const __m128d q = _mm_div_pd(_mm_mul_pd(ax.extent, _mm_xor_pd(c, _mm_set1_pd(-0.0))), b);
    const __m128d limit = _mm_set1_pd(1.0e9);
    const __m128d absQ = _mm_andnot_pd(_mm_set1_pd(-0.0), q);
    const __m128d plain = _mm_and_pd(_mm_cmplt_pd(absQ, limit), _mm_cmpneq_pd(b, _mm_setzero_pd()));
    if (_mm_movemask_pd(plain) != 3)
        return false;
    out = _mm_cvttpd_epi32(_mm_add_pd(q, withSignOf(half, q)));
    return true;
}

}  // namespace

bool BuildChannelMap(const grid::WarpGrid& reference, const grid::WarpGrid& corrected,
                     const grid::OutputEntry& entry, ChannelMap& map)
{
    map.clear();
    if (!reference.valid() || !corrected.valid())
        return false;
    std::size_t mapped = 0;
    const int columns = std::min<int>(entry.gridColumns, grid::WarpGrid::kColumns);
    const int rows = std::min<int>(entry.gridRows, grid::WarpGrid::kRows);
    SpanTable spans;
    QuadCache cache;  // per build, so that two maps never share quad terms
    for (int r = 0; r + 1 < rows; ++r) {
        for (int c = 0; c + 1 < columns; ++c) {
            Quad ref, cor;
            const int cols[4] = {c, c + 1, c, c + 1};
            const int rws[4] = {r, r, r + 1, r + 1};
            for (std::size_t i = 0; i < 4; ++i) {
                const grid::GridPoint& rp = reference.at(cols[i], rws[i]);
                const grid::GridPoint& cp = corrected.at(cols[i], rws[i]);
                ref.x[i] = rp.x;
                ref.y[i] = rp.y;
                cor.x[i] = cp.x;
                cor.y[i] = cp.y;
            }
            ScanQuad(cor, spans);
            if (spans.firstRow > spans.lastRow)
                continue;
            const QuadSolver q(heldQuad(ref), heldQuad(cor));
            q.terms(cache);
            const PairAxis axisU(cache.a, cache.k, cache.b0, q.w, q.wi);
            const PairAxis axisV(cache.a2, cache.k2, cache.b02, q.h, q.hi);
            // Pairs need offsets that fit the 32-bit lanes.
            const bool pairs = q.wi > 0 && q.wi < (1 << 30) && q.hi > 0 && q.hi < (1 << 30);
            for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
                int32_t* out = map.row(y);
                const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
                if (x0 > x1)
                    continue;
                int64_t d = 0, cu = 0, cv = 0;
                q.at(x0, y, d, cu, cv);
                // Unsigned compare: negative sources are never stored, and
                // the last source column and row stay -1 as players expect.
                auto store = [&](int32_t x, SourcePixel s) {
                    if (uint32_t(s.x) < 1919u && uint32_t(s.y) < 1079u)
                        out[x] = int32_t(((uint32_t(s.x) & 0xFFFu) << 16) | (uint32_t(s.y) & 0xFFFu));
                };
                mapped += std::size_t(x1 - x0 + 1);
                if (mapped > kMapPixelBudget) {
                    map.clear();
                    return false;
                }
                int32_t x = x0;
                if (pairs) {
                    // The terms stay integers far below 2^53, so stepping them
                    // as doubles is exact.
                    __m128d dd = _mm_set_pd(double(d + q.ay), double(d));
                    __m128d cuu = _mm_set_pd(double(cu + q.dy2), double(cu));
                    __m128d cvv = _mm_set_pd(double(cv + q.dy1), double(cv));
                    const __m128d stepD = _mm_set1_pd(double(2 * q.ay));
                    const __m128d stepU = _mm_set1_pd(double(2 * q.dy2));
                    const __m128d stepV = _mm_set1_pd(double(2 * q.dy1));
                    for (; x + 1 <= x1; x += 2, d += 2 * q.ay, cu += 2 * q.dy2, cv += 2 * q.dy1,
                                        dd = _mm_add_pd(dd, stepD), cuu = _mm_add_pd(cuu, stepU),
                                        cvv = _mm_add_pd(cvv, stepV)) {
                        __m128i u, v;
                        if (solvePair(axisU, dd, cuu, u) && solvePair(axisV, dd, cvv, v)) {
                            store(x, {addHeld(q.refX, _mm_cvtsi128_si32(u)), addHeld(q.refY, _mm_cvtsi128_si32(v))});
                            store(x + 1, {addHeld(q.refX, _mm_cvtsi128_si32(_mm_srli_si128(u, 4))),
                                          addHeld(q.refY, _mm_cvtsi128_si32(_mm_srli_si128(v, 4)))});
                        } else {
                            store(x, q.map(cache, d, cu, cv));
                            store(x + 1, q.map(cache, d + q.ay, cu + q.dy2, cv + q.dy1));
                        }
                    }
                }
                for (; x <= x1; ++x, d += q.ay, cu += q.dy2, cv += q.dy1)
                    store(x, q.map(cache, d, cu, cv));
            }
        }
    }
    return true;
}

}  // namespace calib
