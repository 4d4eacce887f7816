#include "rotation/rotate_dialog.h"

#include "common/file_commit.h"

#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "rotation/rotate_canvas.h"
#include "rotation/rotate_documents.h"
#include "rotation/rotate_output_device_edit.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

using rotation::OutputDevice;
using rotation::PointI;

namespace rotation {

// The canvas: draws the current screen's wall. Mouse input passes through
// it to the dialog, which works in client coordinates as the model does.
class CanvasWidget : public QWidget {
public:
    CanvasWidget(const RotateModel& model, QWidget* parent) : QWidget(parent), model_(model)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        DrawCanvas(painter, model_.wall(), size());
    }

private:
    const RotateModel& model_;
};

}  // namespace rotation

namespace {

QLabel* label(QWidget* parent, const QString& text, int x, int y, int w = 100, int h = 22)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, h);
    return l;
}

template <class W>
W* control(QWidget* parent, int id, int x, int y, int w, int h)
{
    auto* c = new W(parent);
    c->setObjectName(QString::number(id));
    c->setGeometry(x, y, w, h);
    return c;
}

QPushButton* button(QWidget* parent, int id, const QString& text, int x, int y, int w, int h = 26)
{
    auto* b = control<QPushButton>(parent, id, x, y, w, h);
    b->setText(text);
    b->setAutoDefault(false);
    return b;
}

// A framed group with its title on the top edge. Plain lines: the style's
// group-box frame is painted through images that Qt scales on pooled
// threads, which the thread checker cannot follow.
QFrame* group(QWidget* parent, const QString& title, int x, int y, int w, int h)
{
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, QColor(0xA0, 0xA0, 0xA0));
    frame->setPalette(palette);
    frame->setGeometry(x, y + 8, w, h - 8);
    frame->lower();
    if (!title.isEmpty()) {
        auto* caption = new QLabel(title, parent);
        caption->setAutoFillBackground(true);
        caption->adjustSize();
        caption->move(x + 8, y);
    }
    return frame;
}

Qt::CursorShape cursorShape(int resource)
{
    switch (resource) {
    case 309: return Qt::SizeFDiagCursor;
    case 310: return Qt::SizeBDiagCursor;
    case 311: return Qt::SizeVerCursor;
    case 312: return Qt::SizeHorCursor;
    case 313: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
    }
}

}  // namespace

CRotate::CRotate(RotateEditorSetup setup, QWidget* parent)
    : controls::DefaultProcessing<QDialog>(parent), platform::MessageWindow(static_cast<QWidget*>(this)),
      setup_(std::move(setup))
{
    // What OnInitDialog did, in its order.
    language_ = platform::appLanguage();
    setWindowTitle(setup_.prefix + text("Rotate set", "拼接设置"));
    buildControls();
    LayOutSlotRows();
    model_.ResetWalls();
    model_.ChannelCode = setup_.channelCode;
    model_.UpdateChannelCount();
    model_.transmit = [this](uint16_t channel, bool click) {
        filecommit::WriteFailure failure;
        if (rotation::SendRotateDocument(setup_.tempFolder, rotation::BuildRotateJson(model_, channel, click), &failure))
            return true;
        // Nothing reaches the player: the operator is told, not left waiting.
        if (!failure.path.isEmpty())
            filecommit::showCannotWrite(language_, failure, this);
        return false;
    };
    LoadMonitorList();
    backgroundBox_->clear();
    backgroundBox_->addItems({text("Disable", "禁用"), text("Enable", "允许")});
    backgroundBox_->setCurrentIndex(0);
    LoadRotateConfig(true);
    angleBox_->setCurrentIndex(0);

    onMessage(platform::WM_ROTATE_REPLY, [this](platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        OnRotateReply();
        return 0;
    });
    setTimerHandler([this](unsigned id) {
        if (id == kTickTimer)
            model_.Tick();
    });
    setTimer(kTickTimer, kTickMs);
    qApp->installEventFilter(this);
}

