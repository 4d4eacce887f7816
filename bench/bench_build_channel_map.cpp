// Time of the per-pixel map of one 1,920 x 1,080 output, against the plain
// pass that only writes the 2,048 x 1,080 table (the memory-bound floor).
//
// The map of an identity grid and of a strongly warped grid (keystone, bow
// and waves) are each timed in rounds that alternate with the floor pass,
// on one core. Times are the thread's CPU time, per map (or per pass), each
// the mean of `size` runs in a row. The ratio of a round is the map's time as
// a percentage of the floor's in the same round. The warped map is timed
// with the kernel the processor gets (Fastest) and, for machines without
// the wider instructions, with the AVX2 and the SSE2 kernel.
// Goal: under 10 ms per warped map.
//
// usage: bench_build_channel_map [maps per measurement 1..100] [rounds 9..50]

#include "bench/bench_support.h"
#include "calibration/geometric_correction.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <numbers>
#include <vector>

namespace {

// Thread CPU time in milliseconds: on a machine shared with other work,
// wall time would mostly measure the neighbours.
double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

std::unique_ptr<calib::CGeometricCorrection> outputModel()
{
    auto m = std::make_unique<calib::CGeometricCorrection>();
    m->canvas = {0, 0, 960, 540};
    grid::OutputEntry& e = m->config.outputs[0];
    e.right = 1920;
    e.bottom = 1080;
    e.layoutMode = 1;
    e.lastX = 1919;
    e.lastY = 1079;
    e.maxX = 1920;
    e.maxY = 1080;
    m->config.outputCount = 1;
    m->ResetGrids(0);
    return m;
}

// Every point of the corrected grid moved: a keystone narrowing the top, a
// bow of the rows and waves along both axes, held inside the output.
void warp(calib::CGeometricCorrection& m)
{
    grid::WarpGrid& g = m.corrected(0);
    const double pi = std::numbers::pi;
    for (int c = 0; c < 65; ++c) {
        for (int r = 0; r < 33; ++r) {
            const grid::GridPoint& ref = m.reference(0).at(c, r);
            const double u = ref.x / 1919.0, v = ref.y / 1079.0;
            double x = 960 + (ref.x - 960) * (0.8 + 0.2 * v) + 25 * std::sin(2 * pi * v * 3);
            double y = ref.y + 90 * std::sin(pi * u) * (1 - v) + 15 * std::sin(2 * pi * u * 4);
            g.at(c, r).x = int32_t(std::clamp(x, 0.0, 1919.0));
            g.at(c, r).y = int32_t(std::clamp(y, 0.0, 1079.0));
        }
    }
}

// The floor: every entry of the table written once, row by row.
void plainPass(std::vector<int32_t>& table)
{
    int32_t* p = table.data();
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 2048; ++x)
            *p++ = x < 1919 && y < 1079 ? int32_t((uint32_t(x) << 16) | uint32_t(y)) : -1;
}

struct Figures {
    std::vector<double> floorMs, mapMs;
    bench::Ratios ratio;
};

}  // namespace

int main(int argc, char** argv)
{
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 3, 100, "maps per measurement", &args))
        return 2;
    const int runs = int(args.size);
    // One core: the map is single-threaded by design.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int cpu = sched_getcpu();
    CPU_SET(cpu >= 0 ? cpu : 0, &set);
    sched_setaffinity(0, sizeof set, &set);

    auto identity = outputModel();
    auto warped = outputModel();
    warp(*warped);
    std::vector<int32_t> table(std::size_t(2048) * 1080);
    calib::ChannelMap map;
    int32_t sink = 0;

    auto floorRun = [&] {
        const double start = nowMs();
        for (int i = 0; i < runs; ++i) {
            plainPass(table);
            sink ^= table[std::size_t(i) * 977];
        }
        return (nowMs() - start) / runs;
    };
    auto mapRun = [&](const calib::CGeometricCorrection& m, calib::MapPath path) {
        const double start = nowMs();
        bool built = true;
        for (int i = 0; i < runs; ++i) {
            built = calib::BuildChannelMap(m.reference(0), m.corrected(0), m.config.outputs[0], map, path) && built;
            sink ^= map.at(i, i);
        }
        const double ms = (nowMs() - start) / runs;
        return built ? ms : -1.0;  // a refused map ends the rounds
    };
    auto measure = [&](const calib::CGeometricCorrection& m, calib::MapPath path, Figures& f) {
        f.ratio.higherIsBetter = false;
        mapRun(m, path);  // faults the table in
        const bool ran = bench::alternate(
            args.rounds, floorRun, [&] { return mapRun(m, path); }, &f.floorMs, &f.mapMs);
        for (std::size_t i = 0; i < f.mapMs.size(); ++i)
            f.ratio.add(f.mapMs[i], f.floorMs[i]);
        return ran;
    };

    floorRun();
    Figures identityFigures, warpedFigures, avx2Figures, sse2Figures;
    if (!measure(*identity, calib::MapPath::Fastest, identityFigures) ||
        !measure(*warped, calib::MapPath::Fastest, warpedFigures) ||
        !measure(*warped, calib::MapPath::Avx2, avx2Figures) ||
        !measure(*warped, calib::MapPath::Baseline, sse2Figures)) {
        std::fprintf(stderr, "a map was refused\n");
        return 1;
    }
    calib::BuildChannelMap(warped->reference(0), warped->corrected(0), warped->config.outputs[0], map);
    int filled = 0;
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 2048; ++x)
            filled += map.at(x, y) != -1;

    auto line = [](const char* name, const std::vector<double>& ms) {
        std::printf("%-26s: best %.2f ms, median %.2f ms\n", name, bench::best(ms, false), bench::median(ms));
    };
    std::printf("BuildChannelMap, 1920 x 1080 output, %d rounds of %d on cpu %d (sink %d)\n", args.rounds, runs, cpu,
                int(sink & 1));
    std::vector<double> floorMs = identityFigures.floorMs;
    floorMs.insert(floorMs.end(), warpedFigures.floorMs.begin(), warpedFigures.floorMs.end());
    line("floor (plain table pass)", floorMs);
    line("identity map", identityFigures.mapMs);
    line("warped map", warpedFigures.mapMs);
    line("warped map, AVX2 kernel", avx2Figures.mapMs);
    line("warped map, SSE2 kernel", sse2Figures.mapMs);
    std::printf("warped map: %d pixels with a source; goal under 10 ms per map: %s\n", filled,
                bench::median(warpedFigures.mapMs) < 10.0 ? "met" : "not met");
    identityFigures.ratio.print("identity");
    avx2Figures.ratio.print("warped AVX2");
    sse2Figures.ratio.print("warped SSE2");
    warpedFigures.ratio.print(std::string(), "warped map against the floor");
    return 0;
}
