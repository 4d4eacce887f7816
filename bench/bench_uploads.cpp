// Every long upload path of both programs, one file, one bare peer.
//
// The same file goes through the layout material (the document's link, MD5
// pass, announce, acknowledged chunks), the batch page (its own link, the
// catalogue and status queries, then the video), the video store's page (the
// document's link) and Tollivar's batch page (the link hub), to a peer on
// 127.0.0.2 that reads each packet into one buffer and acknowledges it,
// hashing and keeping nothing: what is measured is the program's side and
// the link. Alternating with them, round by round:
//   (a) the file read and sent over a plain loopback socket in 8 MB blocks;
//   (b) one 8 MB buffer, which stays in the processor's cache, sent again
//       and again for as many bytes;
//   and the file's MD5 alone, for the whole material upload's figure.
// The material's transfer always follows its MD5 pass, the others follow
// another transfer; a control line sends through the store page again after
// idling as long as that pass took, so the cost of the pause itself shows.
// Per path it prints `<path> ratio : ...` against (a) and `<path> cached
// ratio : ...` against (b), then the material's whole upload (MD5 included)
// against MD5 plus the plain send.
//
// usage: bench_uploads [megabytes 1..16384] [rounds 9..50]   (default 1024, 9)

#include "bench/bench_sockets.h"
#include "bench/bench_support.h"
#include "common/digest.h"
#include "companion/batch_send.h"
#include "companion/link_hub.h"
#include "companion/video_set_model.h"
#include "content/batch_send_file.h"
#include "content/batch_send_file_tab.h"
#include "content/set_mov_conf.h"
#include "content/set_mov_conf_tab.h"
#include "core/document.h"
#include "core/layout/image_manage.h"
#include "core/layout/layout_transfer.h"
#include "player/player_sim.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "platform/window.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr qint64 kRunLimitMs = 600000;  // every wait ends by itself

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

// Answers the handshake as a player of a product whose layouts carry
// material, the catalogue with one category "A" and ample space, the status
// query with a one-act player, and every other packet with a bare
// acknowledgement (the video-type document's with 1, as Tollivar expects).
// Counts the chunk bytes of uploads. One thread a link: the document's link
// stays open while the pages make theirs.
class BarePeer {
public:
    ~BarePeer() { stop(); }
    bool start()
    {
        PlayerCatalog catalogue;
        catalogue.totalMB = catalogue.freeMB = 4000000;
        catalogue.categories[0].name[0] = 'A';
        catalogue_ = catalogue.pack();
        listener_ = bench::listenOn("127.0.0.2", port_);
        if (listener_ < 0)
            return false;
        acceptor_ = std::thread([this] { accept(); });
        return true;
    }
    void stop()
    {
        stopping_ = true;
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR);
        if (acceptor_.joinable())
            acceptor_.join();
        std::vector<std::thread> links;
        {
            std::lock_guard lk(mutex_);
            for (int fd : clients_)
                ::shutdown(fd, SHUT_RDWR);
            links.swap(links_);
        }
        for (std::thread& t : links)
            t.join();
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
    }
    uint16_t port() const { return port_; }
    uint64_t chunkBytes() const { return bytes_.load(); }
    void resetCount() { bytes_ = 0; }

