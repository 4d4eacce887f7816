#include "calibration/channel_map.h"

#include "transport/protocol.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
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

namespace {

// Which pixels a cell owns. Pixel (x, y) is the point (x, y); a cell owns
// the pixels inside its outline, and one on its outline only when it lies
// on a left or top side: with each edge taken over its rows ya <= y < yb and
// a row's pixels from the first crossing (inclusive) to the last (exclusive),
// two cells that share an edge split the pixels on it between them, so that
// neighbouring cells meet with neither gap nor overlap. The crossing is the
// edge's exact x on the row, a fraction, never a slope rounded to an integer
// (that left whole wedges between cells uncovered). A cell that is not
// convex (folded) gets the span from its leftmost to its rightmost crossing,
// which holds every pixel it covers.
//
// An edge is always taken from its upper to its lower point, so that both
// cells that share it compute the same crossings.
template <class Wide>
inline Wide floorDiv(Wide a, Wide b)  // b > 0
{
    Wide q = a / b;
    if (a % b != 0 && a < 0)
        --q;
    return q;
}

// Points of a quad within +-2^24 keep every product of the walk below 2^51.
constexpr int32_t kPlainCorner = 1 << 24;

bool plainQuad(const Quad& q)
{
    // Compared as a range: std::abs of INT32_MIN is no positive number.
    for (std::size_t i = 0; i < 4; ++i)
        if (q.x[i] < -kPlainCorner || q.x[i] > kPlainCorner || q.y[i] < -kPlainCorner || q.y[i] > kPlainCorner)
            return false;
    return true;
}

// Crossings far outside the table are held just beyond its columns: the
// clamp to the quad's columns gives the same span, and nothing overflows.
constexpr int64_t kHeldColumn = 4096;

template <class Wide>
void scanEdges(const Quad& q, SpanTable& spans, unsigned outerSides)
{
    static constexpr int kOrder[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    const int32_t firstRow = spans.firstRow, lastRow = spans.lastRow;
    int32_t* low = spans.firstX.data();
    int32_t* high = spans.lastX.data();
    for (int32_t y = firstRow; y <= lastRow; ++y) {
        low[y] = INT32_MAX;
        high[y] = INT32_MIN;
    }
    for (const auto& ends : kOrder) {
        int64_t xt = q.x[std::size_t(ends[0])], yt = q.y[std::size_t(ends[0])];
        int64_t xb = q.x[std::size_t(ends[1])], yb = q.y[std::size_t(ends[1])];
        if (yt == yb)
            continue;  // a flat edge bounds no row by itself
        if (yt > yb) {
            std::swap(xt, xb);
            std::swap(yt, yb);
        }
        const int64_t from = std::max<int64_t>(yt, firstRow), to = std::min<int64_t>(yb - 1, lastRow);
        if (from > to)
            continue;
        const Wide dy = Wide(yb - yt), dx = Wide(xb - xt);
        // ceil(xt + (y - yt) dx / dy) as xt + quotient + (remainder > 0),
        // the quotient and remainder walked one row at a time.
        const Wide num = Wide(from - yt) * dx;
        Wide quotient = floorDiv(num, dy);
        Wide remainder = num - quotient * dy;
        const Wide stepQuotient = floorDiv(dx, dy);
        const Wide stepRemainder = dx - stepQuotient * dy;
        for (int64_t y = from; y <= to; ++y) {
            const Wide crossing = Wide(xt) + quotient + (remainder > 0 ? 1 : 0);
            const int32_t c = int32_t(std::clamp<Wide>(crossing, Wide(-kHeldColumn), Wide(kHeldColumn)));
            low[y] = std::min(low[y], c);
            high[y] = std::max(high[y], c - 1);
            quotient += stepQuotient;
            remainder += stepRemainder;
            if (remainder >= dy) {
                remainder -= dy;
                ++quotient;
            }
        }
    }
    // The pixels exactly on an outer side, both ends included: those the
    // rule above leaves out (on a right or lower side, a side's lowest row,
    // a flat side) have no neighbour to take them. An outline point where
    // two cells meet is then owned by both; each maps it to the reference
    // corner they share.
    auto own = [&](int64_t y, Wide x) {
        const int32_t c = int32_t(std::clamp<Wide>(x, Wide(-kHeldColumn), Wide(kHeldColumn)));
        low[y] = std::min(low[y], c);
        high[y] = std::max(high[y], c);
    };
    for (std::size_t side = 0; side < 4; ++side) {
        if (!(outerSides & (1u << side)))
            continue;
        const int64_t xs = q.x[std::size_t(kOrder[side][0])], ys = q.y[std::size_t(kOrder[side][0])];
        const int64_t xe = q.x[std::size_t(kOrder[side][1])], ye = q.y[std::size_t(kOrder[side][1])];
        if (ys == ye) {
            if (ys >= firstRow && ys <= lastRow) {
                own(ys, Wide(xs));
                own(ys, Wide(xe));
            }
            continue;
        }
        const int64_t from = std::max<int64_t>(std::min(ys, ye), firstRow);
        const int64_t to = std::min<int64_t>(std::max(ys, ye), lastRow);
        const Wide dy = Wide(ye - ys), dx = Wide(xe - xs);
        for (int64_t y = from; y <= to; ++y) {
            const Wide num = Wide(y - ys) * dx;
            if (num % dy == 0)
                own(y, Wide(xs) + num / dy);
        }
    }
    const int32_t firstColumn = spans.firstColumn, lastColumn = spans.lastColumn;
    for (int32_t y = firstRow; y <= lastRow; ++y) {
        low[y] = std::max(low[y], firstColumn);
        high[y] = std::min(high[y], lastColumn);
        if (low[y] > high[y]) {  // no pixel of this row lies inside
            low[y] = firstColumn;
            high[y] = firstColumn - 1;
        }
    }
}

}  // namespace

void ScanQuad(const Quad& q, SpanTable& spans, unsigned outerSides)
{
    const auto [minY, maxY] = std::minmax({q.y[0], q.y[1], q.y[2], q.y[3]});
    const auto [minX, maxX] = std::minmax({q.x[0], q.x[1], q.x[2], q.x[3]});
    spans.firstRow = std::max<int32_t>(0, minY);
    spans.lastRow = std::min<int32_t>(SpanTable::kRows - 1, maxY);
    spans.firstColumn = std::max<int32_t>(0, minX);
    spans.lastColumn = std::min<int32_t>(ChannelMap::kOutputColumns - 1, maxX);
    if (plainQuad(q)) [[likely]]
        scanEdges<int64_t>(q, spans, outerSides);
    else
        scanEdges<__int128>(q, spans, outerSides);
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

// The map runs several pixels of a row at once in vector registers. Every
// step is the same IEEE operation in the same order as the scalar solve
// (no fused multiply-add: no kernel's target has one, and the file is built
// with -ffp-contract=off), so each lane gives the scalar result bit for bit.

// How one axis of a quad is solved. Where the terms show that one root of a
// quadratic axis can never fall within 0..extent over the whole quad, the
// kernel leaves that root out: the choice "first root in range, else the
// second, else 0" gives the same offsets without it.
enum Solve { Linear, BothRoots, FirstRoot, SecondRoot };

// What one quad's rows share, in plain numbers.
struct RowAxis {
    double a4, k, b0, extent;
    int32_t extentPlusOne;
};

struct QuadTerms {
    RowAxis u, v;
    double ay, dy2, dy1;  // growth of D, C and C' per column
    double ax, dx2, dx1;  // and per row
    double x0, y0;        // corrected P0
    int32_t refX, refY;

    // D, C and C' at (x, y), as QuadSolver::at gives them: the terms are
    // integers far below 2^53 (corners are held within +-2^20), so that
    // every product and sum here, and every step of them, is exact.
    void at(int32_t x, int32_t y, double& d, double& cu, double& cv) const
    {
        const double dx = double(x) - x0, dy = double(y) - y0;
        d = dx * ay - dy * ax;
        cu = dy2 * dx - dx2 * dy;
        cv = dy1 * dx - dx1 * dy;
    }
};

// Maps every span of one quad into the table. The SSE2 and AVX2 kernels
// read and write up to three entries past a row's last x and leave them as
// they were: a row has 2,048 entries and the last x is at most 1,919.
using QuadFunction = void (*)(const QuadTerms&, const SpanTable&, ChannelMap&);

// The kernels follow the same steps:
//  - quadratic axis: disc = b * b - (4 a) * c; s = sqrt(disc); the roots
//    (-b - s) k and (s - b) k rounded half away from zero by truncating
//    v + copysign(0.5, v); the first root within 0..extent, else the
//    second, else 0 (one root left out where it cannot be in range). A
//    negative disc gives NaN roots, which convert to INT32_MIN (as any
//    value beyond 32 bits does) and so fail the range check: offset 0, as
//    in the scalar path.
//  - linear axis: extent * -c / b rounded; b = 0 gives offset 0. A quotient
//    beyond +-1e9, which the scalar path holds at +-1e9, lands outside the
//    table either way (the reference corner is within +-2^20), so it needs
//    no holding here.
//  - the entry is written when the source column is below 1,919 and the
//    row below 1,079 as unsigned numbers (compared with the sign bit
//    flipped), so that negative sources are never stored and the last
//    source column and row stay -1 as players expect.

// ---- SSE2 (every x86-64): two pixels per register, four per step.

struct Sse2Axis {
    __m128d a4, k, b0, extent;
    __m128i extentPlusOne;
    explicit Sse2Axis(const RowAxis& t)
        : a4(_mm_set1_pd(t.a4)), k(_mm_set1_pd(t.k)), b0(_mm_set1_pd(t.b0)), extent(_mm_set1_pd(t.extent)),
          extentPlusOne(_mm_set1_epi32(t.extentPlusOne))
    {
    }
};

inline __m128d plusHalfAway(__m128d v)
{
    return _mm_add_pd(v, _mm_or_pd(_mm_set1_pd(0.5), _mm_and_pd(_mm_set1_pd(-0.0), v)));
}

// 0 <= i <= extent.
inline __m128i inRange(const Sse2Axis& ax, __m128i i)
{
    return _mm_and_si128(_mm_cmpgt_epi32(i, _mm_set1_epi32(-1)), _mm_cmpgt_epi32(ax.extentPlusOne, i));
}

// Offsets of two pixels in the low two 32-bit lanes.
template <Solve solve>
inline __m128i solveTwo(const Sse2Axis& ax, __m128d d, __m128d c)
{
    const __m128d b = _mm_add_pd(d, ax.b0);
    if constexpr (solve != Linear) {
        const __m128d disc = _mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(ax.a4, c));
        const __m128d s = _mm_sqrt_pd(disc);
        __m128i i1 = _mm_setzero_si128(), in1 = _mm_setzero_si128();
        __m128i i2 = _mm_setzero_si128(), in2 = _mm_setzero_si128();
        if constexpr (solve != SecondRoot) {
            const __m128d nb = _mm_xor_pd(b, _mm_set1_pd(-0.0));
            i1 = _mm_cvttpd_epi32(plusHalfAway(_mm_mul_pd(_mm_sub_pd(nb, s), ax.k)));
            in1 = inRange(ax, i1);
        }
        if constexpr (solve != FirstRoot) {
            i2 = _mm_cvttpd_epi32(plusHalfAway(_mm_mul_pd(_mm_sub_pd(s, b), ax.k)));
            in2 = inRange(ax, i2);
        }
        if constexpr (solve == FirstRoot)
            return _mm_and_si128(in1, i1);
        if constexpr (solve == SecondRoot)
            return _mm_and_si128(in2, i2);
        return _mm_or_si128(_mm_and_si128(in1, i1), _mm_andnot_si128(in1, _mm_and_si128(in2, i2)));
    } else {
        const __m128d q = _mm_div_pd(_mm_mul_pd(ax.extent, _mm_xor_pd(c, _mm_set1_pd(-0.0))), b);
        // b = 0: the quotient (infinite or NaN) becomes +0.
        const __m128d held = _mm_andnot_pd(_mm_cmpeq_pd(b, _mm_setzero_pd()), q);
        return _mm_cvttpd_epi32(plusHalfAway(held));
    }
}

template <Solve solveU, Solve solveV>
void mapQuadSse2(const QuadTerms& t, const SpanTable& spans, ChannelMap& map)
{
    const Sse2Axis axU(t.u), axV(t.v);
    const __m128d laneD = _mm_set_pd(t.ay, 0.0), laneU = _mm_set_pd(t.dy2, 0.0), laneV = _mm_set_pd(t.dy1, 0.0);
    const __m128d pairD = _mm_set1_pd(2 * t.ay), pairU = _mm_set1_pd(2 * t.dy2), pairV = _mm_set1_pd(2 * t.dy1);
    const __m128d stepD = _mm_set1_pd(4 * t.ay), stepU = _mm_set1_pd(4 * t.dy2), stepV = _mm_set1_pd(4 * t.dy1);
    const __m128i refX = _mm_set1_epi32(t.refX), refY = _mm_set1_epi32(t.refY);
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i columnLimit = _mm_set1_epi32(INT32_MIN + 1919);
    const __m128i rowLimit = _mm_set1_epi32(INT32_MIN + 1079);
    const __m128i lanes = _mm_set_epi32(3, 2, 1, 0);
    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
        int32_t* out = map.row(y);
        double d, cu, cv;
        t.at(x0, y, d, cu, cv);
        __m128d dLo = _mm_add_pd(_mm_set1_pd(d), laneD), uLo = _mm_add_pd(_mm_set1_pd(cu), laneU),
                vLo = _mm_add_pd(_mm_set1_pd(cv), laneV);
        __m128d dHi = _mm_add_pd(dLo, pairD), uHi = _mm_add_pd(uLo, pairU), vHi = _mm_add_pd(vLo, pairV);
        for (int32_t x = x0; x <= x1; x += 4) {
            const __m128i u = _mm_unpacklo_epi64(solveTwo<solveU>(axU, dLo, uLo), solveTwo<solveU>(axU, dHi, uHi));
            const __m128i v = _mm_unpacklo_epi64(solveTwo<solveV>(axV, dLo, vLo), solveTwo<solveV>(axV, dHi, vHi));
            const __m128i sx = _mm_add_epi32(refX, u);
            const __m128i sy = _mm_add_epi32(refY, v);
            __m128i store = _mm_and_si128(_mm_cmplt_epi32(_mm_xor_si128(sx, bias), columnLimit),
                                          _mm_cmplt_epi32(_mm_xor_si128(sy, bias), rowLimit));
            store = _mm_and_si128(store, _mm_cmplt_epi32(lanes, _mm_set1_epi32(x1 - x + 1)));  // lanes past x1
            const __m128i packed = _mm_or_si128(_mm_slli_epi32(sx, 16), sy);
            auto* p = reinterpret_cast<__m128i*>(out + x);
            const __m128i old = _mm_loadu_si128(p);
            _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(store, packed), _mm_andnot_si128(store, old)));
            dLo = _mm_add_pd(dLo, stepD), dHi = _mm_add_pd(dHi, stepD);
            uLo = _mm_add_pd(uLo, stepU), uHi = _mm_add_pd(uHi, stepU);
            vLo = _mm_add_pd(vLo, stepV), vHi = _mm_add_pd(vHi, stepV);
        }
    }
}