CRotate::~CRotate()
{
    qApp->removeEventFilter(this);
}

QString CRotate::text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void CRotate::message(const QString& text)
{
    platform::messageBox(text, QString(), platform::MsgButtons::Ok, platform::MsgIcon::None, this);
}

void CRotate::buildControls()
{
    setFixedSize(1280, 760);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    group(this, text("Output Selection", "输出设备选择"), 12, 6, 330, 120);
    label(this, text("Manufacturer:", "制造商:"), 24, 30);
    manufacturerBox_ = control<QComboBox>(this, 4701, 124, 28, 206, 24);
    label(this, text("Model:", "型号:"), 24, 60);
    modelBox_ = control<QComboBox>(this, 4702, 124, 58, 206, 24);
    auto* edit = button(this, 4703, text("Edit", "编辑"), 250, 90, 80);

    group(this, text("Output Properties", "输出设备属性"), 12, 132, 330, 150);
    static const int kPropIds[8] = {4706, 4707, 4715, 4716, 4709, 4710, 4711, 4712};
    const QRect kPropRects[8] = {{24, 156, 146, 22},  {176, 156, 154, 22}, {124, 186, 90, 22}, {240, 186, 90, 22},
                                 {104, 216, 66, 22},  {264, 216, 66, 22},  {104, 246, 66, 22}, {264, 246, 66, 22}};
    for (std::size_t i = 0; i < 8; ++i) {
        QLineEdit* e = control<QLineEdit>(this, kPropIds[i], 0, 0, 0, 0);
        e->setGeometry(kPropRects[i]);
        e->setEnabled(false);
        properties_[i] = e;
    }
    label(this, text("Display Area:", "显示区域:"), 24, 186);
    label(this, QStringLiteral("X"), 222, 186, 14);
    label(this, text("Bezel Left:", "左边框:"), 24, 216, 80);
    label(this, text("Bezel Right:", "右边框:"), 180, 216, 84);
    label(this, text("Bezel Top:", "上边框:"), 24, 246, 80);
    label(this, text("Bezel Bottom:", "下边框:"), 180, 246, 84);

    addButton_ = button(this, 4704, text("Add Outputs to Wall", "添加输出到拼接墙"), 12, 404, 250, 48);
    auto* clear = button(this, 4725, text("Clear Selection", "清空选择"), 230, 460, 112, 28);

    screen1_ = control<QRadioButton>(this, 4718, 14, 462, 100, 24);
    screen1_->setText(text("Screen 1", "屏幕1"));
    screen2_ = control<QRadioButton>(this, 4719, 124, 462, 100, 24);
    screen2_->setText(text("Screen 2", "屏幕2"));
    screens_ = new QButtonGroup(this);
    screens_->addButton(screen1_, 0);
    screens_->addButton(screen2_, 1);
    screen1_->setEnabled(false);
    screen2_->setEnabled(false);

    label(this, text("Rotation Angle:", "旋转角度:"), 12, 498, 108);
    angleBox_ = control<QComboBox>(this, 4721, 120, 496, 70, 26);
    for (uint16_t i = 0; i < 16; ++i)
        angleBox_->addItem(QString::number(rotation::AngleFromPresetIndex(i)));
    angleBox_->setEnabled(false);
    minusButton_ = button(this, 4722, QStringLiteral("-"), 196, 496, 32);
    plusButton_ = button(this, 4723, QStringLiteral("+"), 232, 496, 32);
    removeButton_ = button(this, 4724, text("Remove", "移除"), 268, 496, 74);
    for (QWidget* w : {static_cast<QWidget*>(minusButton_), static_cast<QWidget*>(plusButton_),
                       static_cast<QWidget*>(removeButton_)})
        w->setEnabled(false);

    group(this, text("Background", "背景"), 12, 530, 330, 88);
    label(this, text("Display:", "显示:"), 24, 554, 90);
    backgroundBox_ = control<QComboBox>(this, 4720, 124, 552, 100, 24);
    label(this, text("Aspect Ratio", "宽高比"), 24, 584, 100);
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,6}")), this);
    ratioWidth_ = control<QLineEdit>(this, 4729, 124, 582, 56, 24);
    label(this, QStringLiteral(":"), 184, 584, 10);
    ratioHeight_ = control<QLineEdit>(this, 4730, 196, 582, 56, 24);
    ratioButton_ = button(this, 4731, text("Set", "设置"), 260, 581, 70);
    for (QLineEdit* e : {ratioWidth_, ratioHeight_}) {
        e->setValidator(digits);
        e->setEnabled(false);
    }
    ratioButton_->setEnabled(false);

    label(this, text("Row:", "行:"), 12, 630, 40);
    rowBox_ = control<QComboBox>(this, 4726, 52, 628, 52, 24);
    label(this, text("Column:", "列:"), 112, 630, 60);
    columnBox_ = control<QComboBox>(this, 4727, 172, 628, 52, 24);
    for (int i = 1; i <= 9; ++i) {
        rowBox_->addItem(QString::number(i));
        columnBox_->addItem(QString::number(i));
    }
    rowBox_->setCurrentIndex(0);
    columnBox_->setCurrentIndex(0);
    auto* rearrange = button(this, 4728, text("Rearrange", "重新排列"), 232, 627, 110);

    group(this, text("Hotkeys", "快捷键"), 12, 660, 330, 60);
    auto* hint = label(this,
                       text("User ‘,’ and ‘.’ to rotate the highlighted screen\r\nUser arrow keys to move the "
                            "highlighted screen",
                            "使用‘,’和‘.’旋转高亮的屏幕\r\n使用方向键移动高亮的屏幕")
                           .replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                       20, 678, 316, 38);
    hint->setWordWrap(true);
    auto* hidden = button(this, 1, QString(), 0, 0, 1, 1);
    hidden->hide();
    auto* exit = button(this, 2, text("Exit", "退出"), 242, 726, 100);

    canvasGroup_ = control<QFrame>(this, 4717, 352, 6, 916, 746);
    canvasGroup_->setFrameStyle(QFrame::Box | QFrame::Plain);
    canvasGroup_->setAttribute(Qt::WA_TransparentForMouseEvents);
    const QRect g = canvasGroup_->geometry();
    // The canvas: the group box's rectangle less 2 px at the sides, 8 at the top, 2 at the bottom.
    model_.CanvasRect = {g.left() + 2, g.top() + 8, g.left() + g.width() - 2, g.top() + g.height() - 2};
    canvas_ = new rotation::CanvasWidget(model_, this);
    canvas_->setGeometry(model_.CanvasRect.left, model_.CanvasRect.top, model_.CanvasRect.right - model_.CanvasRect.left,
                         model_.CanvasRect.bottom - model_.CanvasRect.top);

    connect(manufacturerBox_, &QComboBox::activated, this, [this] { OnManufacturerChanged(); });
    connect(modelBox_, &QComboBox::activated, this, [this] { OnModelChanged(); });
    connect(backgroundBox_, &QComboBox::activated, this, [this] { OnBackgroundDisplayChanged(); });
    connect(edit, &QPushButton::clicked, this, [this] { OnEditMonitors(); });
    connect(addButton_, &QPushButton::clicked, this, [this] { OnAddOutputsToWall(); });
    connect(clear, &QPushButton::clicked, this, [this] { OnClearSelection(); });
    connect(screen1_, &QRadioButton::clicked, this, [this] { OnScreen1(); });
    connect(screen2_, &QRadioButton::clicked, this, [this] { OnScreen2(); });
    connect(ratioButton_, &QPushButton::clicked, this, [this] { OnSetAspectRatio(); });
    connect(minusButton_, &QPushButton::clicked, this, [this] { OnRotateMinus(); });
    connect(plusButton_, &QPushButton::clicked, this, [this] { OnRotatePlus(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { OnRemove(); });
    connect(rearrange, &QPushButton::clicked, this, [this] { OnRearrange(); });
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);
}

