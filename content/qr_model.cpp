#include "content/qr_model.h"

#include "common/json_coding.h"
#include "transport/protocol.h"

#include <algorithm>
#include <cmath>

namespace qr {

OutputLayout OutputLayout::FromStatusBlock(const std::array<uint8_t, 108>& block)
{
    OutputLayout layout;
    for (std::size_t i = 0; i < 4; ++i) {
        const uint8_t* p = block.data() + 4 + 8 * i;
        const int x = proto::getU16(p), y = proto::getU16(p + 2);
        layout.screens[i] = {x, y, x + proto::getU16(p + 4), y + proto::getU16(p + 6)};
    }
    for (std::size_t i = 0; i < 9; ++i) {
        const uint8_t* p = block.data() + 36 + 8 * i;
        layout.outputs[i] = {proto::getU16(p), proto::getU16(p + 4), proto::getU16(p + 2), proto::getU16(p + 6)};
    }
    return layout;
}

bool ScreenUsable(const Box& s)
{
    return s.right != 0 && s.bottom != 0 && s.right > s.left && s.bottom > s.top;
}

void RestoreDefaults(QrSettings& s)
{
    s.imageEnable = true;
    s.showTime = 60;
    s.circleTime = 10;
    s.refresh = 1;
    for (QrLocation& l : s.locations) {
        l.rect = {0, 0, 320, 320};
        l.qrShow = 0;
        l.textShow = 0;
        l.textSize = 60;
        l.textColor = kWhite;
    }
}

namespace {

bool inside(const Box& outer, const Box& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

uint32_t clampCount(int v)
{
    return uint32_t(std::clamp(v, 1, 9));
}

// Rows and columns of screen `s` from output `first` on; returns the number
// of outputs the screen spans (rows x cols).
void rowsCols(const OutputLayout& layout, const Box& s, std::size_t first, QrLocation& loc)
{
    int cols = 1;
    int rows = 1;
    for (std::size_t i = first; i < layout.outputs.size(); ++i) {
        const Box& o = layout.outputs[i];
        if (!inside(s, o))
            continue;
        const int index = int(i - first);
        if (o.top == s.top && o.right + 1 == s.right)
            cols = 1 + index;
        if (o.bottom + 1 == s.bottom && o.right + 1 == s.right) {
            rows = (index + 1) / std::max(cols, 1);
            break;
        }
    }
    loc.cols = clampCount(cols);
    loc.rows = clampCount(rows);
}

}  // namespace

void ComputeRowsCols(const OutputLayout& layout, QrSettings& s)
{
    for (QrLocation& l : s.locations)
        l.rows = l.cols = 1;
    const Box& s1 = layout.screens[0];
    if (s1.width() <= 0 || s1.height() <= 0)
        return;
    rowsCols(layout, s1, 0, s.locations[0]);
    const std::size_t next = std::size_t(s.locations[0].cols * s.locations[0].rows);
    if (ScreenUsable(layout.screens[1]) && next < layout.outputs.size())
        rowsCols(layout, layout.screens[1], next, s.locations[1]);
}

QByteArray WriteDocument(const QrSettings& s)
{
    Json::Value root(Json::objectValue);
    root["QRImageEnable"] = true;
    root["QRShowTime"] = Json::UInt(s.showTime);
    root["QRCircleTime"] = Json::UInt(s.circleTime);
    root["QRRefresh"] = Json::UInt(s.refresh);
    Json::Value locations(Json::arrayValue);
    for (const QrLocation& l : s.locations) {
        Json::Value v(Json::objectValue);
        v["screenID"] = Json::Int(l.screenId);
        v["startX"] = Json::UInt(l.rect.left);
        v["startY"] = Json::UInt(l.rect.top);
        v["width"] = Json::UInt(std::max(0, l.rect.width()));
        v["height"] = Json::UInt(std::max(0, l.rect.height()));
        v["QRShow"] = Json::UInt(l.qrShow);
        v["textShow"] = Json::UInt(l.textShow);
        v["textColor"] = Json::UInt(l.textColor);
        v["textSize"] = Json::UInt(l.textSize);
        locations.append(v);
    }
    root["QRLocation"] = locations;
    return QByteArray::fromStdString(jsonio::write(root));
}

bool ReadDocument(const QByteArray& text, QrSettings& s)
{
    Json::Value root;
    if (text.isEmpty() || !jsonio::parsePlayerDocument(text, root) || !root.isObject())
        return false;
    auto timeOr = [&root](const char* key, uint32_t fallback) {
        const Json::Value& v = root[key];
        return std::min<uint32_t>(v.isUInt() ? v.asUInt() : fallback, kMaxInterval);
    };
    QrSettings next = s;
    next.showTime = timeOr("QRShowTime", 60);
    next.circleTime = timeOr("QRCircleTime", 10);
    next.refresh = root["QRRefresh"].isUInt() ? root["QRRefresh"].asUInt() : 1;
    const Json::Value& list = root["QRLocation"];
    if (!list.isArray() || list.size() < 2)
        return false;
    static const char* const keys[] = {"screenID", "startX", "startY", "width", "height",
                                       "QRShow", "textShow", "textColor", "textSize"};
    for (Json::ArrayIndex i = 0; i < 2; ++i) {
        const Json::Value& e = list[i];
        if (!e.isObject())
            return false;
        for (const char* key : keys)
            if (!e[key].isUInt())
                return false;
        QrLocation& l = next.locations[i];
        l.screenId = e["screenID"].asUInt();
        // Coordinates are kept within what a screen can hold (16 bits), so the
        // sums below never overflow.
        const int x = int(std::min<uint32_t>(e["startX"].asUInt(), 65535));
        const int y = int(std::min<uint32_t>(e["startY"].asUInt(), 65535));
        l.rect = {x, y, x + int(std::min<uint32_t>(e["width"].asUInt(), 65535)),
                  y + int(std::min<uint32_t>(e["height"].asUInt(), 65535))};
        l.qrShow = e["QRShow"].asUInt();
        l.textShow = e["textShow"].asUInt();
        l.textColor = e["textColor"].asUInt();
        l.textSize = e["textSize"].asUInt();
    }
    next.imageEnable = true;
    s = next;
    return true;
}

std::optional<uint32_t> LeadingUnsigned(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    uint64_t value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i) {
        value = value * 10 + uint64_t(text.at(i).unicode() - '0');
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return uint32_t(value);
}

QString Apply(const ApplyForm& form, const std::array<bool, 2>& usable, int language, QrSettings& s)
{
    QrSettings next = s;
    for (std::size_t k = 0; k < 2; ++k) {
        next.locations[k].textColor = kWhite;
        next.locations[k].qrShow = form.qrShow[k] ? 1 : 0;
        next.locations[k].textShow = form.textShow[k] ? 1 : 0;
    }
    next.imageEnable = true;
    next.refresh = form.refresh ? 1 : 0;
    const auto on = LeadingUnsigned(form.onText);
    if (!on || *on > kMaxInterval)
        return Text(Msg::OnTooLong, language);
    const auto off = LeadingUnsigned(form.offText);
    if (!off || *off > kMaxInterval)
        return Text(Msg::OffTooLong, language);
    next.showTime = *on;
    next.circleTime = *off;
    for (std::size_t k = 0; k < 2; ++k) {
        if (!form.textShow[k] || !usable[k])
            continue;
        const auto size = LeadingUnsigned(form.sizeText[k]);
        if (!size || *size > kMaxTextSize)
            return Text(Msg::SizeTooLarge, language);
        if (*size < kMinTextSize)
            return Text(Msg::SizeTooSmall, language);
        next.locations[k].textSize = *size;
    }
    s = next;
    return {};
}

MapScale ScaleFor(const QRect& m, const Box& s, uint32_t rows, uint32_t cols, MapScale previous)
{
    MapScale scale = previous;
    if (s.width() > 0)
        scale.x = double(m.width() / 9) / s.width() * std::max<uint32_t>(cols, 4);
    if (s.height() > 0)
        scale.y = double(m.height() / 9) / s.height() * std::max<uint32_t>(rows, 4);
    return scale;
}

QRect ToMap(const Box& b, const QRect& m, MapScale scale)
{
    const int l = int(b.left * scale.x) + m.left();
    const int t = int(b.top * scale.y) + m.top();
    const int r = int(b.right * scale.x) + m.left();
    const int bo = int(b.bottom * scale.y) + m.top();
    return QRect(QPoint(l, t), QPoint(r - 1, bo - 1));
}

Box FromMap(const QRect& r, const QRect& m, MapScale scale, const Box& screen)
{
    Box b;
    b.left = int((r.left() - m.left()) / scale.x);
    b.top = int((r.top() - m.top()) / scale.y);
    const int right = int((r.right() + 1 - m.left()) / scale.x);
    const int bottom = int((r.bottom() + 1 - m.top()) / scale.y);
    b.right = std::min(std::max(right, b.left + kMinSide), screen.right);
    b.bottom = std::min(std::max(bottom, b.top + kMinSide), screen.bottom);
    return b;
}

Box DrawnRect(const Box& rect, const Box& screen, const QRect& m, MapScale scale)
{
    const QRect onMap = ToMap(rect, m, scale);
    if (onMap.isEmpty() || !inside(screen, rect))
        return {screen.left, screen.top, screen.left + kMinSide, screen.top + kMinSide};
    return rect;
}

QString Text(Msg m, int language)
{
    const bool zh = language == 4;
    auto t = [zh](const char* en, const char* cn) { return zh ? QString::fromUtf8(cn) : QString::fromUtf8(en); };
    switch (m) {
    case Msg::Title: return t("QR Code", "二维码");
    case Msg::OnTooLong: return t("On Interval is too long", "显示时间太长");
    case Msg::OffTooLong: return t("Off Interval is too long", "间隔时间太长");
    case Msg::SizeTooLarge: return t("Message size is out of range", "弹幕字号太大了");
    case Msg::SizeTooSmall: return t("Message size is out of range", "弹幕字号太小了");
    case Msg::ConfirmExit: return t("Do you really want to exit?", "确定要退出吗？");
    }
    return {};
}

}  // namespace qr