// ---- AVX2 (taken when the processor has it): four pixels per register.

#define CHANNEL_MAP_AVX2 __attribute__((target("avx2")))

struct Avx2Axis {
    __m256d a4, k, b0, extent;
    __m128i extentPlusOne;
};

CHANNEL_MAP_AVX2 inline Avx2Axis avx2Axis(const RowAxis& t)
{
    return {_mm256_set1_pd(t.a4), _mm256_set1_pd(t.k), _mm256_set1_pd(t.b0), _mm256_set1_pd(t.extent),
            _mm_set1_epi32(t.extentPlusOne)};
}

CHANNEL_MAP_AVX2 inline __m256d plusHalfAway4(__m256d v)
{
    return _mm256_add_pd(v, _mm256_or_pd(_mm256_set1_pd(0.5), _mm256_and_pd(_mm256_set1_pd(-0.0), v)));
}

// 0 <= i <= extent.
CHANNEL_MAP_AVX2 inline __m128i inRange4(const Avx2Axis& ax, __m128i i)
{
    return _mm_and_si128(_mm_cmpgt_epi32(i, _mm_set1_epi32(-1)), _mm_cmpgt_epi32(ax.extentPlusOne, i));
}

template <Solve solve>
CHANNEL_MAP_AVX2 inline __m128i solveFour(const Avx2Axis& ax, __m256d d, __m256d c)
{
    const __m256d b = _mm256_add_pd(d, ax.b0);
    if constexpr (solve != Linear) {
        const __m256d disc = _mm256_sub_pd(_mm256_mul_pd(b, b), _mm256_mul_pd(ax.a4, c));
        const __m256d s = _mm256_sqrt_pd(disc);
        __m128i i1 = _mm_setzero_si128(), in1 = _mm_setzero_si128();
        __m128i i2 = _mm_setzero_si128(), in2 = _mm_setzero_si128();
        if constexpr (solve != SecondRoot) {
            const __m256d nb = _mm256_xor_pd(b, _mm256_set1_pd(-0.0));
            i1 = _mm256_cvttpd_epi32(plusHalfAway4(_mm256_mul_pd(_mm256_sub_pd(nb, s), ax.k)));
            in1 = inRange4(ax, i1);
        }
        if constexpr (solve != FirstRoot) {
            i2 = _mm256_cvttpd_epi32(plusHalfAway4(_mm256_mul_pd(_mm256_sub_pd(s, b), ax.k)));
            in2 = inRange4(ax, i2);
        }
        if constexpr (solve == FirstRoot)
            return _mm_and_si128(in1, i1);
        if constexpr (solve == SecondRoot)
            return _mm_and_si128(in2, i2);
        return _mm_blendv_epi8(_mm_and_si128(in2, i2), i1, in1);
    } else {
        const __m256d q = _mm256_div_pd(_mm256_mul_pd(ax.extent, _mm256_xor_pd(c, _mm256_set1_pd(-0.0))), b);
        const __m256d held = _mm256_andnot_pd(_mm256_cmp_pd(b, _mm256_setzero_pd(), _CMP_EQ_OQ), q);
        return _mm256_cvttpd_epi32(plusHalfAway4(held));
    }
}