private:
    void accept()
    {
        while (!stopping_) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            std::lock_guard lk(mutex_);
            clients_.push_back(fd);
            links_.emplace_back([this, fd] { serve(fd); });
        }
    }
    void serve(int fd)
    {
        std::vector<uint8_t> buffer(proto::kBufferSize);
        uint8_t head[proto::kHeaderSize];
        while (bench::readFull(fd, head, sizeof head)) {
            const auto h = proto::PlayerPacketHeader::fromBytes(head);
            if (h.magic != proto::kMagic || h.payloadLength > proto::kMaxPayload ||
                !bench::readFull(fd, buffer.data(), h.payloadLength))
                break;
            proto::PlayerPacketHeader ack = h;
            ack.command = uint8_t(h.command | proto::kReplyBit);
            ack.arg = 0;
            QByteArray payload;
            switch (h.command) {
            case proto::CMD_PLAYER_INFO: {
                const sim::SimOptions o;
                ack.subCode = o.channelCode;
                ack.param = 0x1520;
                ack.arg = uint16_t(1 << 8 | o.fpgaVersion);  // an Android player
                payload = QByteArray(5, '\0');
                break;
            }
            case proto::CMD_VIDEO_LIST:
                payload = catalogue_;
                ack.arg = h.arg;
                break;
            case proto::CMD_STATUS:
                payload = QByteArray(108, '\0');
                break;
            case proto::CMD_PARAM_FILE:
                ack.arg = 1;
                break;
            case proto::CMD_VIDEO_UPLOAD:
            case proto::CMD_MATERIAL:
                if (h.subCode != 0)
                    bytes_ += h.payloadLength;
                break;
            default:
                break;
            }
            ack.payloadLength = uint32_t(payload.size());
            const QByteArray reply = proto::buildPacket(ack, payload);
            if (!bench::sendFull(fd, reinterpret_cast<const uint8_t*>(reply.constData()), std::size_t(reply.size())))
                break;
        }
        ::close(fd);
        std::lock_guard lk(mutex_);
        std::erase(clients_, fd);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    QByteArray catalogue_;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> clients_;
    std::vector<std::thread> links_;
    std::atomic<uint64_t> bytes_{0};
};

