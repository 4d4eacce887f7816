#pragma once
// The host's network interfaces and their IPv4 addresses, and which of them
// are physical adapters (a PCI, USB, ... device behind the interface rather
// than a bridge, tunnel, container link or loopback).

#include <QString>

#include <cstdint>
#include <vector>

namespace platform {

struct InterfaceAddress {
    QString interfaceName;  // "eth0", "lo", ...
    unsigned index = 0;     // interface index (0 when unknown)
    QString address;        // dotted IPv4
    QString netmask;        // dotted IPv4; empty when none
    QString broadcast;      // dotted IPv4; empty when none
    uint32_t addressHost = 0;  // the address as a number, first dotted number high
    bool up = false;
    bool loopback = false;
};

// Every IPv4 address of every interface (getifaddrs), in the system's order.
// False (and `out` empty) when the list cannot be read.
bool interfaceAddresses(std::vector<InterfaceAddress>& out);

// True when /sys/class/net/<name>/device exists, that is when a bus device
// stands behind the interface. `sysClassNet` lets tests use a tree of their own.
bool isPhysicalInterface(const QString& name, const QString& sysClassNet = QStringLiteral("/sys/class/net"));
// True when the interface is a wireless one (/sys/class/net/<name>/wireless).
bool isWirelessInterface(const QString& name, const QString& sysClassNet = QStringLiteral("/sys/class/net"));

// The index of the interface that holds the IPv4 address `addressHost` (first
// dotted number high); 0 when no interface has it.
unsigned interfaceIndexOf(uint32_t addressHost);

// "%d.%d.%d.%d" of a host-order address, and back (false for anything that
// is not four dotted numbers 0-255).
QString dottedText(uint32_t addressHost);
bool parseDotted(const QString& text, uint32_t& addressHost);

}  // namespace platform
