// The warp wizard's step-1 block: its file image, loading with fallback, and
// the ordered rules that decide whether the form may be saved.

#include "calibration/warp_settings.h"
#include "transport/protocol.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace calib;

namespace {

// The block written by hand at the file's own offsets.
QByteArray handMadeImage()
{
    QByteArray w(6515, '\0');
    auto* p = reinterpret_cast<uint8_t*>(w.data());
    for (int s = 0; s < 9; ++s) {
        uint8_t* r = p + 721 * s;
        for (int i = 0; i < 9; ++i) {
            proto::putU16(r + 2 * i, 17280);
            proto::putU16(r + 18 + 2 * i, 9720);
        }
        proto::putU16(r + 36, 1);
        proto::putU16(r + 38, 1);
        for (int b = 0; b < 81; ++b) {
            proto::putU16(r + 73 + 8 * b, 240);
            proto::putU16(r + 75 + 8 * b, 270);
            proto::putU16(r + 77 + 8 * b, 240);
            proto::putU16(r + 79 + 8 * b, 270);
        }
    }
    // Screen 1: 1 x 2, output 1920 x 1080, channelSlots (2, sel) and (0, unsel).
    proto::putU16(p + 38, 2);
    proto::putU16(p + 40, 1920);
    proto::putU16(p + 42, 1080);
    proto::putU16(p + 44, 2);
    p[46] = 1;
    proto::putU16(p + 71, 2);
    proto::putU16(p + 73 + 8 * 9 + 0, 60);  // cell (0, 1) left
    proto::putU16(p + 6489, 1);
    proto::putU16(p + 6491, 1);
    proto::putU16(p + 6493, 0x21);
    const uint8_t colours[] = {255, 0, 0, 0, 0, 0, 0, 0, 0, 112, 222, 0, 0, 0, 0, 0, 240, 118, 0, 0};
    std::copy(std::begin(colours), std::end(colours), p + 6495);
    return w;
}

WarpSettings handMadeSettings()
{
    WarpSettings w;
    ScreenLayout& L = w.screens[0];
    L.columns = 2;
    L.outputWidth = 1920;
    L.outputHeight = 1080;
    L.channelSlots[0] = {2, 1};
    L.slotCount = 2;
    L.band(0, 1).left = 60;
    w.rotation = 0x21;
    return w;
}

}  // namespace

TEST(WarpSettingsFile, PacksToTheFileImageByteForByte)
{
    const QByteArray bytes = handMadeSettings().toBytes();
    ASSERT_EQ(bytes.size(), 6515);
    EXPECT_EQ(bytes, handMadeImage());
    WarpSettings back;
    ASSERT_TRUE(back.fromBytes(bytes));
    EXPECT_EQ(back, handMadeSettings());
}

TEST(WarpSettingsFile, DefaultsGoldenDigest)
{
    // Guards every default at once (bands, totals, colours, trailer).
    const QByteArray bytes = WarpSettings().toBytes();
    QByteArray expected = handMadeImage();
    auto* p = reinterpret_cast<uint8_t*>(expected.data());
    proto::putU16(p + 38, 1);
    proto::putU16(p + 40, 0);
    proto::putU16(p + 42, 0);
    proto::putU16(p + 44, 0);
    p[46] = 0;
    proto::putU16(p + 71, 0);
    proto::putU16(p + 73 + 72, 240);
    proto::putU16(p + 6493, 0);
    EXPECT_EQ(bytes, expected);
}

TEST(WarpSettingsFile, BlocksWithImpossibleCountsAreRefused)
{
    struct Row {
        const char* what;
        std::size_t offset;
        uint16_t value;
    };
    const Row rows[] = {
        {"no records", 6491, 0},     {"three records", 6491, 3}, {"rows 0", 36, 0},
        {"rows 10", 36, 10},         {"columns 10", 38, 10},     {"slot count 10", 71, 10},
        {"channel 9", 44 + 3 * 4, 9}, {"screen 2 rows 0 in use", 721 + 36, 0},
    };
    for (const Row& r : rows) {
        QByteArray bytes = WarpSettings().toBytes();
        if (r.offset >= 721 && r.offset < 1442)
            proto::putU16(reinterpret_cast<uint8_t*>(bytes.data()) + 6491, 2);
        proto::putU16(reinterpret_cast<uint8_t*>(bytes.data()) + r.offset, r.value);
        WarpSettings w;
        w.rotation = 7;
        EXPECT_FALSE(w.fromBytes(bytes)) << r.what;
        EXPECT_EQ(w.rotation, 7) << r.what << ": a refused block leaves the record alone";
    }
    // Rows 0 in an unused record do not matter.
    QByteArray bytes = WarpSettings().toBytes();
    proto::putU16(reinterpret_cast<uint8_t*>(bytes.data()) + 721 * 3 + 36, 0);
    EXPECT_TRUE(WarpSettings().fromBytes(bytes));
}

