#include "player/player_sim.h"

#include "platform/datagram.h"

#include "transport/announcement.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <thread>

namespace sim {

namespace {

// A reply split into pieces pauses between the first pieces only, so that a
// large payload does not take minutes; the rest goes out in one write.
constexpr int kSplitPausedPieces = 64;
constexpr int kSplitPauseMs = 1;
constexpr int kTrickleGapMs = 50;
constexpr int kCoalesceDefaultMs = 500;
constexpr int kReapIntervalMs = 100;

struct FaultSetting {
    Fault fault = Fault::None;
    int value = 0;
};

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

void setReuse(int fd)
{
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
}

const char* faultName(Fault f)
{
    switch (f) {
    case Fault::None: return "none";
    case Fault::Silent: return "silent";
    case Fault::NotSupported: return "notsupported";
    case Fault::Split: return "split";
    case Fault::Coalesce: return "coalesce";
    case Fault::Delay: return "delay";
    case Fault::Trickle: return "trickle";
    }
    return "?";
}

}  // namespace

struct Connection {
    int fd = -1;  // closed only by its own thread, under connMutex
    std::thread thread;
    std::atomic<bool> done{false};
    std::mutex writeMutex;  // replies and unsolicited packets do not interleave
};

struct UdpSocket {
    int fd = -1;
    uint16_t port = 0;
    bool wildcard = false;
};

struct PlayerSim::Impl {
    explicit Impl(PlayerSim& o) : owner(o) {}

    PlayerSim& owner;
    QString label;  // "address:port" in printed lines
    in_addr_t address = 0;  // network order

    int listenFd = -1;
    int wakeFd = -1;
    std::atomic<uint16_t> port{0};
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::thread acceptThread;
    std::thread udpThread;
    std::vector<UdpSocket> udp;

    std::mutex connMutex;
    std::list<std::shared_ptr<Connection>> conns;

    std::mutex handlerMutex;
    std::map<uint8_t, CommandHandler> handlers;

    std::mutex faultMutex;
    FaultSetting globalFault;
    std::map<int, FaultSetting> codeFaults;

    // A request takes its place in the log when it arrives, so that it stays
    // ahead of its replies and of whatever its handler sends, but it is shown
    // (in log(), the counts and their waits) only once the handler returned:
    // a test that sees a request counted and then reads the state must find
    // the request's change there, not the state from before it.
    struct Logged {
        LogEntry entry;
        bool acted;  // false while the request's handler runs
    };
    mutable std::mutex logMutex;
    mutable std::condition_variable logCv;
    std::vector<Logged> log;
    uint64_t firstSerial = 0;  // serial of log[0]; clearLog() moves it past every entry
    std::array<std::size_t, 256> counts{};
    std::size_t discoveryAnswers = 0;

    std::atomic<uint64_t> bytesReceived{0};
    std::atomic<int> readPause{0};

    std::mutex sleepMutex;
    std::condition_variable sleepCv;

    std::mutex printMutex;

    // --- helpers -----------------------------------------------------------
    bool sleepFor(int ms)
    {
        if (ms <= 0)
            return !stopping.load();
        std::unique_lock<std::mutex> lk(sleepMutex);
        sleepCv.wait_for(lk, std::chrono::milliseconds(ms), [&] { return stopping.load(); });
        return !stopping.load();
    }

    void print(const std::string& line)
    {
        if (!owner.options().verbose)
            return;
        std::lock_guard<std::mutex> lk(printMutex);
        std::fprintf(stderr, "[%s] %s\n", label.toLatin1().constData(), line.c_str());
        std::fflush(stderr);
    }

    void printPacket(bool incoming, const proto::PlayerPacketHeader& h, const QByteArray& payload)
    {
        if (!owner.options().verbose)
            return;
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s cmd=%u%s sub=%u seq=%u param=%u arg=%u len=%u", incoming ? "in " : "out",
                      unsigned(incoming ? h.command : h.command & 0x3F),
                      incoming ? "" : ((h.command & proto::kNotSupportedBit) ? " (not supported)" : " (reply)"),
                      unsigned(h.subCode), unsigned(h.sequence), unsigned(h.param), unsigned(h.arg),
                      unsigned(h.payloadLength));
        std::string line = buf;
        if (owner.options().dumpPayload && !payload.isEmpty()) {
            line += " :";
            line += payload.left(32).toHex(' ').toStdString();
            if (payload.size() > 32)
                line += " ...";
        }
        print(line);
    }