void CRotate::LayOutSlotRows()
{
    const QRect b = addButton_->geometry();
    const int right = b.left() + b.width();
    const int bottom = b.top() + b.height();
    const QRect row1(QPoint(b.left() + 12, b.top() - 104), QPoint(right + 76 - 1, bottom - 109 - 1));
    const QRect row2(QPoint(b.left() + 12, b.top() - 50), QPoint(right + 76 - 1, bottom - 55 - 1));
    rows_ = {row1, row2};
}

// ---------------------------------------------------------------- persistence

void CRotate::LoadRotateConfig(bool read)
{
    const bool haveFolder = !setup_.configFolder.isEmpty();
    if (haveFolder)
        platform::ensureFolder(QDir(setup_.configFolder).filePath(QStringLiteral("config")));
    model_.ResetDevices();
    bool wallRead = false;
    if (read && haveFolder) {
        QFile in(rotation::RotateConfigPath(setup_.configFolder));
        if (in.exists()) {
            if (!in.open(QIODevice::ReadOnly))
                return;
            QByteArray text = in.readAll();
            if (in.error() != QFileDevice::NoError)
                return;
            const qsizetype nul = text.indexOf('\0');
            if (nul >= 0)
                text.truncate(nul);
            if (!rotation::ParseRotateConfig(text, model_))
                return;
            wallRead = model_.UpdateVideoWall;
        }
    }
    // Refresh: models of the loaded slots join the database.
    bool added = false;
    for (const rotation::DeviceBlock& block : model_.devices) {
        for (const OutputDevice& d : block.slot) {
            if (d.Manufacturer.isEmpty() || d.Model.isEmpty())
                continue;
            if (rotation::FindMonitor(monitorList_, d.Manufacturer, d.Model) < 0) {
                monitorList_.push_back(d);
                added = true;
            }
        }
    }
    if (added) {
        QString error;
        if (!rotation::SaveMonitorFile(monitorList_, language_, &error))
            message(error);
        LoadMonitorList();
    }
    const auto m = std::find(manufacturerList_.begin(), manufacturerList_.end(), model_.currentManufacturer);
    manufacturerBox_->setCurrentIndex(m == manufacturerList_.end() ? (manufacturerList_.empty() ? -1 : 0)
                                                                   : int(m - manufacturerList_.begin()));
    OnManufacturerChanged();
    if (wallRead)
        updateWallControls();
    model_.UpdateCanvasPolygons();
    refreshCanvas();
    update();
}