template <Solve solveU, Solve solveV>
CHANNEL_MAP_AVX2 void mapQuadAvx2(const QuadTerms& t, const SpanTable& spans, ChannelMap& map)
{
    const Avx2Axis axU = avx2Axis(t.u), axV = avx2Axis(t.v);
    const __m256d lane = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    // Lane i starts i columns on: the products are small integers, exact.
    const __m256d laneD = _mm256_mul_pd(lane, _mm256_set1_pd(t.ay));
    const __m256d laneU = _mm256_mul_pd(lane, _mm256_set1_pd(t.dy2));
    const __m256d laneV = _mm256_mul_pd(lane, _mm256_set1_pd(t.dy1));
    const __m256d stepD = _mm256_set1_pd(4 * t.ay), stepU = _mm256_set1_pd(4 * t.dy2),
                  stepV = _mm256_set1_pd(4 * t.dy1);
    const __m128i refX = _mm_set1_epi32(t.refX), refY = _mm_set1_epi32(t.refY);
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i columnLimit = _mm_set1_epi32(INT32_MIN + 1919);
    const __m128i rowLimit = _mm_set1_epi32(INT32_MIN + 1079);
    const __m128i lanes = _mm_set_epi32(3, 2, 1, 0);
    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
        int32_t* out = map.row(y);
        double d, cu, cv;
        t.at(x0, y, d, cu, cv);
        __m256d dd = _mm256_add_pd(_mm256_set1_pd(d), laneD);
        __m256d uu = _mm256_add_pd(_mm256_set1_pd(cu), laneU);
        __m256d vv = _mm256_add_pd(_mm256_set1_pd(cv), laneV);
        for (int32_t x = x0; x <= x1; x += 4) {
            const __m128i sx = _mm_add_epi32(refX, solveFour<solveU>(axU, dd, uu));
            const __m128i sy = _mm_add_epi32(refY, solveFour<solveV>(axV, dd, vv));
            __m128i store = _mm_and_si128(_mm_cmplt_epi32(_mm_xor_si128(sx, bias), columnLimit),
                                          _mm_cmplt_epi32(_mm_xor_si128(sy, bias), rowLimit));
            store = _mm_and_si128(store, _mm_cmplt_epi32(lanes, _mm_set1_epi32(x1 - x + 1)));  // lanes past x1
            const __m128i packed = _mm_or_si128(_mm_slli_epi32(sx, 16), sy);
            auto* p = reinterpret_cast<__m128i*>(out + x);
            _mm_storeu_si128(p, _mm_blendv_epi8(_mm_loadu_si128(p), packed, store));
            dd = _mm256_add_pd(dd, stepD);
            uu = _mm256_add_pd(uu, stepU);
            vv = _mm256_add_pd(vv, stepV);
        }
    }
}

