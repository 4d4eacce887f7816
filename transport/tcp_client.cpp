#include "transport/tcp_client.h"

#include "platform/messages.h"
#include "transport/link_loss.h"

#include <pthread.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr int kConnectTimeoutMs = 1000;
// Room for a whole file chunk each way. A smaller send buffer (1 MB was
// tried) makes every large packet pass through it in pieces, the sender
// sleeping and waking once per piece the peer drains; on one machine that
// cost the link a quarter of its speed, and the uploads gained nothing.
constexpr int kSocketBufferBytes = int(CTCPClient::kBufferSize);
std::atomic<int> socketBufferBytes{kSocketBufferBytes};

bool parseIpv4(const QString& text, in_addr* out)
{
    if (text.isEmpty() || text.contains(QChar(0)))
        return false;
    const QByteArray latin = text.toLatin1();
    in_addr addr{};
    if (::inet_pton(AF_INET, latin.constData(), &addr) != 1)
        return false;
    if (out)
        *out = addr;
    return true;
}

// Writes every byte or reports why not. MSG_NOSIGNAL: a peer that reset the
// connection must not end the program with SIGPIPE. A peer that keeps the
// connection open but stops reading would block a plain send for ever: when
// no byte at all leaves for `stallMs`, the write ends with ETIMEDOUT.
// The packet is `head` then `body`, written as one stream of bytes (one
// sendmsg over both: the wire sees them as if they were one array) from
// `done` on, which counts what has been written. With `stallMs` 0 it
// returns EAGAIN as soon as the socket takes no more instead of waiting.
int writeAll(int fd, const QByteArray& head, const QByteArray& body, std::size_t& done, int stallMs)
{
    const std::size_t headLength = std::size_t(head.size());
    const std::size_t length = headLength + std::size_t(body.size());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
    while (done < length) {
        iovec parts[2];
        int count = 0;
        if (done < headLength)
            parts[count++] = {const_cast<char*>(head.constData()) + done, headLength - done};
        const std::size_t bodyDone = done > headLength ? done - headLength : 0;
        if (std::size_t(body.size()) > bodyDone)
            parts[count++] = {const_cast<char*>(body.constData()) + bodyDone, std::size_t(body.size()) - bodyDone};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = std::size_t(count);
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += std::size_t(n);
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (stallMs == 0)
                return EAGAIN;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return ETIMEDOUT;
            // A local close shuts the socket down, which wakes this poll.
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, int(left.count()) + 1) < 0 && errno != EINTR)
                return errno;
            continue;
        }
        return n < 0 ? (errno ? errno : EIO) : EPIPE;
    }
    return 0;
}

}  // namespace

struct CTCPClient::Impl {
    // The link whose worker is running on this thread (so that Close knows
    // it is called by its own sender or receiver).
    static thread_local Impl* currentWorker;

    std::atomic<platform::WindowHandle> owner{0};
    std::atomic<uint16_t> linkIndex{0};
    std::atomic<int> sendStallMs{CTCPClient::kDefaultSendStallMs};
    platform::SendGate gate;

    // Receive buffer and the two event records: each thread fills and
    // delivers only its own record, so the two never overlap.
    std::unique_ptr<uint8_t[]> receiveBuffer{new uint8_t[kBufferSize]};
    LinkEvent receiveEvent;
    LinkEvent sendEvent;

    mutable std::mutex mutex;
    std::condition_variable wake;  // sender: work or stop; receiver: stop
    int fd = -1;
    bool shutDown = false;  // shutdown() already called on fd
    bool running = false;   // the threads are to keep going
    bool connected = false;
    bool failed = false;    // one thread is reporting the loss; the other stays quiet
    QString peer;
    uint16_t port = 0;
    // One packet: its bytes, or a head and a body shared with whoever
    // handed it over; `owner` keeps the body's memory until it is written.
    struct Packet {
        QByteArray head;
        QByteArray body;
        std::shared_ptr<const void> owner;
        QString source;        // the file the body comes from, if any
        std::size_t done = 0;  // bytes already written
        std::size_t size() const { return std::size_t(head.size()) + std::size_t(body.size()); }
    };
    std::deque<Packet> queue;
    std::size_t queuedBytes = 0;
    bool writing = false;
    QByteArray spare;  // a written buffer kept for the next copied packet

    std::thread sender;
    std::thread receiver;

    platform::MessageWindow* ownerWindow() const { return platform::windowFromHandle(owner.load()); }

