// Tollivar's batch path: one video through the link hub and the Video Set
// wizard's batch page to a receiver that only reads and acknowledges, against
// the same file read and sent over a plain loopback socket in the same run,
// rounds alternating. Prints the ratio of the page's rate to the plain
// socket's; the goal is at least 90 %.
//
// The receiver answers the catalogue query with an empty catalogue of ample
// free space, every upload packet and the video-type document with a bare
// header: what is measured is the hub and the page, not a player's work.
// The page's time runs from Send to the moment it has finished (catalogues,
// announce, chunks, document), noticed by the event that re-enables Send.
//
// usage: bench_batch_companion [megabytes 1..16384] [rounds 9..50]
//        (default 1024, i.e. 1 GiB, and 9 rounds)

#include "bench/bench_sockets.h"
#include "bench/bench_support.h"
#include "companion/batch_send.h"
#include "companion/link_hub.h"
#include "companion/video_set_model.h"
#include "platform/app_identity.h"
#include "platform/window.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kRunLimitMs = 300000;  // the run ends by itself in any case

// Reads every packet into one buffer and acknowledges it; serves links one
// after another until its listener is shut down.
class AckingReceiver {
public:
    bool start()
    {
        listener_ = bench::listenOn("127.0.0.1", port_);
        if (listener_ < 0)
            return false;
        PlayerCatalog empty;
        empty.totalMB = 4000000;
        empty.freeMB = 4000000;
        catalogue_ = empty.pack();
        thread_ = std::thread([this] { serve(); });
        pthread_setname_np(thread_.native_handle(), "bench-receiver");
        return true;
    }
    ~AckingReceiver()
    {
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    uint16_t port() const { return port_; }
    uint64_t uploaded() const { return uploaded_.load(); }
    void resetCount() { uploaded_ = 0; }

private:
    void serve()
    {
        std::vector<uint8_t> buffer(proto::kBufferSize);
        while (true) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            uint8_t head[proto::kHeaderSize];
            while (bench::readFull(fd, head, sizeof head)) {
                const auto h = proto::PlayerPacketHeader::fromBytes(head);
                if (h.magic != proto::kMagic || h.payloadLength > proto::kMaxPayload ||
                    !bench::readFull(fd, buffer.data(), h.payloadLength))
                    break;
                if (h.command == proto::CMD_VIDEO_UPLOAD && h.subCode != 0)
                    uploaded_ += h.payloadLength;
                proto::PlayerPacketHeader ack = h;
                ack.command = uint8_t(h.command | proto::kReplyBit);
                ack.arg = h.command == proto::CMD_PARAM_FILE ? 1 : 0;
                const QByteArray payload = h.command == proto::CMD_VIDEO_LIST ? catalogue_ : QByteArray();
                const QByteArray packet = proto::buildPacket(ack, payload);
                if (!bench::sendFull(fd, reinterpret_cast<const uint8_t*>(packet.constData()), std::size_t(packet.size())))
                    break;
            }
            ::close(fd);
        }
    }
    int listener_ = -1;
    uint16_t port_ = 0;
    QByteArray catalogue_;
    std::thread thread_;
    std::atomic<uint64_t> uploaded_{0};
};

// For reference: as many bytes as the page puts on the wire, written back
// to back from one 8 MB buffer (which stays in the processor's cache) and
// read by a thread that throws them away.
qint64 runCachedBuffer(uint64_t bytes)
{
    int client = -1, server = -1;
    if (!bench::connectedPair(client, server))
        return -1;
    const uint64_t packets = bytes / proto::kChunkSize + 1;
    const uint64_t wire = bytes + packets * proto::kHeaderSize;
    std::atomic<uint64_t> got{0};
    std::thread reader([server, wire, &got] {
        std::vector<char> buf(proto::kChunkSize);
        uint64_t total = 0;
        while (total < wire) {
            const ssize_t n = ::recv(server, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            total += uint64_t(n);
        }
        got = total;
    });
    const QByteArray block(qsizetype(proto::kChunkSize + proto::kHeaderSize), char(0x5C));
    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    for (uint64_t left = wire; ok && left > 0;) {
        const std::size_t n = std::size_t(std::min<uint64_t>(left, uint64_t(block.size())));
        ok = bench::sendFull(client, reinterpret_cast<const uint8_t*>(block.constData()), n);
        left -= n;
    }
    if (!ok)
        ::shutdown(client, SHUT_RDWR);
    reader.join();
    const qint64 ns = timer.nsecsElapsed();
    ::close(client);
    ::close(server);
    return ok && got.load() == wire ? ns : -1;
}

// Processor time of the whole process (every thread, user and system), in
// milliseconds: unlike the rates it hardly moves with load from elsewhere.
double processCpuMs()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(u.ru_utime) + ms(u.ru_stime);
}

// Quits `loop` when Send is enabled again, which the page does only as a
// batch ends: the end is seen as it happens, not at the next poll. The loop
// returns once the page's handler has finished.
class FinishWatch : public QObject {
public:
    explicit FinishWatch(QEventLoop& loop) : loop_(loop) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            loop_.quit();
        return QObject::eventFilter(watched, event);
    }

private:
    QEventLoop& loop_;
};