bool CRotate::SaveRotateConfig()
{
    if (setup_.configFolder.isEmpty())
        return true;
    QString why;
    if (rotation::SaveRotateConfigFile(setup_.configFolder, model_, &why))
        return true;
    filecommit::showCannotWrite(language_, rotation::RotateConfigPath(setup_.configFolder), why, this);
    return false;
}

void CRotate::LoadMonitorList()
{
    std::vector<OutputDevice> loaded = monitorList_;
    if (!rotation::LoadMonitorFile(loaded))
        return;
    monitorList_ = std::move(loaded);
    fillManufacturerList();
    OnManufacturerChanged();
}

void CRotate::fillManufacturerList()
{
    manufacturerList_ = rotation::ManufacturerNames(monitorList_);
    manufacturerBox_->clear();
    for (const QString& name : manufacturerList_)
        manufacturerBox_->addItem(name);
    manufacturerBox_->setCurrentIndex(manufacturerList_.empty() ? -1 : 0);
}

// ---------------------------------------------------------------- lists

void CRotate::OnManufacturerChanged()
{
    modelList_ = rotation::ModelNames(monitorList_, manufacturerBox_->currentText());
    modelBox_->clear();
    for (const QString& name : modelList_)
        modelBox_->addItem(name);
    const auto m = std::find(modelList_.begin(), modelList_.end(), model_.currentModel);
    modelBox_->setCurrentIndex(m != modelList_.end() ? int(m - modelList_.begin()) : (modelList_.empty() ? -1 : 0));
    ShowSelectedMonitor();
}