#undef CHANNEL_MAP_AVX2

// ---- AVX-512 (taken when the processor has it): eight pixels per register;
// compares give bit masks and the store writes only the lanes it must.

#define CHANNEL_MAP_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl")))

// GCC 12 takes the deliberately undefined pass-through operand inside the
// compiler's own AVX-512 intrinsics for an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

struct Avx512Axis {
    __m512d a4, k, b0, extent;
    __m256i extent32;
};

CHANNEL_MAP_AVX512 inline Avx512Axis avx512Axis(const RowAxis& t)
{
    return {_mm512_set1_pd(t.a4), _mm512_set1_pd(t.k), _mm512_set1_pd(t.b0), _mm512_set1_pd(t.extent),
            _mm256_set1_epi32(t.extentPlusOne - 1)};
}

CHANNEL_MAP_AVX512 inline __m512d plusHalfAway8(__m512d v)
{
    return _mm512_add_pd(v, _mm512_or_pd(_mm512_set1_pd(0.5), _mm512_and_pd(_mm512_set1_pd(-0.0), v)));
}

template <Solve solve>
CHANNEL_MAP_AVX512 inline __m256i solveEight(const Avx512Axis& ax, __m512d d, __m512d c)
{
    const __m512d b = _mm512_add_pd(d, ax.b0);
    if constexpr (solve != Linear) {
        const __m512d disc = _mm512_sub_pd(_mm512_mul_pd(b, b), _mm512_mul_pd(ax.a4, c));
        const __m512d s = _mm512_sqrt_pd(disc);
        __m256i i1 = _mm256_setzero_si256(), i2 = _mm256_setzero_si256();
        __mmask8 in1 = 0, in2 = 0;
        // 0 <= i <= extent as one unsigned compare.
        if constexpr (solve != SecondRoot) {
            const __m512d nb = _mm512_xor_pd(b, _mm512_set1_pd(-0.0));
            i1 = _mm512_cvttpd_epi32(plusHalfAway8(_mm512_mul_pd(_mm512_sub_pd(nb, s), ax.k)));
            in1 = _mm256_cmple_epu32_mask(i1, ax.extent32);
        }
        if constexpr (solve != FirstRoot) {
            i2 = _mm512_cvttpd_epi32(plusHalfAway8(_mm512_mul_pd(_mm512_sub_pd(s, b), ax.k)));
            in2 = _mm256_cmple_epu32_mask(i2, ax.extent32);
        }
        if constexpr (solve == FirstRoot)
            return _mm256_maskz_mov_epi32(in1, i1);
        if constexpr (solve == SecondRoot)
            return _mm256_maskz_mov_epi32(in2, i2);
        return _mm256_mask_mov_epi32(_mm256_maskz_mov_epi32(in2, i2), in1, i1);
    } else {
        const __m512d q = _mm512_div_pd(_mm512_mul_pd(ax.extent, _mm512_xor_pd(c, _mm512_set1_pd(-0.0))), b);
        const __mmask8 nonzero = _mm512_cmp_pd_mask(b, _mm512_setzero_pd(), _CMP_NEQ_UQ);
        return _mm512_cvttpd_epi32(plusHalfAway8(_mm512_maskz_mov_pd(nonzero, q)));
    }
}

