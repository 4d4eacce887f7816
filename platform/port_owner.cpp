#include "platform/port_owner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <set>

#include <unistd.h>

namespace platform {

std::vector<quint64> udpInodesForPort(const QByteArray& table, uint16_t port)
{
    // Columns: sl local_address rem_address st tx_queue:rx_queue tr:tm->when
    // retrnsmt uid timeout inode ...; local_address is "HEXADDR:HEXPORT".
    std::vector<quint64> inodes;
    const QList<QByteArray> lines = table.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cols = lines[i].simplified().split(' ');
        if (cols.size() < 10)
            continue;
        const QByteArray& local = cols[1];
        const int colon = local.lastIndexOf(':');
        if (colon < 0)
            continue;
        bool okPort = false;
        const uint portValue = local.mid(colon + 1).toUInt(&okPort, 16);
        if (!okPort || portValue != port)
            continue;
        bool okInode = false;
        const quint64 inode = cols[9].toULongLong(&okInode, 10);
        if (okInode && inode != 0)
            inodes.push_back(inode);
    }
    return inodes;
}

std::optional<PortOwner> findUdpPortOwner(uint16_t port, const QString& procRoot)
{
    std::set<quint64> inodes;
    for (const char* table : {"/net/udp", "/net/udp6"}) {
        QFile file(procRoot + QLatin1String(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // /proc files report size 0: read until the end.
        const QByteArray text = file.readAll();
        for (quint64 inode : udpInodesForPort(text, port))
            inodes.insert(inode);
    }
    if (inodes.empty())
        return std::nullopt;

    const QDir proc(procRoot);
    const QStringList pids = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pidText : pids) {
        bool isPid = false;
        const qint64 pid = pidText.toLongLong(&isPid);
        if (!isPid || pid <= 0)
            continue;
        const QDir fds(procRoot + QLatin1Char('/') + pidText + QStringLiteral("/fd"));
        // Unreadable for processes of other users: skipped.
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : entries) {
            char buffer[256];
            const QByteArray path = QFile::encodeName(fds.filePath(fd));
            const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer - 1);
            if (n <= 0)
                continue;
            const QString link = QString::fromLatin1(buffer, int(n));
            if (!link.startsWith(QLatin1String("socket:[")) || !link.endsWith(QLatin1Char(']')))
                continue;
            bool ok = false;
            const quint64 inode = link.mid(8, link.size() - 9).toULongLong(&ok);
            if (!ok || !inodes.count(inode))
                continue;
            PortOwner owner;
            owner.pid = pid;
            QFile comm(procRoot + QLatin1Char('/') + pidText + QStringLiteral("/comm"));
            if (comm.open(QIODevice::ReadOnly))
                owner.name = QString::fromLocal8Bit(comm.readAll().trimmed());
            if (owner.name.isEmpty())
                owner.name = pidText;
            return owner;
        }
    }
    return std::nullopt;
}

}  // namespace platform
