#include "core/devices/power.h"

#include "common/controls/dialog_keys.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimeZone>
#include <QVBoxLayout>

#include <memory>

namespace power {

QByteArray PowerTimer::pack() const
{
    QByteArray out(kSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = enable;
    p[1] = onHour;
    p[2] = onMinute;
    p[3] = onSecond;
    p[4] = offHour;
    p[5] = offMinute;
    p[6] = offSecond;
    proto::putU32(p + 7, uint32_t(zoneHours));
    proto::putU32(p + 11, uint32_t(daylightBias));
    return out;
}

PowerTimer PowerTimer::unpack(const uint8_t* p)
{
    PowerTimer t;
    t.enable = p[0];
    t.onHour = p[1];
    t.onMinute = p[2];
    t.onSecond = p[3];
    t.offHour = p[4];
    t.offMinute = p[5];
    t.offSecond = p[6];
    t.zoneHours = int32_t(proto::getU32(p + 7));
    t.daylightBias = int32_t(proto::getU32(p + 11));
    return t;
}

TimeZoneInfo SystemTimeZone()
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime now = QDateTime::currentDateTime();
    TimeZoneInfo info;
    if (!zone.isValid())
        return info;  // no zone service: zone 0, daylight 0
    info.biasMinutes = -zone.standardTimeOffset(now) / 60;
    info.daylightInForce = zone.isDaylightTime(now);
    if (info.daylightInForce)
        info.daylightBiasMinutes = -zone.daylightTimeOffset(now) / 60;
    return info;
}

int32_t ZoneHours(int biasMinutes)
{
    return -biasMinutes / 60;  // C++ division truncates toward zero
}

void ApplyTimeZone(PowerTimer& timer, const TimeZoneInfo& zone)
{
    timer.zoneHours = ZoneHours(zone.biasMinutes);
    timer.daylightBias = zone.daylightInForce ? zone.daylightBiasMinutes : 0;
}

std::optional<QTime> TimeOfDay(uint8_t hour, uint8_t minute, uint8_t second)
{
    const QTime t(hour, minute, second);
    if (!t.isValid())
        return std::nullopt;
    return t;
}

}  // namespace power