TEST(WarpSettingsFile, LoadFallsBackToDefaults)
{
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    WarpLoad outcome{};
    EXPECT_EQ(LoadWarpSettings(folder, &outcome), WarpSettings());
    EXPECT_EQ(outcome, WarpLoad::Missing);
    EXPECT_TRUE(QDir(folder + "config").exists());

    for (int size : {6514, 6516}) {
        QFile f(WarpSettingsPath(folder));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, '\1'));
        f.close();
        EXPECT_EQ(LoadWarpSettings(folder, &outcome), WarpSettings()) << size;
        EXPECT_EQ(outcome, WarpLoad::Missing) << size;
    }
    QByteArray bad = WarpSettings().toBytes();
    bad[36] = 12;
    QFile f(WarpSettingsPath(folder));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bad);
    f.close();
    EXPECT_EQ(LoadWarpSettings(folder, &outcome), WarpSettings());
    EXPECT_EQ(outcome, WarpLoad::Refused);

    // A saved block comes back with its output size cleared.
    ASSERT_TRUE(SaveWarpSettings(folder, handMadeSettings()));
    EXPECT_EQ(QFileInfo(WarpSettingsPath(folder)).size(), 6515);
    WarpSettings expected = handMadeSettings();
    expected.screens[0].outputWidth = expected.screens[0].outputHeight = 0;
    EXPECT_EQ(LoadWarpSettings(folder, &outcome), expected);
    EXPECT_EQ(outcome, WarpLoad::Loaded);
}

TEST(WarpSettingsFile, ChannelCountFromModelCode)
{
    const std::pair<uint16_t, uint16_t> rows[] = {{0, 0}, {1, 1}, {9, 9}, {10, 0}, {11, 1}, {21, 2},
                                                  {91, 9}, {92, 0}, {101, 0}, {31, 3}, {30, 0}};
    for (auto [code, n] : rows)
        EXPECT_EQ(ChannelCountFromModel(code), n) << code;
}

TEST(WarpSettingsForm, ReopeningShowsEditChannelWhenNumbersDiffer)
{
    WarpSettings w = handMadeSettings();  // channelSlots 2, 0
    WarpForm f = WarpForm::fromSettings(w);
    EXPECT_TRUE(f.editChannel);
    EXPECT_EQ(f.channelNumbers[0], 2);
    EXPECT_EQ(f.channelNumbers[1], 0);
    w.screens[0].channelSlots[0] = {0, 1};
    w.screens[0].channelSlots[1] = {1, 1};
    EXPECT_FALSE(WarpForm::fromSettings(w).editChannel);
    EXPECT_EQ(WarpForm::fromSettings(w).columns[0], 2);
    EXPECT_EQ(WarpForm::fromSettings(w).rotation[0], 1);
    EXPECT_EQ(WarpForm::fromSettings(w).rotation[1], 2);
    w.rotation = 0x53;
    EXPECT_EQ(WarpForm::fromSettings(w).rotation, (std::array<int, 2>{0, 0})) << "values past -90 show Normal";
}

// ---- the 23 rules ----

namespace {

struct RuleCase {
    const char* what;
    std::function<void(WarpSettings&, WarpForm&)> set;
    int rule;
    const char* english;
    const char* chinese;
};

std::vector<WarpDevice> devices()
{
    return {{"127.0.0.2", 5000, 11}, {"127.0.0.3", 5001, 11}, {"127.0.0.4", 5002, 21}, {"127.0.0.5", 5003, 21}};
}

WarpForm oneChecked()
{
    WarpForm f;
    f.channelChecked[0] = true;
    return f;
}

}  // namespace

