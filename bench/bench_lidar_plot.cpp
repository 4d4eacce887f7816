// The live lidar view drawn into an 800 x 600 off-screen image: once with
// the most points one datagram carries (8,185) and once without points.
// Prints frames per second of both and their ratio. Goal: at least 50
// frames per second with points on one core (five times the poll rate).

#include "bench/bench_support.h"
#include "interactive/lidar_plot.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>

namespace {

double framesPerSecond(const std::vector<lidar::LidarPoint>& points, int minFrames, double minSeconds)
{
    QImage image(800, 600, QImage::Format_RGB32);
    lidar::PickedPoint picked;
    const auto start = std::chrono::steady_clock::now();
    int frames = 0;
    double elapsed = 0;
    // Bounded: at least minFrames and minSeconds, at most 100 times minFrames.
    while ((frames < minFrames || elapsed < minSeconds) && frames < minFrames * 100) {
        QPainter p(&image);
        lidar::DrawLidarPlot(p, 800, 600, lidar::kZoomStart, points, 0.5 + frames * 0.01, &picked);
        p.end();
        ++frames;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return frames / elapsed;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::vector<lidar::LidarPoint> points;
    const std::size_t count = (65507 - lidar::kReplyHeaderSize) / 8;  // 8,185
    for (std::size_t i = 0; i < count; ++i)
        points.push_back({float(i) * 360.f / float(count), 2000.f + 1500.f * std::sin(float(i) * 0.01f), 0});
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 50, 10000, "frames per round at least", &args))
        return 2;
    const int frames = int(args.size);
    std::vector<double> without, with;
    if (!bench::alternate(
            args.rounds, [&] { return framesPerSecond({}, frames, 0.3); },
            [&] { return framesPerSecond(points, frames, 0.3); }, &without, &with))
        return 1;
    bench::Ratios ratio;
    for (std::size_t i = 0; i < with.size(); ++i)
        ratio.add(with[i], without[i]);
    std::printf("lidar plot 800x600: %zu points best %.1f fps, median %.1f fps; no points best %.1f fps (goal: >= 50 fps with points)\n",
                count, bench::best(with, true), bench::median(with), bench::best(without, true));
    ratio.print(std::string(), "frames per second with points / without");
    return bench::median(with) >= 50 ? 0 : 1;
}