template <Solve solveU, Solve solveV>
CHANNEL_MAP_AVX512 void mapQuadAvx512(const QuadTerms& t, const SpanTable& spans, ChannelMap& map)
{
    const Avx512Axis axU = avx512Axis(t.u), axV = avx512Axis(t.v);
    const __m512d lane = _mm512_set_pd(7.0, 6.0, 5.0, 4.0, 3.0, 2.0, 1.0, 0.0);
    // Lane i starts i columns on: the products are small integers, exact.
    const __m512d laneD = _mm512_mul_pd(lane, _mm512_set1_pd(t.ay));
    const __m512d laneU = _mm512_mul_pd(lane, _mm512_set1_pd(t.dy2));
    const __m512d laneV = _mm512_mul_pd(lane, _mm512_set1_pd(t.dy1));
    const __m512d stepD = _mm512_set1_pd(8 * t.ay), stepU = _mm512_set1_pd(8 * t.dy2),
                  stepV = _mm512_set1_pd(8 * t.dy1);
    const __m256i refX = _mm256_set1_epi32(t.refX), refY = _mm256_set1_epi32(t.refY);
    const __m256i columnLimit = _mm256_set1_epi32(1919), rowLimit = _mm256_set1_epi32(1079);
    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
        int32_t* out = map.row(y);
        double d, cu, cv;
        t.at(x0, y, d, cu, cv);
        __m512d dd = _mm512_add_pd(_mm512_set1_pd(d), laneD);
        __m512d uu = _mm512_add_pd(_mm512_set1_pd(cu), laneU);
        __m512d vv = _mm512_add_pd(_mm512_set1_pd(cv), laneV);
        for (int32_t x = x0; x <= x1; x += 8) {
            const __m256i sx = _mm256_add_epi32(refX, solveEight<solveU>(axU, dd, uu));
            const __m256i sy = _mm256_add_epi32(refY, solveEight<solveV>(axV, dd, vv));
            // Lanes past x1 are not written at all.
            const __mmask8 lanes = __mmask8(0xFFu >> (8 - std::min(x1 - x + 1, 8)));
            const __mmask8 store = _mm256_mask_cmplt_epu32_mask(
                _mm256_mask_cmplt_epu32_mask(lanes, sx, columnLimit), sy, rowLimit);
            _mm256_mask_storeu_epi32(out + x, store, _mm256_or_si256(_mm256_slli_epi32(sx, 16), sy));
            dd = _mm512_add_pd(dd, stepD);
            uu = _mm512_add_pd(uu, stepU);
            vv = _mm512_add_pd(vv, stepV);
        }
    }
}

