#pragma once
// The cascade role of a player (independent, master, slave) and its list of
// slave addresses: the checks made before a set, and the query and set
// packets. Plain data, tested without the dialog.

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace calib {

inline constexpr int kCascadeAddresses = 20;
using Ipv4 = std::array<uint8_t, 4>;

enum class CascadeMode : uint8_t { Independent = 0, Master = 1, Slave = 2 };

struct CascadeCheck {
    enum Outcome { Ok, BadAddress, NoAddress };
    Outcome outcome = Ok;
    int position = 0;  // BadAddress: 1..5, the control's place in its row of five
    std::vector<Ipv4> addresses;  // Ok: what the set packet carries
};

// Master mode: controls whose first octet is 0 are empty; a filled one with
// 255 in its second, third or fourth octet is refused; at least one must be
// filled. Other modes carry no addresses and are not checked.
CascadeCheck CheckCascade(CascadeMode mode, const std::array<Ipv4, kCascadeAddresses>& controls);

// The message for a refused check, in the language (4 Chinese, else English).
QString CascadeCheckMessage(const CascadeCheck& check, unsigned language);

// CMD_CASCADE_QUERY (36), no payload.
QByteArray BuildCascadeQuery();
// CMD_CASCADE_SET (35): the mode as sub-code, the count at 8, the addresses.
QByteArray BuildCascadeSet(CascadeMode mode, const std::vector<Ipv4>& addresses);

}  // namespace calib
