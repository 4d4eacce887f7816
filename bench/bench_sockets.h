#pragma once
// The plain sockets and files the transfer benchmarks measure against: a
// loopback listener, whole reads and writes, a big file of known bytes, and
// the plainest send of a file there is (read, then write, on one thread).

#include "transport/protocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace bench {

// A listener on `address` (loopback only) at a port the system picks; -1 on
// failure.
inline int listenOn(const char* address, uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    if (fd < 0 || ::inet_pton(AF_INET, address, &a.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

inline bool readFull(int fd, uint8_t* p, std::size_t n)
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

inline bool sendFull(int fd, const uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t r = ::send(fd, p, n, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        p += r;
        n -= std::size_t(r);
    }
    return true;
}

// Reads and drops up to `expected` bytes a chunk at a time, as a peer that keeps
// nothing; returns how many came before the other side closed.
inline uint64_t drainBytes(int fd, uint64_t expected)
{
    std::vector<char> buf(proto::kChunkSize);
    uint64_t got = 0;
    while (got < expected) {
        const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
        if (n <= 0)
            break;
        got += uint64_t(n);
    }
    return got;
}

// A connected loopback pair: `client` writes, `server` reads. False (and
// nothing left open) on failure.
inline bool connectedPair(int& client, int& server)
{
    uint16_t port = 0;
    const int listener = listenOn("127.0.0.1", port);
    if (listener < 0)
        return false;
    client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (client >= 0)
            ::close(client);
        ::close(listener);
        return false;
    }
    server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (server < 0) {
        ::close(client);
        return false;
    }
    return true;
}

// `bytes` of a repeating pattern, flushed to the disk before any round, so
// that write-back does not fall on whichever run comes first.
inline bool writePatternFile(const QString& path, qint64 bytes)
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
    return f.flush() && ::fsync(f.handle()) == 0;
}

// Reads the file and writes it to a loopback socket whose other end only
// reads: in 8,192,000-byte blocks, each read then written, or (`zeroCopy`)
// with sendfile, which moves the bytes from the page cache into the socket
// without passing them through the program at all. Nanoseconds, or -1.
inline qint64 plainFileSend(const QString& path, bool zeroCopy = false)
{
    int client = -1, server = -1;
    if (!connectedPair(client, server))
        return -1;
    std::thread reader([server] {
        std::vector<char> buf(proto::kChunkSize);
        while (::recv(server, buf.data(), buf.size(), 0) > 0) {
        }
    });
    QElapsedTimer t;
    t.start();
    QFile f(path);
    bool ok = f.open(QIODevice::ReadOnly);
    while (ok && zeroCopy) {
        const ssize_t w = ::sendfile(client, f.handle(), nullptr, proto::kChunkSize);
        if (w == 0)
            break;
        ok = w > 0;
    }
    std::vector<char> buf(zeroCopy ? 0 : proto::kChunkSize);
    while (ok && !zeroCopy) {
        const qint64 n = f.read(buf.data(), qint64(buf.size()));
        if (n <= 0)
            break;
        ok = sendFull(client, reinterpret_cast<const uint8_t*>(buf.data()), std::size_t(n));
    }
    const qint64 ns = t.nsecsElapsed();
    ::shutdown(client, SHUT_WR);
    reader.join();
    ::close(client);
    ::close(server);
    return ok ? ns : -1;
}

}  // namespace bench