#pragma GCC diagnostic pop
#undef CHANNEL_MAP_AVX512

// Quad kernels by [solve of u][solve of v].
using KernelRow = std::array<QuadFunction, 4>;

template <template <Solve, Solve> class Kernel, Solve u>
constexpr KernelRow kernelRow()
{
    return {Kernel<u, Linear>::run, Kernel<u, BothRoots>::run, Kernel<u, FirstRoot>::run, Kernel<u, SecondRoot>::run};
}

template <template <Solve, Solve> class Kernel>
constexpr std::array<KernelRow, 4> kernelTable()
{
    return {kernelRow<Kernel, Linear>(), kernelRow<Kernel, BothRoots>(), kernelRow<Kernel, FirstRoot>(),
            kernelRow<Kernel, SecondRoot>()};
}

template <Solve u, Solve v>
struct Sse2Kernel {
    static void run(const QuadTerms& t, const SpanTable& s, ChannelMap& m) { mapQuadSse2<u, v>(t, s, m); }
};
template <Solve u, Solve v>
struct Avx2Kernel {
    static void run(const QuadTerms& t, const SpanTable& s, ChannelMap& m) { mapQuadAvx2<u, v>(t, s, m); }
};
template <Solve u, Solve v>
struct Avx512Kernel {
    static void run(const QuadTerms& t, const SpanTable& s, ChannelMap& m) { mapQuadAvx512<u, v>(t, s, m); }
};
constexpr auto kSse2Quads = kernelTable<Sse2Kernel>();
constexpr auto kAvx2Quads = kernelTable<Avx2Kernel>();
constexpr auto kAvx512Quads = kernelTable<Avx512Kernel>();

