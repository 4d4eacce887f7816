#pragma once
// Plain records that carry packets between dialogs, the document and the
// links, and the record that rebuilds one reply from raw chunks.

#include "transport/protocol.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

struct SendTarget {
    QString ip;     // dotted IPv4 text
    QString spare;  // left empty
    uint16_t port = 0;
    uint16_t slot = 0;
};

// One outgoing packet handed to the main window with WM_SEND_TO_PLAYER.
// The receiver of that message owns (and deletes) the request.
struct SendRequest {
    std::vector<SendTarget> targets;  // empty: the document's current player
    QByteArray data;                  // header at 0, payload from 16; at most proto::kBufferSize bytes

    uint32_t length() const { return uint32_t(data.size()); }
    // Ignores an empty IP and a port below 1025.
    void AddTarget(const QString& ip, uint16_t port);
    // Header (payloadLength set from the payload) followed by the payload.
    // False, leaving the request empty, when the packet would not fit.
    bool SetPacket(const proto::PlayerPacketHeader& header, const QByteArray& payload = QByteArray());
};

// Finds the main window by the application title and hands it the request
// (WM_SEND_TO_PLAYER, synchronous). The request is always consumed: freed
// here when no window has that title. True when a window took it.
bool SendToMainWindow(SendRequest* request);
