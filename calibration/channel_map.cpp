#include "calibration/channel_map.h"

#include "transport/protocol.h"

#include <algorithm>
#include <immintrin.h>
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
        double lowX, highX;    // the end points' x range
        int64_t lowY, highY;  // and y range
    };
    static constexpr int kOrder[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
    Edge edges[4];
    for (int i = 0; i < 4; ++i) {
        Edge& e = edges[i];
        e.x1 = q.x[std::size_t(kOrder[i][0])];
        e.y1 = q.y[std::size_t(kOrder[i][0])];
        e.x2 = q.x[std::size_t(kOrder[i][1])];
        e.y2 = q.y[std::size_t(kOrder[i][1])];
        e.lowX = double(std::min(e.x1, e.x2));
        e.highX = double(std::max(e.x1, e.x2));
        e.lowY = std::min(e.y1, e.y2);
        e.highY = std::max(e.y1, e.y2);
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
    const double firstColumn = double(spans.firstColumn), lastColumn = double(spans.lastColumn);

    for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
        double low = 10000.0, high = 0.0;
        bool done = false;
        for (const Edge& e : edges) {
            if (e.horizontal && e.y1 == y) {
                low = e.lowX;
                high = e.highX;
                done = true;
                break;
            }
        }
        if (!done) {
            for (const Edge& e : edges) {
                if (e.horizontal || y < e.lowY || y > e.highY)
                    continue;
                const double xe = e.slope * double(y) + e.intercept;
                const double r = roundHalf(xe);
                if (r < e.lowX || r > e.highX)
                    continue;
                low = std::min(low, xe);
                high = std::max(high, xe);
            }
        }
        // max(ceil(low), first column) and min(trunc(high), last column),
        // clamped to the table so that no pixel is ever written outside it.
        // The columns are integers, so a bound beyond one of them gives the
        // column; within them, ceil and trunc are the integer conversion
        // (low is then above 0) and one step up where low has a fraction.
        int32_t first = spans.firstColumn;
        if (low > firstColumn) {
            if (low < kIntLimit) [[likely]] {
                first = int32_t(low);
                first += double(first) < low;
            } else {
                first = toInt(std::ceil(low));
            }
        }
        int32_t last = spans.lastColumn;
        if (high < lastColumn)
            last = std::fabs(high) < kIntLimit ? int32_t(high) : toInt(std::trunc(high));
        spans.firstX[std::size_t(y)] = first;
        spans.lastX[std::size_t(y)] = last;
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

// The map runs several pixels of a row at once in vector registers. Every
// step is the same IEEE operation in the same order as the scalar solve
// (no fused multiply-add: neither kernel's target has one, and the file is
// built with -ffp-contract=off), so each lane gives the scalar result bit
// for bit.

// What one quad's rows share, in plain numbers.
struct RowAxis {
    double a4, k, b0, extent;
    int32_t extentPlusOne;
};

struct RowTerms {
    RowAxis u, v;
    double ay, dy2, dy1;  // growth of D, C and C' per column
    int32_t refX, refY;
};

// The pixels x0..x1 of one row; d, cu and cv are the terms at x0, integers
// far below 2^53 (corners are held within +-2^20), so that stepping them as
// doubles is exact. A kernel reads and writes up to three entries past x1
// and leaves them as they were: a row has 2,048 entries and x1 is at most
// 1,919.
using RowFunction = void (*)(const RowTerms&, int32_t* out, int32_t x0, int32_t x1, double d, double cu, double cv);

// Both kernels follow the same steps:
//  - quadratic axis: disc = b * b - (4 a) * c; s = sqrt(disc); the roots
//    (-b - s) k and (s - b) k rounded half away from zero by truncating
//    v + copysign(0.5, v); the first root within 0..extent, else the
//    second, else 0. A negative disc gives NaN roots, which convert to
//    INT32_MIN (as any value beyond 32 bits does) and so fail the range
//    check: offset 0, as in the scalar path.
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

// Offsets of two pixels in the low two 32-bit lanes.
template <bool Quadratic>
inline __m128i solveTwo(const Sse2Axis& ax, __m128d d, __m128d c)
{
    const __m128d b = _mm_add_pd(d, ax.b0);
    if constexpr (Quadratic) {
        const __m128d disc = _mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(ax.a4, c));
        const __m128d s = _mm_sqrt_pd(disc);
        const __m128d nb = _mm_xor_pd(b, _mm_set1_pd(-0.0));
        const __m128i i1 = _mm_cvttpd_epi32(plusHalfAway(_mm_mul_pd(_mm_sub_pd(nb, s), ax.k)));
        const __m128i i2 = _mm_cvttpd_epi32(plusHalfAway(_mm_mul_pd(_mm_sub_pd(s, b), ax.k)));
        const __m128i minusOne = _mm_set1_epi32(-1);
        const __m128i in1 = _mm_and_si128(_mm_cmpgt_epi32(i1, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i1));
        const __m128i in2 = _mm_and_si128(_mm_cmpgt_epi32(i2, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i2));
        return _mm_or_si128(_mm_and_si128(in1, i1), _mm_andnot_si128(in1, _mm_and_si128(in2, i2)));
    } else {
        const __m128d q = _mm_div_pd(_mm_mul_pd(ax.extent, _mm_xor_pd(c, _mm_set1_pd(-0.0))), b);
        // b = 0: the quotient (infinite or NaN) becomes +0.
        const __m128d held = _mm_andnot_pd(_mm_cmpeq_pd(b, _mm_setzero_pd()), q);
        return _mm_cvttpd_epi32(plusHalfAway(held));
    }
}

template <bool QuadraticU, bool QuadraticV>
void mapRowSse2(const RowTerms& t, int32_t* out, int32_t x0, int32_t x1, double d, double cu, double cv)
{
    const Sse2Axis axU(t.u), axV(t.v);
    __m128d dLo = _mm_set_pd(d + t.ay, d), uLo = _mm_set_pd(cu + t.dy2, cu), vLo = _mm_set_pd(cv + t.dy1, cv);
    __m128d dHi = _mm_add_pd(dLo, _mm_set1_pd(2 * t.ay));
    __m128d uHi = _mm_add_pd(uLo, _mm_set1_pd(2 * t.dy2));
    __m128d vHi = _mm_add_pd(vLo, _mm_set1_pd(2 * t.dy1));
    const __m128d stepD = _mm_set1_pd(4 * t.ay), stepU = _mm_set1_pd(4 * t.dy2), stepV = _mm_set1_pd(4 * t.dy1);
    const __m128i refX = _mm_set1_epi32(t.refX), refY = _mm_set1_epi32(t.refY);
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i columnLimit = _mm_set1_epi32(INT32_MIN + 1919);
    const __m128i rowLimit = _mm_set1_epi32(INT32_MIN + 1079);
    const __m128i lanes = _mm_set_epi32(3, 2, 1, 0);
    for (int32_t x = x0; x <= x1; x += 4) {
        const __m128i u = _mm_unpacklo_epi64(solveTwo<QuadraticU>(axU, dLo, uLo), solveTwo<QuadraticU>(axU, dHi, uHi));
        const __m128i v = _mm_unpacklo_epi64(solveTwo<QuadraticV>(axV, dLo, vLo), solveTwo<QuadraticV>(axV, dHi, vHi));
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

template <bool Quadratic>
CHANNEL_MAP_AVX2 inline __m128i solveFour(const Avx2Axis& ax, __m256d d, __m256d c)
{
    const __m256d b = _mm256_add_pd(d, ax.b0);
    if constexpr (Quadratic) {
        const __m256d disc = _mm256_sub_pd(_mm256_mul_pd(b, b), _mm256_mul_pd(ax.a4, c));
        const __m256d s = _mm256_sqrt_pd(disc);
        const __m256d nb = _mm256_xor_pd(b, _mm256_set1_pd(-0.0));
        const __m128i i1 = _mm256_cvttpd_epi32(plusHalfAway4(_mm256_mul_pd(_mm256_sub_pd(nb, s), ax.k)));
        const __m128i i2 = _mm256_cvttpd_epi32(plusHalfAway4(_mm256_mul_pd(_mm256_sub_pd(s, b), ax.k)));
        const __m128i minusOne = _mm_set1_epi32(-1);
        const __m128i in1 = _mm_and_si128(_mm_cmpgt_epi32(i1, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i1));
        const __m128i in2 = _mm_and_si128(_mm_cmpgt_epi32(i2, minusOne), _mm_cmpgt_epi32(ax.extentPlusOne, i2));
        return _mm_blendv_epi8(_mm_and_si128(in2, i2), i1, in1);
    } else {
        const __m256d q = _mm256_div_pd(_mm256_mul_pd(ax.extent, _mm256_xor_pd(c, _mm256_set1_pd(-0.0))), b);
        const __m256d held = _mm256_andnot_pd(_mm256_cmp_pd(b, _mm256_setzero_pd(), _CMP_EQ_OQ), q);
        return _mm256_cvttpd_epi32(plusHalfAway4(held));
    }
}

template <bool QuadraticU, bool QuadraticV>
CHANNEL_MAP_AVX2 void mapRowAvx2(const RowTerms& t, int32_t* out, int32_t x0, int32_t x1, double d, double cu,
                                 double cv)
{
    const Avx2Axis axU = avx2Axis(t.u), axV = avx2Axis(t.v);
    const __m256d lane = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    // Lane i starts i columns on: the products are small integers, exact.
    __m256d dd = _mm256_add_pd(_mm256_set1_pd(d), _mm256_mul_pd(lane, _mm256_set1_pd(t.ay)));
    __m256d uu = _mm256_add_pd(_mm256_set1_pd(cu), _mm256_mul_pd(lane, _mm256_set1_pd(t.dy2)));
    __m256d vv = _mm256_add_pd(_mm256_set1_pd(cv), _mm256_mul_pd(lane, _mm256_set1_pd(t.dy1)));
    const __m256d stepD = _mm256_set1_pd(4 * t.ay), stepU = _mm256_set1_pd(4 * t.dy2),
                  stepV = _mm256_set1_pd(4 * t.dy1);
    const __m128i refX = _mm_set1_epi32(t.refX), refY = _mm_set1_epi32(t.refY);
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i columnLimit = _mm_set1_epi32(INT32_MIN + 1919);
    const __m128i rowLimit = _mm_set1_epi32(INT32_MIN + 1079);
    const __m128i lanes = _mm_set_epi32(3, 2, 1, 0);
    for (int32_t x = x0; x <= x1; x += 4) {
        const __m128i sx = _mm_add_epi32(refX, solveFour<QuadraticU>(axU, dd, uu));
        const __m128i sy = _mm_add_epi32(refY, solveFour<QuadraticV>(axV, dd, vv));
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

#undef CHANNEL_MAP_AVX2

// Row kernels by [quadratic u][quadratic v].
constexpr RowFunction kSse2Rows[2][2] = {{mapRowSse2<false, false>, mapRowSse2<false, true>},
                                         {mapRowSse2<true, false>, mapRowSse2<true, true>}};
constexpr RowFunction kAvx2Rows[2][2] = {{mapRowAvx2<false, false>, mapRowAvx2<false, true>},
                                         {mapRowAvx2<true, false>, mapRowAvx2<true, true>}};

bool hasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

}  // namespace

bool BuildChannelMap(const grid::WarpGrid& reference, const grid::WarpGrid& corrected,
                     const grid::OutputEntry& entry, ChannelMap& map, MapPath path)
{
    map.clear();
    if (!reference.valid() || !corrected.valid())
        return false;
    const auto& rowKernels = path == MapPath::Fastest && hasAvx2() ? kAvx2Rows : kSse2Rows;
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
            // The kernels need offsets that fit 32-bit lanes; other reference
            // cells (mirrored, flat or huge) go pixel by pixel.
            const bool vector = q.wi > 0 && q.wi < (1 << 30) && q.hi > 0 && q.hi < (1 << 30);
            const RowTerms terms{{4.0 * cache.a, cache.k, cache.b0, q.w, int32_t(q.wi + 1)},
                                 {4.0 * cache.a2, cache.k2, cache.b02, q.h, int32_t(q.hi + 1)},
                                 double(q.ay),
                                 double(q.dy2),
                                 double(q.dy1),
                                 q.refX,
                                 q.refY};
            const RowFunction rowKernel = rowKernels[std::fabs(cache.a) > 0.5][std::fabs(cache.a2) > 0.5];
            for (int32_t y = spans.firstRow; y <= spans.lastRow; ++y) {
                const int32_t x0 = spans.firstX[std::size_t(y)], x1 = spans.lastX[std::size_t(y)];
                if (x0 > x1)
                    continue;
                mapped += std::size_t(x1 - x0 + 1);
                if (mapped > kMapPixelBudget) {
                    map.clear();
                    return false;
                }
                int32_t* out = map.row(y);
                int64_t d = 0, cu = 0, cv = 0;
                q.at(x0, y, d, cu, cv);
                if (vector) {
                    rowKernel(terms, out, x0, x1, double(d), double(cu), double(cv));
                    continue;
                }
                for (int32_t x = x0; x <= x1; ++x, d += q.ay, cu += q.dy2, cv += q.dy1) {
                    const SourcePixel s = q.map(cache, d, cu, cv);
                    if (uint32_t(s.x) < 1919u && uint32_t(s.y) < 1079u)
                        out[x] = int32_t(((uint32_t(s.x) & 0xFFFu) << 16) | (uint32_t(s.y) & 0xFFFu));
                }
            }
        }
    }
    return true;
}

}  // namespace calib