// The solve of one axis over a quad whose b = D + B0 lies within
// bLow..bHigh at every pixel. With b <= 0 everywhere, s - b >= |b| whatever
// s is, and every rounding step is monotonic, so the second root is at
// least fl(|b| k) for k > 0 and at most fl(|b| k) for k < 0: beyond
// extent + 1, or below -1, it never rounds into 0..extent. With b >= 0 the
// same holds for the first root, -b - s <= -b. (A NaN root is out of range
// anyway.)
Solve solveOf(double a, double k, double extent, double bLow, double bHigh)
{
    if (!(std::fabs(a) > 0.5))
        return Linear;
    if (bHigh <= 0.0) {
        const double bound = -bHigh * k;
        if ((k > 0.0 && bound >= extent + 1.0) || (k < 0.0 && bound <= -1.0))
            return FirstRoot;
    }
    if (bLow >= 0.0) {
        const double bound = bLow * k;
        if ((k > 0.0 && bound >= 1.0) || (k < 0.0 && bound <= -(extent + 1.0)))
            return SecondRoot;
    }
    return BothRoots;
}

const std::array<KernelRow, 4>& kernelsFor(MapPath path)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                               __builtin_cpu_supports("avx512vl");
    if (path == MapPath::Fastest && avx512)
        return kAvx512Quads;
    if ((path == MapPath::Fastest || path == MapPath::Avx2) && avx2)
        return kAvx2Quads;
    return kSse2Quads;
}

}  // namespace

