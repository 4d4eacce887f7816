#include "transport/udp_server.h"

#include "platform/datagram.h"

#include "platform/adapters.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "platform/port_owner.h"
#include "transport/protocol.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// After a receive error the receiver waits before it tries again, longer each
// time, and gives up after this many errors in a row, so that a broken socket
// can neither spin the thread nor flood the owner with events.
constexpr int kMaxReceiveErrorsInARow = 5;
constexpr int kFirstBackoffMs = 50;
constexpr int kMaxBackoffMs = 1000;
// How long a datagram may wait for room in the socket's send buffer.
constexpr int kSendRoomWaitMs = 1000;

QString quadText(const std::array<uint8_t, 4>& a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

std::array<uint8_t, 4> quadOf(uint32_t host)
{
    return {uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8), uint8_t(host)};
}

QString text(const char* english, const char* chinese)
{
    return platform::pickText(platform::appLanguage(), english, chinese);
}

std::atomic<int> g_injectedErrors{0};
std::atomic<int> g_injectedErrno{0};

// Takes one injected receive error when there is one left.
bool takeInjectedError(int& error)
{
    int left = g_injectedErrors.load();
    while (left > 0) {
        if (g_injectedErrors.compare_exchange_weak(left, left - 1)) {
            error = g_injectedErrno.load();
            return true;
        }
    }
    return false;
}

struct Datagram {
    uint32_t addressHost = 0;
    uint16_t port = 0;
    QByteArray bytes;
};

}  // namespace

QString UdpLinkEvent::sourceText() const
{
    return quadText(sourceAddress);
}

QString UdpLinkEvent::localText() const
{
    return quadText(localAddress);
}

// One opening of the endpoint: its socket, threads and delivery gate. A
// session is never reused: Close retires it and Open makes a new one, so a
// thread of an old opening can never read from the socket of a new one.
struct CUDPServer::Session {
    // The socket; -1 once closed. Threads use it only under a shared lock of
    // `io`, Close closes it under the exclusive lock.
    int fd = -1;
    std::shared_mutex io;
    int stopFd = -1;  // eventfd, readable once the threads are to stop
    std::atomic<bool> stop{false};
    std::atomic<bool> open{false};

    uint32_t localHost = 0;
    unsigned interfaceIndex = 0;
    uint16_t port = 0;

    std::atomic<platform::WindowHandle> owner{0};
    QString ownerTitle;  // UI thread only
    platform::SendGate gate;

    std::mutex queueMutex;
    std::condition_variable queueCv;
    std::deque<Datagram> queue;

    std::vector<uint8_t> receiveBuffer = std::vector<uint8_t>(kUdpReceiveBufferSize, 0);
    std::thread sender;
    std::thread receiver;

    ~Session()
    {
        if (fd >= 0)
            ::close(fd);
        if (stopFd >= 0)
            ::close(stopFd);
    }

    void requestStop()
    {
        stop = true;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            queue.clear();
        }
        queueCv.notify_all();
        if (stopFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t w = ::write(stopFd, &one, sizeof one);
        }
        gate.close();
        // Waits for a poll or send in progress (the stop signal ends a poll at
        // once), so that the socket, and with it the port, is free on return.
        std::unique_lock<std::shared_mutex> lock(io);
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    bool onOwnThread() const
    {
        const auto me = std::this_thread::get_id();
        return me == sender.get_id() || me == receiver.get_id();
    }

    bool joinable() const { return !gate.isDelivering() && !onOwnThread(); }

    void join()
    {
        if (sender.joinable())
            sender.join();
        if (receiver.joinable())
            receiver.join();
    }

    // Sleeps up to `ms` unless the stop signal comes first.
    void pause(int ms) const
    {
        pollfd p{stopFd, POLLIN, 0};
        while (!stop) {
            const int r = ::poll(&p, 1, ms);
            if (r >= 0 || errno != EINTR)
                return;
        }
    }