TEST(WarpSettingsRules, FirstFailingRuleAndItsMessage)
{
    auto single = [](WarpForm& f, std::initializer_list<int> choice) {
        f.singleChannel = true;
        f.columns[0] = int(choice.size());
        int k = 0;
        for (int c : choice) {
            f.channelChecked[std::size_t(k)] = true;
            f.deviceChoice[std::size_t(k++)] = c;
        }
    };
    const RuleCase cases[] = {
        {"single and edit both on", [](WarpSettings&, WarpForm& f) { f.singleChannel = f.editChannel = true; f.channelChecked.fill(false); }, 1, "Single channel device cannot edit channel number", "单通道设备不能编辑通道号"},
        {"single, devices of code 21", [&](WarpSettings&, WarpForm& f) { single(f, {2, 3}); }, 2, "The selected device is not a single channel device", "所选设备不是单通道设备"},
        {"single, device index past the list", [&](WarpSettings&, WarpForm& f) { single(f, {0, 7}); }, 2, "The selected device is not a single channel device", "所选设备不是单通道设备"},
        {"single, same device twice", [&](WarpSettings&, WarpForm& f) { single(f, {1, 1}); }, 3, "IP address cannot be the same", "IP地址不能相同"},
        {"single, one channel", [&](WarpSettings&, WarpForm& f) { single(f, {0}); }, 4, "Please select channels!", "至少校正二个通道！"},
        {"no channel checked", [](WarpSettings&, WarpForm& f) { f.channelChecked.fill(false); }, 5, "Please select channels!", "至少校正一个通道！"},
        {"more than nine cells unchecks all", [](WarpSettings&, WarpForm& f) { f.screenType = 1; f.rows = {3, 1}; f.columns = {3, 1}; }, 5, "Please select channels!", "至少校正一个通道！"},
        {"cells above the player's channels", [](WarpSettings&, WarpForm& f) { f.columns[0] = 5; }, 6, "The total number of projectors cannot be greater than 4!", "投影仪总数不能大于4！"},
        {"single mode: more than nine", [&](WarpSettings&, WarpForm& f) { single(f, {0, 1}); f.rows[0] = 9; f.columns[0] = 2; f.channelChecked.fill(false); f.channelChecked[0] = f.channelChecked[1] = true; }, 4, "Please select channels!", "至少校正二个通道！"},
        {"left widths differ down a column", [](WarpSettings& w, WarpForm& f) { f.rows[0] = 2; w.screens[0].band(1, 0).left = 120; }, 8, "The Vertical width should be consistent with fusion!", "融合带竖排宽度要一致！"},
        {"top differs from the bottom above", [](WarpSettings& w, WarpForm& f) { f.rows[0] = 2; w.screens[0].band(1, 0).top = 135; }, 9, "The horizontal width should be consistent with fusion!", "融合带横排宽度要一致！"},
        {"bottom widths differ along a row", [](WarpSettings& w, WarpForm& f) { f.columns[0] = 2; w.screens[0].band(0, 1).bottom = 135; }, 10, "The horizontal width should be consistent with fusion!", "融合带横排宽度要一致！"},
        {"2x2: top-right left differs from top-left right", [](WarpSettings& w, WarpForm& f) { f.rows[0] = 2; f.columns[0] = 2; w.screens[0].band(0, 1).left = 120; w.screens[0].band(1, 1).left = 120; }, 11, "The Vertical width should be consistent with fusion!", "融合带竖排宽度要一致！"},
        {"right above 960", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).right = 961; }, 12, "The right width of the fusion band can not be greater than 960!", "融合带右宽度不能大于960！"},
        {"bottom above 540", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).bottom = 541; }, 12, "The bottom width of the fusion band can not be greater than 540!", "融合带下宽度不能大于540！"},
        {"left 20", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).left = 20; }, 15, "The left width of the fusion band can not be less than 30!", "融合带左宽度不能小于30！"},
        {"top 20", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).top = 20; }, 15, "The top width of the fusion band can not be less than 34!", "融合带上宽度不能小于34！"},
        {"left 100 is not offered", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).left = 100; }, 16, "The Gamma Correction set error!", "融合带宽度设置错误！"},
        {"highest channel past the cells", [](WarpSettings&, WarpForm& f) { f.channelChecked[2] = true; }, 19, "Adjust the number of channels should not be greater than the number of display channels", "调整通道数不能大于显示通道数"},
        {"two screens above the player's channels", [](WarpSettings&, WarpForm& f) { f.screenType = 1; f.columns = {3, 2}; }, 20, "The total number of projectors cannot be greater than 4!", "投影仪总数不能大于4！"},
        {"channel numbers 1, 1, 2", [](WarpSettings&, WarpForm& f) { f.editChannel = true; f.columns[0] = 3; f.channelNumbers[0] = 1; f.channelNumbers[1] = 1; f.channelNumbers[2] = 2; }, 21, "Channel number cannot be the same!", "通道号不能相同!"},
        {"reference colours equal", [](WarpSettings&, WarpForm& f) { f.referenceLine = f.referenceBackground; }, 22, "The foreground color, the background color can not be the same", "参考线条颜色、背景颜色不能相同"},
        {"adjusted colours equal", [](WarpSettings&, WarpForm& f) { f.adjustedLine = {0, 0, 0, 0}; }, 23, "The foreground color, the background color can not be the same", "调整线条颜色、背景颜色不能相同"},
        {"defaults pass", [](WarpSettings&, WarpForm&) {}, 0, "", ""},
        {"left 0 passes 15 and 16", [](WarpSettings& w, WarpForm&) { w.screens[0].band(0, 0).left = 0; }, 0, "", ""},
        {"channel numbers 1, 0, 2 pass", [](WarpSettings&, WarpForm& f) { f.editChannel = true; f.columns[0] = 3; f.channelNumbers[0] = 1; f.channelNumbers[1] = 0; f.channelNumbers[2] = 2; }, 0, "", ""},
        {"single, two single-channel devices", [&](WarpSettings&, WarpForm& f) { single(f, {0, 1}); }, 0, "", ""},
    };
    for (const RuleCase& c : cases) {
        WarpSettings current;
        WarpForm form = oneChecked();
        c.set(current, form);
        const WarpSettings before = current;
        for (int language : {9, 4}) {
            const WarpCheck r = CheckWarpForm(current, form, devices(), 4, language);
            EXPECT_EQ(r.failedRule, c.rule) << c.what << ": " << r.message.toStdString();
            EXPECT_EQ(r.message, QString::fromUtf8(language == 4 ? c.chinese : c.english)) << c.what;
        }
        EXPECT_EQ(current, before) << c.what << ": the rules work on a copy";
    }
}

