#include "core/devices/power.h"
#include "tests/core/device_harness.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimeEdit>

namespace {

using devtest::DeviceHarness;
using testsupport::waitUntil;

TEST(PowerTiming, ZoneFromTheSystemBias)
{
    struct Row {
        int bias;
        bool daylight;
        int daylightBias;
        int32_t zone;
        int32_t storedDaylight;
    };
    const Row rows[] = {
        {-480, false, 0, 8, 0},   {300, false, 0, -5, 0},  {-330, false, 0, 5, 0},
        {0, false, -60, 0, 0},    {300, true, -60, -5, -60}, {59, false, 0, 0, 0},
    };
    for (const Row& r : rows) {
        power::PowerTimer t;
        power::ApplyTimeZone(t, {r.bias, r.daylight, r.daylightBias});
        EXPECT_EQ(t.zoneHours, r.zone) << r.bias;
        EXPECT_EQ(t.daylightBias, r.storedDaylight) << r.bias;
    }
}

TEST(PowerTiming, RecordBytes)
{
    power::PowerTimer t;
    t.enable = 1;
    t.onHour = 7;
    t.onMinute = 30;
    t.offHour = 23;
    t.offSecond = 59;
    t.zoneHours = -5;
    t.daylightBias = -60;
    const QByteArray bytes = t.pack();
    EXPECT_EQ(bytes.toHex(), QByteArray("01071e0017003bfbffffffc4ffffff"));
    const power::PowerTimer back = power::PowerTimer::unpack(reinterpret_cast<const uint8_t*>(bytes.constData()));
    EXPECT_EQ(back.pack(), bytes);
    EXPECT_FALSE(power::TimeOfDay(25, 0, 0).has_value());
}

TEST(PowerTiming, QueryOnOffAndTimerAgainstThePlayer)
{
    DeviceHarness h;
    power::PowerTimer stored;
    stored.enable = 1;
    stored.onHour = 8;
    stored.offHour = 22;
    stored.offMinute = 15;
    stored.zoneHours = 8;
    h.withStore<int>([&](sim::DeviceStore& s) {
        s.powerTimer = stored.pack();
        return 0;
    });
    CPower dialog(h.doc->titlePrefix());
    dialog.timeZone = [] { return power::TimeZoneInfo{-480, false, 0}; };
    auto* onTime = dialog.findChild<QTimeEdit*>(QStringLiteral("4003"));
    auto* enable = dialog.findChild<QCheckBox*>(QStringLiteral("4006"));
    dialog.OnInitDialog();
    EXPECT_FALSE(onTime->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return enable->isChecked(); }));
    EXPECT_TRUE(onTime->isEnabled());
    EXPECT_EQ(onTime->time(), QTime(8, 0, 0));
    EXPECT_EQ(dialog.findChild<QTimeEdit*>(QStringLiteral("4004"))->time(), QTime(22, 15, 0));
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("4007"))->text(), QStringLiteral("8"));
    const auto query = h.requests(proto::CMD_POWER);
    ASSERT_EQ(query.size(), 1u);
    EXPECT_EQ(query[0].header.param, 3);
    EXPECT_EQ(query[0].header.arg, 1);
    EXPECT_TRUE(query[0].payload.isEmpty());

    // Off now: param 0, arg 0, and the document says "PowerOff".
    dialog.findChild<QRadioButton*>(QStringLiteral("4002"))->setChecked(true);
    dialog.OnSetPower();
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 1; }));
    EXPECT_EQ(h.boxes.calls[0].text, QStringLiteral("PowerOff"));
    EXPECT_FALSE(h.withStore<bool>([](sim::DeviceStore& s) { return s.powerOn; }));

    // The timer with "Enable" cleared: byte 0 is 0, the times still filled in.
    enable->setChecked(false);
    dialog.OnEnable();
    EXPECT_FALSE(onTime->isEnabled());
    dialog.findChild<QLineEdit*>(QStringLiteral("4007"))->setText(QStringLiteral("3"));
    dialog.OnSetTimer();
    ASSERT_TRUE(waitUntil([&] { return h.boxes.calls.size() == 2; }));
    EXPECT_EQ(h.boxes.calls[1].text, QStringLiteral("Timing on / off parameter setting completed"));
    power::PowerTimer expected = stored;
    expected.enable = 0;
    EXPECT_EQ(h.withStore<QByteArray>([](sim::DeviceStore& s) { return s.powerTimer; }), expected.pack());
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("4007"))->text(), QStringLiteral("8"));
}

TEST(PowerTiming, ATimeThatIsNoTimeGoesBackAsFF)
{
    DeviceHarness h;
    h.withStore<int>([&](sim::DeviceStore& s) {
        s.powerTimer = QByteArray::fromHex("01190000170000000000000000000000").left(15);
        return 0;
    });
    CPower dialog(h.doc->titlePrefix());
    dialog.timeZone = [] { return power::TimeZoneInfo{}; };
    dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return dialog.findChild<QCheckBox*>(QStringLiteral("4006"))->isChecked(); }));
    dialog.OnSetTimer();
    ASSERT_TRUE(waitUntil([&] { return h.requests(proto::CMD_POWER).size() == 2; }));
    EXPECT_EQ(h.requests(proto::CMD_POWER)[1].payload.toHex(), QByteArray("01ffffff170000000000000000000000").left(30));
}

}  // namespace
