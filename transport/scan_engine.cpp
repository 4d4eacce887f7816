#include "transport/scan_engine.h"

#include "platform/adapters.h"
#include "platform/home.h"
#include "transport/udp_server.h"

#include <QTimer>

#include <algorithm>

namespace scan {

namespace {

uint32_t HostOrder(const std::array<uint8_t, 4>& o)
{
    return (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | uint32_t(o[3]);
}

uint32_t ClassDefaultNetmask(uint32_t addressHost)
{
    const uint32_t first = addressHost >> 24;
    if (first >= 1 && first <= 127)
        return 0xFF000000u;
    if (first >= 128 && first <= 191)
        return 0xFFFF0000u;
    return 0xFFFFFF00u;
}

CardEntry MakeCard(const QString& name, const QString& address)
{
    CardEntry card;
    card.label = CardLabel(name, address);
    card.address = address;
    if (auto octets = ParseIPv4(address)) {
        card.octets = *octets;
        const uint32_t host = HostOrder(*octets);
        card.broadcast = DirectedBroadcast(host, NetmaskOfAddress(host));
    }
    return card;
}

struct ChannelName {
    uint16_t code;
    const char* english;
    const char* chinese;
};

constexpr ChannelName kChannels[] = {
    {1, "No Input One Output", "无输入一输出"},
    {2, "No Input Two Output", "无输入二输出"},
    {3, "No Input Three Output", "无输入三输出"},
    {4, "No Input Four Output", "无输入四输出"},
    {5, "No Input Five Output", "无输入五输出"},
    {6, "No Input Six Output", "无输入六输出"},
    {7, "No Input Seven Output", "无输入七输出"},
    {8, "No Input Eight Output", "无输入八输出"},
    {9, "No Input Nine Output", "无输入九输出"},
    {11, "One Input One Output", "一输入一输出"},
    {21, "One Input Two Output", "一输入二输出"},
    {31, "One Input Three Output", "一输入三输出"},
    {41, "One Input Four Output", "一输入四输出"},
    {51, "One Input Five Output", "一输入五输出"},
    {61, "One Input Six Output", "一输入六输出"},
    {71, "One Input Seven Output", "一输入七输出"},
    {81, "One Input Eight Output", "一输入八输出"},
    {91, "One Input Nine Output", "一输入九输出"},
};

}  // namespace

QString CardLabel(const QString& name, const QString& address)
{
    return name + QLatin1Char('(') + address + QLatin1Char(')');
}

bool AnswerIsForCard(const std::array<uint8_t, 4>& localAddress, const CardEntry& card)
{
    const auto hostOrder = [](const std::array<uint8_t, 4>& o) {
        return (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | uint32_t(o[3]);
    };
    const uint32_t local = hostOrder(localAddress);
    return local == 0 || local == hostOrder(card.octets) || local == card.broadcast || local == 0xFFFFFFFFu;
}

std::array<QString, kListColumnCount> ListRowTexts(const PlayerRow& row, int index)
{
    return {QString::number(index + 1), row.ip, row.mac, row.portText, row.id, row.versionText};
}

QByteArray BuildDiscoveryRequest(bool unicast)
{
    DiscoveryRequest request;
    request.unicast = unicast;
    return request.toBytes(proto::kDiscoveryRequestSize);
}

QString ChannelPart(uint16_t channelCode, unsigned language)
{
    for (const auto& c : kChannels) {
        if (c.code == channelCode)
            return platform::pickText(language, c.english, c.chinese);
    }
    return QString();
}

QString ProductPrefix(uint16_t version, unsigned language)
{
    switch (version & 0x0F) {
    case 0:
        return platform::pickText(language, "Vuvo", "融合");
    case 1:
        return platform::pickText(language, "Rotate", "拼接");
    case 2:
        return QStringLiteral("QVE");
    default:
        return QString();
    }
}

QString DescribePlayer(uint16_t version, uint16_t fpgaVersion, uint16_t channelCode, unsigned language)
{
    const QString prefix = ProductPrefix(version, language);
    const QString part = ChannelPart(channelCode, language);
    if (part.isEmpty())
        return prefix + platform::pickText(language, "Unknown Player", "未知播放器");
    const int major = (version >> 12) & 0x0F;
    const int minor = (version >> 8) & 0x0F;
    const int patch = (version >> 4) & 0x0F;
    const bool chinese = language == platform::kLanguageChinese;
    QString text;
    if (fpgaVersion != 0) {
        text = chinese ? QStringLiteral("播放器版本号:%1.%2.%3 FPGA版本号:%4.0 通道:(")
                       : QStringLiteral("Player ver:%1.%2.%3 FPGA ver:%4.0 Channel:(");
        text = text.arg(major).arg(minor).arg(patch).arg(int(fpgaVersion));
    } else {
        text = chinese ? QStringLiteral("播放器版本号:%1.%2.%3 通道:(") : QStringLiteral("Player ver:%1.%2.%3 Channel:(");
        text = text.arg(major).arg(minor).arg(patch);
    }
    return prefix + text + part + QLatin1Char(')');
}

PlayerRow RowFromAnnouncement(const PlayerAnnouncement& a, unsigned language)
{
    PlayerRow row;
    row.ip = a.ipText();
    row.mac = a.macText(true);
    row.portText = QString::number(a.tcpPort);
    row.id = a.idText();
    row.versionText = DescribePlayer(a.version, a.fpgaVersion, a.channelCode, language);
    row.version = a.version;
    row.fpgaVersion = a.fpgaVersion;
    row.channelCode = a.channelCode;
    return row;
}

MergeResult MergeAnnouncement(std::vector<PlayerRow>& rows, std::vector<DeviceRecord>& records,
                              const PlayerAnnouncement& announcement, unsigned language)
{
    const PlayerRow row = RowFromAnnouncement(announcement, language);
    const DeviceRecord record = DeviceRecord::fromAnnouncement(announcement);

    // One record per player: a player that answers again (perhaps from a new
    // address) updates what is known of it.
    auto known = std::find_if(records.begin(), records.end(), [&](const DeviceRecord& r) { return r.mac == record.mac; });
    if (known != records.end())
        *known = record;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].mac == row.mac) {
            rows[i] = row;
            return {int(i), false};
        }
    }
    rows.push_back(row);
    if (known == records.end())
        records.push_back(record);
    return {int(rows.size()) - 1, true};
}

