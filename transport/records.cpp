#include "transport/records.h"

#include "platform/app_identity.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------- SendRequest

void SendRequest::AddTarget(const QString& ip, uint16_t port, uint16_t tag)
{
    if (ip.isEmpty() || port < 1025) {
        ++refusedTargets;
        return;
    }
    SendTarget target;
    target.ip = ip;
    target.port = port;
    target.slot = tag;
    targets.push_back(target);
}

bool SendRequest::SetPacket(const proto::PlayerPacketHeader& header, const QByteArray& payload)
{
    body = QByteArray();
    bodyOwner.reset();
    bodySource.clear();
    if (std::size_t(payload.size()) > proto::kMaxPayload) {
        data.clear();
        return false;
    }
    data = proto::buildPacket(header, payload);
    return true;
}

bool SendRequest::SetPacketWithBody(const proto::PlayerPacketHeader& header, const QByteArray& payload,
                                    std::shared_ptr<const void> owner, const QString& source)
{
    body = QByteArray();
    bodyOwner.reset();
    bodySource.clear();
    if (std::size_t(payload.size()) > proto::kMaxPayload) {
        data.clear();
        return false;
    }
    proto::PlayerPacketHeader h = header;
    h.payloadLength = uint32_t(payload.size());
    data = QByteArray(qsizetype(proto::kHeaderSize), Qt::Uninitialized);
    h.pack(reinterpret_cast<uint8_t*>(data.data()));
    body = payload;
    bodyOwner = std::move(owner);
    bodySource = source;
    return true;
}

bool SendToMainWindow(SendRequest* request)
{
    if (!request)
        return false;
    platform::MessageWindow* window = platform::findWindow(platform::appTitle());
    // A window of that caption that takes no requests (an unnamed child
    // page while the title is still empty) would never free it.
    if (!window || !window->handles(platform::WM_SEND_TO_PLAYER)) {
        delete request;
        return false;
    }
    // The receiver owns the request from here on.
    platform::sendMessage(window, platform::WM_SEND_TO_PLAYER, 0, platform::LPARAM(request));
    return true;
}

// ------------------------------------------------------------ ReplyAssembler

namespace {

constexpr uint8_t kMagicBytes[4] = {0x5A, 0x5A, 0x5A, 0xA5};

// Whether `bytes` can be the first bytes of a header: the magic, then a
// command byte other than 0.
bool canBeginHeader(const uint8_t* bytes, std::size_t n)
{
    for (std::size_t k = 0; k < n && k < 4; ++k) {
        if (bytes[k] != kMagicBytes[k])
            return false;
    }
    return n < 5 || bytes[4] != 0;
}

}  // namespace

ReplyAssembler::ReplyAssembler() : now_([] { return Clock::now(); })
{
    pending_.reserve(proto::kHeaderSize);
}

void ReplyAssembler::reset()
{
    ++generation_;
    pending_.clear();
    received = 0;
    state = kIdle;
}

void ReplyAssembler::setIncompleteLimit(std::chrono::milliseconds stall, uint32_t slowBytesPerSecond,
                                        std::function<Clock::time_point()> now)
{
    limit_ = stall.count() > 0 ? stall : std::chrono::milliseconds(0);
    slowRate_ = slowBytesPerSecond;
    now_ = now ? std::move(now) : [] { return Clock::now(); };
}

bool ReplyAssembler::expireIncomplete(const Completion& done)
{
    if (!awaitsExpiry())
        return false;
    const Clock::time_point now = now_();
    // Counted in milliseconds from the length (at most 10 MB), so no overflow.
    const auto allowance = limit_ + std::chrono::milliseconds(
        slowRate_ > 0 ? int64_t(uint64_t(header.payloadLength) * 1000u / slowRate_) : 0);
    if (now - lastBytesAt_ < limit_ && now - headerAt_ < allowance)
        return false;
    ++dropped_;
    if (expiryNotice_)
        expiryNotice_(*this);
    // The announced length was a lie: what came after the header may hold
    // whole replies. Search it again from its first byte.
    std::vector<uint8_t> after(buffer_.begin(), buffer_.begin() + received);
    state = kIdle;
    received = 0;
    pending_.clear();
    feed(lastPeer_, lastPort_, lastLink_, after.data(), after.size(), done);
    return true;
}

QByteArray ReplyAssembler::payloadBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(buffer_.data()), qsizetype(received));
}

