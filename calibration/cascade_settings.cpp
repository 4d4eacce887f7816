#include "calibration/cascade_settings.h"

#include "transport/protocol.h"

namespace calib {

CascadeCheck CheckCascade(CascadeMode mode, const std::array<Ipv4, kCascadeAddresses>& controls)
{
    CascadeCheck check;
    if (mode != CascadeMode::Master)
        return check;
    for (int i = 0; i < kCascadeAddresses; ++i) {
        const Ipv4& a = controls[std::size_t(i)];
        if (a[0] == 0)
            continue;
        if (a[1] == 255 || a[2] == 255 || a[3] == 255) {
            check.outcome = CascadeCheck::BadAddress;
            check.position = i % 5 + 1;
            check.addresses.clear();
            return check;
        }
        check.addresses.push_back(a);
    }
    if (check.addresses.empty())
        check.outcome = CascadeCheck::NoAddress;
    return check;
}

QString CascadeCheckMessage(const CascadeCheck& check, unsigned language)
{
    switch (check.outcome) {
    case CascadeCheck::BadAddress:
        return language == 4
                   ? QStringLiteral("IP地址%1输入错误，请重新输入！").arg(check.position)
                   : QStringLiteral("IP address %1 input error, please re - enter!").arg(check.position);
    case CascadeCheck::NoAddress:
        return language == 4 ? QStringLiteral("必须有一个完整的IP地址，请重新输入！")
                             : QStringLiteral("There must be a complete IP address, please reenter it!");
    case CascadeCheck::Ok:
        break;
    }
    return QString();
}

QByteArray BuildCascadeQuery()
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_CASCADE_QUERY;
    return proto::buildPacket(h);
}

QByteArray BuildCascadeSet(CascadeMode mode, const std::vector<Ipv4>& addresses)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_CASCADE_SET;
    h.subCode = uint8_t(mode);
    h.param = uint16_t(addresses.size());
    QByteArray payload;
    for (const Ipv4& a : addresses)
        payload.append(reinterpret_cast<const char*>(a.data()), 4);
    return proto::buildPacket(h, payload);
}

}  // namespace calib