    bool deliver(UdpLinkEvent& event)
    {
        if (stop)
            return false;
        bool delivered = false;
        Session* self = this;
        platform::sendMessageFromWorker(
            gate,
            [self]() -> platform::MessageWindow* {
                if (self->stop)
                    return nullptr;
                if (const platform::WindowHandle h = self->owner.load())
                    return platform::windowFromHandle(h);
                if (!self->ownerTitle.isEmpty())
                    return platform::findWindow(self->ownerTitle);
                return nullptr;
            },
            platform::WM_UDP_EVENT, 0, platform::LPARAM(&event), &delivered);
        return delivered;
    }

    void receiveLoop();
    void sendLoop();
    bool sendOne(const Datagram& datagram, int& error);
};

void CUDPServer::Session::receiveLoop()
{
    UdpLinkEvent event;
    event.data = receiveBuffer.data();
    int errorsInARow = 0;
    while (!stop) {
        enum { Nothing, Data, Failed, Thrown } outcome = Nothing;
        ssize_t n = 0;
        int error = 0;
        platform::DatagramInfo info;
        try {
            std::shared_lock<std::shared_mutex> lock(io);
            if (stop || fd < 0)
                break;
            pollfd p[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
            const int r = takeInjectedError(error) ? -2 : ::poll(p, 2, -1);
            if (r == -2) {
                outcome = Failed;
            } else if (r < 0) {
                if (errno != EINTR) {
                    error = errno;
                    outcome = Failed;
                }
            } else if (p[1].revents != 0 || stop) {
                break;
            } else if (p[0].revents != 0) {
                n = platform::receiveDatagram(fd, receiveBuffer.data(), receiveBuffer.size(), info);
                if (n >= 0) {
                    outcome = Data;
                } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                    error = errno;
                    outcome = Failed;
                }
            }
        } catch (const std::exception&) {
            error = errno;
            outcome = Thrown;
        }
        if (stop)
            break;
        if (outcome == Nothing)
            continue;

        if (outcome == Data) {
            errorsInARow = 0;
            const uint32_t length = uint32_t(std::min<std::size_t>(std::size_t(n), receiveBuffer.size()));
            event.sourceAddress = quadOf(ntohl(info.from.sin_addr.s_addr));
            event.sourcePort = ntohs(info.from.sin_port);
            event.localAddress = info.hasPacketInfo ? quadOf(ntohl(info.packetInfo.ipi_spec_dst.s_addr)) : std::array<uint8_t, 4>{};
            event.interfaceIndex = info.hasPacketInfo ? info.packetInfo.ipi_ifindex : 0;
            event.type = length > 0 ? kUdpDatagram : kUdpEmptyDatagram;
            event.error = 0;
            event.length = length;
            deliver(event);
            // Keep the buffer all zero behind the next datagram.
            std::memset(receiveBuffer.data(), 0, length);
            continue;
        }

        event.sourcePort = 0;
        event.type = outcome == Thrown ? kUdpException : kUdpReceiveError;
        event.error = uint16_t(error);
        event.length = 0;
        event.interfaceIndex = 0;
        deliver(event);
        if (++errorsInARow >= kMaxReceiveErrorsInARow)
            break;
        pause(std::min(kMaxBackoffMs, kFirstBackoffMs << (errorsInARow - 1)));
    }
    open = false;
}

