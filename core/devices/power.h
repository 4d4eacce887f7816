#pragma once
// CPower: switches the current player on or off at once and reads and sets
// its daily on/off timer.

#include "core/devices/device_dialog.h"

#include <QByteArray>
#include <QTime>

#include <cstdint>
#include <optional>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QTimeEdit;

namespace power {

// The 15-byte timer record: payload of the timer set, body of its reply.
struct PowerTimer {
    static constexpr int kSize = 15;
    uint8_t enable = 0;
    uint8_t onHour = 0, onMinute = 0, onSecond = 0;
    uint8_t offHour = 0, offMinute = 0, offSecond = 0;
    int32_t zoneHours = 0;
    int32_t daylightBias = 0;  // minutes; 0 when daylight saving time is not in force

    QByteArray pack() const;
    static PowerTimer unpack(const uint8_t* bytes);  // exactly kSize bytes
};

// The platform's time-zone information, Windows style: bias = UTC - local
// in minutes (-480 for UTC+8).
struct TimeZoneInfo {
    int biasMinutes = 0;
    bool daylightInForce = false;
    int daylightBiasMinutes = 0;  // -60 for one hour ahead in summer
};
TimeZoneInfo SystemTimeZone();
// -bias / 60, truncated toward zero.
int32_t ZoneHours(int biasMinutes);
// Zone and daylight fields of the record from the information.
void ApplyTimeZone(PowerTimer& timer, const TimeZoneInfo& zone);
// A time of day from three record bytes; nothing when they form no time.
std::optional<QTime> TimeOfDay(uint8_t hour, uint8_t minute, uint8_t second);

}  // namespace power

class CPower : public CDeviceDialog {
public:
    explicit CPower(const QString& titlePrefix, QWidget* parent = nullptr);

    void OnInitDialog();   // prefix, "On" checked, pickers off, timer query
    void OnSetPower();     // IDOK "Set": on or off now
    void OnSetTimer();     // 4005 "Set": the timer record
    void OnEnable();       // 4006
    void accept() override { OnSetPower(); }

    // The time-zone source; tests replace it.
    std::function<power::TimeZoneInfo()> timeZone = power::SystemTimeZone;

private:
    platform::LRESULT OnReply(platform::WPARAM, platform::LPARAM lParam);

    QRadioButton* on_ = nullptr;
    QRadioButton* off_ = nullptr;
    QTimeEdit* onTime_ = nullptr;
    QTimeEdit* offTime_ = nullptr;
    QCheckBox* enable_ = nullptr;
    QLineEdit* zone_ = nullptr;
    bool onValid_ = true;
    bool offValid_ = true;
};