TEST(WarpSettingsRules, RulesOfScreenOneComeBeforeScreenTwo)
{
    WarpSettings current;
    current.screens[1].band(0, 0).left = 20;  // rule 15 on screen 2
    WarpForm f = oneChecked();
    f.screenType = 1;
    f.rows = {2, 1};
    current.screens[0].band(1, 0).top = 135;  // rule 9 on screen 1
    EXPECT_EQ(CheckWarpForm(current, f, {}, 9, 9).failedRule, 9);
    current.screens[0].band(1, 0).top = 270;
    EXPECT_EQ(CheckWarpForm(current, f, {}, 9, 9).failedRule, 15);
}

TEST(WarpSettingsRules, SavedBlockCarriesSlotsTargetsRotationAndColours)
{
    WarpSettings current;
    current.screens[0].band(0, 0).right = 120;
    current.screens[0].band(0, 1).left = 120;
    WarpForm f;
    f.singleChannel = true;
    f.screenType = 1;
    f.columns = {2, 1};
    f.rotation = {2, 1};
    f.channelChecked = {true, false, true};
    f.deviceChoice = {1, 0, 0};
    f.cursor = {1, 2, 3, 9};
    const WarpCheck r = CheckWarpForm(current, f, devices(), 1, 9);
    ASSERT_EQ(r.failedRule, 0) << r.message.toStdString();
    ASSERT_EQ(r.targets.size(), 2u);
    EXPECT_EQ(r.targets[0].ip, "127.0.0.3");
    EXPECT_EQ(r.targets[0].port, 5001);
    EXPECT_EQ(r.targets[1].ip, "127.0.0.2");
    const WarpSettings& w = r.settings;
    EXPECT_EQ(w.screenMode, 2);
    EXPECT_EQ(w.recordsInUse, 2);
    EXPECT_EQ(w.rotation, 0x12);
    EXPECT_EQ(w.cursor, (Colour4{1, 2, 3, 0}));
    EXPECT_EQ(w.screens[0].slotCount, 2);
    EXPECT_EQ(w.screens[0].channelSlots[0], (ChannelSlot{0, 1}));
    EXPECT_EQ(w.screens[0].channelSlots[1], (ChannelSlot{1, 0}));
    EXPECT_EQ(w.screens[1].channelSlots[0], (ChannelSlot{2, 1}));
    EXPECT_EQ(w.screens[1].outputWidth, 1920);
    EXPECT_EQ(w.screens[0].band(0, 0).right, 120);
    EXPECT_EQ(w.screens[2].rows, 0) << "records past those in use are cleared";
}