void ReplyAssembler::feed(const QString& peer, uint16_t peerPort, uint16_t link, const uint8_t* data,
                          std::size_t length, const Completion& done)
{
    if (!data || length == 0)
        return;
    if (awaitsExpiry()) {
        const uint64_t before = generation_;
        expireIncomplete(done);
        if (generation_ != before)
            return;  // reset while handling a reply found again
    }
    lastPeer_ = peer;
    lastPort_ = peerPort;
    lastLink_ = link;
    const uint64_t generation = generation_;

    // A chunk that begins with a full header signature while no payload is
    // being collected starts afresh: a header fragment held from an earlier
    // chunk that never completed is dropped.
    if (state != kCollecting && !pending_.empty() && length >= 5 && canBeginHeader(data, 5))
        pending_.clear();

    auto complete = [&]() -> bool {
        state = kComplete;
        peerIp = peer;
        port = peerPort;
        linkIndex = link;
        if (done)
            done(*this);
        if (generation_ != generation)
            return false;  // reset while handling: the rest of the chunk is stale
        state = kIdle;
        received = 0;
        return true;
    };

    std::size_t i = 0;
    while (i < length) {
        if (state == kCollecting) {
            const std::size_t want = header.payloadLength - received;
            const std::size_t take = std::min(want, length - i);
            std::memcpy(buffer_.data() + received, data + i, take);
            received += uint32_t(take);
            i += take;
            if (limit_.count() > 0)
                lastBytesAt_ = now_();
            if (received == header.payloadLength && !complete())
                return;
            continue;
        }

        // Looking for a header.
        if (pending_.empty()) {
            const void* hit = std::memchr(data + i, kMagicBytes[0], length - i);
            if (!hit) {
                state = kIdle;
                return;
            }
            i = std::size_t(static_cast<const uint8_t*>(hit) - data);
        }
        pending_.push_back(data[i++]);
        while (!pending_.empty() && !canBeginHeader(pending_.data(), pending_.size()))
            pending_.erase(pending_.begin());
        state = pending_.empty() ? kIdle : kHeaderExpected;
        if (pending_.size() < proto::kHeaderSize)
            continue;

        header = proto::PlayerPacketHeader::fromBytes(pending_.data());
        pending_.clear();
        received = 0;
        if (header.payloadLength > kBufferSize) {
            // Cannot be held: drop it and look for the next header.
            ++dropped_;
            state = kIdle;
            continue;
        }
        if (buffer_.size() < header.payloadLength)
            buffer_.resize(header.payloadLength);
        state = kCollecting;
        if (limit_.count() > 0)
            headerAt_ = lastBytesAt_ = now_();
        if (header.payloadLength == 0 && !complete())
            return;
    }
}

// -------------------------------------------------------------- PlayerCatalog

bool PlayerCatalog::unpack(const uint8_t* data, std::size_t length)
{
    if (!data || length != kSize)
        return false;
    totalMB = proto::getU32(data);
    freeMB = proto::getU32(data + 4);
    const uint8_t* p = data + kVideosOffset;
    for (auto& v : videos) {
        std::copy_n(p, v.name.size(), v.name.begin());
        std::copy_n(p + 256, v.category.size(), v.category.begin());
        v.size = proto::getU64(p + 264);
        std::copy_n(p + 272, v.spare.size(), v.spare.begin());
        p += CatalogVideo::kSize;
    }
    for (auto& c : categories) {
        std::copy_n(p, c.name.size(), c.name.begin());
        c.count = proto::getU16(p + 8);
        for (std::size_t k = 0; k < c.videoIndex.size(); ++k)
            c.videoIndex[k] = proto::getU16(p + 10 + 2 * k);
        p += CatalogCategory::kSize;
    }
    return true;
}

QByteArray PlayerCatalog::pack() const
{
    QByteArray out(qsizetype(kSize), '\0');
    uint8_t* base = reinterpret_cast<uint8_t*>(out.data());
    proto::putU32(base, totalMB);
    proto::putU32(base + 4, freeMB);
    uint8_t* p = base + kVideosOffset;
    for (const auto& v : videos) {
        std::copy(v.name.begin(), v.name.end(), p);
        std::copy(v.category.begin(), v.category.end(), p + 256);
        proto::putU64(p + 264, v.size);
        std::copy(v.spare.begin(), v.spare.end(), p + 272);
        p += CatalogVideo::kSize;
    }
    for (const auto& c : categories) {
        std::copy(c.name.begin(), c.name.end(), p);
        proto::putU16(p + 8, c.count);
        for (std::size_t k = 0; k < c.videoIndex.size(); ++k)
            proto::putU16(p + 10 + 2 * k, c.videoIndex[k]);
        p += CatalogCategory::kSize;
    }
    return out;
}
