#include "calibration/warp_settings.h"

#include "core/config_exchange.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace calib {

using proto::getU16;
using proto::putU16;
namespace wb = warpblock;

int WarpSettings::totalCells() const
{
    int n = 0;
    for (int s = 0; s < std::min<int>(recordsInUse, 2); ++s)
        n += screens[std::size_t(s)].rows * screens[std::size_t(s)].columns;
    return n;
}

std::vector<SendTarget> TargetsByCell(const WarpSettings& settings, const std::vector<SendTarget>& checked)
{
    std::vector<SendTarget> out;
    std::size_t next = 0;
    for (int s = 0; s < std::min<int>(settings.recordsInUse, 2); ++s) {
        const ScreenLayout& screen = settings.screens[std::size_t(s)];
        for (int k = 0; k < std::min<int>(screen.slotCount, ScreenLayout::kMaxCells); ++k) {
            const bool withPlayer = screen.channelSlots[std::size_t(k)].selected && next < checked.size();
            out.push_back(withPlayer ? checked[next++] : SendTarget{});
        }
    }
    return out;
}

QByteArray WarpSettings::toBytes() const
{
    QByteArray bytes(int(kSize), '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    for (std::size_t s = 0; s < screens.size(); ++s) {
        const ScreenLayout& L = screens[s];
        uint8_t* r = p + s * wb::kRecordSize;
        for (std::size_t i = 0; i < 9; ++i) {
            putU16(r + wb::kRowWidths + 2 * i, L.rowWidths[i]);
            putU16(r + wb::kColumnHeights + 2 * i, L.columnHeights[i]);
            putU16(r + wb::kSlots + wb::kSlotSize * i, L.channelSlots[i].channel);
            r[wb::kSlots + wb::kSlotSize * i + 2] = L.channelSlots[i].selected;
        }
        putU16(r + wb::kRows, L.rows);
        putU16(r + wb::kColumns, L.columns);
        putU16(r + wb::kOutputWidth, L.outputWidth);
        putU16(r + wb::kOutputHeight, L.outputHeight);
        putU16(r + wb::kSlotCount, L.slotCount);
        for (std::size_t b = 0; b < L.bands.size(); ++b) {
            uint8_t* e = r + wb::kBands + wb::kBlendBandsSize * b;
            putU16(e, L.bands[b].left);
            putU16(e + 2, L.bands[b].top);
            putU16(e + 4, L.bands[b].right);
            putU16(e + 6, L.bands[b].bottom);
        }
    }
    putU16(p + wb::kScreenMode, screenMode);
    putU16(p + wb::kRecordsInUse, recordsInUse);
    putU16(p + wb::kRotation, rotation);
    const Colour4* colours[5] = {&cursor, &referenceBackground, &referenceLine, &adjustedBackground, &adjustedLine};
    for (std::size_t c = 0; c < 5; ++c)
        std::copy(colours[c]->begin(), colours[c]->end(), p + wb::kCursorColour + 4 * c);
    return bytes;
}

bool WarpSettings::fromBytes(const QByteArray& bytes)
{
    if (std::size_t(bytes.size()) != kSize)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    WarpSettings w;
    for (std::size_t s = 0; s < w.screens.size(); ++s) {
        ScreenLayout& L = w.screens[s];
        const uint8_t* r = p + s * wb::kRecordSize;
        for (std::size_t i = 0; i < 9; ++i) {
            L.rowWidths[i] = getU16(r + wb::kRowWidths + 2 * i);
            L.columnHeights[i] = getU16(r + wb::kColumnHeights + 2 * i);
            L.channelSlots[i].channel = getU16(r + wb::kSlots + wb::kSlotSize * i);
            L.channelSlots[i].selected = r[wb::kSlots + wb::kSlotSize * i + 2];
        }
        L.rows = getU16(r + wb::kRows);
        L.columns = getU16(r + wb::kColumns);
        L.outputWidth = getU16(r + wb::kOutputWidth);
        L.outputHeight = getU16(r + wb::kOutputHeight);
        L.slotCount = getU16(r + wb::kSlotCount);
        for (std::size_t b = 0; b < L.bands.size(); ++b) {
            const uint8_t* e = r + wb::kBands + wb::kBlendBandsSize * b;
            L.bands[b] = {getU16(e), getU16(e + 2), getU16(e + 4), getU16(e + 6)};
        }
    }
    w.screenMode = getU16(p + wb::kScreenMode);
    w.recordsInUse = getU16(p + wb::kRecordsInUse);
    w.rotation = getU16(p + wb::kRotation);
    Colour4* colours[5] = {&w.cursor, &w.referenceBackground, &w.referenceLine, &w.adjustedBackground,
                           &w.adjustedLine};
    for (std::size_t c = 0; c < 5; ++c)
        std::copy_n(p + wb::kCursorColour + 4 * c, 4, colours[c]->begin());

    // The pages index their grids, slot lists and channel tables by these
    // counts: a block that a player or an old file filled with anything else
    // must not reach them.
    if (w.recordsInUse < 1 || w.recordsInUse > 2)
        return false;
    for (int s = 0; s < w.recordsInUse; ++s) {
        const ScreenLayout& L = w.screens[std::size_t(s)];
        if (L.rows < 1 || L.rows > 9 || L.columns < 1 || L.columns > 9 || L.slotCount > 9)
            return false;
        for (const ChannelSlot& slot : L.channelSlots)
            if (slot.channel > 8)
                return false;
    }
    *this = w;
    return true;
}

