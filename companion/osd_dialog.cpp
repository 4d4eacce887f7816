#include "companion/osd_dialog.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/property_grid.h"
#include "companion/hub_records.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>
#include <limits>
#include <memory>

namespace {

using platform::LPARAM;
using platform::LRESULT;
using platform::WPARAM;

constexpr uint16_t kOsdKind = 4;
constexpr int kSpeedOffset = 2;  // speed = slider position + 2

QColor colourOf(uint32_t value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

uint32_t valueOf(const QColor& colour)
{
    return OsdColourValue(uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue()));
}

void sendOsdPacket(const QByteArray& payload)
{
    proto::PlayerPacketHeader header;
    header.command = proto::CMD_PARAM_FILE;
    header.param = kOsdKind;
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(header, payload))
        return;
    SendToMainWindow(request.release());  // freed there when no main window takes it
}

}  // namespace

COSD::COSD(const QString& tempFolder, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), tempFolder_(tempFolder)
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    setObjectName(QStringLiteral("136"));
    // The dispatcher finds this window by this caption, in both languages.
    setWindowTitle(tollivar::kOsdCaption.text(language_));

    grid_ = new PropertyGrid(this);
    grid_->setObjectName(QStringLiteral("2501"));
    grid_->setHeaderLabels(Text("Property", "属性"), Text("Value", "值"));
    grid_->setNameColumnWidth(120);
    grid_->setDescriptionVisible(true);
    grid_->setModifiedMarking(true);
    QObject::connect(grid_, &PropertyGrid::propertyChanged, this,
                     [this](PropertyItem* item, quintptr data, const QVariant& oldValue, const QVariant& newValue) {
                         OnPropertyChanged(item, data, oldValue, newValue);
                     });

    auto* speedLabel = new QLabel(Text("Speed:", "速度："), this);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("2502"));
    slider_->setRange(0, 5);
    slider_->setTickInterval(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setPageStep(1);
    slider_->setValue(1);
    QObject::connect(slider_, &QSlider::valueChanged, this, [this](int position) { OnSpeedSlider(position); });

    saveButton_ = controls::MakeButton(Text("Save", "保存"), 1, this);
    exitButton_ = controls::MakeButton(Text("Exit", "退出"), 2, this);
    QObject::connect(saveButton_, &QPushButton::clicked, this, [this] { OnOK(); });
    QObject::connect(exitButton_, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(speedLabel);
    speedRow->addWidget(slider_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(saveButton_);
    buttons->addWidget(exitButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(grid_, 1);
    layout->addLayout(speedRow);
    layout->addLayout(buttons);
    resize(460, 400);

    RebuildGrid();
    onMessage(platform::WM_OSD_REPLY, [this](WPARAM w, LPARAM l) { return OnOsdReply(w, l); });
}

COSD::~COSD() = default;

QString COSD::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void COSD::Warn(const char* english, const char* chinese)
{
    platform::messageBox(Text(english, chinese), QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning,
                         this);
}

void COSD::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!initialised_)
        OnInitDialog();
}

void COSD::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}