void CRotate::OnModelChanged()
{
    ShowSelectedMonitor();
}

void CRotate::ShowSelectedMonitor()
{
    const QString manufacturer = manufacturerBox_->currentText();
    const QString modelName = modelBox_->currentText();
    if (manufacturer.isEmpty() || modelName.isEmpty())
        return;
    const int i = rotation::FindMonitor(monitorList_, manufacturer, modelName);
    if (i >= 0)
        model_.CurrentMonitor = monitorList_[std::size_t(i)];
    model_.currentManufacturer = manufacturer;
    model_.currentModel = modelName;
    const OutputDevice& d = model_.CurrentMonitor;
    properties_[0]->setText(d.Manufacturer);
    properties_[1]->setText(d.Model);
    const double sizes[6] = {d.ScreenWidth, d.ScreenHeight, d.BezelLeft, d.BezelRight, d.BezelTop, d.BezelBottom};
    for (std::size_t k = 0; k < 6; ++k)
        properties_[k + 2]->setText(QString::asprintf("%.02f mm", sizes[k]));
}

void CRotate::OnEditMonitors()
{
    CRotateOutPutDeviceEdit editor(setup_.prefix, model_.currentManufacturer, model_.currentModel, this);
    editor.exec();
    LoadMonitorList();
    model_.currentManufacturer = editor.preselectedManufacturer();
    model_.currentModel = editor.preselectedModel();
    const auto m = std::find(manufacturerList_.begin(), manufacturerList_.end(), model_.currentManufacturer);
    manufacturerBox_->setCurrentIndex(m == manufacturerList_.end() ? (manufacturerList_.empty() ? -1 : 0)
                                                                   : int(m - manufacturerList_.begin()));
    OnManufacturerChanged();
}

// ---------------------------------------------------------------- slots

void CRotate::OnSlotDoubleClick(QPoint p)
{
    for (int row = 0; row < 2; ++row) {
        const QRect r = rows_[std::size_t(row)];
        const int cell = r.width() / rotation::kSlotCount;
        if (cell <= 0)
            continue;
        const geom::RectI rect{r.left(), r.top(), r.left() + cell * rotation::kSlotCount, r.top() + r.height()};
        if (!geom::RectHitTest(rect, p.x(), p.y()))
            continue;
        ShowSelectedMonitor();
        model_.ToggleSlot(row, (p.x() - r.left()) / cell);
        update(rows_[0]);
        update(rows_[1]);
        return;
    }
}

void CRotate::OnClearSelection()
{
    model_.ClearSlots();
    update(rows_[0]);
    update(rows_[1]);
}

void CRotate::OnAddOutputsToWall()
{
    switch (model_.AddOutputsToWall()) {
    case rotation::AddResult::NoScreen1Output:
        message(text("Screen 1 channel number cannot be zero", "屏幕1通道数不能为零"));
        return;
    case rotation::AddResult::TooManyOutputs:
        message(text("The number of channels used cannot be greater than %1", "使用的通道数不能大于%1")
                    .arg(model_.ChannelCount));
        return;
    case rotation::AddResult::ChannelTooHigh:
        message(text("The number of channels edit cannot be greater than %1", "编辑的通道号不能大于%1")
                    .arg(model_.ChannelCount));
        return;
    case rotation::AddResult::Ok:
        break;
    }
    screen1_->setEnabled(true);
    screen1_->setChecked(true);
    screen2_->setEnabled(model_.devices[1].count > 0);
    // The background list shows the background as it really is.
    showScreenControls();
    updateSelectionControls();
    refreshCanvas();
}