QString WarpSettingsPath(const QString& playerFolder)
{
    return QDir(playerFolder).filePath(QStringLiteral("config/Warp.QVE"));
}

WarpSettings LoadWarpSettings(const QString& playerFolder, WarpLoad* outcome)
{
    QDir().mkpath(QDir(playerFolder).filePath(QStringLiteral("config")));
    WarpSettings settings;
    WarpLoad result = WarpLoad::Missing;
    QFile file(WarpSettingsPath(playerFolder));
    if (file.size() == qint64(WarpSettings::kSize) && file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.read(qint64(WarpSettings::kSize));
        result = settings.fromBytes(bytes) ? WarpLoad::Loaded : WarpLoad::Refused;
    }
    // A loaded block shows no output size: the save sets it again.
    settings.screens[0].outputWidth = settings.screens[0].outputHeight = 0;
    if (settings.recordsInUse == 2)
        settings.screens[1].outputWidth = settings.screens[1].outputHeight = 0;
    if (outcome)
        *outcome = result;
    return settings;
}

bool SaveWarpSettings(const QString& playerFolder, const WarpSettings& settings, QString* error)
{
    const QByteArray bytes = settings.toBytes();
    return cfgx::WriteFileAtomically(WarpSettingsPath(playerFolder), reinterpret_cast<const uint8_t*>(bytes.constData()),
                                     std::size_t(bytes.size()), error);
}

int WarpForm::cellCount() const
{
    int n = rows[0] * columns[0];
    if (screenType == 1)
        n += rows[1] * columns[1];
    return n;
}

bool WarpForm::channelEnabled(int k) const
{
    const int n = cellCount();
    return k >= 0 && k < 9 && n >= 1 && n <= 9 && k < n;
}

WarpForm WarpForm::fromSettings(const WarpSettings& w)
{
    WarpForm f;
    f.screenType = w.recordsInUse == 2 ? 1 : 0;
    for (int s = 0; s < 2; ++s) {
        f.rows[std::size_t(s)] = std::clamp<int>(w.screens[std::size_t(s)].rows, 1, 9);
        f.columns[std::size_t(s)] = std::clamp<int>(w.screens[std::size_t(s)].columns, 1, 9);
        const int nibble = (w.rotation >> (4 * s)) & 0xF;
        f.rotation[std::size_t(s)] = nibble <= 2 ? nibble : 0;
    }
    f.cursor = w.cursor;
    f.referenceBackground = w.referenceBackground;
    f.referenceLine = w.referenceLine;
    f.adjustedBackground = w.adjustedBackground;
    f.adjustedLine = w.adjustedLine;
    // Channels past the used cells keep their own numbers, so that only a
    // layout whose cells were renumbered reopens with "Edit Channel" on.
    for (std::size_t i = 0; i < 9; ++i)
        f.channelNumbers[i] = uint16_t(i);
    std::size_t k = 0;
    for (int s = 0; s < (f.screenType == 1 ? 2 : 1); ++s) {
        const ScreenLayout& L = w.screens[std::size_t(s)];
        for (int i = 0; i < std::min<int>(L.slotCount, 9) && k < 9; ++i)
            f.channelNumbers[k++] = L.channelSlots[std::size_t(i)].channel;
    }
    for (std::size_t i = 0; i < 9; ++i)
        if (f.channelNumbers[i] != i)
            f.editChannel = true;
    return f;
}

