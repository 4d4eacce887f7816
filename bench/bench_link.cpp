// Throughput of the player link in a chunked file transfer, against a plain
// loopback socket that sends the same bytes as fast as it can.
//
// The link run sends the data as CMD_MATERIAL packets of 8,192,000 payload
// bytes to an in-process simulated player on 127.0.0.1; each packet waits for
// the player's acknowledgement, which travels the real path: the link's
// receiver, WM_TCP_EVENT on the UI thread, the reply assembler. The same
// run against a bare acknowledging peer separates the link's own cost from
// the simulated player's handling of each packet.
//
// usage: bench_link [megabytes] [rounds]   (default 1024, i.e. 1 GiB, 3 rounds)

#include "bench/bench_sockets.h"
#include "bench/bench_support.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "player/player_sim.h"
#include "transport/protocol.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int kTimeoutMs = 300000;  // the whole run ends by itself in any case

struct Plan {
    uint64_t totalPayload = 0;
    std::vector<QByteArray> packets;  // one per chunk, shared (not copied) by the sends
    uint64_t wireBytes = 0;           // headers included
};

Plan makePlan(uint64_t totalPayload)
{
    Plan plan;
    plan.totalPayload = totalPayload;
    const QByteArray fullPayload(qsizetype(proto::kChunkSize), char(0x5C));
    QByteArray fullMore, tail;
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_MATERIAL;
    uint64_t left = totalPayload;
    while (true) {
        const std::size_t n = std::size_t(std::min<uint64_t>(left, proto::kChunkSize));
        left -= n;
        // Sub-code 1 while a chunk is full, 2 for the last (a file of whole
        // chunks ends with an empty one).
        h.subCode = n == proto::kChunkSize ? 1 : 2;
        QByteArray* cached = n == proto::kChunkSize ? &fullMore : &tail;
        if (cached->isEmpty())
            *cached = proto::buildPacket(h, fullPayload.left(qsizetype(n)));
        plan.packets.push_back(*cached);
        plan.wireBytes += uint64_t(cached->size());
        if (n < proto::kChunkSize)
            break;
    }
    return plan;
}

double mibPerSecond(uint64_t bytes, qint64 ns)
{
    return ns > 0 ? double(bytes) / (1024.0 * 1024.0) / (double(ns) / 1e9) : 0.0;
}

// A bare acknowledging peer: reads each packet straight into one buffer and
// answers with a header. It shows what the link itself costs, apart from
// the simulated player's own work.
class BarePeer {
public:
    bool start()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 1) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return false;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
        return true;
    }
    ~BarePeer()
    {
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR);  // ends a pending accept
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    uint16_t port() const { return port_; }
    uint64_t payloadSeen() const { return payload_.load(); }

private:
    static bool readFull(int fd, uint8_t* p, std::size_t n)
    {
        while (n > 0) {
            const ssize_t r = ::recv(fd, p, n, 0);
            if (r <= 0)
                return false;
            p += r;
            n -= std::size_t(r);
        }
        return true;
    }
    void serve()
    {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        std::vector<uint8_t> buffer(proto::kBufferSize);
        uint8_t head[proto::kHeaderSize];
        while (readFull(fd, head, sizeof head)) {
            const auto h = proto::PlayerPacketHeader::fromBytes(head);
            if (h.magic != proto::kMagic || h.payloadLength > proto::kMaxPayload ||
                !readFull(fd, buffer.data(), h.payloadLength))
                break;
            payload_ += h.payloadLength;
            proto::PlayerPacketHeader ack = h;
            ack.command = uint8_t(h.command | proto::kReplyBit);
            ack.payloadLength = 0;
            ack.pack(head);
            if (::send(fd, head, sizeof head, MSG_NOSIGNAL) != ssize_t(sizeof head))
                break;
        }
        ::close(fd);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<uint64_t> payload_{0};
};

enum class Peer { SimulatedPlayer, Bare };