bool BuildChannelMap(const grid::WarpGrid& reference, const grid::WarpGrid& corrected,
                     const grid::OutputEntry& entry, ChannelMap& map, MapPath path)
{
    if (!reference.valid() || !corrected.valid()) {
        map.clear();
        return false;
    }
    const auto& quadKernels = kernelsFor(path);
    // Each row is set to -1 just before its first pixel is mapped (and the
    // rows no cell reaches at the end): the row is then in the cache for
    // the cells that follow, where clearing the whole table first would
    // send it through memory twice.
    std::array<bool, ChannelMap::kRows> cleared{};
    auto clearRow = [&](int32_t y) {
        if (!cleared[std::size_t(y)]) {
            std::fill(map.row(y), map.row(y) + ChannelMap::kColumns, -1);
            cleared[std::size_t(y)] = true;
        }
    };
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
            // The grid's outline closes the picture: its right and bottom
            // pixels have no neighbouring cell to take them.
            ScanQuad(cor, spans, CellOuterSides(c, r, columns, rows));
            if (spans.firstRow > spans.lastRow)
                continue;
            for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
                const int32_t first = spans.firstX[std::size_t(y)], last = spans.lastX[std::size_t(y)];
                if (first <= last) {
                    mapped += std::size_t(last - first + 1);
                    clearRow(y);
                }
            }
            if (mapped > kMapPixelBudget) {
                map.clear();
                return false;
            }
            const QuadSolver q(heldQuad(ref), heldQuad(cor));
            q.terms(cache);
            // The kernels need offsets that fit 32-bit lanes; other reference
            // cells (mirrored, flat or huge) go pixel by pixel.
            if (q.wi > 0 && q.wi < (1 << 30) && q.hi > 0 && q.hi < (1 << 30)) {
                const QuadTerms terms{{4.0 * cache.a, cache.k, cache.b0, q.w, int32_t(q.wi + 1)},
                                      {4.0 * cache.a2, cache.k2, cache.b02, q.h, int32_t(q.hi + 1)},
                                      double(q.ay),
                                      double(q.dy2),
                                      double(q.dy1),
                                      double(q.ax),
                                      double(q.dx2),
                                      double(q.dx1),
                                      double(q.x0),
                                      double(q.y0),
                                      q.refX,
                                      q.refY};
                // b is linear in x and y: its extremes over the quad's
                // pixels lie at the corners of the rows and columns spanned.
                double bLowU = INFINITY, bHighU = -INFINITY, bLowV = INFINITY, bHighV = -INFINITY;
                for (const int32_t x : {spans.firstColumn, spans.lastColumn})
                    for (const int32_t y : {spans.firstRow, spans.lastRow}) {
                        double d = 0, cu = 0, cv = 0;
                        terms.at(x, y, d, cu, cv);
                        bLowU = std::min(bLowU, d + cache.b0), bHighU = std::max(bHighU, d + cache.b0);
                        bLowV = std::min(bLowV, d + cache.b02), bHighV = std::max(bHighV, d + cache.b02);
                    }
                const Solve solveU = solveOf(cache.a, cache.k, q.w, bLowU, bHighU);
                const Solve solveV = solveOf(cache.a2, cache.k2, q.h, bLowV, bHighV);
                quadKernels[std::size_t(solveU)][std::size_t(solveV)](terms, spans, map);
                continue;
            }
            for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
                const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
                int32_t* out = map.row(y);
                int64_t d = 0, cu = 0, cv = 0;
                q.at(x0, y, d, cu, cv);
                for (int32_t x = x0; x <= x1; ++x, d += q.ay, cu += q.dy2, cv += q.dy1) {
                    const SourcePixel s = q.map(cache, d, cu, cv);
                    if (uint32_t(s.x) < 1919u && uint32_t(s.y) < 1079u)
                        out[x] = int32_t(((uint32_t(s.x) & 0xFFFu) << 16) | (uint32_t(s.y) & 0xFFFu));
                }
            }
        }
    }
    for (int32_t y = 0; y < ChannelMap::kRows; ++y)
        clearRow(y);
    return true;
}

}  // namespace calib