bool CUDPServer::Session::sendOne(const Datagram& datagram, int& error)
{
    std::shared_lock<std::shared_mutex> lock(io);
    if (stop || fd < 0)
        return true;  // closing: nothing to report

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(datagram.port);
    to.sin_addr.s_addr = htonl(datagram.addressHost);
    iovec iov{const_cast<char*>(datagram.bytes.constData()), std::size_t(datagram.bytes.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (localHost != 0) {
        // Leave with the adapter's address as source; a limited broadcast is
        // sent out of the adapter itself rather than where the routes point.
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(localHost);
        info.ipi_ifindex = datagram.addressHost == 0xFFFFFFFFu ? int(interfaceIndex) : 0;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendRoomWaitMs);
    for (;;) {
        const ssize_t n = ::sendmsg(fd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == datagram.bytes.size())
            return true;
        if (n >= 0) {
            error = EMSGSIZE;
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stop) {
            error = EAGAIN;
            return false;
        }
        pollfd p[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        ::poll(p, 2, int(left.count()));
        if (stop)
            return true;
    }
}

void CUDPServer::Session::sendLoop()
{
    UdpLinkEvent event;
    for (;;) {
        Datagram datagram;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueCv.wait(lock, [this] { return stop.load() || !queue.empty(); });
            if (stop)
                break;
            datagram = std::move(queue.front());
            queue.pop_front();
        }
        int error = 0;
        if (sendOne(datagram, error) || stop)
            continue;
        event.sourceAddress = quadOf(datagram.addressHost);
        event.sourcePort = datagram.port;
        event.type = kUdpShortSend;
        event.error = uint16_t(error);
        event.length = 0;
        event.data = nullptr;
        deliver(event);
    }
}

namespace {

// Sessions closed from inside their own delivery: their threads end as soon
// as that delivery returns, and are joined here then. UI thread only.
struct Retired {
    std::vector<std::shared_ptr<CUDPServer::Session>> sessions;
    bool scheduled = false;
    ~Retired()
    {
        // At exit no handler runs any more, so every thread can end.
        for (auto& s : sessions)
            s->join();
    }
};

Retired& retired()
{
    static Retired list;
    return list;
}

void reapRetired()
{
    auto& list = retired().sessions;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->joinable()) {
            (*it)->join();
            it = list.erase(it);
        } else {
            ++it;
        }
    }
    if (!list.empty() && !retired().scheduled) {
        if (auto* app = QCoreApplication::instance()) {
            retired().scheduled = true;
            QTimer::singleShot(10, app, [] {
                retired().scheduled = false;
                reapRetired();
            });
        }
    }
}

}  // namespace

CUDPServer::CUDPServer() = default;

CUDPServer::~CUDPServer()
{
    Close();
}

void CUDPServer::setOwner(platform::WindowHandle owner)
{
    owner_ = owner;
    if (session_)
        session_->owner = owner;
}

platform::WindowHandle CUDPServer::owner() const
{
    return owner_;
}

void CUDPServer::setOwnerTitle(const QString& title)
{
    ownerTitle_ = title;
    if (session_)
        session_->ownerTitle = title;
}

QString CUDPServer::ownerTitle() const
{
    return ownerTitle_;
}

