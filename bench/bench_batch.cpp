// One batch page sends three videos to eight simulated players on
// 127.0.0.2-9, one after another, and the same set to each of them alone,
// one page a player: the eight-player time should stay within 1.05 x the
// eight single sends together. Then again with a ninth address where
// nothing listens: it must cost less than a second, since an unreachable
// player is marked and left at once.
//
// The players acknowledge every upload packet and count its bytes instead of
// keeping them (eight copies of 300 MB would only measure memory).
//
// usage: bench_batch [megabytes per video, default 100] [rounds, default 9]

#include "bench/bench_support.h"
#include "content/batch_send_file.h"
#include "content/batch_send_file_tab.h"
#include "platform/app_identity.h"
#include "player/player_sim.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kPlayers = 8;
constexpr int kVideos = 3;
constexpr qint64 kRunLimitMs = 600000;  // every run ends by itself

struct Counter {
    std::atomic<uint64_t> bytes{0};
};

void countingUploads(sim::PlayerSim& player, const std::shared_ptr<Counter>& counter)
{
    player.registerCommand(proto::CMD_VIDEO_UPLOAD, [counter](sim::PlayerSim&, const sim::Request& req) {
        if (req.header.subCode != 0)  // chunks only, not the begin packets
            counter->bytes += uint64_t(req.payload.size());
        sim::Reply r;
        r.header.command = req.header.command;
        r.header.subCode = req.header.subCode;
        r.header.param = req.header.param;
        return std::vector<sim::Reply>{r};
    });
}

bool writeVideo(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + 7);
    for (qint64 left = bytes; left > 0; left -= block.size())
        if (f.write(block.constData(), std::min<qint64>(left, block.size())) < 0)
            return false;
    return true;
}

struct Row {
    QString ip;
    uint16_t port;
};

// One Send to the rows given; the time until the page is idle again, or -1.
qint64 run(CBatchSendFile& page, const std::vector<Row>& rows)
{
    for (const Row& r : rows) {
        PlayerRow row;
        row.ip = r.ip;
        row.portText = QString::number(r.port);
        page.AddRow(row);
    }
    for (int i = 0; i < page.RowCount(); ++i)
        page.SetTicked(i, true);
    QElapsedTimer clock;
    clock.start();
    page.OnSend();
    while (!page.IsIdle() && clock.elapsed() < kRunLimitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const qint64 ms = page.IsIdle() ? clock.elapsed() : -1;
    if (ms < 0)
        page.OnStop();
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 100, 4096, "megabytes per video", &args))
        return 2;
    const qint64 megabytes = qint64(args.size);

    QTemporaryDir dir;
    const QDir root(dir.path());
    root.mkpath(QStringLiteral("A1/Bench"));
    for (int i = 0; i < kVideos; ++i)
        if (!writeVideo(root.filePath(QStringLiteral("A1/Bench/v%1.mp4").arg(i)), megabytes << 20)) {
            std::fprintf(stderr, "cannot write the videos\n");
            return 1;
        }

    std::vector<std::unique_ptr<sim::PlayerSim>> players;
    std::vector<std::shared_ptr<Counter>> counters;
    std::vector<Row> rows;
    for (int i = 0; i < kPlayers; ++i) {
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.%1").arg(2 + i);
        auto p = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*p);
        auto counter = std::make_shared<Counter>();
        countingUploads(*p, counter);
        QString error;
        if (!p->start(&error)) {
            std::fprintf(stderr, "player %d: %s\n", i, qPrintable(error));
            return 1;
        }
        rows.push_back({o.address, p->tcpPort()});
        players.push_back(std::move(p));
        counters.push_back(counter);
    }

    auto fresh = [&] {
        auto tab = std::make_unique<CBatchSendFileTab>(QStringLiteral("Bench-"));
        tab->page(0)->SetFolders(root.filePath(QStringLiteral("A1")), QString(), QString());
        tab->page(0)->SetMaterialFolder(root.filePath(QStringLiteral("Material")));
        return tab;
    };

    // Eight players against eight times one, round by round; the order turns
    // with the round so that neither side always meets a warm cache.
    std::vector<Row> withGone = rows;
    withGone.push_back({QStringLiteral("127.0.0.10"), 1});  // nothing listens there
    std::vector<double> singleMs, eightMs;
    qint64 nine = -1, eightBest = -1;
    // The players log every packet with its payload: nine rounds of eight
    // players would otherwise keep every video they were sent.
    auto forget = [&players] {
        for (auto& p : players)
            p->clearLog();
    };
    const bool ran = bench::alternate(
        args.rounds,
        [&] {
            // Each player alone in turn: eight short sends summed are steadier
            // than one of them taken eight times.
            qint64 sum = 0;
            for (const Row& row : rows) {
                auto tab = fresh();
                const qint64 ms = run(*tab->page(0), {row});
                forget();
                if (ms < 0)
                    return -1.0;
                sum += ms;
            }
            return double(sum);
        },
        [&] {
            auto tab = fresh();
            const qint64 ms = run(*tab->page(0), rows);
            forget();
            eightBest = eightBest < 0 ? ms : std::min(eightBest, ms);
            return double(ms);
        },
        &singleMs, &eightMs);
    if (ran) {
        auto tab = fresh();
        nine = run(*tab->page(0), withGone);
    }
    bench::Ratios ratio;
    ratio.higherIsBetter = false;
    for (std::size_t i = 0; i < eightMs.size(); ++i)
        ratio.add(eightMs[i], singleMs[i]);
    const qint64 eight = eightBest;
    const qint64 singles = qint64(bench::best(singleMs, false));

    uint64_t total = 0;
    for (const auto& c : counters)
        total += c->bytes;
    const uint64_t expected = uint64_t(megabytes << 20) * kVideos * (2 * kPlayers * eightMs.size() + (nine >= 0 ? kPlayers : 0));
    std::printf("videos: %d x %lld MB; players: %d\n", kVideos, static_cast<long long>(megabytes), kPlayers);
    std::printf("8 players: best %lld ms; each of them alone, summed: best %lld ms\n", static_cast<long long>(eight),
                static_cast<long long>(singles));
    ratio.print(std::string(), "8 players against each of them alone, summed, goal <= 105 %");
    std::printf("8 players + 1 unreachable: %lld ms; extra: %lld ms (goal < 1000)\n", static_cast<long long>(nine),
                static_cast<long long>(nine - eight));
    std::printf("bytes received by the players: %llu of %llu\n", static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(expected));
    for (auto& p : players)
        p->stop();
    return ran && nine > 0 && total == expected ? 0 : 1;
}
