// A material upload through the real path against a plain loopback send.
//
// The document pushes a layout that shows one picture of the given size; its
// material goes to a peer over the document's own link: the MD5 pass the
// announce needs, the announce (256-byte name field and 32-character MD5
// text), then 8,192,000-byte chunks, each sent after the peer's
// acknowledgement came back through the link, the window message to the UI
// thread and the reply assembler. In the same run, alternating with it, the
// file is read and sent over a plain loopback socket as fast as possible, and
// its MD5 is taken alone. For reference the file is also sent with
// sendfile, the fastest plain send there is.
//
// The ratios are taken against a bare peer on 127.0.0.2: it reads each
// packet into one buffer and acknowledges it, copying and hashing nothing, so
// that what is measured is the tool's side and the link. One more line gives
// the same transfer to the in-process simulated player on 127.0.0.3, which
// hashes every chunk on its connection thread to check the announced MD5.
//
// usage: bench_material [megabytes] [rounds]   (default 1024, i.e. 1 GiB, 9 rounds)

#include "bench/bench_sockets.h"
#include "bench/bench_support.h"
#include "common/digest.h"
#include "core/document.h"
#include "core/layout/layout_transfer.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "player/layout_store.h"
#include "player/player_sim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kTimeoutMs = 600000;  // every wait ends by itself
constexpr int kSimulatedRounds = 3;

// Runs the event loop as the program does, sleeping until an event comes
// (a ticking timer lets the condition and the deadline be looked at).
bool pumpUntil(const std::function<bool()>& done, qint64 timeoutMs)
{
    QElapsedTimer t;
    t.start();
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A peer that answers the handshake as a player of the given version and
// every other packet with a bare acknowledgement. Each packet is read into one
// buffer; of the material it keeps only the announced MD5 text and the number
// of chunk bytes, to check the upload afterwards.
class BarePeer {
public:
    explicit BarePeer(uint16_t version) : version_(version) {}
    ~BarePeer() { stop(); }
    bool start(const char* address)
    {
        listener_ = bench::listenOn(address, port_);
        if (listener_ < 0)
            return false;
        thread_ = std::thread([this] { serve(); });
        return true;
    }
    void stop()
    {
        stopping_ = true;
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR);  // ends a pending accept
        {
            std::lock_guard lk(mutex_);
            if (client_ >= 0)
                ::shutdown(client_, SHUT_RDWR);
        }
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
    }
    uint16_t port() const { return port_; }
    // The last announce's MD5 text, the chunk bytes since, and whether the last chunk came.
    void result(QByteArray* md5, uint64_t* bytes, bool* complete)
    {
        std::lock_guard lk(mutex_);
        *md5 = md5_;
        *bytes = bytes_;
        *complete = complete_;
    }

private:
    void serve()
    {
        std::vector<uint8_t> buffer(proto::kBufferSize);
        while (!stopping_) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            {
                std::lock_guard lk(mutex_);
                client_ = fd;
            }
            uint8_t head[proto::kHeaderSize];
            while (bench::readFull(fd, head, sizeof head)) {
                const auto h = proto::PlayerPacketHeader::fromBytes(head);
                if (h.magic != proto::kMagic || h.payloadLength > proto::kMaxPayload ||
                    !bench::readFull(fd, buffer.data(), h.payloadLength))
                    break;
                proto::PlayerPacketHeader ack;
                ack.command = uint8_t(h.command | proto::kReplyBit);
                ack.subCode = h.subCode;
                QByteArray payload;
                if (h.command == proto::CMD_PLAYER_INFO) {
                    const sim::SimOptions o;
                    ack.subCode = o.channelCode;
                    ack.param = version_;
                    ack.arg = uint16_t(1 << 8 | o.fpgaVersion);  // an Android player
                    payload = QByteArray(5, '\0');
                } else if (h.command == proto::CMD_MATERIAL) {
                    std::lock_guard lk(mutex_);
                    if (h.subCode == 0 && h.payloadLength >= proto::kNameFieldSize + 32) {
                        md5_ = QByteArray(reinterpret_cast<const char*>(buffer.data()) + proto::kNameFieldSize, 32);
                        bytes_ = 0;
                        complete_ = false;
                    } else if (h.subCode == 1 || h.subCode == 2) {
                        bytes_ += h.payloadLength;
                        complete_ = h.subCode == 2;
                    }
                }
                ack.payloadLength = uint32_t(payload.size());
                const QByteArray reply = proto::buildPacket(ack, payload);
                if (::send(fd, reply.constData(), std::size_t(reply.size()), MSG_NOSIGNAL) != ssize_t(reply.size()))
                    break;
            }
            {
                std::lock_guard lk(mutex_);
                client_ = -1;
            }
            ::close(fd);
        }
    }

    uint16_t version_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    int client_ = -1;
    QByteArray md5_;
    uint64_t bytes_ = 0;
    bool complete_ = false;
};

