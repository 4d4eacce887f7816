// Throughput of the player link in a chunked file transfer, against a plain
// loopback socket that sends the same bytes as fast as it can.
//
// The link run sends the data as CMD_MATERIAL packets of 8,192,000 payload
// bytes to an in-process simulated player on 127.0.0.1; each packet waits for
// the player's acknowledgement, which travels the real path: the link's
// receiver, WM_TCP_EVENT on the UI thread, the reply assembler.
//
// usage: bench_link [megabytes]   (default 1024, i.e. 1 GiB)

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

// The link path. Returns elapsed nanoseconds, or -1 on failure.
qint64 runLink(const Plan& plan)
{
    sim::PlayerSim player;
    std::atomic<uint64_t> payloadSeen{0};
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

    if (!link.Connect(QStringLiteral("127.0.0.1"), player.tcpPort())) {
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
    if (payloadSeen.load() != plan.totalPayload) {
        std::fprintf(stderr, "player saw %llu payload bytes, expected %llu\n",
                     static_cast<unsigned long long>(payloadSeen.load()),
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
    std::thread reader([server, &readTotal, expected = plan.wireBytes] {
        std::vector<char> buf(proto::kChunkSize);
        uint64_t got = 0;
        while (got < expected) {
            const ssize_t n = ::recv(server, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            got += uint64_t(n);
        }
        readTotal = got;
    });

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
    uint64_t megabytes = 1024;
    if (argc > 1) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(argv[1], &end, 10);
        if (!end || *end != '\0' || v == 0 || v > 65536) {
            std::fprintf(stderr, "usage: %s [megabytes 1..65536]\n", argv[0]);
            return 2;
        }
        megabytes = v;
    }
    const Plan plan = makePlan(megabytes * 1024 * 1024);
    std::printf("payload %llu bytes in %zu packets of at most %zu payload bytes (%llu bytes on the wire)\n",
                static_cast<unsigned long long>(plan.totalPayload), plan.packets.size(), proto::kChunkSize,
                static_cast<unsigned long long>(plan.wireBytes));

    const qint64 plainNs = runPlain(plan);
    const qint64 linkNs = runLink(plan);
    if (plainNs < 0 || linkNs < 0)
        return 1;
    const double plain = mibPerSecond(plan.wireBytes, plainNs);
    const double link = mibPerSecond(plan.wireBytes, linkNs);
    std::printf("plain socket : %9.1f MiB/s (%.3f s)\n", plain, double(plainNs) / 1e9);
    std::printf("link, chunked: %9.1f MiB/s (%.3f s)\n", link, double(linkNs) / 1e9);
    std::printf("ratio        : %9.1f %%\n", plain > 0 ? 100.0 * link / plain : 0.0);
    return 0;
}