void CRotate::updateWallControls()
{
    screen1_->setEnabled(true);
    screen1_->setChecked(true);
    screen2_->setEnabled(model_.ScreenCount > 1);
    model_.CurrentScreen = 0;
    showScreenControls();
}

void CRotate::showScreenControls()
{
    const rotation::WallScreen& w = model_.wall();
    backgroundBox_->setCurrentIndex(w.Display ? 1 : 0);
    rowBox_->setCurrentIndex(int(w.Row) - 1);
    columnBox_->setCurrentIndex(int(w.Column) - 1);
    ratioWidth_->setText(QString::number(w.RatioWidth));
    ratioHeight_->setText(QString::number(w.RatioHeight));
    for (QWidget* c : {static_cast<QWidget*>(ratioWidth_), static_cast<QWidget*>(ratioHeight_),
                       static_cast<QWidget*>(ratioButton_)})
        c->setEnabled(w.Display != 0);
}

void CRotate::OnScreen1()
{
    model_.SelectScreen(0);
    showScreenControls();
    updateSelectionControls();
    refreshCanvas();
}

void CRotate::OnScreen2()
{
    model_.SelectScreen(1);
    showScreenControls();
    updateSelectionControls();
    refreshCanvas();
}

void CRotate::OnBackgroundDisplayChanged()
{
    const bool on = backgroundBox_->currentIndex() > 0;
    for (QWidget* c : {static_cast<QWidget*>(ratioWidth_), static_cast<QWidget*>(ratioHeight_),
                       static_cast<QWidget*>(ratioButton_)})
        c->setEnabled(on);
    model_.SetBackgroundDisplay(on);
    refreshCanvas();
}

void CRotate::OnSetAspectRatio()
{
    bool okW = false, okH = false;
    const int w = ratioWidth_->text().toInt(&okW);
    const int h = ratioHeight_->text().toInt(&okH);
    switch (model_.SetAspectRatio(okW ? w : 0, okH ? h : 0)) {
    case rotation::RatioResult::OutOfRange:
        message(text("The display scale should be greater than 1 and less than 10000", "显示比例应大于1且小于10000"));
        return;
    case rotation::RatioResult::TooWide:
        message(text("The display scale cannot be greater than 11", "显示比例不能大于11"));
        return;
    case rotation::RatioResult::Ok:
        break;
    }
    refreshCanvas();
}

void CRotate::OnRotateMinus()
{
    model_.RotateSelected(-double(rotation::AngleFromPresetIndex(uint16_t(std::max(0, angleBox_->currentIndex())))));
    refreshCanvas();
}

void CRotate::OnRotatePlus()
{
    model_.RotateSelected(double(rotation::AngleFromPresetIndex(uint16_t(std::max(0, angleBox_->currentIndex())))));
    refreshCanvas();
}

void CRotate::OnRemove()
{
    if (platform::messageBox(text("Are you sure you want to close it?", "确定要关闭吗？"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) != platform::MsgResult::Yes)
        return;
    model_.RemoveSelected();
    updateSelectionControls();
    refreshCanvas();
}

void CRotate::OnRearrange()
{
    const uint16_t rows = uint16_t(rowBox_->currentIndex() + 1);
    const uint16_t columns = uint16_t(columnBox_->currentIndex() + 1);
    if (!model_.Rearrange(rows, columns)) {
        message(text("The number of rows and columns is different from the number of displays！",
                     "行列数与显示器数量不一致！"));
        return;
    }
    refreshCanvas();
}

void CRotate::OnRotateReply()
{
    model_.OnRotateReply();
}

// ---------------------------------------------------------------- canvas

void CRotate::refreshCanvas()
{
    canvas_->update();
}

void CRotate::updateSelectionControls()
{
    const bool selected = model_.hasSelection();
    for (QWidget* c : {static_cast<QWidget*>(angleBox_), static_cast<QWidget*>(minusButton_),
                       static_cast<QWidget*>(plusButton_), static_cast<QWidget*>(removeButton_)})
        c->setEnabled(selected);
}

void CRotate::applyCursor(int resource)
{
    if (resource < 0)
        return;
    if (resource == rotation::kArrowCursor)
        unsetCursor();
    else
        setCursor(cursorShape(resource));
}

void CRotate::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (int row = 0; row < 2; ++row) {
        const QRect r = rows_[std::size_t(row)];
        painter.save();
        painter.translate(r.topLeft());
        rotation::DrawSlotRow(painter, model_.devices[std::size_t(row)], r.size());
        painter.restore();
    }
}

