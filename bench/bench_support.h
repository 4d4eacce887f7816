#pragma once
// What every benchmark program shares: its two optional arguments, the
// alternation of baseline and subject (so that load from elsewhere on the
// machine falls on both alike) and the one summary line the README quotes,
//     ratio : best X %, median Y %
// Each round pairs one baseline run with one subject run; the ratio of a
// round is taken within that pair, and the best and median are over rounds.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// The machine swings by about 10 %: fewer rounds say little.
constexpr int kMinRounds = 9;

struct Args {
    unsigned long long size = 0;  // megabytes or another unit the program names
    int rounds = kMinRounds;
};

// usage: <program> [size 1..maxSize] [rounds 9..50]. Prints the usage and
// returns false on anything else.
inline bool parseArgs(int argc, char** argv, unsigned long long defaultSize, unsigned long long maxSize,
                      const char* sizeName, Args* out)
{
    Args a;
    a.size = defaultSize;
    bool ok = argc <= 3;
    for (int i = 1; ok && i < argc; ++i) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(argv[i], &end, 10);
        if (!end || *end != '\0' || argv[i][0] == '-' || argv[i][0] == '\0')
            ok = false;
        else if (i == 1)
            ok = v >= 1 && v <= maxSize, a.size = v;
        else
            ok = v >= kMinRounds && v <= 50, a.rounds = int(v);
    }
    if (!ok) {
        std::fprintf(stderr, "usage: %s [%s 1..%llu] [rounds %d..50]\n", argv[0], sizeName, maxSize, kMinRounds);
        return false;
    }
    *out = a;
    return true;
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double best(const std::vector<double>& v, bool higherIsBetter)
{
    if (v.empty())
        return 0;
    return higherIsBetter ? *std::max_element(v.begin(), v.end()) : *std::min_element(v.begin(), v.end());
}

// Per-round percentages of subject against baseline.
struct Ratios {
    std::vector<double> percent;
    bool higherIsBetter = true;

    void add(double subject, double baseline)
    {
        if (baseline > 0)
            percent.push_back(100.0 * subject / baseline);
    }
    // `label` is empty for the program's main figure, so that the line reads
    // exactly "ratio : best X %, median Y %".
    void print(const std::string& label = std::string(), const char* note = nullptr) const
    {
        std::printf("%sratio : best %.1f %%, median %.1f %%%s%s%s\n", label.empty() ? "" : (label + " ").c_str(),
                    best(percent, higherIsBetter), median(percent), note ? " (" : "", note ? note : "",
                    note ? ")" : "");
    }
};

// Runs `rounds` pairs, baseline first in even rounds and subject first in
// odd ones, so neither always profits from a warm cache. Each function
// returns its figure for the round (a rate or a time) or a negative number
// on failure, which ends the loop and makes run() return false.
inline bool alternate(int rounds, const std::function<double()>& baseline, const std::function<double()>& subject,
                      std::vector<double>* baselineOut, std::vector<double>* subjectOut)
{
    for (int r = 0; r < rounds; ++r) {
        double b = 0, s = 0;
        if (r % 2 == 0) {
            b = baseline();
            s = b < 0 ? -1 : subject();
        } else {
            s = subject();
            b = s < 0 ? -1 : baseline();
        }
        if (b < 0 || s < 0)
            return false;
        baselineOut->push_back(b);
        subjectOut->push_back(s);
    }
    return true;
}

}  // namespace bench