void COSD::OnInitDialog()
{
    if (initialised_)
        return;
    initialised_ = true;
    if (QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    replySeen_ = false;
    sendOsdPacket(QByteArray());
    RebuildGrid();
}

void COSD::RebuildGrid()
{
    grid_->clear();
    // The group's number must not be one of its rows' (0 is the background).
    PropertyItem* group = grid_->addGroup(nullptr, QStringLiteral("OSD"), kGroup);
    const QString automatic = Text("default", "默认");
    PropertyItem* bg = grid_->addColour(group, Text("BgColor", "背景颜色"), colourOf(settings_.bgColor), kBgColor,
                                        Text("BgColor", "背景颜色"));
    bg->setAutomaticColour(colourOf(OsdSettings().bgColor), automatic);
    PropertyItem* fg = grid_->addColour(group, Text("TextColor", "文字颜色"), colourOf(settings_.textColor),
                                        kTextColor, Text("TextColor", "文字颜色"));
    fg->setAutomaticColour(colourOf(OsdSettings().textColor), automatic);
    // Ranges are checked by the change handler, which names the fault.
    constexpr qint64 kAnyUnsigned = std::numeric_limits<uint32_t>::max();
    grid_->addNumber(group, Text("DisplayTime", "显示时间"), settings_.showTime, 0, kAnyUnsigned, kShowTime,
                     Text("DisplayTime(0~10000S)", "显示时间(0~10000秒)"));
    grid_->addReal(group, Text("Left", "左"), settings_.left, 3, kLeft, Text("Left(0.0~1.0)", "左(0.0~1.0)"));
    grid_->addReal(group, Text("Top", "上"), settings_.top, 3, kTop, Text("Top(0.0~1.0)", "上(0.0~1.0)"));
    grid_->addReal(group, Text("Width", "宽"), settings_.width, 3, kWidth, Text("Width(0.0~1.0)", "宽(0.0~1.0)"));
    grid_->addReal(group, Text("Height", "高"), settings_.height, 3, kHeight,
                   Text("Height(0.0~1.0)", "高(0.0~1.0)"));
    grid_->addText(group, Text("Text", "文字"), settings_.text, kText,
                   Text("Text,Up to 140 characters", "文字,最多70个汉字"));
    grid_->addNumber(group, Text("Transparent", "透明度"), settings_.transparent, 0, kAnyUnsigned, kTransparent,
                     Text("Transparent(0~100)", "透明度(0~100)"));
    grid_->addCheck(group, Text("Enable", "启用"), settings_.osdEnable, kEnable, Text("Enable", "启用"));
}

void COSD::OnPropertyChanged(PropertyItem* item, quintptr data, const QVariant& oldValue, const QVariant& newValue)
{
    auto fraction = [&](double& stored, const char* english, const char* chinese) {
        const double value = newValue.toDouble();
        if (!std::isfinite(value) || value < 0.0 || value > 1.0) {
            item->setValue(oldValue);
            Warn(english, chinese);
            return;
        }
        stored = value;
    };
    switch (data) {
    case kBgColor:
        settings_.bgColor = valueOf(newValue.value<QColor>());
        return;
    case kTextColor:
        settings_.textColor = valueOf(newValue.value<QColor>());
        return;
    case kShowTime:
        if (newValue.toLongLong() > qint64(OsdSettings::kMaxShowTime)) {
            item->setValue(oldValue);
            Warn("ShowTime input error!", "显示时间输入错误！");
            return;
        }
        settings_.showTime = uint32_t(newValue.toLongLong());
        return;
    case kLeft:
        fraction(settings_.left, "left input error!", "左边距输入错误！");
        return;
    case kTop:
        fraction(settings_.top, "top input error!", "上边距输入错误！");
        return;
    case kWidth:
        fraction(settings_.width, "Width input error!", "宽度输入错误！");
        return;
    case kHeight:
        fraction(settings_.height, "Height input error!", "高度输入错误！");
        return;
    case kText: {
        const QString typed = newValue.toString();
        if (typed.isEmpty()) {
            item->setValue(settings_.text);
            return;
        }
        if (!OsdTextFits(typed)) {
            item->setValue(settings_.text);
            Warn("Display characters cannot exceed 140 characters!", "显示字符不能超过70个汉字！");
            return;
        }
        settings_.text = typed;
        return;
    }
    case kTransparent:
        if (newValue.toLongLong() > qint64(OsdSettings::kMaxTransparent)) {
            item->setValue(oldValue);
            Warn("Transparent input error!", "透明度输入错误！");
            return;
        }
        settings_.transparent = uint32_t(newValue.toLongLong());
        return;
    case kEnable:
        settings_.osdEnable = newValue.toBool();
        return;
    default:
        return;
    }
}

void COSD::OnSpeedSlider(int position)
{
    // Before the player has answered, its own settings are not known yet:
    // sending now would overwrite them with the defaults.
    if (!replySeen_)
        return;
    grid_->commitOpenEditor();
    const uint32_t speed = uint32_t(position + kSpeedOffset);
    if (speed == settings_.speed)
        return;
    settings_.speed = speed;
    SendOsd();
}

LRESULT COSD::OnOsdReply(WPARAM wParam, LPARAM lParam)
{
    const auto* document = reinterpret_cast<const QByteArray*>(lParam);
    if (wParam != kOsdKind)
        return 0;
    if (document && ReadOsdJson(*document, settings_)) {
        // Setting the slider from the player's value is no change of the
        // user's: nothing is sent for it.
        const QSignalBlocker block(slider_);
        slider_->setValue(int(settings_.speed) - kSpeedOffset);
        RebuildGrid();
    }
    replySeen_ = true;
    return 0;
}

void COSD::SendOsd()
{
    if (!OsdTextFits(settings_.text)) {
        Warn("Display characters cannot exceed 140 characters!", "显示字符不能超过70个汉字！");
        return;
    }
    QDir().mkpath(tempFolder_);
    const QString path = QDir(tempFolder_).filePath(QString::fromLatin1(kOsdFileName));
    QString error;
    if (!WriteOsdJson(path, settings_, &error)) {
        // An old document must not leave in place of the one that failed.
        platform::messageBox(Text("Save failed!", "保存失败！") + QStringLiteral("\n") + error, QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return;
    }
    if (!platform::findWindow(platform::appTitle()))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > qint64(proto::kMaxPayload))
        return;
    sendOsdPacket(file.readAll());
}

void COSD::OnOK()
{
    // An edit still open in the grid belongs to what is sent.
    grid_->commitOpenEditor();
    SendOsd();
}

void COSD::accept()
{
    OnOK();
}

void COSD::OnCancel()
{
    if (platform::messageBox(Text("Do you really want to exit?", "确定要退出吗？"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                             this) != platform::MsgResult::Yes)
        return;
    QDialog::done(QDialog::Rejected);
}

void COSD::reject()
{
    OnCancel();
}

void OpenOsd(QWidget* parent, const QString& tempFolder)
{
    COSD dialog(tempFolder, parent);
    dialog.exec();
}