BlendArrangement BuildBlendArrangement(const WarpSettings& settings, bool singleChannel)
{
    BlendArrangement a;
    a.screenCount = settings.recordsInUse;
    std::copy_n(settings.cursor.begin(), 3, a.markerColour.begin());
    QByteArray block = settings.toBytes();
    grid::OutputConfig config;
    if (!BuildOutputConfig(block, 9, singleChannel, config))
        return a;
    a.channelCount = std::min<uint16_t>(config.outputCount, 9);
    std::size_t e = 0;
    for (int s = 0; s < std::min<int>(settings.recordsInUse, 2) && e < a.channelCount; ++s) {
        const ScreenLayout& L = settings.screens[std::size_t(s)];
        for (int r = 0; r < L.rows && e < a.channelCount; ++r)
            for (int c = 0; c < L.columns && e < a.channelCount; ++c, ++e) {
                const grid::OutputEntry& o = config.outputs[e];
                const BlendBands& b = L.band(r, c);
                BlendChannel& ch = a.channels[e];
                ch.screen = uint16_t(s);
                ch.layoutMode = settings.screenMode;
                ch.channel = o.outputId;
                ch.left = uint16_t(o.left);
                ch.top = uint16_t(o.top);
                ch.right = uint16_t(o.right);
                ch.bottom = uint16_t(o.bottom);
                ch.bandLeft = b.left;
                ch.bandTop = b.top;
                ch.bandRight = b.right;
                ch.bandBottom = b.bottom;
            }
    }
    return a;
}

uint16_t ChannelCountFromModel(uint16_t code)
{
    if (code >= 1 && code <= 9)
        return code;
    if (code >= 11 && code <= 91 && code % 10 == 1)
        return uint16_t(code / 10);
    return 0;
}

