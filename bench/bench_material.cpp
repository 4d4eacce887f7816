// A material upload through the real path against a plain loopback send.
//
// The document pushes a layout that shows one picture of the given size; its
// material goes to an in-process simulated player on 127.0.0.3: the MD5 pass
// the announce needs, the announce, then 8,192,000-byte chunks, each sent
// after the player's acknowledgement came back through the link, the window
// message to the UI thread and the reply assembler. The simulated player keeps
// no copy of the bytes (it only hashes them, to check the announced MD5). In
// the same run the file is read and sent over a plain loopback socket as fast
// as possible, and its MD5 is taken alone. With "nohash" the simulated player
// does not hash what it gets either, which leaves the tool's side and the link.
//
// usage: bench_material [megabytes] [rounds] [nohash]   (default 1024, i.e. 1 GiB, 3 rounds)

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

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kTimeoutMs = 600000;  // every wait ends by itself

bool pumpUntil(const std::function<bool()>& done, qint64 timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool writeBigFile(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131 + 7) & 0xFF);
    for (qint64 left = bytes; left > 0;) {
        const qint64 n = std::min<qint64>(left, block.size());
        if (f.write(block.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

// Reads the file and writes it to a loopback socket whose other end only reads.
qint64 plainSend(const QString& path)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (listener >= 0)
            ::close(listener);
        return -1;
    }
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
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
    std::thread reader([server] {
        std::vector<char> buf(proto::kChunkSize);
        while (::recv(server, buf.data(), buf.size(), 0) > 0) {
        }
    });
    QElapsedTimer t;
    t.start();
    QFile f(path);
    bool ok = f.open(QIODevice::ReadOnly);
    std::vector<char> buf(proto::kChunkSize);
    while (ok) {
        const qint64 n = f.read(buf.data(), qint64(buf.size()));
        if (n <= 0)
            break;
        for (qint64 sent = 0; sent < n;) {
            const ssize_t w = ::send(client, buf.data() + sent, std::size_t(n - sent), MSG_NOSIGNAL);
            if (w <= 0) {
                ok = false;
                break;
            }
            sent += w;
        }
    }
    const qint64 ns = t.nsecsElapsed();
    ::shutdown(client, SHUT_WR);
    reader.join();
    ::close(client);
    ::close(server);
    return ok ? ns : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024;
    const int rounds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 20) : 3;
    const qint64 bytes = megabytes * 1024 * 1024;

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

    sim::SimOptions o;
    o.address = QStringLiteral("127.0.0.3");
    o.version = 0x1520;  // a product whose layouts carry material
    sim::PlayerSim player(o);
    sim::installStandardCommands(player);
    {
        std::lock_guard lk(player.stateMutex());
        sim::layoutStore(player).keepData = false;
        sim::layoutStore(player).hashData = !(argc > 3 && std::strcmp(argv[3], "nohash") == 0);
    }
    if (!player.start()) {
        std::fprintf(stderr, "simulated player did not start\n");
        return 1;
    }
    doc->setTarget(o.address, player.tcpPort());
    doc->currentPlayer().ip = o.address;
    doc->currentPlayer().portText = QString::number(player.tcpPort());
    doc->OnReconnect();
    if (!pumpUntil([&] { return doc->IsConnected() && player.requestCount(proto::CMD_LAYOUT) >= 1; }, 10000)) {
        std::fprintf(stderr, "no connection to the simulated player\n");
        return 1;
    }
    pumpUntil([] { return false; }, 300);

    const QString picture = doc->materialFolder() + QStringLiteral("/Image/big.png");
    if (!QDir().mkpath(doc->materialFolder() + QStringLiteral("/Image")) || !writeBigFile(picture, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(picture));
        return 1;
    }
    if (!doc->imageManage().LoadLayout(R"({"msg":"windows config","data":{"image":[{"name":"big.png","x":0,"y":0,"w":64,"h":64}]}})").loaded)
        return 1;

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

    std::vector<double> transferRatio, wholeRatio;
    const double mib = double(bytes) / (1024.0 * 1024.0);
    for (int round = 0; round < rounds; ++round) {
        const qint64 plainNs = plainSend(picture);
        QElapsedTimer md5Timer;
        md5Timer.start();
        const std::string md5 = digest::Md5OfFile(picture);
        const qint64 md5Ns = md5Timer.nsecsElapsed();

        {
            std::lock_guard lk(player.stateMutex());
            sim::layoutStore(player).materials.clear();  // no "already have it"
        }
        firstAck = lastAck = -1;
        const qint64 start = clock.nsecsElapsed();
        doc->PushCurrentLayout();
        if (!pumpUntil([&] { return !doc->layoutBusy(); }, kTimeoutMs) || plainNs < 0 || md5.empty()) {
            std::fprintf(stderr, "round %d did not finish\n", round + 1);
            return 1;
        }
        const qint64 wholeNs = lastAck - start;
        const qint64 transferNs = lastAck - firstAck;
        bool matched = false;
        {
            std::lock_guard lk(player.stateMutex());
            const auto& m = sim::layoutStore(player).materials;
            matched = !m.empty() && m.back().complete && m.back().size == uint64_t(bytes) &&
                      (m.back().md5Matches || !sim::layoutStore(player).hashData);
        }
        transferRatio.push_back(100.0 * double(plainNs) / double(transferNs));
        wholeRatio.push_back(100.0 * double(md5Ns + plainNs) / double(wholeNs));
        std::printf("round %d: plain send %8.1f MiB/s, MD5 %8.1f MiB/s, transfer %8.1f MiB/s, whole upload %8.1f MiB/s, "
                    "player's MD5 %s\n",
                    round + 1, mib * 1e9 / double(plainNs), mib * 1e9 / double(md5Ns), mib * 1e9 / double(transferNs),
                    mib * 1e9 / double(wholeNs), matched ? "matches (or not checked)" : "DIFFERS");
    }
    std::printf("transfer (announce answer to last acknowledgement) / plain send: median %.1f %%\n",
                median(transferRatio));
    std::printf("whole upload (MD5 pass included) / (MD5 + plain send):        median %.1f %%\n", median(wholeRatio));
    doc->onMaterialReply = inner;
    doc.reset();
    player.stop();
    return 0;
}