    // Hands one event to the owner and waits until it has been handled (or
    // the owner has closed the gate). May throw on resource exhaustion.
    void deliver(LinkEvent& event, uint16_t type, uint32_t length)
    {
        const uint16_t index = linkIndex.load();
        event.linkIndex = index;
        event.type = type;
        event.length = length;
        Impl* self = this;
        platform::sendMessageFromWorker(
            gate, [self] { return self->ownerWindow(); }, platform::WM_TCP_EVENT, platform::WPARAM(index),
            reinterpret_cast<platform::LPARAM>(&event));
    }

    void deliverQuietly(LinkEvent& event, uint16_t type, uint32_t length) noexcept
    {
        try {
            deliver(event, type, length);
        } catch (...) {
        }
    }

    // Stops the connection without waiting for anything: the threads see
    // running cleared, and shutdown wakes a blocked recv or send. The
    // descriptor itself is closed only after both threads have ended.
    void stopLocked()
    {
        running = false;
        connected = false;
        peer.clear();
        port = 0;
        if (fd >= 0 && !shutDown) {
            ::shutdown(fd, SHUT_RDWR);
            shutDown = true;
        }
        queue.clear();
        queuedBytes = 0;
        wake.notify_all();
    }

    // Queues one packet; the sender writes the queue in order.
    bool enqueue(Packet packet)
    {
        const std::size_t length = packet.size();
        std::unique_lock<std::mutex> lock(mutex);
        if (!running || queuedBytes + length > kMaxQueuedBytes)
            return false;
        if (queue.empty() && !writing && fd >= 0 && !shutDown) {
            // Nothing ahead of it: the caller writes what the socket takes
            // at once, without waiting (a packet that answers a reply then
            // leaves without waking the sender first). The sender writes the
            // rest, and meets and reports a failure the same way.
            writing = true;
            const int socket = fd;
            lock.unlock();
            const int err = writeAll(socket, packet.head, packet.body, packet.done, 0);
            lock.lock();
            writing = false;
            if (err == 0) {
                wake.notify_all();  // a packet queued meanwhile by another thread may go now
                lock.unlock();
                packet = Packet();  // the body's owner goes outside the lock
                return true;
            }
            if (!running)
                return false;
            // Its first bytes are on the wire: whatever another thread
            // queued meanwhile must follow the rest of it, not cut into it.
            queue.push_front(std::move(packet));
        } else {
            queue.push_back(std::move(packet));
        }
        queuedBytes += length;
        wake.notify_all();
        return true;
    }

    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopLocked();
    }

    // Claims the right to report the loss of the connection. False when the
    // link was closed already, or when the other thread reports it; the
    // receiver then waits until that report is done so that its closing
    // event stays last.
    bool claimFailure(std::unique_lock<std::mutex>& lock, bool waitForOther)
    {
        if (!running)
            return false;
        if (failed) {
            if (waitForOther)
                wake.wait(lock, [this] { return !running; });
            return false;
        }
        failed = true;
        return true;
    }

    bool claimFailure(bool waitForOther)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return claimFailure(lock, waitForOther);
    }

    // Waits for both threads and releases the descriptor. Owner side only,
    // never while one of the threads waits for the calling thread.
    void finishThreads()
    {
        if (receiver.joinable())
            receiver.join();
        if (sender.joinable())
            sender.join();
        std::lock_guard<std::mutex> lock(mutex);
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        shutDown = false;
        failed = false;
        writing = false;
    }

    void receiveLoop(int socket)
    {
        currentWorker = this;
        int lastError = 0;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!running)
                    break;
            }
            const ssize_t n = ::recv(socket, receiveBuffer.get(), kBufferSize, 0);
            if (n > 0) {
                try {
                    // Synchronous: nothing more is read until the owner is done.
                    deliver(receiveEvent, kLinkData, uint32_t(n));
                } catch (...) {
                    lastError = errno;
                    if (claimFailure(false)) {
                        receiveEvent.error = uint16_t(lastError);
                        deliverQuietly(receiveEvent, kLinkReceiveException, 0);
                        stop();
                    }
                }
                continue;
            }
            const int err = n < 0 ? errno : 0;
            if (n < 0 && (err == EINTR || err == EAGAIN || err == EWOULDBLOCK))
                continue;
            if (n < 0)
                lastError = err;
            // A close of our own (owner or sender) is not the player closing.
            if (!claimFailure(true))
                break;
            if (n == 0) {
                deliverQuietly(receiveEvent, kLinkPeerClosed, 0);
            } else {
                receiveEvent.error = uint16_t(err);
                deliverQuietly(receiveEvent, kLinkReceiveError, 0);
            }
            stop();
            break;
        }
        receiveEvent.error = uint16_t(lastError);
        deliverQuietly(receiveEvent, kLinkReceiverEnded, 0);
        currentWorker = nullptr;
    }

    void sendLoop(int socket)
    {
        currentWorker = this;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            try {
                // Not while a caller writes a packet directly: the bytes of two
                // packets must never mix on the wire.
                wake.wait(lock, [this] { return !running || (!queue.empty() && !writing); });
            } catch (...) {
                if (claimFailure(lock, false)) {
                    lock.unlock();
                    deliverQuietly(sendEvent, kLinkWaitFailed, 0);
                    stop();
                    lock.lock();
                }
                break;
            }
            if (!running)
                break;
            Packet packet = std::move(queue.front());
            queue.pop_front();
            queuedBytes -= packet.size();
            writing = true;
            lock.unlock();

            const int err = writeAll(socket, packet.head, packet.body, packet.done, sendStallMs.load());
            // Written (or given up): the body's memory may go now.
            packet.body = QByteArray();
            packet.owner.reset();

            lock.lock();
            writing = false;
            // Keep the buffer for the next copied packet when nobody else
            // holds it any more: no allocation per chunk in a long transfer.
            if (packet.head.isDetached() && packet.head.capacity() > spare.capacity())
                spare = std::move(packet.head);
            if (err != 0) {
                if (claimFailure(lock, false)) {
                    sendEvent.error = uint16_t(err);
                    // Only the body can be memory the system cannot read: a
                    // mapped file cut while it was written.
                    sendEvent.source = err == EFAULT ? packet.source : QString();
                    lock.unlock();
                    deliverQuietly(sendEvent, kLinkShortSend, 0);
                    stop();
                    lock.lock();
                }
                break;
            }
        }
        currentWorker = nullptr;
    }
};