namespace {

struct Texts {
    const char* english;
    const char* chinese;
};

QString text(int language, const Texts& t, int value = -1)
{
    QString s = QString::fromUtf8(language == 4 ? t.chinese : t.english);
    if (value >= 0)
        s.replace(QStringLiteral("%d"), QString::number(value));
    return s;
}

const Texts kSides12[4] = {
    {"The left width of the fusion band can not be greater than %d!", "融合带左宽度不能大于%d！"},
    {"The right width of the fusion band can not be greater than %d!", "融合带右宽度不能大于%d！"},
    {"The top width of the fusion band can not be greater than %d!", "融合带上宽度不能大于%d！"},
    {"The bottom width of the fusion band can not be greater than %d!", "融合带下宽度不能大于%d！"},
};
const Texts kSides14[4] = {
    {"The left width of the fusion band can not be greater than the output resolution width", "融合带左宽度不能大于输出分辨率宽度"},
    {"The right width of the fusion band can not be greater than the output resolution width", "融合带右宽度不能大于输出分辨率宽度"},
    {"The top width of the fusion band can not be greater than the output resolution width", "融合带上宽度不能大于输出分辨率高度"},
    {"The bottom width of the fusion band can not be greater than the output resolution width", "融合带下宽度不能大于输出分辨率高度"},
};
const Texts kSides15[4] = {
    {"The left width of the fusion band can not be less than %d!", "融合带左宽度不能小于%d！"},
    {"The right width of the fusion band can not be less than %d!", "融合带右宽度不能小于%d！"},
    {"The top width of the fusion band can not be less than %d!", "融合带上宽度不能小于%d！"},
    {"The bottom width of the fusion band can not be less than %d!", "融合带下宽度不能小于%d！"},
};
const Texts kTooManyProjectors{"The total number of projectors cannot be greater than %d!", "投影仪总数不能大于%d！"};
const Texts kTooManyProjectorsNine{"The total number of projectors cannot be greater than %d!", "投影仪总数不能大于 %d！"};
const Texts kVertical{"The Vertical width should be consistent with fusion!", "融合带竖排宽度要一致！"};
const Texts kHorizontal{"The horizontal width should be consistent with fusion!", "融合带横排宽度要一致！"};
const Texts kSameColours[2] = {
    {"The foreground color, the background color can not be the same", "参考线条颜色、背景颜色不能相同"},
    {"The foreground color, the background color can not be the same", "调整线条颜色、背景颜色不能相同"},
};

template <std::size_t N>
bool listed(const std::array<uint16_t, N>& list, uint16_t v)
{
    return std::find(list.begin(), list.end(), v) != list.end();
}

// Rules 6 to 18 for one screen; 0 or the failed rule with its message.
int checkScreen(const ScreenLayout& L, bool singleChannel, uint16_t playerChannels, int language, QString& message)
{
    const int R = L.rows, C = L.columns;
    auto fail = [&](int rule, const QString& m) {
        message = m;
        return rule;
    };
    if (!singleChannel && R * C > playerChannels)
        return fail(6, text(language, kTooManyProjectors, playerChannels));
    if (R * C > 9)
        return fail(7, text(language, kTooManyProjectorsNine, 9));
    for (int c = 0; c < C; ++c)
        for (int r = 1; r < R; ++r)
            if (L.band(r, c).left != L.band(0, c).left || L.band(r, c).right != L.band(0, c).right)
                return fail(8, text(language, kVertical));
    for (int c = 0; c < C; ++c)
        for (int r = 1; r < R; ++r)
            if (L.band(r, c).top != L.band(r - 1, c).bottom)
                return fail(9, text(language, kHorizontal));
    for (int r = 0; r < R; ++r)
        for (int c = 1; c < C; ++c)
            if (L.band(r, c).top != L.band(r, 0).top || L.band(r, c).bottom != L.band(r, 0).bottom)
                return fail(10, text(language, kHorizontal));
    for (int r = 0; r < R; ++r)
        for (int c = 1; c < C; ++c)
            if (L.band(r, c).left != L.band(r, c - 1).right)
                return fail(11, text(language, kVertical));
    auto sides = [](const BlendBands& b) { return std::array<uint16_t, 4>{b.left, b.right, b.top, b.bottom}; };
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const auto s = sides(L.band(r, c));
            for (int i = 0; i < 4; ++i) {
                const uint16_t bound = i < 2 ? 960 : 540;
                if (s[std::size_t(i)] > bound)
                    return fail(12, text(language, kSides12[i], bound));
            }
        }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const BlendBands& b = L.band(r, c);
            if (b.left + b.right > L.outputWidth)
                return fail(13, language == 4 ? QStringLiteral("融合带宽度不能大于输出分辨率宽度")
                                              : QStringLiteral("The width of the fusion band can not be greater than the output resolution width"));
            if (b.top + b.bottom > L.outputHeight)
                return fail(13, language == 4 ? QStringLiteral("融合带宽度不能大于输出分辨率高度")
                                              : QStringLiteral("The width of the fusion band can not be greater than the output resolution width"));
        }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const auto s = sides(L.band(r, c));
            for (int i = 0; i < 4; ++i)
                if (s[std::size_t(i)] > (i < 2 ? L.outputWidth : L.outputHeight))
                    return fail(14, text(language, kSides14[i]));
        }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const auto s = sides(L.band(r, c));
            for (int i = 0; i < 4; ++i) {
                const uint16_t least = i < 2 ? 30 : 34;
                if (s[std::size_t(i)] != 0 && s[std::size_t(i)] < least)
                    return fail(15, text(language, kSides15[i], least));
            }
        }
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const BlendBands& b = L.band(r, c);
            if (!listed(kHorizontalBandWidths, b.left) || !listed(kHorizontalBandWidths, b.right) ||
                !listed(kVerticalBandWidths, b.top) || !listed(kVerticalBandWidths, b.bottom))
                return fail(16, language == 4 ? QStringLiteral("融合带宽度设置错误！")
                                              : QStringLiteral("The Gamma Correction set error!"));
        }
    for (int r = 0; r < R; ++r) {
        int sum = L.band(r, 0).left;
        for (int c = 0; c < C; ++c)
            sum += L.band(r, c).right;
        if (sum >= L.rowWidths[std::size_t(r)])
            return fail(17, text(language,
                                 {"The total width of the Gamma Correction should not exceed %d!", "融合带总宽度不能大于%d！"},
                                 L.rowWidths[std::size_t(r)]));
    }
    for (int c = 0; c < C; ++c) {
        int sum = L.band(0, c).top;
        for (int r = 0; r < R; ++r)
            sum += L.band(r, c).bottom;
        if (sum >= L.columnHeights[std::size_t(c)])
            return fail(18, text(language,
                                 {"The total Height of the Gamma Correction should not exceed %d!", "融合带总高度不能大于%d！"},
                                 L.columnHeights[std::size_t(c)]));
    }
    return 0;
}

}  // namespace

