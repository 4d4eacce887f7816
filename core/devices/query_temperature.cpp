#include "core/devices/query_temperature.h"

#include "common/file_commit.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>

namespace temperature {

QByteArray TemperatureSample::pack() const
{
    QByteArray out(kSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (std::size_t i = 0; i < time.size(); ++i)
        proto::putU16(p + 2 * i, time[i]);
    p[16] = cpu;
    p[17] = fpgaIn;
    p[18] = fpgaOut;
    return out;
}

TemperatureSample TemperatureSample::unpack(const uint8_t* bytes, std::size_t size)
{
    std::array<uint8_t, kSize> full{};
    std::copy_n(bytes, std::min<std::size_t>(size, kSize), full.begin());
    TemperatureSample s;
    for (std::size_t i = 0; i < s.time.size(); ++i)
        s.time[i] = proto::getU16(full.data() + 2 * i);
    s.cpu = full[16];
    s.fpgaIn = full[17];
    s.fpgaOut = full[18];
    return s;
}

TemperatureSample MakeSample(const QDateTime& local, uint8_t cpu, uint8_t fpgaIn, uint8_t fpgaOut)
{
    const QDate d = local.date();
    const QTime t = local.time();
    TemperatureSample s;
    s.time = {uint16_t(d.year()),   uint16_t(d.month()),  uint16_t(d.dayOfWeek() % 7), uint16_t(d.day()),
              uint16_t(t.hour()),   uint16_t(t.minute()), uint16_t(t.second()),        uint16_t(t.msec())};
    s.cpu = cpu;
    s.fpgaIn = fpgaIn;
    s.fpgaOut = fpgaOut;
    return s;
}

QString LogFileName(const TemperatureSample& s)
{
    return QString::asprintf("%04d-%02d-%02d.dat", s.time[0], s.time[1], s.time[3]);
}

bool AppendSample(const QString& folder, const TemperatureSample& sample, QString* error)
{
    // A folder that cannot be made shows as the file that cannot be opened.
    platform::ensureFolder(folder);
    return filecommit::appendRecord(QDir(folder).filePath(LogFileName(sample)), sample.pack(), error);
}

void TemperatureHistory::add(const TemperatureSample& sample)
{
    if (samples_.size() == kCapacity)
        samples_.pop_front();
    samples_.push_back(sample);
}

namespace {

const QRect kChartFrame(QPoint(60, 130), QPoint(759, 329));
constexpr int kLabelAlign = Qt::AlignHCenter | Qt::AlignVCenter;

// The box label k ("0", "10" ... "100") is centred in.
QRect LabelBox(int k)
{
    const int left = k == 0 ? 43 : (k == 10 ? 27 : 35);
    return QRect(QPoint(left, 320 - 20 * k), QPoint(59, 339 - 20 * k));
}

}  // namespace

QFont ChartLabelFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    return font;
}

QRect ChartExtent(const QFontMetrics& labels)
{
    // The frame's pen covers one pixel right of and below its rectangle.
    QRect extent = kChartFrame.adjusted(0, 0, 1, 1);
    for (int k = 0; k <= 10; ++k)
        extent |= labels.boundingRect(LabelBox(k), kLabelAlign, QString::number(10 * k));
    return extent;
}

void DrawTemperatureChart(QPainter& painter, const TemperatureHistory& history, std::vector<QRect>* labelRects)
{
    painter.save();
    const QColor grey(96, 96, 96);
    painter.setPen(QPen(grey, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(kChartFrame);
    painter.setFont(ChartLabelFont());
    for (int k = 0; k <= 10; ++k) {
        QRect drawn;
        painter.drawText(LabelBox(k), kLabelAlign, QString::number(10 * k), &drawn);
        if (labelRects)
            labelRects->push_back(drawn);
    }
    const std::array<std::pair<QColor, uint8_t TemperatureSample::*>, 3> lines = {{
        {QColor(255, 0, 0), &TemperatureSample::cpu},
        {QColor(0, 255, 0), &TemperatureSample::fpgaIn},
        {QColor(0, 0, 255), &TemperatureSample::fpgaOut},
    }};
    for (const auto& [colour, field] : lines) {
        if (history.size() == 0)
            break;
        QPainterPath path;
        for (std::size_t i = 0; i < history.size(); ++i) {
            const QPointF point(60.0 + double(i), 330.0 - 2.0 * history.at(i).*field);
            if (i == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
        painter.setPen(QPen(colour, 1));
        painter.drawPath(path);
    }
    painter.restore();
}

}  // namespace temperature

namespace {

// The chart area over the "Graphs" group; `origin` is where the chart's
// (0,0) lies in the dialog.
class ChartArea : public QWidget {
public:
    ChartArea(const temperature::TemperatureHistory& history, QPoint origin, QWidget* parent)
        : QWidget(parent), history_(history), origin_(origin)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.translate(origin_ - pos());
        temperature::DrawTemperatureChart(painter, history_);
    }

private:
    const temperature::TemperatureHistory& history_;
    const QPoint origin_;
};

}  // namespace

CQueryTemperature::CQueryTemperature(const QString& titlePrefix, const QString& playerFolder, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kTemperature, parent),
      logFolder_(QDir(playerFolder).filePath(QStringLiteral("TemperatureData")))
{
    auto* values = new QGroupBox(Text("Temperature Value", "温度值"), this);
    values->setGeometry(10, 8, 470, 100);
    auto valueField = [&](int id, const QString& label, int x) {
        auto* caption = new QLabel(label, values);
        caption->setGeometry(x, 28, 140, 22);
        auto* edit = new QLineEdit(values);
        edit->setObjectName(ControlName(id));
        edit->setReadOnly(true);
        edit->setGeometry(x, 54, 130, 28);
        return edit;
    };
    cpu_ = valueField(2701, QStringLiteral("CPU:"), 12);
    fpgaIn_ = valueField(2702, Text("FPGA In:", "FPGA输入端:"), 164);
    fpgaOut_ = valueField(2703, Text("FPGA Out:", "FPGA输出端:"), 316);

    auto* query = new QGroupBox(Text("Query interval", "查询间隔"), this);
    query->setGeometry(490, 8, 300, 100);
    auto* intervalLabel = new QLabel(Text("Interval Time(S):", "间隔时间(秒):"), query);
    intervalLabel->setGeometry(10, 24, 130, 24);
    interval_ = new QSpinBox(query);
    interval_->setObjectName(ControlName(2704));
    interval_->setRange(0, 1000);
    interval_->setValue(1);
    interval_->setGeometry(140, 24, 80, 26);
    start_ = new QPushButton(Text("Start", "开始查询"), query);
    start_->setObjectName(ControlName(2706));
    start_->setGeometry(10, 60, 88, 28);
    stop_ = new QPushButton(Text("Stop", "停止查询"), query);
    stop_->setObjectName(ControlName(2707));
    stop_->setGeometry(106, 60, 88, 28);
    stop_->setEnabled(false);
    playbackButton_ = new QPushButton(Text("Playback", "回放"), query);
    playbackButton_->setObjectName(ControlName(2708));
    playbackButton_->setGeometry(202, 60, 88, 28);

    // The chart keeps its own coordinates; how far it moves, and how large
    // the group round it is, depends on the size of the group's title and
    // border in this style and font and on what the label font measures, so
    // that no label crosses the title or the border.
    auto* graphs = new QGroupBox(Text("Graphs", "曲线图"), this);
    graphs->move(10, 110);
    const QMargins frame = graphs->contentsMargins();
    const int gap = style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, graphs);
    const QRect extent = temperature::ChartExtent(QFontMetrics(temperature::ChartLabelFont(), graphs))
                             .marginsAdded(QMargins(gap, gap, gap, gap));
    const QPoint inside = graphs->pos() + QPoint(frame.left(), frame.top());
    chartOrigin_ = QPoint(std::max(0, inside.x() - extent.left()), std::max(0, inside.y() - extent.top()));
    const QRect placed = extent.translated(chartOrigin_);
    graphs->resize(std::max(780, placed.right() + 1 + frame.right() - graphs->x()),
                   placed.bottom() + 1 + frame.bottom() - graphs->y());
    chart_ = new ChartArea(history_, chartOrigin_, this);
    chart_->setGeometry(graphs->contentsRect().translated(graphs->pos()));

    auto* cancel = new QPushButton(Text("Cancel", "关闭"), this);
    cancel->setObjectName(ControlName(2));
    const int right = graphs->geometry().right() + 1;
    cancel->setGeometry(right - 100, graphs->geometry().bottom() + 11, 100, 30);
    setFixedSize(right + 10, cancel->geometry().bottom() + 11);
    for (QPushButton* b : {start_, stop_, playbackButton_, cancel})
        b->setAutoDefault(false);

    connect(start_, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(stop_, &QPushButton::clicked, this, [this] { OnStop(); });
    connect(playbackButton_, &QPushButton::clicked, this, [this] { OnPlayback(); });
    connect(cancel, &QPushButton::clicked, this, &CQueryTemperature::reject);
    onMessage(platform::WM_TEMPERATURE_REPLY,
              [this](platform::WPARAM w, platform::LPARAM l) { return OnReply(w, l); });
}

CQueryTemperature::~CQueryTemperature()
{
    platform::MessageWindow::killTimer(kTimerQuery);
    platform::MessageWindow::killTimer(kTimerPlayback);
}

void CQueryTemperature::OnInitDialog()
{
    platform::ensureFolder(logFolder_);
}

void CQueryTemperature::OnStart()
{
    const int n = interval_->value();
    if (n < 1 || n > 1000) {
        Message("Query time set wrong!", "查询时间设置错误！", platform::MsgIcon::Warning);
        return;
    }
    history_.clear();
    chart_->update();
    SendQuery();
    interval_->setEnabled(false);
    start_->setEnabled(false);
    stop_->setEnabled(true);
    playbackButton_->setEnabled(false);
    platform::MessageWindow::setTimer(kTimerQuery, n * 1000);
}

void CQueryTemperature::OnStop()
{
    platform::MessageWindow::killTimer(kTimerQuery);
    interval_->setEnabled(true);
    start_->setEnabled(true);
    stop_->setEnabled(false);
    playbackButton_->setEnabled(true);
}

void CQueryTemperature::reject()
{
    platform::MessageWindow::killTimer(kTimerQuery);
    platform::MessageWindow::killTimer(kTimerPlayback);
    playback_.reset();
    QDialog::reject();
}

void CQueryTemperature::SendQuery()
{
    SendToPlayer(Header(proto::CMD_TEMPERATURE));
    pending_ = true;
    pendingSince_.start();
}

void CQueryTemperature::onTimer(unsigned id)
{
    if (id == kTimerQuery) {
        // A reply that never came must not stop the polling for good.
        if (pending_ && pendingSince_.isValid() && pendingSince_.elapsed() >= pendingExpiryMs)
            pending_ = false;
        if (!pending_)
            SendQuery();
    } else if (id == kTimerPlayback) {
        StepPlayback();
    }
}

void CQueryTemperature::ShowValue(QLineEdit* edit, uint8_t value, bool colour)
{
    edit->setText(QStringLiteral("%1.0").arg(value));
    if (!colour)
        return;
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, value >= kHot ? QColor(255, 0, 0) : QColor(0, 255, 0));
    edit->setPalette(palette);
}

platform::LRESULT CQueryTemperature::OnReply(platform::WPARAM, platform::LPARAM lParam)
{
    std::unique_ptr<replies::TemperatureRecord> record(reinterpret_cast<replies::TemperatureRecord*>(lParam));
    if (!record)
        return 0;
    ShowValue(cpu_, record->t1, true);
    ShowValue(fpgaIn_, record->t2, true);
    ShowValue(fpgaOut_, record->t3, true);
    const temperature::TemperatureSample sample = temperature::MakeSample(now(), record->t1, record->t2, record->t3);
    QString error;
    if (!temperature::AppendSample(logFolder_, sample, &error) && !writeFailureShown_) {
        // Once: a full disk must not bury the operator in boxes, and the
        // readings go on.
        writeFailureShown_ = true;
        Message(filecommit::cannotWriteMessage(Language(), QDir(logFolder_).filePath(temperature::LogFileName(sample)),
                                               error),
                platform::MsgIcon::Warning);
    }
    history_.add(sample);
    chart_->update();
    pending_ = false;
    return 0;
}

void CQueryTemperature::OnPlayback()
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = Text("Select the temperature data file", "选择温度数据文件");
    call.folder = logFolder_;
    call.filter = Text("Temperature data file(*.DAT)|*.DAT||", "温度数据文件(*.DAT)|*.DAT||");
    call.defaultSuffix = QStringLiteral("DAT");
    const QString path = platform::fileDialog(call, this);
    if (path.isEmpty())
        return;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        Message("Data file error!", "数据文件错误！", platform::MsgIcon::Warning);
        return;
    }
    playback_ = std::move(file);
    history_.clear();
    chart_->update();
    platform::MessageWindow::setTimer(kTimerPlayback, kPlaybackMs);
    start_->setEnabled(false);
    playbackButton_->setEnabled(false);
}

void CQueryTemperature::StepPlayback()
{
    if (!playback_)
        return;
    if (playback_->pos() < playback_->size()) {
        const QByteArray bytes = playback_->read(temperature::TemperatureSample::kSize);
        const auto sample = temperature::TemperatureSample::unpack(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                                                   std::size_t(bytes.size()));
        ShowValue(cpu_, sample.cpu, false);
        ShowValue(fpgaIn_, sample.fpgaIn, false);
        ShowValue(fpgaOut_, sample.fpgaOut, false);
        history_.add(sample);
        chart_->update();
        if (!bytes.isEmpty())
            return;
    }
    platform::MessageWindow::killTimer(kTimerPlayback);
    playback_.reset();
    start_->setEnabled(true);
    playbackButton_->setEnabled(true);
}