double mibPerSecond(qint64 bytes, qint64 ns)
{
    return ns > 0 ? double(bytes) / (1024.0 * 1024.0) * 1e9 / double(ns) : 0.0;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::Args args;
    if (!bench::parseArgs(argc, argv, 1024, 16384, "megabytes", &args))
        return 2;
    const qint64 bytes = qint64(args.size) * 1024 * 1024;

    QTemporaryDir home;
    qputenv("VELUNA_HOME", home.path().toLocal8Bit());
    platform::setMessageBoxAnswerer([](const platform::MessageBoxCall&) { return platform::MsgResult::Ok; });
    const QString title = QStringLiteral("veluna bench");
    platform::setAppTitle(title);
    platform::MessageWindow frame(title);
    std::unique_ptr<CvelunaDoc> doc;
    frame.onMessage(platform::WM_SEND_TO_PLAYER, [&doc](platform::WPARAM, platform::LPARAM l) {
        std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
        if (doc)
            doc->SendToPlayers(*request);
        return platform::LRESULT(0);
    });
    frame.onMessage(platform::WM_TCP_EVENT, [&doc](platform::WPARAM, platform::LPARAM l) {
        if (doc)
            doc->OnLinkEvent(*reinterpret_cast<const LinkEvent*>(l));
        return platform::LRESULT(0);
    });
    doc = std::make_unique<CvelunaDoc>(&frame, QStringList());

    const uint16_t version = 0x1520;  // a product whose layouts carry material
    BarePeer bare(version);
    if (!bare.start("127.0.0.2")) {
        std::fprintf(stderr, "bare peer did not start\n");
        return 1;
    }
    sim::SimOptions o;
    o.address = QStringLiteral("127.0.0.3");
    o.version = version;
    sim::PlayerSim player(o);
    sim::installStandardCommands(player);
    {
        std::lock_guard lk(player.stateMutex());
        sim::layoutStore(player).keepData = false;
        sim::layoutStore(player).hashData = true;
    }
    if (!player.start()) {
        std::fprintf(stderr, "simulated player did not start\n");
        return 1;
    }
    auto connectTo = [&](const QString& address, uint16_t port) {
        doc->setTarget(address, port);
        doc->currentPlayer().ip = address;
        doc->currentPlayer().portText = QString::number(port);
        doc->OnReconnect();
        const bool ok = pumpUntil([&] { return doc->IsConnected(); }, 10000);
        pumpUntil([] { return false; }, 300);  // whatever the connection asks for is answered
        // A connection may fetch the player's own layout: the one to push is loaded after it.
        return ok && doc->imageManage()
                         .LoadLayout(R"({"msg":"windows config","data":{"image":[{"name":"big.png","x":0,"y":0,"w":64,"h":64}]}})")
                         .loaded;
    };

    const QString picture = doc->materialFolder() + QStringLiteral("/Image/big.png");
    if (!QDir().mkpath(doc->materialFolder() + QStringLiteral("/Image")) || !bench::writePatternFile(picture, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(picture));
        return 1;
    }
    const std::string expectedMd5 = digest::Md5OfFile(picture);

    qint64 firstAck = -1, lastAck = -1;
    QElapsedTimer clock;
    clock.start();
    auto inner = doc->onMaterialReply;
    doc->onMaterialReply = [&](const PlayerReply& r) {
        const qint64 now = clock.nsecsElapsed();
        if (firstAck < 0)
            firstAck = now;
        lastAck = now;
        inner(r);
    };
    // One upload; the transfer (announce's answer to the last
    // acknowledgement) and the whole upload in nanoseconds, false on failure.
    auto upload = [&](qint64* transferNs, qint64* wholeNs) {
        firstAck = lastAck = -1;
        const qint64 start = clock.nsecsElapsed();
        doc->PushCurrentLayout();
        if (!pumpUntil([&] { return !doc->layoutBusy(); }, kTimeoutMs) || firstAck < 0 || lastAck <= firstAck) {
            return false;
        }
        *transferNs = lastAck - firstAck;
        *wholeNs = lastAck - start;
        return true;
    };

    std::printf("material %lld bytes, %d rounds, plain send and MD5 alternating with the upload\n",
                static_cast<long long>(bytes), args.rounds);
    if (!connectTo(QStringLiteral("127.0.0.2"), bare.port())) {
        std::fprintf(stderr, "no connection to the bare peer\n");
        return 1;
    }
    // Each side records its figures of the round; alternate() pairs them.
    std::vector<qint64> plainNs, sendfileNs, md5Ns, transferNs, wholeNs;
    std::vector<double> baselineTotal, subjectTotal;
    const bool ran = bench::alternate(
        args.rounds,
        [&] {
            const qint64 plain = bench::plainFileSend(picture);
            const qint64 zeroCopy = bench::plainFileSend(picture, true);
            QElapsedTimer t;
            t.start();
            const std::string md5 = digest::Md5OfFile(picture);
            const qint64 hashing = t.nsecsElapsed();
            if (plain <= 0 || zeroCopy <= 0 || md5 != expectedMd5)
                return -1.0;
            plainNs.push_back(plain);
            sendfileNs.push_back(zeroCopy);
            md5Ns.push_back(hashing);
            return double(plain + hashing);
        },
        [&] {
            qint64 transfer = 0, whole = 0;
            if (!upload(&transfer, &whole))
                return -1.0;
            QByteArray md5;
            uint64_t got = 0;
            bool complete = false;
            bare.result(&md5, &got, &complete);
            if (md5 != QByteArray::fromStdString(expectedMd5) || got != uint64_t(bytes) || !complete) {
                std::fprintf(stderr, "the bare peer got %llu bytes (complete %d), MD5 %s\n",
                             static_cast<unsigned long long>(got), int(complete), md5.constData());
                return -1.0;
            }
            transferNs.push_back(transfer);
            wholeNs.push_back(whole);
            return double(whole);
        },
        &baselineTotal, &subjectTotal);
    if (!ran) {
        std::fprintf(stderr, "a round did not finish\n");
        return 1;
    }
    bench::Ratios transferRatio, wholeRatio, sendfileRatio;
    for (std::size_t r = 0; r < plainNs.size(); ++r) {
        const double plain = mibPerSecond(bytes, plainNs[r]), md5 = mibPerSecond(bytes, md5Ns[r]);
        const double zeroCopy = mibPerSecond(bytes, sendfileNs[r]);
        const double transfer = mibPerSecond(bytes, transferNs[r]), whole = mibPerSecond(bytes, wholeNs[r]);
        const double md5PlusPlain = mibPerSecond(bytes, plainNs[r] + md5Ns[r]);
        transferRatio.add(transfer, plain);
        wholeRatio.add(whole, md5PlusPlain);
        sendfileRatio.add(transfer, zeroCopy);
        std::printf("round %2zu: plain send %7.1f MiB/s (sendfile %7.1f), MD5 %6.1f MiB/s, transfer %7.1f MiB/s, "
                    "whole upload %6.1f MiB/s (MD5 + plain send %6.1f MiB/s)\n",
                    r + 1, plain, zeroCopy, md5, transfer, whole, md5PlusPlain);
    }

    // The same upload to the simulated player, which hashes every chunk.
    if (!connectTo(o.address, player.tcpPort())) {
        std::fprintf(stderr, "no connection to the simulated player\n");
        return 1;
    }
    bench::Ratios simulatedRatio;
    for (int r = 0; r < kSimulatedRounds; ++r) {
        {
            std::lock_guard lk(player.stateMutex());
            sim::layoutStore(player).materials.clear();  // no "already have it"
        }
        qint64 transfer = 0, whole = 0;
        const qint64 plain = bench::plainFileSend(picture);
        if (plain <= 0 || !upload(&transfer, &whole)) {
            std::fprintf(stderr, "the upload to the simulated player did not finish\n");
            return 1;
        }
        player.clearLog();
        bool matched = false;
        {
            std::lock_guard lk(player.stateMutex());
            const auto& m = sim::layoutStore(player).materials;
            matched = !m.empty() && m.back().complete && m.back().size == uint64_t(bytes) && m.back().md5Matches;
        }
        if (!matched) {
            std::fprintf(stderr, "the simulated player's MD5 differs\n");
            return 1;
        }
        simulatedRatio.add(mibPerSecond(bytes, transfer), mibPerSecond(bytes, plain));
        std::printf("simulated player %d: plain send %7.1f MiB/s, transfer %7.1f MiB/s, MD5 checked\n", r + 1,
                    mibPerSecond(bytes, plain), mibPerSecond(bytes, transfer));
    }

    transferRatio.print(std::string(), "transfer to the bare peer, announce's answer to last acknowledgement / plain send");
    wholeRatio.print("whole", "whole upload to the bare peer, MD5 pass included / (MD5 + plain send)");
    sendfileRatio.print("sendfile", "the same transfer / a plain send with sendfile, for reference");
    simulatedRatio.print("simulated player", "transfer to the simulated player, which hashes every chunk / plain send");
    doc->onMaterialReply = inner;
    doc.reset();
    player.stop();
    bare.stop();
    return 0;
}