// (b): as many bytes as an upload puts on the wire, from one cached buffer.
qint64 cachedBufferSend(uint64_t bytes)
{
    int client = -1, server = -1;
    if (!bench::connectedPair(client, server))
        return -1;
    const uint64_t wire = bytes + (bytes / proto::kChunkSize + 1) * proto::kHeaderSize;
    std::atomic<uint64_t> got{0};
    std::thread reader([server, wire, &got] { got = bench::drainBytes(server, wire); });
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

double mib(uint64_t bytes, qint64 ns)
{
    return ns > 0 ? double(bytes) / 1048576.0 * 1e9 / double(ns) : -1.0;
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

    QTemporaryDir home;
    qputenv("VELUNA_HOME", home.path().toLocal8Bit());
    platform::setMessageBoxAnswerer([](const platform::MessageBoxCall& c) {
        std::fprintf(stderr, "message: %s\n", qPrintable(c.text));
        return platform::MsgResult::Ok;
    });
    BarePeer peer;
    if (!peer.start()) {
        std::fprintf(stderr, "the bare peer did not start\n");
        return 1;
    }

    // veluna: the document, its frame, and the pages.
    const QString velunaTitle = QStringLiteral("veluna V9.1.5");
    const QString tollivarTitle = QStringLiteral("Tollivar V1.23");
    platform::setAppTitle(velunaTitle);
    platform::MessageWindow frame(velunaTitle);
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
    const QString address = QStringLiteral("127.0.0.2");
    doc->setTarget(address, peer.port());
    doc->currentPlayer().ip = address;
    doc->currentPlayer().portText = QString::number(peer.port());
    doc->OnReconnect();
    if (!pumpUntil([&] { return doc->IsConnected(); }, 10000)) {
        std::fprintf(stderr, "no connection to the bare peer\n");
        return 1;
    }
    pumpUntil([] { return false; }, 300);  // whatever the connection asks for is answered
    doc->currentPlayer().version = 0x1520;

    // One file for every path: the material's picture; the others link to it.
    const QString picture = doc->materialFolder() + QStringLiteral("/Image/big.png");
    const QDir root(home.path());
    if (!QDir().mkpath(doc->materialFolder() + QStringLiteral("/Image")) || !root.mkpath(QStringLiteral("A1/A")) ||
        !root.mkpath(QStringLiteral("T/A")) || !bench::writePatternFile(picture, qint64(bytes)) ||
        !QFile::link(picture, root.filePath(QStringLiteral("A1/A/v.mp4"))) ||
        !QFile::link(picture, root.filePath(QStringLiteral("T/A/v.mp4")))) {
        std::fprintf(stderr, "cannot write the file\n");
        return 1;
    }
    const std::string expectedMd5 = digest::Md5OfFile(picture);

    // The material path; its transfer runs from the announce's answer to the
    // last acknowledgement, the whole upload from the push.
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
    qint64 materialWhole = 0;
    qint64 materialDigestMs = 0;  // from the push to the announce's answer
    auto material = [&]() -> qint64 {
        if (!doc->imageManage()
                 .LoadLayout(R"({"msg":"windows config","data":{"image":[{"name":"big.png","x":0,"y":0,"w":64,"h":64}]}})")
                 .loaded)
            return -1;
        firstAck = lastAck = -1;
        const qint64 start = clock.nsecsElapsed();
        doc->PushCurrentLayout();
        if (!pumpUntil([&] { return !doc->layoutBusy(); }, kRunLimitMs) || firstAck < 0 || lastAck <= firstAck)
            return -1;
        materialWhole = lastAck - start;
        materialDigestMs = (firstAck - start) / 1000000;
        return lastAck - firstAck;
    };

    // The batch page, with its own link.
    auto batchTab = std::make_unique<CBatchSendFileTab>(QStringLiteral("Bench-"));
    CBatchSendFile& batchPage = *batchTab->page(0);
    batchPage.SetFolders(root.filePath(QStringLiteral("A1")), QString(), QString());
    batchPage.SetMaterialFolder(root.filePath(QStringLiteral("Material")));
    {
        PlayerRow row;
        row.ip = address;
        row.portText = QString::number(peer.port());
        batchPage.AddRow(row);
        batchPage.SetTicked(0, true);
    }
    auto batch = [&]() -> qint64 {
        QElapsedTimer t;
        t.start();
        batchPage.OnSend();
        if (!pumpUntil([&] { return batchPage.IsIdle(); }, kRunLimitMs)) {
            batchPage.OnStop();
            return -1;
        }
        return t.nsecsElapsed();
    };

    // The video store's page, over the document's link.
    CSetMovConfTab storeTab(doc->titlePrefix(), 1, 0x1520, address);
    storeTab.OnInitDialog();
    CSetMovConf& storePage = *storeTab.page(0);
    if (!pumpUntil([&] { return storePage.catalog() != nullptr; }, 10000) ||
        !storePage.SelectPath({QStringLiteral("A")})) {
        std::fprintf(stderr, "the store page has no catalogue\n");
        return 1;
    }
    const QString storeFile = root.filePath(QStringLiteral("A1/A/v.mp4"));
    platform::setFileDialogMultiAnswerer([storeFile](const platform::FileDialogCall&) { return QStringList{storeFile}; });
    auto store = [&]() -> qint64 {
        if (!storePage.SelectPath({QStringLiteral("A")}))
            return -1;
        QElapsedTimer t;
        t.start();
        storePage.OnSendFiles();
        if (!pumpUntil([&] { return !storePage.uploading() && !storePage.busy(); }, kRunLimitMs))
            return -1;
        return t.nsecsElapsed();
    };

    // Tollivar's batch page through its link hub, under its own title.
    platform::setAppTitle(tollivarTitle);
    platform::MessageWindow tollivarMain(tollivarTitle);
    tollivar::CLinkHub hub(tollivarMain, QStringLiteral("Tollivar-"), platform::kLanguageEnglish);
    QFile document(root.filePath(QString::fromLatin1(videoset::kVideoTypeFileName)));
    if (!document.open(QIODevice::WriteOnly) || document.write("{\"VideoType\":[]}") < 0) {
        std::fprintf(stderr, "cannot write the video-type document\n");
        return 1;
    }
    document.close();
    CBatchSend tollivarPage(root.path() + QStringLiteral("/"));
    videoset::DeviceSetup setup;
    setup.ip = address;
    setup.portText = QString::number(peer.port());
    setup.acts[0].folder = root.filePath(QStringLiteral("T"));
    videoset::RebuildCategories(setup.acts[0]);
    std::vector<videoset::DeviceSetup> setups{setup};
    if (!videoset::ListVideos(setups, platform::kLanguageEnglish).isEmpty()) {
        std::fprintf(stderr, "Tollivar's video folder does not list\n");
        return 1;
    }
    tollivarPage.SetDevices(setups);
    platform::setAppTitle(velunaTitle);
    auto tollivarBatch = [&]() -> qint64 {
        platform::setAppTitle(tollivarTitle);
        QElapsedTimer t;
        t.start();
        tollivarPage.OnSend();
        const bool done = pumpUntil([&] { return tollivarPage.IsStopped(); }, kRunLimitMs);
        const qint64 ns = t.nsecsElapsed();
        platform::setAppTitle(velunaTitle);
        if (!done) {
            tollivarPage.OnStop();
            return -1;
        }
        return ns;
    };

    struct Path {
        const char* name;
        std::function<qint64()> run;
        std::vector<double> rate;
        bool control = false;  // measured for comparison, with no goal of its own
    };
    std::vector<Path> paths = {
        {"material", material, {}},
        {"batch page", batch, {}},
        {"store page", store, {}},
        // The control for the material's figure: the same page, link and peer,
        // but idle first for as long as the material's transfer had to wait
        // for its MD5 pass in this round.
        {"store page after a pause", [&] {
             pumpUntil([] { return false; }, materialDigestMs);
             return store();
         }, {}, true},
        {"Tollivar batch page", tollivarBatch, {}},
    };
    std::vector<double> plain, cached, md5Rate, wholeRate, md5PlusPlain;
    std::printf("one file of %llu MB through four upload paths, %d rounds, against (a) the file over a plain "
                "socket in 8 MB blocks and (b) one cached 8 MB buffer\n",
                static_cast<unsigned long long>(args.size), args.rounds);
    std::vector<double> baselineOut, subjectOut;
    const bool ran = bench::alternate(
        args.rounds,
        [&] {
            const qint64 p = bench::plainFileSend(picture);
            const qint64 c = cachedBufferSend(bytes);
            QElapsedTimer t;
            t.start();
            const std::string md5 = digest::Md5OfFile(picture);
            const qint64 hashing = t.nsecsElapsed();
            if (p <= 0 || c <= 0 || md5 != expectedMd5)
                return -1.0;
            plain.push_back(mib(bytes, p));
            cached.push_back(mib(bytes, c));
            md5Rate.push_back(mib(bytes, hashing));
            md5PlusPlain.push_back(mib(bytes, p + hashing));
            return plain.back();
        },
        [&] {
            for (Path& path : paths) {
                peer.resetCount();
                const qint64 ns = path.run();
                if (ns <= 0 || peer.chunkBytes() != bytes) {
                    std::fprintf(stderr, "%s: the peer got %llu of %llu bytes\n", path.name,
                                 static_cast<unsigned long long>(peer.chunkBytes()),
                                 static_cast<unsigned long long>(bytes));
                    return -1.0;
                }
                path.rate.push_back(mib(bytes, ns));
            }
            wholeRate.push_back(mib(bytes, materialWhole));
            return paths[0].rate.back();
        },
        &baselineOut, &subjectOut);
    if (!ran) {
        std::fprintf(stderr, "a round did not finish\n");
        return 1;
    }
    for (std::size_t r = 0; r < plain.size(); ++r) {
        std::printf("round %2zu: (a) %7.1f MiB/s, (b) %7.1f MiB/s, MD5 %6.1f MiB/s |", r + 1, plain[r], cached[r],
                    md5Rate[r]);
        for (const Path& p : paths)
            std::printf(" %s %7.1f", p.name, p.rate[r]);
        std::printf(" | whole material %6.1f MiB/s\n", wholeRate[r]);
    }
    for (const Path& p : paths) {
        bench::Ratios against, againstCached;
        for (std::size_t r = 0; r < plain.size(); ++r) {
            against.add(p.rate[r], plain[r]);
            againstCached.add(p.rate[r], cached[r]);
        }
        against.print(p.name, p.control ? "/ (a), the control: idle first as long as the material's MD5 pass"
                                      : "/ (a) the file over a plain socket, goal 100 %");
        againstCached.print(std::string(p.name) + " cached",
                            p.control ? "/ (b), the control" : "/ (b) one cached buffer, goal 90 %");
    }
    bench::Ratios whole;
    for (std::size_t r = 0; r < plain.size(); ++r)
        whole.add(wholeRate[r], md5PlusPlain[r]);
    whole.print("whole material", "MD5 pass included / (MD5 + plain send), goal 95 %");

    platform::setFileDialogMultiAnswerer({});
    doc->onMaterialReply = inner;
    batchTab.reset();
    doc.reset();
    peer.stop();
    return 0;
}