// The link path. Returns elapsed nanoseconds, or -1 on failure.
qint64 runLink(const Plan& plan, Peer peer)
{
    sim::PlayerSim player;
    BarePeer bare;
    std::atomic<uint64_t> payloadSeen{0};
    uint16_t port = 0;
    if (peer == Peer::SimulatedPlayer) {
        player.registerCommand(proto::CMD_MATERIAL, [&payloadSeen](sim::PlayerSim&, const sim::Request& r) {
            payloadSeen += uint64_t(r.payload.size());
            sim::Reply ack;
            ack.header.command = proto::CMD_MATERIAL;
            ack.header.subCode = r.header.subCode;
            return std::vector<sim::Reply>{ack};
        });
        QString error;
        if (!player.start(&error)) {
            std::fprintf(stderr, "simulated player did not start: %s\n", qPrintable(error));
            return -1;
        }
        port = player.tcpPort();
    } else {
        if (!bare.start()) {
            std::fprintf(stderr, "bare peer did not start\n");
            return -1;
        }
        port = bare.port();
    }

    platform::MessageWindow owner(QStringLiteral("bench link owner"));
    CTCPClient link;
    link.setOwner(owner.handle());
    ReplyAssembler assembler;
    QEventLoop loop;
    std::size_t next = 0;
    std::size_t acks = 0;
    bool failed = false;

    auto sendNext = [&] {
        if (next < plan.packets.size() && !link.Send(plan.packets[next++])) {
            failed = true;
            loop.quit();
        }
    };
    const ReplyAssembler::Completion onReply = [&](const ReplyAssembler& r) {
        if (proto::decodeReplyCode(r.header.command) != proto::CMD_MATERIAL) {
            failed = true;
            loop.quit();
            return;
        }
        ++acks;
        // The simulated player keeps a log of every packet; a long run must
        // not keep a gigabyte of it.
        if (peer == Peer::SimulatedPlayer)
            player.clearLog();
        if (acks == plan.packets.size())
            loop.quit();
        else
            sendNext();
    };
    owner.onMessage(platform::WM_TCP_EVENT, [&](platform::WPARAM, platform::LPARAM l) {
        const auto* e = reinterpret_cast<const LinkEvent*>(l);
        if (e->type == kLinkData) {
            assembler.feed(e->peerAddress, e->port, e->linkIndex, e->data, e->length, onReply);
        } else if (e->type != kLinkReceiverEnded || acks < plan.packets.size()) {
            std::fprintf(stderr, "link event %u (error %u) during the transfer\n", e->type, e->error);
            failed = true;
            loop.quit();
        }
        return platform::LRESULT(1);
    });

    if (!link.Connect(QStringLiteral("127.0.0.1"), port)) {
        std::fprintf(stderr, "link did not connect\n");
        return -1;
    }
    QTimer::singleShot(kTimeoutMs, &loop, [&] {
        std::fprintf(stderr, "link transfer timed out after %zu of %zu packets\n", acks, plan.packets.size());
        failed = true;
        loop.quit();
    });

    QElapsedTimer timer;
    timer.start();
    sendNext();
    if (!failed)
        loop.exec();
    const qint64 ns = timer.nsecsElapsed();
    link.Close();
    player.stop();
    if (failed)
        return -1;
    const uint64_t seen = peer == Peer::SimulatedPlayer ? payloadSeen.load() : bare.payloadSeen();
    if (seen != plan.totalPayload) {
        std::fprintf(stderr, "player saw %llu payload bytes, expected %llu\n",
                     static_cast<unsigned long long>(seen),
                     static_cast<unsigned long long>(plan.totalPayload));
        return -1;
    }
    return ns;
}

// The same bytes over a plain loopback socket, written back to back and
// read by a thread that throws them away. Returns elapsed nanoseconds.
qint64 runPlain(const Plan& plan)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::fprintf(stderr, "plain socket: no listener\n");
        if (listener >= 0)
            ::close(listener);
        return -1;
    }
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::fprintf(stderr, "plain socket: no connection\n");
        if (client >= 0)
            ::close(client);
        ::close(listener);
        return -1;
    }
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (server < 0) {
        ::close(client);
        return -1;
    }

    std::atomic<uint64_t> readTotal{0};
    std::thread reader(
        [server, &readTotal, expected = plan.wireBytes] { readTotal = bench::drainBytes(server, expected); });

    QElapsedTimer timer;
    timer.start();
    bool ok = true;
    for (const QByteArray& p : plan.packets) {
        std::size_t done = 0;
        while (ok && done < std::size_t(p.size())) {
            const ssize_t n = ::send(client, p.constData() + done, std::size_t(p.size()) - done, MSG_NOSIGNAL);
            if (n <= 0)
                ok = false;
            else
                done += std::size_t(n);
        }
    }
    if (!ok)
        ::shutdown(client, SHUT_RDWR);  // lets the reader end
    reader.join();
    const qint64 ns = timer.nsecsElapsed();
    ::close(client);
    ::close(server);
    if (!ok || readTotal.load() != plan.wireBytes) {
        std::fprintf(stderr, "plain socket: transfer incomplete\n");
        return -1;
    }
    return ns;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 1024, 65536, "megabytes", &args))
        return 2;
    const Plan plan = makePlan(args.size * 1024 * 1024);
    std::printf("payload %llu bytes in %zu packets of at most %zu payload bytes (%llu bytes on the wire), %d rounds\n",
                static_cast<unsigned long long>(plan.totalPayload), plan.packets.size(), proto::kChunkSize,
                static_cast<unsigned long long>(plan.wireBytes), args.rounds);

    // The order within a round turns with the round, so that load from
    // elsewhere on the machine and warm caches fall on all three alike.
    std::vector<double> plain, link, bare;
    bench::Ratios linkRatio, bareRatio;
    for (int r = 0; r < args.rounds; ++r) {
        qint64 ns[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const int which = (k + r) % 3;
            ns[which] = which == 0 ? runPlain(plan) : runLink(plan, which == 1 ? Peer::SimulatedPlayer : Peer::Bare);
            if (ns[which] < 0)
                return 1;
        }
        plain.push_back(mibPerSecond(plan.wireBytes, ns[0]));
        link.push_back(mibPerSecond(plan.wireBytes, ns[1]));
        bare.push_back(mibPerSecond(plan.wireBytes, ns[2]));
        linkRatio.add(link.back(), plain.back());
        bareRatio.add(bare.back(), plain.back());
        std::printf("round %d: plain socket %9.1f MiB/s, link to simulated player %9.1f MiB/s, link to bare peer %9.1f MiB/s\n",
                    r + 1, plain.back(), link.back(), bare.back());
    }
    std::printf("plain socket : best %9.1f MiB/s, median %9.1f MiB/s\n", bench::best(plain, true), bench::median(plain));
    std::printf("link, chunked: best %9.1f MiB/s, median %9.1f MiB/s\n", bench::best(link, true), bench::median(link));
    std::printf("link, bare   : best %9.1f MiB/s, median %9.1f MiB/s\n", bench::best(bare, true), bench::median(bare));
    linkRatio.print(std::string(), "link to simulated player / plain socket");
    bareRatio.print("bare peer", "link to bare peer / plain socket");
    return 0;
}