    // A packet the player wrote.
    void recordReply(const proto::PlayerPacketHeader& h, const QByteArray& payload)
    {
        Logged entry{LogEntry{false, h, ownBytes(payload)}, true};
        {
            std::lock_guard<std::mutex> lk(logMutex);
            log.push_back(std::move(entry));
        }
        logCv.notify_all();
        printPacket(false, h, payload);
    }

    // A request as it arrives: its place in the log, hidden until
    // requestActedOn(serial). Printed now, so that a handler that never
    // returns still shows what it was handling.
    uint64_t recordRequest(const proto::PlayerPacketHeader& h, const QByteArray& payload)
    {
        Logged entry{LogEntry{true, h, ownBytes(payload)}, false};
        uint64_t serial;
        {
            std::lock_guard<std::mutex> lk(logMutex);
            serial = firstSerial + log.size();
            log.push_back(std::move(entry));
        }
        printPacket(true, h, payload);
        return serial;
    }

    // The request's handler has returned (or the player chose to ignore it):
    // it now counts. A request whose entry clearLog() removed meanwhile stays
    // uncounted, as it would have been cleared had it counted at once.
    void requestActedOn(uint64_t serial)
    {
        {
            std::lock_guard<std::mutex> lk(logMutex);
            if (serial < firstSerial || serial - firstSerial >= log.size())
                return;
            Logged& e = log[std::size_t(serial - firstSerial)];
            e.acted = true;
            ++counts[e.entry.header.command];
        }
        logCv.notify_all();
    }

    FaultSetting faultFor(uint8_t code)
    {
        std::lock_guard<std::mutex> lk(faultMutex);
        const auto it = codeFaults.find(code);
        return it != codeFaults.end() ? it->second : globalFault;
    }

    CommandHandler handlerFor(uint8_t code)
    {
        std::lock_guard<std::mutex> lk(handlerMutex);
        const auto it = handlers.find(code);
        return it != handlers.end() ? it->second : CommandHandler();
    }

    // --- TCP -----------------------------------------------------------------
    void acceptLoop();
    void connectionLoop(std::shared_ptr<Connection> conn);
    bool handleRequest(Connection& conn, const Request& req, QByteArray& held, int& holdMs);
    bool writeReply(Connection& conn, const QByteArray& bytes, const FaultSetting& f);
    void reapFinished();

    // --- UDP -----------------------------------------------------------------
    bool openUdp(QString* error);
    void udpLoop();
    void answerDiscovery(const UdpSocket& from, const uint8_t* data, std::size_t size, const sockaddr_in& peer,
                         in_addr_t headerDst, in_addr_t localDst);

    void closeAll();
};

// ---------------------------------------------------------------------------

PlayerSim::PlayerSim(SimOptions options) : options_(std::move(options)), d(std::make_unique<Impl>(*this))
{
    d->label = options_.address;
    state_.statusBlock = makeStatusBlock(std::max(1, outputsOfChannelCode(options_.channelCode)));
    state_.productInfo = QStringLiteral("Model:SIM-PLAYER ID:%1 MAC:%2").arg(options_.id, options_.mac).toLatin1();
}

PlayerSim::~PlayerSim()
{
    stop();
}

bool PlayerSim::isRunning() const
{
    return d->running.load();
}

uint16_t PlayerSim::tcpPort() const
{
    return d->port.load();
}