WarpCheck CheckWarpForm(const WarpSettings& current, const WarpForm& form, const std::vector<WarpDevice>& devices,
                        uint16_t playerChannels, int language)
{
    WarpCheck out;
    auto fail = [&](int rule, const QString& m) {
        out.failedRule = rule;
        out.message = m;
        return out;
    };
    if (form.singleChannel && form.editChannel)
        return fail(1, text(language, {"Single channel device cannot edit channel number", "单通道设备不能编辑通道号"}));

    WarpSettings& w = out.settings;
    w = current;  // the band widths carry over; everything else is rebuilt
    for (ScreenLayout& L : w.screens) {
        L.rowWidths.fill(0);
        L.columnHeights.fill(0);
        L.rows = L.columns = 0;
        L.outputWidth = L.outputHeight = 0;
        L.channelSlots = {};
        L.slotCount = 0;
    }

    std::array<ChannelSlot, 9> slotList{};
    for (std::size_t k = 0; k < 9; ++k)
        slotList[k].channel = form.editChannel ? std::min<uint16_t>(form.channelNumbers[k], 8) : uint16_t(k);

    int highest = 0;
    bool anyChecked = false;
    for (int k = 0; k < 9; ++k) {
        // With more than nine cells the page unchecks and disables every box.
        if (!form.channelChecked[std::size_t(k)] || form.cellCount() > 9)
            continue;
        anyChecked = true;
        slotList[std::size_t(k)].selected = 1;
        highest = k + 1;
        if (form.singleChannel) {
            const int choice = form.deviceChoice[std::size_t(k)];
            if (choice < 0 || std::size_t(choice) >= devices.size() || devices[std::size_t(choice)].channelCode != 11)
                return fail(2, text(language, {"The selected device is not a single channel device", "所选设备不是单通道设备"}));
            const WarpDevice& d = devices[std::size_t(choice)];
            for (const SendTarget& t : out.targets)
                if (t.ip == d.ip)
                    return fail(3, text(language, {"IP address cannot be the same", "IP地址不能相同"}));
            out.targets.push_back(SendTarget{d.ip, QString(), d.port, 0});
        }
    }
    if (form.singleChannel && out.targets.size() < 2)
        return fail(4, text(language, {"Please select channels!", "至少校正二个通道！"}));
    if (!anyChecked)
        return fail(5, text(language, {"Please select channels!", "至少校正一个通道！"}));

    w.screenMode = uint16_t(form.screenType + 1);
    w.cursor = form.cursor;
    w.referenceBackground = form.referenceBackground;
    w.referenceLine = form.referenceLine;
    w.adjustedBackground = form.adjustedBackground;
    w.adjustedLine = form.adjustedLine;
    for (Colour4* c : {&w.cursor, &w.referenceBackground, &w.referenceLine, &w.adjustedBackground, &w.adjustedLine})
        (*c)[3] = 0;

    const int screens = form.screenType == 1 ? 2 : 1;
    std::size_t nextSlot = 0;
    for (int s = 0; s < screens; ++s) {
        ScreenLayout& L = w.screens[std::size_t(s)];
        L.rowWidths.fill(WarpSettings::kTotalWidth);
        L.columnHeights.fill(WarpSettings::kTotalHeight);
        L.rows = uint16_t(std::clamp(form.rows[std::size_t(s)], 1, 9));
        L.columns = uint16_t(std::clamp(form.columns[std::size_t(s)], 1, 9));
        L.outputWidth = WarpSettings::kOutputWidth;
        L.outputHeight = WarpSettings::kOutputHeight;
        L.slotCount = uint16_t(L.rows * L.columns);
        // Two screens can ask for more cells than the nine channelSlots; the rules
        // below refuse that, and the copy never reads past the list.
        for (std::size_t i = 0; i < L.slotCount && i < 9 && nextSlot < 9; ++i)
            L.channelSlots[i] = slotList[nextSlot++];
    }
    w.recordsInUse = uint16_t(screens);
    w.rotation = uint16_t((form.rotation[0] & 0xF) | ((screens == 2 ? form.rotation[1] & 0xF : 0) << 4));

    for (int s = 0; s < screens; ++s) {
        QString message;
        if (int rule = checkScreen(w.screens[std::size_t(s)], form.singleChannel, playerChannels, language, message))
            return fail(rule, message);
    }
    const int total = w.totalCells();
    if (highest > total)
        return fail(19, text(language, {"Adjust the number of channels should not be greater than the number of display channels",
                                        "调整通道数不能大于显示通道数"}));
    if (!form.singleChannel && total > playerChannels)
        return fail(20, text(language, kTooManyProjectors, playerChannels));
    for (int i = 0; i < total; ++i)
        for (int j = i + 1; j < total; ++j)
            if (slotList[std::size_t(i)].channel == slotList[std::size_t(j)].channel)
                return fail(21, text(language, {"Channel number cannot be the same!", "通道号不能相同!"}));
    if (w.referenceBackground == w.referenceLine)
        return fail(22, text(language, kSameColours[0]));
    if (w.adjustedBackground == w.adjustedLine)
        return fail(23, text(language, kSameColours[1]));
    return out;
}

}  // namespace calib