QString MacWithoutColons(const QString& mac)
{
    QString out = mac;
    out.remove(QLatin1Char(':'));
    return out;
}

std::optional<std::array<uint8_t, 4>> ParseIPv4(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<uint8_t, 4> octets{};
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3)
            return std::nullopt;
        for (QChar ch : p) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return std::nullopt;
        }
        const int value = p.toInt();
        if (value > 255)
            return std::nullopt;
        octets[i] = uint8_t(value);
    }
    return octets;
}

bool SameClassNetwork(const QString& reference, const QString& other)
{
    const auto a = ParseIPv4(reference);
    const auto b = ParseIPv4(other);
    if (!a || !b)
        return false;
    const int first = (*a)[0];
    int count = 0;
    if (first >= 1 && first <= 127)
        count = 1;
    else if (first >= 128 && first <= 191)
        count = 2;
    else if (first >= 192 && first <= 223)
        count = 3;
    else
        return false;
    return std::equal(a->begin(), a->begin() + count, b->begin());
}

int MatchingCard(const QStringList& cardAddresses, const QString& player)
{
    for (int i = 0; i < cardAddresses.size(); ++i) {
        if (SameClassNetwork(player, cardAddresses[i]))
            return i;
    }
    return -1;
}

void SortRowsByIpText(std::vector<PlayerRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const PlayerRow& a, const PlayerRow& b) { return a.ip < b.ip; });
}

void SortRecordsByIpText(std::vector<DeviceRecord>& records)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const DeviceRecord& a, const DeviceRecord& b) { return a.ip < b.ip; });
}

RoundStep StepAtTick(RoundRule rule, int counter)
{
    RoundStep step;
    if (rule == RoundRule::Endless) {
        step.emptyList = true;
        step.broadcast = true;
        return step;
    }
    if (counter >= kAutoRounds) {
        step.stop = true;
        return step;
    }
    step.emptyList = rule == RoundRule::FiveFreshRounds;
    step.broadcast = true;
    step.countdown = kAutoRounds - std::max(counter, 0);
    return step;
}