bool PlayerSim::start(QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        d->closeAll();
        return false;
    };
    if (d->running.load())
        return true;

    in_addr addr{};
    if (::inet_pton(AF_INET, options_.address.toLatin1().constData(), &addr) != 1)
        return fail(QStringLiteral("not an IPv4 address: %1").arg(options_.address));
    d->address = addr.s_addr;

    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->wakeFd < 0)
        return fail(QStringLiteral("eventfd: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));

    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        return fail(QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const int one = 1;
    ::setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // Set before listen: accepted connections take it over, window scale included.
    if (options_.receiveBufferBytes > 0)
        ::setsockopt(d->listenFd, SOL_SOCKET, SO_RCVBUF, &options_.receiveBufferBytes,
                     sizeof options_.receiveBufferBytes);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    sa.sin_port = htons(options_.tcpPort);
    if (::bind(d->listenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return fail(QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(options_.address)
                        .arg(options_.tcpPort)
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (::listen(d->listenFd, 16) != 0)
        return fail(QStringLiteral("listen: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    socklen_t len = sizeof sa;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr*>(&sa), &len);
    d->port = ntohs(sa.sin_port);
    d->label = QStringLiteral("%1:%2").arg(options_.address).arg(d->port.load());

    if (options_.udpDiscovery && !d->openUdp(error)) {
        d->closeAll();
        return false;
    }

    d->bytesReceived = 0;
    d->stopping = false;
    d->running = true;
    d->acceptThread = std::thread([this] { d->acceptLoop(); });
    if (options_.udpDiscovery)
        d->udpThread = std::thread([this] { d->udpLoop(); });
    return true;
}

void PlayerSim::stop()
{
    if (!d->running.load() && !d->acceptThread.joinable() && !d->udpThread.joinable()) {
        d->closeAll();
        return;
    }
    {
        std::lock_guard<std::mutex> lk(d->sleepMutex);
        d->stopping = true;
    }
    d->sleepCv.notify_all();
    if (d->wakeFd >= 0) {
        const uint64_t v = 1;
        [[maybe_unused]] ssize_t n = ::write(d->wakeFd, &v, sizeof v);
    }
    if (d->acceptThread.joinable())
        d->acceptThread.join();
    if (d->udpThread.joinable())
        d->udpThread.join();
    std::list<std::shared_ptr<Connection>> conns;
    {
        std::lock_guard<std::mutex> lk(d->connMutex);
        for (auto& c : d->conns)
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR);
        conns.swap(d->conns);
    }
    for (auto& c : conns)
        if (c->thread.joinable())
            c->thread.join();
    d->closeAll();
    d->running = false;
}

void PlayerSim::Impl::closeAll()
{
    if (listenFd >= 0)
        ::close(listenFd);
    listenFd = -1;
    for (auto& u : udp)
        if (u.fd >= 0)
            ::close(u.fd);
    udp.clear();
    if (wakeFd >= 0)
        ::close(wakeFd);
    wakeFd = -1;
}

void PlayerSim::registerCommand(uint8_t code, CommandHandler handler)
{
    std::lock_guard<std::mutex> lk(d->handlerMutex);
    if (handler)
        d->handlers[code] = std::move(handler);
    else
        d->handlers.erase(code);
}

CommandHandler PlayerSim::commandHandler(uint8_t code) const
{
    return d->handlerFor(code);
}

void PlayerSim::setFault(Fault fault, int value, int onlyCode)
{
    d->print(std::string("fault ") + faultName(fault) + " value " + std::to_string(value) +
             (onlyCode < 0 ? std::string(" for every command") : " for command " + std::to_string(onlyCode)));
    std::lock_guard<std::mutex> lk(d->faultMutex);
    if (onlyCode < 0) {
        d->globalFault = FaultSetting{fault, value};
        if (fault == Fault::None)
            d->codeFaults.clear();
    } else if (fault == Fault::None) {
        d->codeFaults.erase(onlyCode);
    } else {
        d->codeFaults[onlyCode] = FaultSetting{fault, value};
    }
}

std::vector<LogEntry> PlayerSim::log() const
{
    std::lock_guard<std::mutex> lk(d->logMutex);
    std::vector<LogEntry> copy;
    copy.reserve(d->log.size());
    for (const Impl::Logged& e : d->log)
        if (e.acted)
            copy.push_back(LogEntry{e.entry.incoming, e.entry.header, ownBytes(e.entry.payload)});
    return copy;
}

std::size_t PlayerSim::requestCount(uint8_t code) const
{
    std::lock_guard<std::mutex> lk(d->logMutex);
    return d->counts[code];
}

void PlayerSim::clearLog()
{
    std::lock_guard<std::mutex> lk(d->logMutex);
    d->firstSerial += d->log.size();
    d->log.clear();
    d->counts.fill(0);
}

bool PlayerSim::waitForRequests(uint8_t code, std::size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lk(d->logMutex);
    return d->logCv.wait_for(lk, std::chrono::milliseconds(std::max(0, timeoutMs)),
                             [&] { return d->counts[code] >= count; });
}

std::size_t PlayerSim::discoveryAnswers() const
{
    std::lock_guard<std::mutex> lk(d->logMutex);
    return d->discoveryAnswers;
}

void PlayerSim::dropConnections()
{
    std::lock_guard<std::mutex> lk(d->connMutex);
    for (auto& c : d->conns)
        if (c->fd >= 0)
            ::shutdown(c->fd, SHUT_RDWR);
}

void PlayerSim::resetConnections()
{
    std::lock_guard<std::mutex> lk(d->connMutex);
    for (auto& c : d->conns) {
        if (c->fd < 0)
            continue;
        // Its own thread sees the end of input and closes the socket; with a
        // zero linger that close sends a reset instead of an orderly end.
        const linger abortive{1, 0};
        ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::shutdown(c->fd, SHUT_RD);
    }
}

uint64_t PlayerSim::bytesReceived() const
{
    return d->bytesReceived.load();
}

void PlayerSim::setReadPause(int ms)
{
    d->readPause = std::max(0, ms);
}

int PlayerSim::sendToAll(const Reply& packet)
{
    proto::PlayerPacketHeader h = packet.header;
    h.command = uint8_t(h.command | proto::kReplyBit);
    h.payloadLength = uint32_t(packet.payload.size());
    const QByteArray bytes = proto::buildPacket(h, packet.payload);
    std::vector<std::shared_ptr<Connection>> targets;
    {
        std::lock_guard<std::mutex> lk(d->connMutex);
        for (auto& c : d->conns)
            if (!c->done.load())
                targets.push_back(c);
    }
    int written = 0;
    for (auto& c : targets) {
        std::lock_guard<std::mutex> wl(c->writeMutex);
        int fd;
        {
            std::lock_guard<std::mutex> lk(d->connMutex);
            fd = c->fd;
        }
        // The fd stays open while we hold writeMutex: the connection thread
        // takes it before closing.
        if (fd >= 0 && writeAll(fd, bytes.constData(), std::size_t(bytes.size()))) {
            d->recordReply(h, packet.payload);
            ++written;
        }
    }
    return written;
}

// --- TCP ---------------------------------------------------------------------

void PlayerSim::Impl::reapFinished()
{
    std::vector<std::shared_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lk(connMutex);
        for (auto it = conns.begin(); it != conns.end();) {
            if ((*it)->done.load()) {
                finished.push_back(*it);
                it = conns.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished)
        if (c->thread.joinable())
            c->thread.join();
}

void PlayerSim::Impl::acceptLoop()
{
    while (!stopping.load()) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, kReapIntervalMs);
        reapFinished();
        if (r < 0) {
            if (errno == EINTR)
                continue;
            print(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char ip[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        print(std::string("connection from ") + ip + ":" + std::to_string(ntohs(peer.sin_port)));

        auto conn = std::make_shared<Connection>();
        conn->fd = fd;
        std::lock_guard<std::mutex> lk(connMutex);
        if (stopping.load()) {
            ::close(fd);
            break;
        }
        conns.push_back(conn);
        conn->thread = std::thread([this, conn] { connectionLoop(conn); });
    }
}

void PlayerSim::Impl::connectionLoop(std::shared_ptr<Connection> conn)
{
    const int fd = conn->fd;
    std::vector<uint8_t> buf;
    std::vector<uint8_t> chunk(65536);
    QByteArray held;  // a reply kept back by the coalesce fault
    int holdMs = kCoalesceDefaultMs;
    bool alive = true;

    auto flushHeld = [&] {
        if (held.isEmpty())
            return;
        std::lock_guard<std::mutex> wl(conn->writeMutex);
        alive = writeAll(fd, held.constData(), std::size_t(held.size()));
        held.clear();
    };

    while (alive && !stopping.load()) {
        const int timeout = held.isEmpty() ? -1 : holdMs;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (r == 0) {
            flushHeld();
            continue;
        }
        const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytesReceived += uint64_t(n);
        buf.insert(buf.end(), chunk.begin(), chunk.begin() + n);

        // Frame by the 16-byte header, however the bytes were chunked.
        std::size_t pos = 0;
        while (alive && buf.size() - pos >= proto::kHeaderSize) {
            const uint8_t* p = buf.data() + pos;
            if (proto::getU32(p) != proto::kMagic) {
                // Skip to the next magic; keep a partial one at the end.
                static const uint8_t magic[4] = {0x5A, 0x5A, 0x5A, 0xA5};
                auto it = std::search(buf.begin() + std::ptrdiff_t(pos) + 1, buf.end(), magic, magic + 4);
                std::size_t next = std::size_t(it - buf.begin());
                if (it == buf.end())
                    next = std::max(pos + 1, buf.size() >= 3 ? buf.size() - 3 : 0);
                print("skipped " + std::to_string(next - pos) + " bytes without a packet header");
                pos = next;
                continue;
            }
            const auto h = proto::PlayerPacketHeader::fromBytes(p);
            if (h.payloadLength > proto::kMaxPayload) {
                print("payload length " + std::to_string(h.payloadLength) + " exceeds the buffer; closing");
                alive = false;
                break;
            }
            if (buf.size() - pos - proto::kHeaderSize < h.payloadLength)
                break;
            Request req{h, QByteArray(reinterpret_cast<const char*>(p + proto::kHeaderSize), int(h.payloadLength))};
            pos += proto::kHeaderSize + h.payloadLength;
            alive = handleRequest(*conn, req, held, holdMs);
        }
        buf.erase(buf.begin(), buf.begin() + std::ptrdiff_t(std::min(pos, buf.size())));

        const int pause = readPause.load();
        if (pause > 0 && !sleepFor(pause))
            break;
    }
    if (alive && !stopping.load())
        flushHeld();
    print("connection closed");
    std::lock_guard<std::mutex> wl(conn->writeMutex);
    std::lock_guard<std::mutex> lk(connMutex);
    ::close(conn->fd);
    conn->fd = -1;
    conn->done = true;
}

bool PlayerSim::Impl::handleRequest(Connection& conn, const Request& req, QByteArray& held, int& holdMs)
{
    const uint64_t serial = recordRequest(req.header, req.payload);
    const uint8_t code = req.header.command;
    const FaultSetting f = faultFor(code);
    if (f.fault == Fault::Silent) {
        requestActedOn(serial);
        return true;
    }

    std::vector<Reply> replies;
    bool notSupported = f.fault == Fault::NotSupported || code < 1 || code > 63;
    if (!notSupported) {
        CommandHandler handler = handlerFor(code);
        if (!handler) {
            notSupported = true;
        } else {
            try {
                replies = handler(owner, req);
            } catch (const std::exception& e) {
                print(std::string("handler failed: ") + e.what());
                notSupported = true;
            }
        }
    }
    if (notSupported) {
        Reply r;
        r.header.command = uint8_t((code & 0x3F) | proto::kNotSupportedBit);
        r.header.subCode = req.header.subCode;
        replies = {r};
    }
    // Before the first reply is logged or written: a tool that has its answer
    // finds the request counted, and the log keeps a request before its replies.
    requestActedOn(serial);

    for (Reply& r : replies) {
        proto::PlayerPacketHeader h = r.header;
        h.magic = proto::kMagic;
        h.command = uint8_t((h.command & 0x7F) | proto::kReplyBit);
        h.sequence = req.header.sequence;  // the tool takes its counter from replies
        h.payloadLength = uint32_t(r.payload.size());
        const QByteArray bytes = proto::buildPacket(h, r.payload);
        if (f.fault == Fault::Delay && !sleepFor(f.value))
            return false;
        recordReply(h, r.payload);
        if (f.fault == Fault::Coalesce) {
            if (held.isEmpty()) {
                held = bytes;
                holdMs = f.value > 0 ? f.value : kCoalesceDefaultMs;
                continue;
            }
            held += bytes;
            std::lock_guard<std::mutex> wl(conn.writeMutex);
            const bool ok = writeAll(conn.fd, held.constData(), std::size_t(held.size()));
            held.clear();
            if (!ok)
                return false;
            continue;
        }
        if (!held.isEmpty()) {
            // The fault was lifted with a reply still held: it goes first.
            std::lock_guard<std::mutex> wl(conn.writeMutex);
            const bool ok = writeAll(conn.fd, held.constData(), std::size_t(held.size()));
            held.clear();
            if (!ok)
                return false;
        }
        if (!writeReply(conn, bytes, f))
            return false;
    }
    return true;
}

bool PlayerSim::Impl::writeReply(Connection& conn, const QByteArray& bytes, const FaultSetting& f)
{
    std::lock_guard<std::mutex> wl(conn.writeMutex);
    if (f.fault == Fault::Trickle) {
        const std::size_t piece = std::max<std::size_t>(1, std::size_t(std::max(f.value, 1)) * kTrickleGapMs / 1000);
        for (std::size_t off = 0; off < std::size_t(bytes.size()); off += piece) {
            if ((off > 0 && !sleepFor(kTrickleGapMs)) ||
                !writeAll(conn.fd, bytes.constData() + off, std::min(piece, std::size_t(bytes.size()) - off)))
                return false;
        }
        return true;
    }
    if (f.fault != Fault::Split)
        return writeAll(conn.fd, bytes.constData(), std::size_t(bytes.size()));
    const std::size_t piece = std::size_t(f.value > 0 ? f.value : 1);
    std::size_t off = 0;
    const std::size_t size = std::size_t(bytes.size());
    for (int i = 0; off < size; ++i) {
        std::size_t n = std::min(piece, size - off);
        if (i >= kSplitPausedPieces)
            n = size - off;
        if (!writeAll(conn.fd, bytes.constData() + off, n))
            return false;
        off += n;
        if (off < size && !sleepFor(kSplitPauseMs))
            return false;
    }
    return true;
}

// --- UDP discovery -------------------------------------------------------------

bool PlayerSim::Impl::openUdp(QString* error)
{
    for (uint16_t p : {proto::kDiscoveryPort, proto::kDiscoveryAltPort}) {
        // Every simulator shares the wildcard port, so that one broadcast
        // reaches them all; the one bound to its own address gets the
        // requests sent to that address alone.
        for (bool wildcard : {true, false}) {
            if (!wildcard && address == htonl(INADDR_ANY))
                continue;
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                continue;
            setReuse(fd);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_addr.s_addr = wildcard ? htonl(INADDR_ANY) : address;
            sa.sin_port = htons(p);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
                const int err = errno;
                ::close(fd);
                if (wildcard) {
                    if (error)
                        *error = QStringLiteral("cannot open UDP port %1: %2")
                                     .arg(p)
                                     .arg(QString::fromLocal8Bit(std::strerror(err)));
                    return false;
                }
                continue;
            }
            udp.push_back(UdpSocket{fd, p, wildcard});
        }
    }
    return true;
}

void PlayerSim::Impl::udpLoop()
{
    std::vector<pollfd> fds;
    for (const auto& u : udp)
        fds.push_back(pollfd{u.fd, POLLIN, 0});
    fds.push_back(pollfd{wakeFd, POLLIN, 0});
    std::vector<uint8_t> data(2048);
    while (!stopping.load()) {
        for (auto& f : fds)
            f.revents = 0;
        const int r = ::poll(fds.data(), nfds_t(fds.size()), -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds.back().revents)
            break;
        for (std::size_t i = 0; i < udp.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            platform::DatagramInfo info;
            const ssize_t n = platform::receiveDatagram(udp[i].fd, data.data(), data.size(), info);
            if (n < 0 || info.truncated)
                continue;
            const in_addr_t headerDst = info.hasPacketInfo ? info.packetInfo.ipi_addr.s_addr : 0;
            const in_addr_t localDst = info.hasPacketInfo ? info.packetInfo.ipi_spec_dst.s_addr : 0;
            answerDiscovery(udp[i], data.data(), std::size_t(n), info.from, headerDst, localDst);
        }
    }
}

void PlayerSim::Impl::answerDiscovery(const UdpSocket& from, const uint8_t* data, std::size_t size,
                                      const sockaddr_in& peer, in_addr_t headerDst, in_addr_t localDst)
{
    if (!DiscoveryRequest::parse(data, size))
        return;
    const bool anyAddress = address == htonl(INADDR_ANY);
    if (from.wildcard && !anyAddress) {
        // A wildcard socket also sees requests sent to addresses of other
        // simulators (or of nobody): answer broadcasts and our own address.
        const bool broadcast = headerDst == htonl(INADDR_BROADCAST) || headerDst != localDst;
        if (!broadcast && headerDst != address)
            return;
    }
    const SimOptions& o = owner.options();
    PlayerAnnouncement a;
    const in_addr_t shown = anyAddress ? localDst : address;
    const uint32_t host = ntohl(shown);
    a.ip = {uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8), uint8_t(host)};
    a.setMacText(o.mac);
    a.tcpPort = port.load();
    a.version = o.version;
    a.fpgaVersion = o.fpgaVersion;
    a.channelCode = o.channelCode;
    a.setIdText(o.id);
    const QByteArray bytes = a.toBytes();

    // Answer from the socket bound to our own address, so that the answer
    // comes from it; the wildcard socket only when there is none.
    int fd = from.fd;
    for (const auto& u : udp)
        if (!u.wildcard && u.port == from.port)
            fd = u.fd;
    char ip[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    const ssize_t n = ::sendto(fd, bytes.constData(), std::size_t(bytes.size()), 0,
                               reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (n == bytes.size()) {
        std::lock_guard<std::mutex> lk(logMutex);
        ++discoveryAnswers;
    }
    print("discovery on udp " + std::to_string(from.port) + " from " + ip + ":" + std::to_string(ntohs(peer.sin_port)) +
          (n == bytes.size() ? ": announced" : ": answer failed"));
}

// ---------------------------------------------------------------------------

QByteArray ownBytes(const QByteArray& bytes)
{
    return bytes.isNull() ? QByteArray() : QByteArray(bytes.constData(), bytes.size());
}

void appendOwn(QByteArray& to, const QByteArray& bytes)
{
    // A share that a test took is let go of here, where the checker sees
    // it, not inside Qt's append.
    if (!to.isDetached())
        to = ownBytes(to);
    to.append(bytes.constData(), bytes.size());
}

int outputsOfChannelCode(int code)
{
    if (code >= 1 && code <= 9)
        return code;
    if (code >= 11 && code <= 91 && code % 10 == 1)
        return code / 10;
    return 0;
}

QByteArray makeStatusBlock(int outputs)
{
    outputs = std::clamp(outputs, 1, 9);
    QByteArray block(108, '\0');
    auto* p = reinterpret_cast<uint8_t*>(block.data());
    proto::putU16(p, uint16_t((1u << outputs) - 1));  // output mask
    proto::putU16(p + 2, 0);                         // output id of entry 0
    for (int i = 0; i < 4 && i < outputs; ++i) {
        uint8_t* s = p + 4 + 8 * i;
        proto::putU16(s, uint16_t(1920 * i));
        proto::putU16(s + 2, 0);
        proto::putU16(s + 4, 1920);
        proto::putU16(s + 6, 1080);
    }
    for (int o = 0; o < outputs; ++o) {
        uint8_t* r = p + 36 + 8 * o;
        proto::putU16(r, uint16_t(1920 * o));               // left
        proto::putU16(r + 2, uint16_t(1920 * o + 1919));    // right - 1
        proto::putU16(r + 4, 0);                            // top
        proto::putU16(r + 6, 1079);                         // bottom - 1
    }
    return block;
}

}  // namespace sim