thread_local CTCPClient::Impl* CTCPClient::Impl::currentWorker = nullptr;

CTCPClient::CTCPClient() : d(std::make_shared<Impl>())
{
    d->receiveEvent.data = d->receiveBuffer.get();
}

void CTCPClient::SetSocketBufferBytes(int bytes)
{
    socketBufferBytes.store(bytes > 0 ? bytes : kSocketBufferBytes);
}

CTCPClient::~CTCPClient()
{
    Close();
    // Destroyed from inside one of its own handlers: the threads cannot be
    // waited for here. They hold the shared state and finish by themselves
    // (the gate is closed, the socket shut down).
    if (d->receiver.joinable())
        d->receiver.detach();
    if (d->sender.joinable())
        d->sender.detach();
}

void CTCPClient::setOwner(platform::WindowHandle owner)
{
    d->owner.store(owner);
}

platform::WindowHandle CTCPClient::owner() const
{
    return d->owner.load();
}

bool CTCPClient::Connect(const QString& ipv4, uint16_t port)
{
    Close();
    if (d->receiver.joinable() || d->sender.joinable())
        return false;  // still inside one of this link's handlers

    in_addr address{};
    if (port == 0 || !parseIpv4(ipv4, &address))
        return false;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0)
        return false;

    // No SO_LINGER of zero: closing ends the connection in order (the player
    // sees its end, not a reset), and the system finishes it in the background.
    // The system may cap these (see kSocketBufferBytes).
    int bufferBytes = socketBufferBytes.load();
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    // Packets are written whole; a small request must not wait for the
    // acknowledgement of the previous one.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr = address;

    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!ok && (errno == EINPROGRESS || errno == EINTR)) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, int(left.count()));
            if (r < 0 && errno == EINTR)
                continue;
            if (r > 0) {
                int soError = 0;
                socklen_t len = sizeof soError;
                ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0;
            }
            break;
        }
    }
    const int flags = ok ? ::fcntl(fd, F_GETFL) : -1;
    if (!ok || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        ::close(fd);
        return false;
    }

    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->fd = fd;
        d->shutDown = false;
        d->running = true;
        d->connected = true;
        d->failed = false;
        d->peer = ipv4;
        d->port = port;
        d->queue.clear();
        d->queuedBytes = 0;
    }
    // The threads fill these records from copies made here; they never read
    // what the owner may change later.
    for (LinkEvent* event : {&d->receiveEvent, &d->sendEvent}) {
        event->source.clear();
        event->peerAddress = ipv4;
        event->port = port;
        event->linkIndex = d->linkIndex.load();
        event->type = 0;
        event->error = 0;
        event->length = 0;
    }
    d->receiveEvent.data = d->receiveBuffer.get();
    d->sendEvent.data = nullptr;
    d->gate.reopen();

    try {
        std::shared_ptr<Impl> self = d;
        // Nothing may escape a link thread: it would end the program.
        d->receiver = std::thread([self, fd] {
            try {
                self->receiveLoop(fd);
            } catch (...) {
                self->stop();
            }
        });
        d->sender = std::thread([self, fd] {
            try {
                self->sendLoop(fd);
            } catch (...) {
                self->stop();
            }
        });
        // Named, so that a look at the process (or a test) can tell link
        // threads from the others.
        pthread_setname_np(d->receiver.native_handle(), "link-recv");
        pthread_setname_np(d->sender.native_handle(), "link-send");
    } catch (const std::system_error&) {
        d->stop();
        d->gate.close();
        d->finishThreads();
        return false;
    }
    return true;
}

