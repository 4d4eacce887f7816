// Time of the per-pixel map of one 1,920 x 1,080 output, against the plain
// pass that only writes the 2,048 x 1,080 table (the memory-bound floor).
//
// Each round times the floor, then the map of an identity grid, then the map
// of a strongly warped grid (keystone, bow and waves), one after the other on
// one core, so that both see the same machine state. Times are the
// thread's CPU time. The ratio is the map's
// time as a percentage of the floor's in the same round.
//
// usage: bench_build_channel_map [rounds]   (default 9, at least 9)

#include "calibration/geometric_correction.h"

#include <sched.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <vector>

namespace {

// Thread CPU time: on a machine shared with other work, wall time would
// mostly measure the neighbours.
struct Clock {
    using time_point = double;
    static double now()
    {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
    }
};

double msSince(double start)
{
    return Clock::now() - start;
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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = std::max(9, argc > 1 ? std::atoi(argv[1]) : 9);
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

    // One unmeasured run of each to fault the memory in.
    plainPass(table);
    identity->BuildChannelMap(0);
    warped->BuildChannelMap(0);

    std::vector<double> floorMs, identityMs, warpedMs, identityRatio, warpedRatio;
    int32_t sink = 0;
    for (int i = 0; i < rounds; ++i) {
        auto t = Clock::now();
        plainPass(table);
        floorMs.push_back(msSince(t));
        sink ^= table[std::size_t(i) * 977];
        t = Clock::now();
        identity->BuildChannelMap(0);
        identityMs.push_back(msSince(t));
        t = Clock::now();
        warped->BuildChannelMap(0);
        warpedMs.push_back(msSince(t));
        sink ^= warped->channelMap().at(i, i);
        identityRatio.push_back(100.0 * identityMs.back() / floorMs.back());
        warpedRatio.push_back(100.0 * warpedMs.back() / floorMs.back());
    }
    int filled = 0;
    for (int y = 0; y < 1080; ++y)
        for (int x = 0; x < 2048; ++x)
            filled += warped->channelMap().at(x, y) != -1;

    std::printf("BuildChannelMap, 1920 x 1080 output, %d rounds on cpu %d (sink %d)\n", rounds, cpu, int(sink & 1));
    std::printf("floor (plain table pass) : best %.2f ms, median %.2f ms\n",
                *std::min_element(floorMs.begin(), floorMs.end()), median(floorMs));
    std::printf("identity map             : best %.2f ms, median %.2f ms\n",
                *std::min_element(identityMs.begin(), identityMs.end()), median(identityMs));
    std::printf("warped map               : best %.2f ms, median %.2f ms (%d pixels with a source)\n",
                *std::min_element(warpedMs.begin(), warpedMs.end()), median(warpedMs), filled);
    std::printf("identity ratio : best %.0f %%, median %.0f %%\n",
                *std::min_element(identityRatio.begin(), identityRatio.end()), median(identityRatio));
    std::printf("ratio : best %.0f %%, median %.0f %%\n",
                *std::min_element(warpedRatio.begin(), warpedRatio.end()), median(warpedRatio));
    return 0;
}