bool StopClosesEndpoint(RoundRule rule)
{
    return rule == RoundRule::FiveFreshRounds;
}

QString IdCopyText(const std::vector<PlayerRow>& rows, const std::vector<int>& selectedRows)
{
    if (!selectedRows.empty()) {
        const int first = selectedRows.front();
        return first >= 0 && first < int(rows.size()) ? rows[std::size_t(first)].id : QString();
    }
    QString text;
    for (const auto& row : rows)
        text += row.id + QStringLiteral("\r\n");
    return text;
}

uint32_t DirectedBroadcast(uint32_t addressHost, uint32_t netmaskHost)
{
    if ((addressHost >> 24) == 127)
        return 0x7FFFFFFFu;
    return addressHost | ~netmaskHost;
}

uint32_t NetmaskOfAddress(uint32_t addressHost)
{
    uint32_t mask = 0;
    std::vector<platform::InterfaceAddress> addresses;
    if (platform::interfaceAddresses(addresses)) {
        for (const auto& entry : addresses) {
            uint32_t parsed = 0;
            if (entry.addressHost == addressHost && platform::parseDotted(entry.netmask, parsed)) {
                mask = parsed;
                break;
            }
        }
    }
    // A host route (/32) or an address no interface holds: the class default
    // is the segment the players of that card are looked for in.
    if (mask == 0 || mask == 0xFFFFFFFFu)
        mask = ClassDefaultNetmask(addressHost);
    return mask;
}

std::vector<CardEntry> ListCards()
{
    std::vector<CardEntry> cards;
    if (qEnvironmentVariable("VELUNA_SCAN_LOOPBACK") == QLatin1String("1"))
        cards.push_back(MakeCard(QStringLiteral("lo"), QStringLiteral("127.0.0.1")));
    // Interfaces that are not network cards (a veth pair into a test
    // namespace, a bridge) but that the operator wants to scan on.
    const QStringList extra = qEnvironmentVariable("VELUNA_SCAN_INTERFACES").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!extra.isEmpty()) {
        std::vector<platform::InterfaceAddress> all;
        platform::interfaceAddresses(all);
        for (const QString& name : extra)
            for (const auto& entry : all)
                if (entry.interfaceName == name.trimmed() && entry.addressHost != 0)
                    cards.push_back(MakeCard(entry.interfaceName, entry.address));
    }

    std::vector<NetworkAdapter> adapters;
    GetNetworkAdapters(adapters);
    if (!adapters.empty()) {
        for (const auto& adapter : adapters)
            cards.push_back(MakeCard(adapter.name, adapter.address));
    } else {
        QStringList addresses;
        GetLocalIPv4List(addresses);
        for (const auto& address : addresses) {
            // Without an adapter list the address stands alone.
            CardEntry card = MakeCard(QString(), address);
            card.label = address;
            cards.push_back(card);
        }
    }
    return cards;
}

DiscoverySender::DiscoverySender(CUDPServer& endpoint) : endpoint_(endpoint), timer_(std::make_unique<QTimer>())
{
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kPortGapMs);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Pump(); });
}

DiscoverySender::~DiscoverySender() = default;

void DiscoverySender::Send(uint32_t destinationHost, bool unicast)
{
    if (!endpoint_.IsOpen())
        return;
    const QByteArray request = BuildDiscoveryRequest(unicast);
    queue_.push_back({destinationHost, kPlayerPort, request});
    queue_.push_back({destinationHost, kPlayerAltPort, request});
    if (!timer_->isActive())
        Pump();
}

void DiscoverySender::Clear()
{
    timer_->stop();
    queue_.clear();
}

void DiscoverySender::Pump()
{
    if (queue_.empty())
        return;
    const Outgoing next = queue_.front();
    queue_.pop_front();
    if (endpoint_.IsOpen())
        endpoint_.SendTo(platform::dottedText(next.destinationHost), next.port, next.datagram);
    if (!queue_.empty())
        timer_->start();
}

}  // namespace scan