TEST(WarpSetupArrangement, PlacementsFromTheSettings)
{
    struct Row {
        const char* what;
        int rows, columns;
        bool single;
        std::vector<std::array<int, 4>> placements;
    };
    const Row rows[] = {
        {"1 x 2, right band 240", 1, 2, false, {{0, 0, 1920, 1080}, {1680, 0, 3600, 1080}}},
        {"2 x 1, bottom band 270", 2, 1, false, {{0, 0, 1920, 1080}, {0, 810, 1920, 1890}}},
        {"single channel, two devices", 1, 2, true, {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}}},
    };
    for (const Row& r : rows) {
        WarpSettings w;
        ScreenLayout& L = w.screens[0];
        L.rows = uint16_t(r.rows);
        L.columns = uint16_t(r.columns);
        L.outputWidth = 1920;
        L.outputHeight = 1080;
        L.slotCount = uint16_t(r.rows * r.columns);
        L.channelSlots[0] = {1, 1};
        L.channelSlots[1] = {0, 1};
        w.cursor = {9, 8, 7, 0};
        const BlendArrangement a = BuildBlendArrangement(w, r.single);
        ASSERT_EQ(a.channelCount, r.placements.size()) << r.what;
        EXPECT_EQ(a.screenCount, 1) << r.what;
        EXPECT_EQ(a.markerColour, (std::array<uint8_t, 3>{9, 8, 7})) << r.what;
        for (std::size_t i = 0; i < r.placements.size(); ++i) {
            const BlendChannel& c = a.channels[i];
            EXPECT_EQ((std::array<int, 4>{c.left, c.top, c.right, c.bottom}), r.placements[i]) << r.what << " #" << i;
            EXPECT_EQ(c.bandLeft, 240) << r.what;
            EXPECT_EQ(c.bandTop, 270) << r.what;
            EXPECT_EQ(c.layoutMode, 1) << r.what;
        }
        EXPECT_EQ(a.channels[0].channel, 1) << r.what;
        EXPECT_EQ(a.channels[1].channel, 0) << r.what;
    }
}

TEST(WarpSettings, TargetsSpreadOverTheCellsInUse)
{
    const SendTarget a{QStringLiteral("127.0.0.2"), {}, 5005, 0}, b{QStringLiteral("127.0.0.4"), {}, 5005, 0};
    const struct {
        const char* name;
        std::vector<int> selected;  // per cell of one 1 x n screen
        std::vector<QString> want;  // "" where the cell has no player
    } rows[] = {
        {"a gap", {1, 0, 1}, {"127.0.0.2", "", "127.0.0.4"}},
        {"no gap", {1, 1, 0}, {"127.0.0.2", "127.0.0.4", ""}},
        {"more checked than players", {1, 1, 1}, {"127.0.0.2", "127.0.0.4", ""}},
    };
    for (const auto& r : rows) {
        WarpSettings w;
        w.screens[0].columns = uint16_t(r.selected.size());
        w.screens[0].slotCount = uint16_t(r.selected.size());
        for (std::size_t k = 0; k < r.selected.size(); ++k)
            w.screens[0].channelSlots[k] = {uint16_t(k), uint8_t(r.selected[k])};
        const auto got = TargetsByCell(w, {a, b});
        ASSERT_EQ(got.size(), r.want.size()) << r.name;
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_EQ(got[k].ip, r.want[k]) << r.name << " " << k;
    }
}
