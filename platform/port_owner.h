#pragma once
// Which process holds a local UDP port, read from /proc: the socket inodes of
// the port from /proc/net/udp (and udp6), the process whose /proc/<pid>/fd
// links to one of them, and its name from /proc/<pid>/comm. Processes of
// other users cannot be looked into without privileges; the owner is then
// simply not found.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

struct PortOwner {
    qint64 pid = 0;
    QString name;  // the process name (comm); the pid as text when unreadable
};

// Socket inodes of the rows of a /proc/net/udp (or udp6) table whose local
// port is `port`. Lines that do not parse are skipped.
std::vector<quint64> udpInodesForPort(const QByteArray& table, uint16_t port);

// The process holding local UDP port `port`, or nothing when it cannot be found.
std::optional<PortOwner> findUdpPortOwner(uint16_t port, const QString& procRoot = QStringLiteral("/proc"));

}  // namespace platform
