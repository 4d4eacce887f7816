#pragma once
// One UDP endpoint: a socket bound to a local port on every local address,
// a sender thread that sends the datagrams its owner hands over (in order,
// each to its own address and port), and a receiver thread that reports
// every datagram received.
//
// Events are delivered as WM_UDP_EVENT (wParam = 0, lParam = the address of a
// UdpLinkEvent) to the owner window, on the UI thread, while the endpoint's
// thread waits; the event and its data are valid only during that call.
//
// The socket is bound to the wildcard address because Linux hands broadcasts
// only to sockets bound that way; the local address given to Open names the
// adapter the owner works on: outgoing datagrams leave with it as their
// source, and each event says on which local address it arrived, so that the
// owner can ignore other adapters.

#include "platform/window.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

enum UdpEventType : uint16_t {
    kUdpException = 1,      // receiver: failure while receiving
    kUdpShortSend = 2,      // sender: a datagram could not be sent whole; address/port = its destination
    kUdpWaitTimeout = 3,    // sender: the wait for work timed out (not raised: the wait is unbounded)
    kUdpWaitFailed = 4,     // sender: the wait for work failed (not raised)
    kUdpDatagram = 5,       // receiver: `length` bytes arrived in `data`
    kUdpReceiveError = 6,   // receiver: recvfrom failed; `error` = errno
    kUdpEmptyDatagram = 7,  // receiver: a datagram of zero bytes arrived
};

struct UdpLinkEvent {
    // Sender of the datagram, first byte = first dotted number; for type 2 the
    // destination of the datagram that failed.
    std::array<uint8_t, 4> sourceAddress{};
    uint16_t sourcePort = 0;  // host order; 0 for types 1 and 6
    uint16_t type = 0;
    uint16_t error = 0;   // errno for types 1, 2 and 6
    uint32_t length = 0;  // bytes in `data` for type 5; 0 otherwise
    // The receive buffer. Every byte after `length` is zero (at least up to
    // kUdpReceiveBufferSize), so a short datagram can be read into a larger
    // record without picking up bytes of an earlier one.
    const uint8_t* data = nullptr;
    // The local address the datagram was addressed to or arrived on (first
    // byte = first dotted number), and that interface's index; zero when unknown.
    std::array<uint8_t, 4> localAddress{};
    int interfaceIndex = 0;

    QString sourceText() const;  // "%d.%d.%d.%d" of sourceAddress
    QString localText() const;   // "%d.%d.%d.%d" of localAddress
};

inline constexpr std::size_t kUdpReceiveBufferSize = 65536;  // larger than any IPv4 datagram
inline constexpr std::size_t kUdpMaxDatagram = 65507;
inline constexpr std::size_t kUdpMaxQueued = 1024;

class CUDPServer {
public:
    CUDPServer();
    virtual ~CUDPServer();  // closes the endpoint first when the owner has not
    CUDPServer(const CUDPServer&) = delete;
    CUDPServer& operator=(const CUDPServer&) = delete;

    // The window that receives the events (by handle, or by caption when the
    // handle is 0).
    void setOwner(platform::WindowHandle owner);
    platform::WindowHandle owner() const;
    void setOwnerTitle(const QString& title);
    QString ownerTitle() const;

    // Opens the endpoint on `port` (0 = any free port) for the adapter with
    // the dotted IPv4 address `localIPv4` (empty or "0.0.0.0" = no adapter in
    // particular). An endpoint that is open is closed first. When the port is
    // taken, a message box names the process holding it (where it can be
    // found) and Open fails; it never falls back to another port. False also
    // when the address is no IPv4 text or the socket cannot be made; then
    // LastError() says why and no thread runs.
    bool Open(const QString& localIPv4, uint16_t port);
    // Stops both threads and closes the socket. Safe from the owner, from
    // inside an event handler of this endpoint (the threads are then joined
    // later, but never touch the socket again), and twice in a row. No event
    // reaches the owner after Close has returned.
    void Close();

    // Hands one datagram to the sender; datagrams are queued and sent in
    // order. False when the endpoint is not open, the address is no IPv4
    // text, or the datagram is empty, longer than kUdpMaxDatagram bytes, or
    // the queue already holds kUdpMaxQueued datagrams.
    bool SendTo(const QString& ipv4, uint16_t port, const QByteArray& datagram);
    // The same with the address as four bytes in network order (first byte =
    // first dotted number); 0xFFFFFFFF is the limited broadcast.
    bool SendTo(uint32_t addressNetworkOrder, uint16_t port, const uint8_t* data, std::size_t length);

    bool IsOpen() const;       // open and the receiver still running
    bool IsRunning() const;    // threads asked to keep going
    uint16_t LocalPort() const;  // bound port; 0 when closed
    QString LocalAddress() const;  // the adapter address given to Open
    QString LastError() const;     // why the last Open failed; empty after a success
    std::size_t QueuedDatagrams() const;

    struct Session;

private:
    std::shared_ptr<Session> session_;
    platform::WindowHandle owner_ = 0;
    QString ownerTitle_;
    QString localAddress_;
    QString lastError_;
};

// The host's IPv4 addresses as "%d.%d.%d.%d": those of interfaces that are up,
// loopback addresses last. False (and `out` unchanged) when they cannot be read.
bool GetLocalIPv4List(QStringList& out);

struct NetworkAdapter {
    QString name;          // the interface name ("eth0", "enp3s0", ...)
    QString address;       // dotted IPv4
    int mediaSubType = 0;  // 2 for a wireless adapter, else 0 (unknown)
};

// The physical adapters (a device behind /sys/class/net/<if>/device) with
// their IPv4 addresses; an adapter with two addresses is listed twice;
// 0.0.0.0 and loopback addresses never appear. `out` is emptied first.
void GetNetworkAdapters(std::vector<NetworkAdapter>& out);

namespace udp_testing {
// Makes the next `count` receive attempts of every endpoint fail with
// `error` as if the socket had reported it (tests of the error path only).
void injectReceiveErrors(int error, int count);
}  // namespace udp_testing
