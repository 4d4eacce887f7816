// One batch page sends three videos to eight simulated players on
// 127.0.0.2-9, one after another, and the same set to one of them alone:
// the eight-player time should stay within 1.1 x eight single sends. Then
// again with a ninth address where nothing listens: it must cost less than
// a second, since an unreachable player is marked and left at once.
//
// The players acknowledge every upload packet and count its bytes instead of
// keeping them (eight copies of 300 MB would only measure memory).
//
// usage: bench_batch [megabytes per video]   (default 100)

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
constexpr int kRounds = 2;
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
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;

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

    // Best of two rounds each: the machine is shared, and one slow moment
    // should not decide the ratio.
    std::vector<Row> withGone = rows;
    withGone.push_back({QStringLiteral("127.0.0.10"), 1});  // nothing listens there
    auto best = [](qint64 a, qint64 b) { return a < 0 ? b : (b < 0 ? a : std::min(a, b)); };
    qint64 eight = -1, single = -1, nine = -1;
    for (int round = 0; round < kRounds; ++round) {
        auto tab = fresh();
        single = best(single, run(*tab->page(0), {rows.front()}));
        tab = fresh();
        eight = best(eight, run(*tab->page(0), rows));
        tab = fresh();
        nine = best(nine, run(*tab->page(0), withGone));
    }

    uint64_t total = 0;
    for (const auto& c : counters)
        total += c->bytes;
    const uint64_t expected = uint64_t(megabytes << 20) * kVideos * (kPlayers * 2 + 1) * kRounds;
    std::printf("videos: %d x %lld MB; players: %d\n", kVideos, static_cast<long long>(megabytes), kPlayers);
    std::printf("8 players: %lld ms; 1 player: %lld ms; ratio to 8 x single: %.3f (goal <= 1.1)\n",
                static_cast<long long>(eight), static_cast<long long>(single),
                single > 0 ? double(eight) / (8.0 * double(single)) : 0.0);
    std::printf("8 players + 1 unreachable: %lld ms; extra: %lld ms (goal < 1000)\n", static_cast<long long>(nine),
                static_cast<long long>(nine - eight));
    std::printf("bytes received by the players: %llu of %llu\n", static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(expected));
    for (auto& p : players)
        p->stop();
    return eight > 0 && single > 0 && nine > 0 && total == expected ? 0 : 1;
}
