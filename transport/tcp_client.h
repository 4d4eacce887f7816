#pragma once
// One TCP link to one player: a socket, a sender thread that writes the
// packets its owner hands over (in order, each whole), and a receiver thread
// that reports raw chunks. It knows nothing of the packet format; framing and
// dispatch belong to the owner.
//
// Events are delivered as WM_TCP_EVENT (wParam = link index, lParam = the
// address of a LinkEvent) to the owner window, on the UI thread, while the
// link thread waits; the event and its data are valid only during that call.

#include "platform/window.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

// Event types of a link.
enum LinkEventType : uint16_t {
    kLinkReceiveException = 1,  // receiver: failure while receiving or delivering
    kLinkShortSend = 2,         // sender: a packet could not be written whole (also: the peer stopped reading)
    kLinkWaitTimeout = 3,       // sender: the wait for work timed out (not raised: the wait is unbounded)
    kLinkWaitFailed = 4,        // sender: the wait for work failed
    kLinkData = 5,              // receiver: `length` bytes arrived in `data`
    kLinkReceiveError = 6,      // receiver: recv failed; `error` = errno
    kLinkPeerClosed = 7,        // receiver: the player closed the connection
    kLinkReceiverEnded = 8,     // receiver: the receive loop ended
};

struct LinkEvent {
    QString peerAddress;
    uint16_t port = 0;
    uint16_t linkIndex = 0;
    uint16_t type = 0;
    uint16_t error = 0;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
    // kLinkShortSend with error EFAULT: the file the packet's body was being
    // read from, which could not be read (it was cut while being written).
    QString source;
};

// The file whose bytes could not be read while the link wrote them, when
// that is why the link went; empty for every other loss. The link had to go
// (its packet was cut), but it is the file, not the player, that failed.
QString UnreadableSource(const LinkEvent& event);

class CTCPClient {
public:
    CTCPClient();
    virtual ~CTCPClient();  // closes the link first when the owner has not
    CTCPClient(const CTCPClient&) = delete;
    CTCPClient& operator=(const CTCPClient&) = delete;

    // The window that receives this link's events.
    void setOwner(platform::WindowHandle owner);
    platform::WindowHandle owner() const;

    // Connects within about one second. A link that still holds a connection
    // is closed first. False when the address is not IPv4 text, the port is
    // 0, or nobody accepts in time; the link is then idle and no thread runs.
    // Also false when called from inside an event handler of this very link:
    // its old threads cannot be finished while they wait for that handler.
    bool Connect(const QString& ipv4, uint16_t port);
    // Safe from the owner, from inside an event handler of this link, and
    // twice in a row. A local close is never reported as the player closing,
    // and once the owner has closed the link no further event of that
    // connection reaches it. Called from inside one of this link's own
    // handlers, the threads are finished later (next Connect, Close or the
    // destructor) instead of being waited for.
    void Close();

    // Hands one packet to the sender. Packets are queued and written whole,
    // in order; with nothing queued, the calling thread first writes what
    // the socket takes at once without waiting, and the sender the rest. False when the link is not running or the packet is empty
    // or larger than the send buffer (10,485,760 bytes), or when the queue
    // already holds kMaxQueuedBytes. The QByteArray form shares the bytes
    // instead of copying them (the caller may go on using its array).
    bool Send(const uint8_t* data, std::size_t length);
    bool Send(const QByteArray& packet);
    // One packet in two parts, written as if they were one array: `body`
    // may refer to memory that `owner` keeps (a mapped file chunk), held
    // until the packet has been written or dropped. The same limits apply
    // to the two parts together. `source` names the file the body comes
    // from, for the event that reports a body that could not be read.
    bool Send(const QByteArray& head, const QByteArray& body, std::shared_ptr<const void> owner,
              const QString& source = QString());

    // A write during which no byte leaves for this long ends the connection
    // with kLinkShortSend (error ETIMEDOUT): the player keeps the connection
    // open but reads no more.
    static constexpr int kDefaultSendStallMs = 10000;
    void SetSendStallLimit(int milliseconds);

    static constexpr std::size_t kBufferSize = 10485760;
    static constexpr std::size_t kMaxQueuedBytes = 16 * kBufferSize;

    // The socket buffers every link asks the system for, each way, from its
    // next Connect on (0 or less: kBufferSize). Only tests lower it: a small
    // buffer keeps a large packet being written for as long as its peer
    // holds back, which a buffer that takes the whole packet at once never does.
    static void SetSocketBufferBytes(int bytes);

    bool IsConnected() const;
    bool IsRunning() const;
    QString PeerAddress() const;
    uint16_t Port() const;
    uint16_t LinkIndex() const;
    void SetLinkIndex(uint16_t index);
    // Packets handed over and not yet written whole.
    std::size_t QueuedPackets() const;

private:
    struct Impl;
    // Shared with the link's threads, so that a link destroyed from inside
    // its own event handler stays valid until its threads have finished.
    std::shared_ptr<Impl> d;
};

// True when `mask` is dotted IPv4 text whose one-bits are contiguous from the
// top (0.0.0.0 and 255.255.255.255 count).
bool IsContiguousNetmask(const QString& mask);
// True when all three are IPv4 texts and address AND mask == gateway AND mask.
bool IsSameSubnet(const QString& address, const QString& mask, const QString& gateway);