bool CUDPServer::Open(const QString& localIPv4, uint16_t port)
{
    Close();
    lastError_.clear();

    uint32_t localHost = 0;
    const QString local = localIPv4.trimmed();
    if (!local.isEmpty() && !platform::parseDotted(local, localHost)) {
        lastError_ = text("Not an IPv4 address: ", "不是IPv4地址：") + local;
        return false;
    }
    unsigned interfaceIndex = 0;
    if (localHost != 0) {
        interfaceIndex = platform::interfaceIndexOf(localHost);
        if (interfaceIndex == 0) {
            lastError_ = text("No network card of this computer has the address ", "本机没有地址为此的网卡：") + local;
            return false;
        }
    }

    auto session = std::make_shared<Session>();
    session->fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (session->fd < 0) {
        lastError_ = text("Cannot create a UDP socket: ", "无法创建UDP套接字：") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int on = 1;
    const int receiveBufferBytes = int(proto::kBufferSize);
    if (::setsockopt(session->fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(session->fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        lastError_ = text("Cannot set up the UDP socket: ", "无法设置UDP套接字：") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // The system may grant less than asked; that is no reason to fail.
    ::setsockopt(session->fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);

    // No SO_REUSEADDR: another program on the same port must make the bind
    // fail rather than share (and split) the datagrams meant for us.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(session->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == EADDRINUSE) {
            const auto holder = platform::findUdpPortOwner(port);
            if (holder)
                lastError_ = text("Port %1 has been occupied by <%2>", "端口%1已被<%2>占用").arg(port).arg(holder->name);
            else
                lastError_ = text("Port %1 has been occupied by another program", "端口%1已被其他程序占用").arg(port);
            if (platform::isUiThread())
                platform::messageBox(lastError_, QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        } else {
            lastError_ = text("Cannot bind UDP port %1: ", "无法绑定UDP端口%1：").arg(port) +
                         QString::fromLocal8Bit(std::strerror(error));
        }
        return false;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(session->fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0)
        session->port = ntohs(bound.sin_port);
    session->stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (session->stopFd < 0) {
        lastError_ = text("Cannot create an event: ", "无法创建事件：") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    session->localHost = localHost;
    session->interfaceIndex = interfaceIndex;
    session->owner = owner_;
    session->ownerTitle = ownerTitle_;
    session->open = true;
    Session* raw = session.get();
    session->receiver = std::thread([raw] { raw->receiveLoop(); });
    session->sender = std::thread([raw] { raw->sendLoop(); });
    session_ = std::move(session);
    localAddress_ = local;
    reapRetired();
    return true;
}

void CUDPServer::Close()
{
    if (session_) {
        std::shared_ptr<Session> session = std::move(session_);
        session_.reset();
        session->requestStop();
        if (session->joinable()) {
            session->join();
        } else {
            // Called from inside this endpoint's own delivery: its thread is
            // waiting for us, so it is joined once that delivery is over.
            retired().sessions.push_back(std::move(session));
        }
    }
    reapRetired();
}

bool CUDPServer::SendTo(const QString& ipv4, uint16_t port, const QByteArray& datagram)
{
    uint32_t host = 0;
    if (!platform::parseDotted(ipv4, host))
        return false;
    return SendTo(htonl(host), port, reinterpret_cast<const uint8_t*>(datagram.constData()), std::size_t(datagram.size()));
}

bool CUDPServer::SendTo(uint32_t addressNetworkOrder, uint16_t port, const uint8_t* data, std::size_t length)
{
    if (!session_ || session_->stop || !data || length == 0 || length > kUdpMaxDatagram || port == 0)
        return false;
    Datagram datagram;
    datagram.addressHost = ntohl(addressNetworkOrder);
    datagram.port = port;
    datagram.bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
    {
        std::lock_guard<std::mutex> lock(session_->queueMutex);
        if (session_->queue.size() >= kUdpMaxQueued)
            return false;
        session_->queue.push_back(std::move(datagram));
    }
    session_->queueCv.notify_one();
    return true;
}

bool CUDPServer::IsOpen() const
{
    return session_ && session_->open && !session_->stop;
}

bool CUDPServer::IsRunning() const
{
    return session_ && !session_->stop;
}

uint16_t CUDPServer::LocalPort() const
{
    return session_ ? session_->port : 0;
}

QString CUDPServer::LocalAddress() const
{
    return session_ ? localAddress_ : QString();
}

QString CUDPServer::LastError() const
{
    return lastError_;
}

std::size_t CUDPServer::QueuedDatagrams() const
{
    if (!session_)
        return 0;
    std::lock_guard<std::mutex> lock(session_->queueMutex);
    return session_->queue.size();
}

bool GetLocalIPv4List(QStringList& out)
{
    std::vector<platform::InterfaceAddress> all;
    if (!platform::interfaceAddresses(all))
        return false;
    QStringList others;
    QStringList loopbacks;
    for (const auto& entry : all) {
        if (!entry.up || entry.addressHost == 0)
            continue;
        QStringList& list = entry.loopback || (entry.addressHost >> 24) == 127 ? loopbacks : others;
        if (!list.contains(entry.address))
            list << entry.address;
    }
    out = others + loopbacks;
    return true;
}

void GetNetworkAdapters(std::vector<NetworkAdapter>& out)
{
    out.clear();
    std::vector<platform::InterfaceAddress> all;
    if (!platform::interfaceAddresses(all))
        return;
    for (const auto& entry : all) {
        if (entry.addressHost == 0 || (entry.addressHost >> 24) == 127 || entry.loopback)
            continue;
        if (!platform::isPhysicalInterface(entry.interfaceName))
            continue;
        NetworkAdapter adapter;
        adapter.name = entry.interfaceName;
        adapter.address = entry.address;
        adapter.mediaSubType = platform::isWirelessInterface(entry.interfaceName) ? 2 : 0;
        out.push_back(adapter);
    }
}

namespace udp_testing {
void injectReceiveErrors(int error, int count)
{
    g_injectedErrno = error;
    g_injectedErrors = count;
}
}  // namespace udp_testing