void CRotate::mousePressEvent(QMouseEvent* event)
{
    const PointI p{event->position().toPoint().x(), event->position().toPoint().y()};
    if (event->button() == Qt::LeftButton) {
        if (geom::RectHitTest(model_.CanvasRect, p.x, p.y))
            setFocus();
        model_.LeftButtonDown(p);
        updateSelectionControls();
    } else if (event->button() == Qt::RightButton) {
        if (geom::RectHitTest(model_.CanvasRect, p.x, p.y))
            setFocus();
        model_.RightButtonDown(p);
    }
    refreshCanvas();
}

void CRotate::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        model_.LeftButtonUp();
    else if (event->button() == Qt::RightButton)
        model_.RightButtonUp();
}

void CRotate::mouseMoveEvent(QMouseEvent* event)
{
    const PointI p{event->position().toPoint().x(), event->position().toPoint().y()};
    if (geom::RectHitTest(model_.CanvasRect, p.x, p.y) && (model_.leftDrag || model_.rightDrag))
        setFocus();
    applyCursor(model_.MouseMove(p));
    refreshCanvas();
}

void CRotate::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        OnSlotDoubleClick(event->position().toPoint());
}

void CRotate::wheelEvent(QWheelEvent* event)
{
    model_.MouseWheel(event->angleDelta().y());
    refreshCanvas();
}

bool CRotate::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        for (int row = 0; row < 2 && row < model_.ScreenCount + 0; ++row) {
            const QRect r = rows_[std::size_t(row)];
            const int cell = r.width() / rotation::kSlotCount;
            if (cell <= 0 || !r.contains(help->pos()))
                continue;
            const int k = std::min((help->pos().x() - r.left()) / cell, rotation::kSlotCount - 1);
            const OutputDevice& d = model_.devices[std::size_t(row)].slot[std::size_t(k)];
            if (d.used()) {
                QToolTip::showText(help->globalPos(), rotation::SlotTooltip(d, language_), this);
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }
    return CallDefaultWindowProc(event);
}

bool CRotate::eventFilter(QObject* watched, QEvent* event)
{
    // The addressee is looked at before the event: calls that link threads
    // post to the application pass through this filter too, and their events
    // are handed over inside Qt in a way the thread checker cannot follow.
    if (!watched->isWidgetType() || event->type() != QEvent::KeyPress)
        return false;
    if (static_cast<QWidget*>(watched)->window() != this)
        return false;
    return handleKey(static_cast<QKeyEvent*>(event)->key());
}

bool CRotate::handleKey(int key)
{
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    case Qt::Key_Left:
        model_.MoveSelected(-1, 0);
        break;
    case Qt::Key_Up:
        model_.MoveSelected(0, -1);
        break;
    case Qt::Key_Right:
        model_.MoveSelected(1, 0);
        break;
    case Qt::Key_Down:
        model_.MoveSelected(0, 1);
        break;
    case Qt::Key_Comma:
        model_.RotateSelected(-1);
        break;
    case Qt::Key_Period:
        model_.RotateSelected(1);
        break;
    case Qt::Key_R:
        model_.UpdateChannelCount();
        LoadRotateConfig(false);
        model_.UpdateCanvasPolygons();
        refreshCanvas();
        return false;
    default:
        return false;
    }
    refreshCanvas();
    return true;
}
