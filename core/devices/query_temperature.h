#pragma once
// CQueryTemperature: polls the current player's three temperatures, shows
// them, keeps a log file a day, draws the last 700 samples and plays a
// stored day back.

#include "core/devices/device_dialog.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QFont;
class QFontMetrics;
class QLineEdit;
class QPainter;
class QPushButton;
class QSpinBox;

namespace temperature {

// The 19-byte unit of the logs and of the history.
struct TemperatureSample {
    static constexpr int kSize = 19;
    // year, month, day of week (0 Sunday), day, hour, minute, second, milliseconds
    std::array<uint16_t, 8> time{};
    uint8_t cpu = 0, fpgaIn = 0, fpgaOut = 0;

    QByteArray pack() const;
    // Up to kSize bytes; missing bytes count as zero (a short last record).
    static TemperatureSample unpack(const uint8_t* bytes, std::size_t size);
};
TemperatureSample MakeSample(const QDateTime& local, uint8_t cpu, uint8_t fpgaIn, uint8_t fpgaOut);
// "%04d-%02d-%02d.dat" of the sample's local date.
QString LogFileName(const TemperatureSample& sample);
// Appends one sample to the day's file in `folder`, made when missing. On a
// short write the file is cut back, so no half sample stays in it; `error`
// says why.
bool AppendSample(const QString& folder, const TemperatureSample& sample, QString* error = nullptr);

// The last 700 samples in arrival order.
class TemperatureHistory {
public:
    static constexpr std::size_t kCapacity = 700;
    void add(const TemperatureSample& sample);
    void clear() { samples_.clear(); }
    std::size_t size() const { return samples_.size(); }
    const TemperatureSample& at(std::size_t i) const { return samples_[i]; }

private:
    std::deque<TemperatureSample> samples_;
};

// The chart in its own coordinates: frame (60,130)-(760,330), labels 0 to
// 100 (Arial 12 points), one line per temperature. With `labelRects`, the
// rectangle each label was drawn in, "0" first.
void DrawTemperatureChart(QPainter& painter, const TemperatureHistory& history,
                          std::vector<QRect>* labelRects = nullptr);
QFont ChartLabelFont();
// What the frame and the labels cover when the labels measure as `labels`
// says: the chart's extent, whatever font the label font resolves to.
QRect ChartExtent(const QFontMetrics& labels);

}  // namespace temperature

class CQueryTemperature : public CDeviceDialog {
public:
    static constexpr unsigned kTimerQuery = 2;
    static constexpr unsigned kTimerPlayback = 3;
    static constexpr int kPlaybackMs = 10;  // the shortest timer we keep
    static constexpr int kHot = 60;

    // `playerFolder`: the document's folder of this player.
    CQueryTemperature(const QString& titlePrefix, const QString& playerFolder, QWidget* parent = nullptr);
    ~CQueryTemperature() override;

    void OnInitDialog();
    void OnStart();     // 2706
    void OnStop();      // 2707
    void OnPlayback();  // 2708
    void reject() override;  // Cancel
    void onTimer(unsigned id) override;

    const temperature::TemperatureHistory& History() const { return history_; }
    QString LogFolder() const { return logFolder_; }
    bool QueryPending() const { return pending_; }
    bool IsPlayingBack() const { return playback_ != nullptr; }
    // The chart's (0,0) in the dialog's coordinates.
    QPoint ChartOrigin() const { return chartOrigin_; }

    // Local time of the samples; tests replace it.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // A query without a reply for this long no longer holds the next back.
    int pendingExpiryMs = 5000;

private:
    platform::LRESULT OnReply(platform::WPARAM, platform::LPARAM lParam);
    void SendQuery();
    void ShowValue(QLineEdit* edit, uint8_t value, bool colour);
    void StepPlayback();

    QString logFolder_;
    temperature::TemperatureHistory history_;
    QLineEdit* cpu_ = nullptr;
    QLineEdit* fpgaIn_ = nullptr;
    QLineEdit* fpgaOut_ = nullptr;
    QSpinBox* interval_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* playbackButton_ = nullptr;
    QWidget* chart_ = nullptr;
    QPoint chartOrigin_;  // where the chart's (0,0) lies in the dialog
    bool pending_ = false;
    QElapsedTimer pendingSince_;
    bool writeFailureShown_ = false;
    std::unique_ptr<QFile> playback_;
};