void CTCPClient::Close()
{
    if (Impl::currentWorker == d.get()) {
        d->stop();
        return;
    }
    d->stop();
    // Every event still waiting to be delivered is dropped, so that no
    // thread is left blocked on the owner while the owner waits for it.
    d->gate.close();
    if (platform::isUiThread() && d->gate.isDelivering())
        return;  // a thread of ours waits for this very call to return
    d->finishThreads();
}

bool CTCPClient::Send(const uint8_t* data, std::size_t length)
{
    if (!data || length == 0 || length > kBufferSize)
        return false;
    QByteArray buffer;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->running || d->queuedBytes + length > kMaxQueuedBytes)
            return false;
        buffer = std::move(d->spare);
        d->spare = QByteArray();
    }
    // A recycled buffer keeps its capacity: resizing it allocates nothing.
    if (buffer.capacity() >= qsizetype(length) && buffer.isDetached())
        buffer.resize(qsizetype(length));
    else
        buffer = QByteArray(qsizetype(length), Qt::Uninitialized);
    std::memcpy(buffer.data(), data, length);
    return d->enqueue({std::move(buffer), QByteArray(), nullptr, QString()});
}

bool CTCPClient::Send(const QByteArray& packet)
{
    return Send(packet, QByteArray(), nullptr);
}

bool CTCPClient::Send(const QByteArray& head, const QByteArray& body, std::shared_ptr<const void> owner,
                      const QString& source)
{
    const std::size_t length = std::size_t(head.size()) + std::size_t(body.size());
    if (length == 0 || length > kBufferSize)
        return false;
    return d->enqueue({head, body, std::move(owner), source});
}

QString UnreadableSource(const LinkEvent& event)
{
    return LinkLostToUnreadableFile(event.type, event.error) ? event.source : QString();
}

bool CTCPClient::IsConnected() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->connected;
}

bool CTCPClient::IsRunning() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->running;
}

QString CTCPClient::PeerAddress() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->peer;
}

uint16_t CTCPClient::Port() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->port;
}

uint16_t CTCPClient::LinkIndex() const
{
    return d->linkIndex.load();
}

void CTCPClient::SetLinkIndex(uint16_t index)
{
    d->linkIndex.store(index);
}

void CTCPClient::SetSendStallLimit(int milliseconds)
{
    d->sendStallMs.store(std::max(1, milliseconds));
}

std::size_t CTCPClient::QueuedPackets() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->queue.size() + (d->writing ? 1 : 0);
}

bool IsContiguousNetmask(const QString& mask)
{
    in_addr addr{};
    if (!parseIpv4(mask, &addr))
        return false;
    const uint32_t value = ntohl(addr.s_addr);
    const uint32_t inverse = ~value;
    return (inverse & (inverse + 1u)) == 0;
}

bool IsSameSubnet(const QString& address, const QString& mask, const QString& gateway)
{
    in_addr a{}, m{}, g{};
    if (!parseIpv4(address, &a) || !parseIpv4(mask, &m) || !parseIpv4(gateway, &g))
        return false;
    return (a.s_addr & m.s_addr) == (g.s_addr & m.s_addr);
}