CPower::CPower(const QString& titlePrefix, QWidget* parent) : CDeviceDialog(titlePrefix, replies::kPower, parent)
{
    auto* outer = new QVBoxLayout(this);

    auto* switchGroup = new QGroupBox(Text("PowerON/OFF", "开/关机"), this);
    auto* switchRow = new QHBoxLayout(switchGroup);
    on_ = new QRadioButton(Text("On", "开机"), switchGroup);
    on_->setObjectName(ControlName(4001));
    off_ = new QRadioButton(Text("Off", "关机"), switchGroup);
    off_->setObjectName(ControlName(4002));
    QPushButton* setPower = controls::MakeButton(Text("Set", "设置"), 1, switchGroup);
    switchRow->addWidget(on_);
    switchRow->addWidget(off_);
    switchRow->addStretch();
    switchRow->addWidget(setPower);
    outer->addWidget(switchGroup);

    auto* timerGroup = new QGroupBox(this);
    auto* grid = new QGridLayout(timerGroup);
    onTime_ = new QTimeEdit(timerGroup);
    onTime_->setObjectName(ControlName(4003));
    onTime_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    offTime_ = new QTimeEdit(timerGroup);
    offTime_->setObjectName(ControlName(4004));
    offTime_->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    enable_ = new QCheckBox(Text("Enable", "使能"), timerGroup);
    enable_->setObjectName(ControlName(4006));
    zone_ = new QLineEdit(timerGroup);
    zone_->setObjectName(ControlName(4007));
    zone_->setValidator(new QIntValidator(-24, 24, zone_));
    QPushButton* setTimer = controls::MakeButton(Text("Set", "设置"), 4005, timerGroup);
    grid->addWidget(enable_, 0, 0, 1, 2);
    grid->addWidget(new QLabel(Text("On:", "开机时间:"), timerGroup), 1, 0);
    grid->addWidget(onTime_, 1, 1);
    grid->addWidget(new QLabel(Text("Off:", "关机时间:"), timerGroup), 2, 0);
    grid->addWidget(offTime_, 2, 1);
    grid->addWidget(new QLabel(Text("Zone:", "时区:"), timerGroup), 3, 0);
    grid->addWidget(zone_, 3, 1);
    grid->addWidget(setTimer, 4, 1, Qt::AlignRight);
    outer->addWidget(timerGroup);

    QPushButton* cancel = controls::MakeButton(Text("Cancel", "关闭"), 2, this);
    outer->addWidget(cancel, 0, Qt::AlignRight);

    connect(setPower, &QPushButton::clicked, this, [this] { OnSetPower(); });
    connect(setTimer, &QPushButton::clicked, this, [this] { OnSetTimer(); });
    connect(enable_, &QCheckBox::clicked, this, [this] { OnEnable(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(onTime_, &QTimeEdit::timeChanged, this, [this] { onValid_ = true; });
    connect(offTime_, &QTimeEdit::timeChanged, this, [this] { offValid_ = true; });
    onMessage(platform::WM_POWER_REPLY, [this](platform::WPARAM w, platform::LPARAM l) { return OnReply(w, l); });
}

void CPower::OnInitDialog()
{
    on_->setChecked(true);
    off_->setChecked(false);
    onTime_->setEnabled(false);
    offTime_->setEnabled(false);
    SendToPlayer(Header(proto::CMD_POWER, 0, 0, 3, 1));
}

void CPower::OnSetPower()
{
    SendToPlayer(Header(proto::CMD_POWER, 0, 0, on_->isChecked() ? 1 : 0, 0));
}

void CPower::OnEnable()
{
    onTime_->setEnabled(false);
    offTime_->setEnabled(false);
    if (enable_->isChecked()) {
        onTime_->setEnabled(true);
        offTime_->setEnabled(true);
    }
}

void CPower::OnSetTimer()
{
    power::PowerTimer timer;
    timer.enable = enable_->isChecked() ? 1 : 0;
    power::ApplyTimeZone(timer, timeZone ? timeZone() : power::TimeZoneInfo());
    zone_->setText(QString::number(timer.zoneHours));
    auto fill = [](bool valid, const QTime& t, uint8_t& h, uint8_t& m, uint8_t& s) {
        h = valid ? uint8_t(t.hour()) : 0xFF;
        m = valid ? uint8_t(t.minute()) : 0xFF;
        s = valid ? uint8_t(t.second()) : 0xFF;
    };
    fill(onValid_, onTime_->time(), timer.onHour, timer.onMinute, timer.onSecond);
    fill(offValid_, offTime_->time(), timer.offHour, timer.offMinute, timer.offSecond);
    SendToPlayer(Header(proto::CMD_POWER, 0, 0, 3, 1), timer.pack());
}

platform::LRESULT CPower::OnReply(platform::WPARAM, platform::LPARAM lParam)
{
    std::unique_ptr<replies::PowerRecord> record(reinterpret_cast<replies::PowerRecord*>(lParam));
    if (!record)
        return 0;
    const power::PowerTimer timer = power::PowerTimer::unpack(record->bytes.data());
    enable_->setChecked(timer.enable != 0);
    OnEnable();
    auto show = [](QTimeEdit* edit, bool& valid, std::optional<QTime> t) {
        edit->setTime(t.value_or(QTime(0, 0, 0)));
        valid = t.has_value();  // after setTime, whose signal marks it valid
    };
    show(onTime_, onValid_, power::TimeOfDay(timer.onHour, timer.onMinute, timer.onSecond));
    show(offTime_, offValid_, power::TimeOfDay(timer.offHour, timer.offMinute, timer.offSecond));
    zone_->setText(QString::number(timer.zoneHours));
    return 0;
}
