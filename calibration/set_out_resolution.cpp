#include "calibration/set_out_resolution.h"

#include "calibration/player_requests.h"
#include "common/controls/dialog_keys.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using calib::OutputTiming;
using calib::TimingOutput;

namespace {

QString pick(unsigned language, const char* english, const char* chinese)
{
    return language == 4 ? QString::fromUtf8(chinese) : QString::fromUtf8(english);
}

const char* const kLabels[OutputTiming::kFields] = {"FrameRate:",   "TOTAL_PIX:",   "TOTAL_LINE:",
                                                    "HSYNC_WIDTH:", "VSYNC_WIDTH:", "ACTIVE_HSTAR:",
                                                    "ACTIVE_HSIZE:", "ACTIVE_VSTAR:", "ACTIVE_VSIZE:"};

}  // namespace

CSetOutResoltion::CSetOutResoltion(const QString& titlePrefix, uint32_t playerKind, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(platform::appLanguage()),
      kind_(playerKind)
{
    setWindowTitle(titlePrefix + pick(language_, replies::kOutputMode.english, replies::kOutputMode.chinese));

    auto* hdmiBox = new QGroupBox(QStringLiteral("HDMI"), this);
    auto* hdmiGrid = new QGridLayout(hdmiBox);
    hdmiCombo_ = new QComboBox(hdmiBox);
    hdmiCombo_->setObjectName(QStringLiteral("1501"));
    for (const auto& p : calib::HdmiPresets())
        hdmiCombo_->addItem(QString::fromLatin1(p.text));
    hdmiGrid->addWidget(hdmiCombo_, 0, 0, 1, 2);
    for (std::size_t i = 0; i < OutputTiming::kFields; ++i) {
        auto* edit = new QSpinBox(hdmiBox);
        // The edit takes 0..255 for the frame rate (one byte on the wire),
        // 0..65535 for the others.
        edit->setRange(0, i == OutputTiming::kFrameRate ? 255 : 65535);
        edit->setObjectName(QString::number(1502 + 2 * i));
        edit->setMinimumWidth(90);
        auto* label = new QLabel(QString::fromLatin1(kLabels[i]), hdmiBox);
        hdmiGrid->addWidget(label, int(i) + 1, 0);
        hdmiGrid->addWidget(edit, int(i) + 1, 1);
        edits_[i] = edit;
    }
    manualBox_ = new QCheckBox(pick(language_, "Manual Input", "手动输入"), hdmiBox);
    manualBox_->setObjectName(QStringLiteral("1520"));
    hdmiGrid->addWidget(manualBox_, int(OutputTiming::kFields) + 1, 0, 1, 2);
    QPushButton* hdmiSet = controls::MakeButton(pick(language_, "Set", "设置"), 1, hdmiBox);
    hdmiGrid->addWidget(hdmiSet, int(OutputTiming::kFields) + 2, 0, 1, 2);

    auto* vgaBox = new QGroupBox(QStringLiteral("VGA"), this);
    auto* vgaLayout = new QVBoxLayout(vgaBox);
    vgaCombo_ = new QComboBox(vgaBox);
    vgaCombo_->setObjectName(QStringLiteral("1521"));
    for (int index : calib::kVgaPresets)
        vgaCombo_->addItem(QString::fromLatin1(calib::HdmiPresets()[std::size_t(index)].text));
    vgaSet_ = controls::MakeButton(pick(language_, "Set", "设置"), 1522, vgaBox);
    vgaLayout->addWidget(vgaCombo_);
    vgaLayout->addWidget(vgaSet_);
    vgaLayout->addStretch();

    QPushButton* cancel = controls::MakeButton(pick(language_, "Cancel", "关闭"), 2, this);

    auto* columns = new QHBoxLayout;
    columns->addWidget(hdmiBox);
    columns->addWidget(vgaBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    connect(hdmiCombo_, &QComboBox::currentIndexChanged, this, &CSetOutResoltion::OnHdmiPreset);
    connect(vgaCombo_, &QComboBox::currentIndexChanged, this, &CSetOutResoltion::OnVgaPreset);
    connect(manualBox_, &QCheckBox::toggled, this, &CSetOutResoltion::OnManualInput);
    connect(hdmiSet, &QPushButton::clicked, this, &CSetOutResoltion::OnSetHdmi);
    connect(vgaSet_, &QPushButton::clicked, this, &CSetOutResoltion::OnSetVga);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    onMessage(platform::WM_OUTPUT_MODE_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        // The record is the document's heap record; it becomes ours here.
        std::unique_ptr<replies::OutputModeRecord> record(reinterpret_cast<replies::OutputModeRecord*>(l));
        if (!record)
            return platform::LRESULT(0);
        auto timing = std::make_unique<OutputTiming>(
            *OutputTiming::fromRecord(record->bytes.data(), record->bytes.size()));
        OnOutputModeReply(w, timing.release());
        return platform::LRESULT(0);
    });

    // Opening: the first presets, fields disabled until manual input.
    {
        const QSignalBlocker block(hdmiCombo_);
        hdmiCombo_->setCurrentIndex(kind_ == 3 ? 6 : 0);
    }
    hdmi_ = calib::HdmiPresets()[std::size_t(hdmiCombo_->currentIndex())].timing;
    vga_ = calib::HdmiPresets()[std::size_t(calib::kVgaPresets[0])].timing;
    showFields(hdmi_);
    setHdmiEditsEnabled(false);
    if (kind_ == 3) {
        manualBox_->setEnabled(false);
        vgaCombo_->setEnabled(false);
        vgaSet_->setEnabled(false);
    }
    calib::SendPacket(calib::BuildTimingQuery(TimingOutput::Hdmi));
}

CSetOutResoltion::~CSetOutResoltion() = default;

void CSetOutResoltion::showFields(const OutputTiming& t)
{
    for (std::size_t i = 0; i < OutputTiming::kFields; ++i)
        edits_[i]->setValue(t[i]);
}

void CSetOutResoltion::setHdmiEditsEnabled(bool on)
{
    for (QSpinBox* e : edits_)
        e->setEnabled(on);
}

OutputTiming CSetOutResoltion::hdmiFields() const
{
    OutputTiming t;
    for (std::size_t i = 0; i < OutputTiming::kFields; ++i)
        t.values[i] = uint16_t(edits_[i]->value());
    return t;
}

void CSetOutResoltion::OnHdmiPreset(int index)
{
    const auto& presets = calib::HdmiPresets();
    if (index >= 0 && index < int(presets.size())) {
        hdmi_ = presets[std::size_t(index)].timing;
        showFields(hdmi_);
    }
}

void CSetOutResoltion::OnVgaPreset(int index)
{
    if (index >= 0 && index < int(calib::kVgaPresets.size()))
        vga_ = calib::HdmiPresets()[std::size_t(calib::kVgaPresets[std::size_t(index)])].timing;
}

void CSetOutResoltion::OnManualInput(bool on)
{
    manual_ = on;
    setHdmiEditsEnabled(on);
}

void CSetOutResoltion::OnSetHdmi()
{
    hdmi_ = hdmiFields();
    calib::SendPacket(calib::BuildTimingSet(TimingOutput::Hdmi, hdmi_));
}

void CSetOutResoltion::OnSetVga()
{
    calib::SendPacket(calib::BuildTimingSet(TimingOutput::Vga, vga_));
}

void CSetOutResoltion::OnOutputModeReply(platform::WPARAM output, OutputTiming* record)
{
    const std::unique_ptr<OutputTiming> owned(record);
    if (!owned)
        return;
    const QString text = owned->text();
    if (output == 0) {
        hdmi_ = *owned;
        showFields(hdmi_);
        int index = hdmiCombo_->findText(text, Qt::MatchExactly);
        if (index < 0) {
            hdmiCombo_->addItem(text);
            index = hdmiCombo_->count() - 1;
        }
        {
            // Selecting the reported entry shows the player's values, not a preset's.
            const QSignalBlocker block(hdmiCombo_);
            hdmiCombo_->setCurrentIndex(index);
        }
        calib::SendPacket(calib::BuildTimingQuery(TimingOutput::Vga));
    } else if (output == 1) {
        // The values follow the entry shown, so that Set sends what the
        // operator sees.
        const int index = std::max(0, calib::FindVgaPreset(text));
        {
            const QSignalBlocker block(vgaCombo_);
            vgaCombo_->setCurrentIndex(index);
        }
        OnVgaPreset(index);
    }
    update();
}

// Enter and Esc close nothing: the dialog is left through its buttons.
void CSetOutResoltion::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