// One batch of the page; nanoseconds from Send to its end, or -1.
qint64 runPage(CBatchSend& page, AckingReceiver& receiver, uint64_t bytes)
{
    receiver.resetCount();
    QPushButton* send = page.findChild<QPushButton*>(QStringLiteral("2402"));
    if (!send)
        return -1;
    QEventLoop loop;
    FinishWatch watch(loop);
    send->installEventFilter(&watch);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(int(kRunLimitMs));
    QElapsedTimer clock;
    clock.start();
    page.OnSend();
    while (!page.IsStopped() && limit.isActive())
        loop.exec();
    const qint64 ns = clock.nsecsElapsed();
    send->removeEventFilter(&watch);
    if (!page.IsStopped()) {
        page.OnStop();
        std::fprintf(stderr, "the batch did not end within %lld s\n", static_cast<long long>(kRunLimitMs / 1000));
        return -1;
    }
    if (receiver.uploaded() != bytes || page.Devices()[0].status != videoset::BatchDevice::kDone) {
        std::fprintf(stderr, "the batch ended with %llu of %llu bytes received\n",
                     static_cast<unsigned long long>(receiver.uploaded()), static_cast<unsigned long long>(bytes));
        return -1;
    }
    return ns;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 1024, 16384, "megabytes", &args))
        return 2;
    const uint64_t bytes = uint64_t(args.size) << 20;

    QTemporaryDir dir;
    const QDir root(dir.path());
    root.mkpath(QStringLiteral("Videos/Bench"));
    const QString video = root.filePath(QStringLiteral("Videos/Bench/v.mp4"));
    if (!bench::writePatternFile(video, qint64(bytes))) {
        std::fprintf(stderr, "cannot write the video\n");
        return 1;
    }
    QFile document(root.filePath(QString::fromLatin1(videoset::kVideoTypeFileName)));
    if (!document.open(QIODevice::WriteOnly) || document.write("{\"VideoType\":[]}") < 0) {
        std::fprintf(stderr, "cannot write the document\n");
        return 1;
    }
    document.close();

    AckingReceiver receiver;
    if (!receiver.start()) {
        std::fprintf(stderr, "receiver did not start\n");
        return 1;
    }
    platform::setAppTitle(QStringLiteral("Tollivar V1.23"));
    platform::MessageWindow main(platform::appTitle());
    tollivar::CLinkHub hub(main, QStringLiteral("Tollivar-"), platform::kLanguageEnglish);
    CBatchSend page(root.path() + QStringLiteral("/"));
    videoset::DeviceSetup setup;
    setup.ip = QStringLiteral("127.0.0.1");
    setup.portText = QString::number(receiver.port());
    setup.acts[0].folder = root.filePath(QStringLiteral("Videos"));
    videoset::RebuildCategories(setup.acts[0]);
    std::vector<videoset::DeviceSetup> setups{setup};
    if (!videoset::ListVideos(setups, platform::kLanguageEnglish).isEmpty()) {
        std::fprintf(stderr, "the video folder does not list\n");
        return 1;
    }
    page.SetDevices(setups);

    const uint64_t packets = bytes / proto::kChunkSize + 1;
    std::printf("video %llu MB: %llu chunks, %llu bytes on the wire, %d rounds\n",
                static_cast<unsigned long long>(args.size), static_cast<unsigned long long>(packets),
                static_cast<unsigned long long>(bytes + packets * proto::kHeaderSize), args.rounds);
    auto rate = [bytes](qint64 ns) { return ns > 0 ? double(bytes) / 1048576.0 / (double(ns) / 1e9) : -1.0; };
    std::vector<double> plain, batch, cached, plainCpu, batchCpu;
    // Each run also notes its processor time (both ends of the socket).
    auto timed = [&](std::vector<double>* cpu, const std::function<qint64()>& run) {
        const double before = processCpuMs();
        const qint64 ns = run();
        if (cpu)
            cpu->push_back(processCpuMs() - before);
        return rate(ns);
    };
    // The baseline sends the same file's bytes over a plain socket, read
    // then written on one thread; the cached-buffer send rides along with it
    // as a reference.
    const bool ok = bench::alternate(
        args.rounds,
        [&] {
            const double r = timed(&plainCpu, [&] { return bench::plainFileSend(video); });
            cached.push_back(timed(nullptr, [&] { return runCachedBuffer(bytes); }));
            return cached.back() < 0 ? -1.0 : r;
        },
        [&] { return timed(&batchCpu, [&] { return runPage(page, receiver, bytes); }); }, &plain, &batch);
    if (!ok) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    bench::Ratios ratios, cachedRatios;
    for (std::size_t r = 0; r < plain.size(); ++r) {
        ratios.add(batch[r], plain[r]);
        cachedRatios.add(batch[r], cached[r]);
        std::printf("round %zu: file over a plain socket %8.1f MiB/s (%5.0f ms CPU), batch page through the hub %8.1f MiB/s (%5.0f ms CPU), cached buffer %8.1f MiB/s\n",
                    r + 1, plain[r], plainCpu[r], batch[r], batchCpu[r], cached[r]);
    }
    std::printf("file over a plain socket  : best %8.1f MiB/s, median %8.1f MiB/s\n", bench::best(plain, true),
                bench::median(plain));
    std::printf("batch page through the hub: best %8.1f MiB/s, median %8.1f MiB/s\n", bench::best(batch, true),
                bench::median(batch));
    std::printf("cached buffer (reference) : best %8.1f MiB/s, median %8.1f MiB/s\n", bench::best(cached, true),
                bench::median(cached));
    std::printf("processor time, median: plain socket %.0f ms, batch page %.0f ms\n", bench::median(plainCpu),
                bench::median(batchCpu));
    cachedRatios.print("cached buffer", "batch page / one cached buffer sent again and again");
    ratios.print(std::string(), "batch page / the file over a plain socket, goal 90 %");
    return 0;
}
