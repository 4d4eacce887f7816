#include "platform/adapters.h"

#include <QFileInfo>
#include <QStringList>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

namespace {

uint32_t hostAddress(const sockaddr* sa)
{
    if (!sa || sa->sa_family != AF_INET)
        return 0;
    return ntohl(reinterpret_cast<const sockaddr_in*>(sa)->sin_addr.s_addr);
}

bool hasIPv4(const sockaddr* sa)
{
    return sa && sa->sa_family == AF_INET;
}

}  // namespace

QString dottedText(uint32_t a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xFF).arg((a >> 8) & 0xFF).arg(a & 0xFF);
}

bool parseDotted(const QString& text, uint32_t& addressHost)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint32_t value = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        const unsigned n = part.toUInt();
        if (n > 255)
            return false;
        value = (value << 8) | n;
    }
    addressHost = value;
    return true;
}

bool interfaceAddresses(std::vector<InterfaceAddress>& out)
{
    out.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!hasIPv4(it->ifa_addr) || !it->ifa_name)
            continue;
        InterfaceAddress entry;
        entry.interfaceName = QString::fromLocal8Bit(it->ifa_name);
        entry.index = if_nametoindex(it->ifa_name);
        entry.addressHost = hostAddress(it->ifa_addr);
        entry.address = dottedText(entry.addressHost);
        if (hasIPv4(it->ifa_netmask))
            entry.netmask = dottedText(hostAddress(it->ifa_netmask));
        if ((it->ifa_flags & IFF_BROADCAST) && hasIPv4(it->ifa_broadaddr))
            entry.broadcast = dottedText(hostAddress(it->ifa_broadaddr));
        entry.up = (it->ifa_flags & IFF_UP) != 0;
        entry.loopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(entry);
    }
    freeifaddrs(list);
    return true;
}

bool isPhysicalInterface(const QString& name, const QString& sysClassNet)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return QFileInfo::exists(sysClassNet + QLatin1Char('/') + name + QStringLiteral("/device"));
}

bool isWirelessInterface(const QString& name, const QString& sysClassNet)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return QFileInfo::exists(sysClassNet + QLatin1Char('/') + name + QStringLiteral("/wireless")) ||
           QFileInfo::exists(sysClassNet + QLatin1Char('/') + name + QStringLiteral("/phy80211"));
}

unsigned interfaceIndexOf(uint32_t addressHost)
{
    std::vector<InterfaceAddress> all;
    if (!interfaceAddresses(all))
        return 0;
    for (const auto& entry : all)
        if (entry.addressHost == addressHost)
            return entry.index;
    return 0;
}

}  // namespace platform
