#include "calibration/blanding.h"

#include "calibration/player_requests.h"
#include "common/hit_test.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace calib {

// The "Adjustment Area": draws the current curve in model coordinates and
// hands mouse events to the page in them. The model's canvas bottom sits
// kBottom pixels below the widget's top.
class BlendCanvas : public QWidget {
public:
    static constexpr int kLeft = 12;
    static constexpr int kBottom = 290;
    BlendCanvas(CBlanding* page, CProjectorGraph& graph) : QWidget(page), page_(page), graph_(graph)
    {
        setObjectName(QStringLiteral("2306"));
        setFixedSize(1400, 320);
        setFocusPolicy(Qt::ClickFocus);
    }
    bool customLine = false;

    QPoint offset() const
    {
        const BlendRect& cv = graph_.data().canvas;
        return QPoint(cv.left - kLeft, cv.bottom - kBottom);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        painter.setPen(QColor(160, 160, 160));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        if (!customLine)
            return;
        painter.translate(-offset());
        const BlendRect& cv = graph_.data().canvas;
        painter.setPen(QColor(220, 220, 220));
        painter.drawLine(cv.left, cv.bottom, cv.right, cv.bottom);
        painter.drawLine(cv.left, cv.bottom - 256, cv.right, cv.bottom - 256);
        graph_.Draw(painter);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton) {
            const QPoint p = e->position().toPoint() + offset();
            page_->OnCanvasPress(p.x(), p.y());
        }
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint p = e->position().toPoint() + offset();
        page_->OnCanvasMove(p.x(), p.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            page_->OnCanvasRelease();
    }
    void wheelEvent(QWheelEvent* e) override { page_->OnCanvasWheel(e->angleDelta().y()); }

private:
    CBlanding* page_;
    CProjectorGraph& graph_;
};

}  // namespace calib

using calib::BlendArrangement;
using calib::GammaTable;

namespace {

// Check-box ids by edge (left, right, top, bottom) and channel number 0..8.
int syncBoxId(int edge, int channel)
{
    static const int first[4] = {2310, 2318, 2326, 2334};
    static const int ninth[4] = {2349, 2350, 2351, 2352};
    return channel < 8 ? first[edge] + channel : ninth[edge];
}

}  // namespace

CBlanding::CBlanding(const QString& playerFolder, const QString& titlePrefix, QWidget* parent)
    : QWidget(parent), playerFolder_(playerFolder), prefix_(titlePrefix), language_(platform::appLanguage())
{
    setObjectName(QStringLiteral("324"));
    setFocusPolicy(Qt::StrongFocus);

    // The model's canvas: 136 points 10 pixels apart over a 256-level band
    // whose bottom is where the model's default heights put it.
    calib::BlendGraphData& d = graph_.data();
    d.canvas = {calib::BlendCanvas::kLeft, calib::CProjectorGraph::kDefaultCanvasBottom - 280,
                calib::BlendCanvas::kLeft + 1375, calib::CProjectorGraph::kDefaultCanvasBottom};
    for (int p = 0; p < 9; ++p)
        for (int e = 0; e < 4; ++e)
            for (int c = 0; c < 4; ++c)
                std::fill(graph_.curve(p, e, c).samples.begin(), graph_.curve(p, e, c).samples.end(), uint16_t(2048));
    graph_.SetDefaultPoints();
    // Without a player folder nothing is written anywhere (never beside the
    // working directory).
    if (!playerFolder_.isEmpty()) {
        graph_.baseFolder = QDir(playerFolder_).absolutePath() + QLatin1Char('/');
        platform::ensureFolder(QDir(playerFolder_).filePath(QStringLiteral("ProjectorData")));
    }

    canvas_ = new calib::BlendCanvas(this, graph_);

    channelCombo_ = new QComboBox(this);
    channelCombo_->setObjectName(QStringLiteral("2301"));
    channelCombo_->setMinimumWidth(180);

    auto* edgeBox = new QGroupBox(text("Edge", "边"), this);
    auto* edgeRow = new QHBoxLayout(edgeBox);
    // Radio ids 2302..2305 read Left, Top, Right, Bottom.
    const struct {
        int id, edge;
        const char *en, *zh;
    } edges[] = {{2302, calib::kBlendLeft, "Left", "左"},
                 {2303, calib::kBlendTop, "Top", "上"},
                 {2304, calib::kBlendRight, "Right", "右"},
                 {2305, calib::kBlendBottom, "Bottom", "下"}};
    for (const auto& e : edges) {
        auto* r = new QRadioButton(text(e.en, e.zh), edgeBox);
        r->setObjectName(QString::number(e.id));
        r->setAutoExclusive(false);
        edgeRow->addWidget(r);
        edgeRadios_[std::size_t(e.edge)] = r;
        const int edge = e.edge;
        connect(r, &QRadioButton::clicked, this, [this, edge] { OnEdge(edge); });
    }

    auto* colourBox = new QGroupBox(text("Color", "颜色"), this);
    auto* colourRow = new QHBoxLayout(colourBox);
    const char* const colours[4][2] = {{"All", "全部"}, {"Red", "红"}, {"Green", "绿"}, {"Blue", "蓝"}};
    const char* const colourStyle[4] = {"", "color: rgb(255,0,0);", "color: rgb(0,255,0);", "color: rgb(0,0,255);"};
    for (int c = 0; c < 4; ++c) {
        auto* r = new QRadioButton(text(colours[c][0], colours[c][1]), colourBox);
        r->setObjectName(QString::number(2345 + c));
        r->setAutoExclusive(false);
        r->setStyleSheet(QString::fromLatin1(colourStyle[c]));
        colourRow->addWidget(r);
        colourRadios_[std::size_t(c)] = r;
        connect(r, &QRadioButton::clicked, this, [this, c] { OnColour(c); });
    }

    modeCombo_ = new QComboBox(this);
    modeCombo_->setObjectName(QStringLiteral("2358"));
    modeCombo_->addItem(text("Gamma Line", "亮度曲线"));
    modeCombo_->addItem(text("Custom Line", "自由曲线"));
    connect(modeCombo_, &QComboBox::activated, this, &CBlanding::OnMode);

    luminance_ = new QSlider(Qt::Horizontal, this);
    luminance_->setObjectName(QStringLiteral("2357"));
    luminance_->setRange(0, 50);
    luminance_->setMinimumWidth(200);
    luminanceText_ = new QLabel(this);
    luminanceText_->setObjectName(QStringLiteral("2307"));
    luminanceText_->setMinimumWidth(40);
    connect(luminance_, &QSlider::sliderReleased, this, [this] { OnLuminanceReleased(luminance_->value()); });

    gammaSlider_ = new QSlider(Qt::Horizontal, this);
    gammaSlider_->setObjectName(QStringLiteral("2359"));
    gammaSlider_->setRange(GammaTable::kMin, GammaTable::kMax);
    gammaSlider_->setSingleStep(1);
    gammaSlider_->setPageStep(1);
    gammaSlider_->setMinimumWidth(200);
    gammaText_ = new QLabel(this);
    gammaText_->setObjectName(QStringLiteral("2360"));
    gammaText_->setMinimumWidth(40);
    connect(gammaSlider_, &QSlider::sliderReleased, this, [this] { OnGammaReleased(gammaSlider_->value()); });

    auto syncGroup = [this](bool horizontal) {
        auto* box = new QGroupBox(horizontal ? text("Horizontal Synchronization", "水平同步")
                                             : text("Vertical Synchronization", "垂直同步"),
                                  this);
        auto* grid = new QGridLayout(box);
        grid->setHorizontalSpacing(4);
        const int firstEdge = horizontal ? calib::kBlendLeft : calib::kBlendTop;
        const int secondEdge = horizontal ? calib::kBlendRight : calib::kBlendBottom;
        const char* const rowNames[2][2] = {{"Left", "左"}, {"Right", "右"}};
        const char* const colNames[2][2] = {{"Top", "上"}, {"Bottom", "下"}};
        for (int row = 0; row < 2; ++row) {
            const auto& name = horizontal ? rowNames[row] : colNames[row];
            grid->addWidget(new QLabel(text(name[0], name[1]), box), row, 0);
            const int edge = row == 0 ? firstEdge : secondEdge;
            for (int ch = 0; ch < 9; ++ch) {
                auto* check = new QCheckBox(QString::number(ch + 1), box);
                check->setObjectName(QString::number(syncBoxId(edge, ch)));
                grid->addWidget(check, row, ch + 1);
                sync_[std::size_t(edge)][std::size_t(ch)] = check;
            }
        }
        auto* all = new QPushButton(text("All", "全选"), box);
        all->setObjectName(QString::number(horizontal ? 2355 : 2353));
        auto* invert = new QPushButton(text("Invert", "反选"), box);
        invert->setObjectName(QString::number(horizontal ? 2356 : 2354));
        for (QPushButton* b : {all, invert})
            b->setAutoDefault(false);
        grid->addWidget(all, 0, 10);
        grid->addWidget(invert, 1, 10);
        connect(all, &QPushButton::clicked, this, [this, horizontal] { OnSyncAll(horizontal); });
        connect(invert, &QPushButton::clicked, this, [this, horizontal] { OnSyncInvert(horizontal); });
        return box;
    };

    preview_ = new QPushButton(text("Preview", "预览"), this);
    preview_->setObjectName(QStringLiteral("2342"));
    save_ = new QPushButton(text("Save", "保存"), this);
    save_->setObjectName(QStringLiteral("2343"));
    connect(preview_, &QPushButton::clicked, this, &CBlanding::OnPreview);
    connect(save_, &QPushButton::clicked, this, &CBlanding::OnSave);
    preview_->hide();
    save_->hide();

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("2344"));
    QFont statusFont(QStringLiteral("楷体"));
    statusFont.setPixelSize(25);
    status_->setFont(statusFont);
    status_->setStyleSheet(QStringLiteral("color: rgb(0,0,255);"));
    status_->setMinimumHeight(32);

    auto* area = new QGroupBox(text("Adjustment Area", "调整区域"), this);
    auto* areaLayout = new QVBoxLayout(area);
    areaLayout->addWidget(canvas_);

    auto* row1 = new QHBoxLayout;
    row1->addWidget(new QLabel(text("Channel:", "通道:"), this));
    row1->addWidget(channelCombo_);
    row1->addWidget(edgeBox);
    row1->addWidget(colourBox);
    row1->addWidget(new QLabel(text("Mode:", "模式:"), this));
    row1->addWidget(modeCombo_);
    row1->addStretch();

    auto* row2 = new QHBoxLayout;
    row2->addWidget(new QLabel(text("Luminance:", "亮度:"), this));
    row2->addWidget(luminance_);
    row2->addWidget(luminanceText_);
    row2->addSpacing(20);
    gammaLabel_ = new QLabel(text("Gamma:", "伽马:"), this);
    row2->addWidget(gammaLabel_);
    row2->addWidget(gammaSlider_);
    row2->addWidget(gammaText_);
    row2->addStretch();
    row2->addWidget(preview_);
    row2->addWidget(save_);

    auto* row3 = new QHBoxLayout;
    row3->addWidget(syncGroup(true));
    row3->addWidget(syncGroup(false));
    row3->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(area);
    layout->addLayout(row1);
    layout->addLayout(row2);
    layout->addLayout(row3);
    layout->addWidget(status_);

    // Keys reach the page first, whichever control has the focus.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);

    keyTimer_.setInterval(kKeyTimerMs);
    connect(&keyTimer_, &QTimer::timeout, this, &CBlanding::OnKeyTimer);
    keyTimer_.start();

    {
        const QSignalBlocker block(modeCombo_);
        modeCombo_->setCurrentIndex(kGammaLine);
    }
    for (auto& edge : sync_)
        for (QCheckBox* c : edge)
            c->setEnabled(false);
    updateGammaControls();
}

CBlanding::~CBlanding() = default;

CBlanding* CreateBlandingPage(const QString& playerFolder, const QString& titlePrefix, QWidget* parent)
{
    return new CBlanding(playerFolder, titlePrefix, parent);
}

QString CBlanding::text(const char* english, const char* chinese) const
{
    return language_ == 4 ? QString::fromUtf8(chinese) : QString::fromUtf8(english);
}

QString CBlanding::statusText() const
{
    return status_->text();
}

QCheckBox* CBlanding::syncBox(int edge, int channelNumber) const
{
    return sync_[std::size_t(edge & 3)][std::size_t(std::clamp(channelNumber, 0, 8))];
}

int CBlanding::channelCount() const
{
    return std::clamp<int>(graph_.data().channelCount, 1, 9);
}

int CBlanding::gammaEdge(int edge)
{
    // The gamma file orders the edges left, top, right, bottom.
    switch (edge) {
    case calib::kBlendLeft:
        return GammaTable::kLeft;
    case calib::kBlendRight:
        return GammaTable::kRight;
    case calib::kBlendTop:
        return GammaTable::kTop;
    default:
        return GammaTable::kBottom;
    }
}

int CBlanding::gammaColour() const
{
    return colour_ == kAll ? GammaTable::kAll : colour_ - 1;
}

// ---------------------------------------------------------------- arrangement

void CBlanding::LoadChannelConfig(const BlendArrangement& arrangement)
{
    arrangement_ = arrangement;
    calib::BlendGraphData& d = graph_.data();
    if (arrangement.channelCount <= 9)
        d.channelCount = arrangement.channelCount;
    d.arrangement = arrangement;
    graph_.ApplyBandDefaults();
    refillChannels();
    if (!playerFolder_.isEmpty()) {
        graph_.Load();
        gamma_.Load(playerFolder_);
    }
    const int index = std::min(channel_, channelCount() - 1);
    {
        const QSignalBlocker block(channelCombo_);
        channelCombo_->setCurrentIndex(index);
    }
    OnChannelChange(index);
    graphAsRead_ = graph_.data().toBytes();
    gammaAsRead_ = gamma_.toBytes();
}

void CBlanding::refillChannels()
{
    const QSignalBlocker block(channelCombo_);
    channelCombo_->clear();
    for (int i = 0; i < int(graph_.data().channelCount) && i < 9; ++i) {
        const calib::BlendChannel& c = arrangement_.channels[std::size_t(i)];
        channelCombo_->addItem(language_ == 4 ? QStringLiteral("通道%1-第%2幕").arg(c.channel + 1).arg(c.screen + 1)
                                              : QStringLiteral("Channel%1-%2 Screen").arg(c.channel + 1).arg(c.screen + 1));
    }
    disconnect(channelCombo_, &QComboBox::activated, this, nullptr);
    connect(channelCombo_, &QComboBox::activated, this, &CBlanding::OnChannelChange);
}

void CBlanding::OnChannelChange(int index)
{
    // Capped at the last entry: the gamma and curve tables hold nine.
    channel_ = std::clamp(index, 0, channelCount() - 1);
    if (channelCombo_->currentIndex() != channel_) {
        const QSignalBlocker block(channelCombo_);
        channelCombo_->setCurrentIndex(channel_);
    }
    if (channel_ < 9)
        graph_.data().currentChannel = uint16_t(channel_);
    const calib::ProjectorBlend& p = graph_.data().channels[std::size_t(channel_)];
    const double k = std::isfinite(p.luminance) ? std::clamp(p.luminance, 0.0, 1.0) : 1.0;
    luminanceValue_ = int(std::lround(k * 100));
    luminance_->setValue(luminanceValue_ - 50);
    luminanceText_->setText(QString::number(luminanceValue_));
    OnEdge(p.currentEdge & 3);
    OnColour(p.edges[std::size_t(p.currentEdge & 3)].currentCurve & 3);
    updateGammaControls();
}

void CBlanding::OnEdge(int edge)
{
    edge_ = edge & 3;
    for (int e = 0; e < 4; ++e)
        edgeRadios_[std::size_t(e)]->setChecked(e == edge_);
    graph_.data().channels[std::size_t(channel_)].currentEdge = uint16_t(edge_);
    for (auto& boxes : sync_)
        for (QCheckBox* c : boxes) {
            c->setChecked(false);
            c->setEnabled(false);
        }
    const uint16_t w = graph_.bandWidth(channel_, edge_);
    for (int i = 0; i < channelCount(); ++i) {
        const calib::BlendChannel& c = arrangement_.channels[std::size_t(i)];
        const int number = std::min<int>(c.channel, 8);
        if (horizontalEdge()) {
            if (c.bandLeft == w)
                syncBox(calib::kBlendLeft, number)->setEnabled(true);
            if (c.bandRight == w)
                syncBox(calib::kBlendRight, number)->setEnabled(true);
        } else {
            if (c.bandTop == w)
                syncBox(calib::kBlendTop, number)->setEnabled(true);
            if (c.bandBottom == w)
                syncBox(calib::kBlendBottom, number)->setEnabled(true);
        }
    }
    updateGammaControls();
    canvas_->update();
}

void CBlanding::OnColour(int colour)
{
    colour_ = colour & 3;
    for (int c = 0; c < 4; ++c)
        colourRadios_[std::size_t(c)]->setChecked(c == colour_);
    for (auto& p : graph_.data().channels)
        for (auto& e : p.edges)
            e.currentCurve = uint16_t(colour_);
    updateGammaControls();
    canvas_->update();
}

void CBlanding::updateGammaControls()
{
    const bool show = mode_ == kGammaLine && graph_.bandWidth(channel_, edge_) != 0;
    const int value = std::clamp<int>(gamma_.at(channel_, gammaEdge(edge_), gammaColour()), GammaTable::kMin,
                                      GammaTable::kMax);
    gammaSlider_->setValue(value);
    gammaText_->setText(QString::asprintf("%.2f", value / 100.0));
    gammaSlider_->setVisible(show);
    gammaText_->setVisible(show);
    gammaLabel_->setVisible(show);
}

void CBlanding::OnMode(int mode)
{
    mode_ = mode == kCustomLine ? kCustomLine : kGammaLine;
    canvas_->customLine = mode_ == kCustomLine;
    if (modeCombo_->currentIndex() != mode_) {
        const QSignalBlocker block(modeCombo_);
        modeCombo_->setCurrentIndex(mode_);
    }
    updateGammaControls();
    canvas_->update();
}

void CBlanding::OnGammaReleased(int position)
{
    const int ge = gammaEdge(edge_);
    if (position == gamma_.at(channel_, ge, gammaColour()))
        return;
    const uint16_t v = uint16_t(std::clamp<int>(position, GammaTable::kMin, GammaTable::kMax));
    if (colour_ == kAll)
        for (int c = 0; c < 4; ++c)
            gamma_.at(channel_, ge, c) = v;
    else
        gamma_.at(channel_, ge, gammaColour()) = v;
    gammaSlider_->setValue(v);
    gammaText_->setText(QString::asprintf("%.2f", v / 100.0));
    StartSend();
}

void CBlanding::OnLuminanceReleased(int position)
{
    const int p = std::clamp(position, 0, 50);
    graph_.data().channels[std::size_t(channel_)].luminance = (p + 50) / 100.0;
    luminanceValue_ = p + 50;
    luminanceText_->setText(QString::number(luminanceValue_));
    StartSend();
}

void CBlanding::OnSyncAll(bool horizontal)
{
    for (int edge : horizontal ? std::array<int, 2>{calib::kBlendLeft, calib::kBlendRight}
                               : std::array<int, 2>{calib::kBlendTop, calib::kBlendBottom})
        for (QCheckBox* c : sync_[std::size_t(edge)])
            if (c->isEnabled())
                c->setChecked(true);
}

void CBlanding::OnSyncInvert(bool horizontal)
{
    for (int edge : horizontal ? std::array<int, 2>{calib::kBlendLeft, calib::kBlendRight}
                               : std::array<int, 2>{calib::kBlendTop, calib::kBlendBottom})
        for (QCheckBox* c : sync_[std::size_t(edge)])
            if (c->isEnabled())
                c->setChecked(!c->isChecked());
}

void CBlanding::OnPreview()
{
    if (!busy_)
        StartSend();
}

void CBlanding::OnSave()
{
    if (busy_)
        return;
    const QString question = text("Saving channel configuration data may cause the player to fail to display normally, "
                                  "does it continue?",
                                  "保存通道配置数据有可能导致播放器无法正常显示，是否继续？");
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) !=
        platform::MsgResult::Yes)
        return;
    // Saved and sent, or neither: the operator saves again once the disk
    // takes the file.
    filecommit::WriteFailure failure;
    if (!playerFolder_.isEmpty() && !graph_.Save(&failure)) {
        TellWriteFailure(failure);
        return;
    }
    StartSend();
}

bool CBlanding::SaveFiles()
{
    if (playerFolder_.isEmpty())
        return false;
    const QByteArray graph = graph_.data().toBytes(), gamma = gamma_.toBytes();
    bool saved = true;
    filecommit::WriteFailure failure;
    if (graph != graphAsRead_) {
        saved = graph_.Save(&failure);
        if (saved)
            graphAsRead_ = graph;
    }
    if (gamma != gammaAsRead_) {
        const bool gammaSaved = gamma_.Save(playerFolder_, saved ? &failure : nullptr);
        if (gammaSaved)
            gammaAsRead_ = gamma;
        saved = gammaSaved && saved;
    }
    if (!saved)
        TellWriteFailure(failure);  // the first file refused: a full disk refuses both
    return saved;
}

// The edits stay in the model; the file on disk, which the next run reads
// and the next upload sends, is still the one before them.
void CBlanding::TellWriteFailure(const filecommit::WriteFailure& failure)
{
    filecommit::showCannotWrite(language_, failure, this);
}

// ---------------------------------------------------------------- keys and mouse

bool CBlanding::OnKeyDown(int key, bool ctrl, bool shift)
{
    switch (key) {
    case kTab:
        if (ctrl && shift && sendWizardCommand)
            sendWizardCommand(kWizardNextCommand);
        return true;
    case kEnter:
        return true;
    case kEsc:
        if (sendWizardCommand)
            sendWizardCommand(kWizardCancelCommand);
        return true;
    case kLeft:
    case kRight:
        if (!busy_ && mode_ == kCustomLine && graph_.OnKey(key) == 0) {
            canvas_->update();
            SendMarker();
        }
        return true;
    case kUp:
    case kDown:
        arrowHeld_ = true;
        if (!busy_ && mode_ == kCustomLine && graph_.OnKey(key) == 0) {
            canvas_->update();
            StartSend();
        }
        return true;
    case kR:
        if (mode_ == kGammaLine) {
            gamma_.values.fill(GammaTable::kDefault);
            updateGammaControls();
        } else {
            graph_.SetDefaultPoints();
            graph_.MarkBandPoints();
            graph_.ApplyBandDefaults();
            canvas_->update();
        }
        StartSend();
        return true;
    case kPadPlus:
    case kPadMinus:
    case kPlus:
    case kMinus:
        if (mode_ == kCustomLine) {
            graph_.OnKey(key);
            canvas_->update();
        }
        return true;
    default:
        return false;
    }
}

void CBlanding::OnKeyUp(int key)
{
    if (key == kLeft || key == kUp || key == kRight || key == kDown) {
        ticks_ = 0;
        arrowHeld_ = false;
        graph_.step = 1;
    }
}

void CBlanding::OnKeyTimer()
{
    if (busy_ && ++busyTicks_ >= kBusyTicks) {
        // A reply that never came must not hold the page for ever.
        finishSequence(false);
    }
    if (mode_ != kCustomLine || !arrowHeld_)
        return;
    ++ticks_;
    if (ticks_ > 18) {
        graph_.step = 10;
        ticks_ = 18;
    } else {
        graph_.step = uint32_t((ticks_ + 1) / 2);
    }
}

namespace {

int keyCode(const QKeyEvent* e)
{
    return CBlanding::KeyCode(e->key(), e->modifiers());
}

}  // namespace

// Windows key codes of the keys the page reads.
int CBlanding::KeyCode(int qtKey, Qt::KeyboardModifiers modifiers)
{
    const bool pad = modifiers & Qt::KeypadModifier;
    switch (qtKey) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return CBlanding::kTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return CBlanding::kEnter;
    case Qt::Key_Escape:
        return CBlanding::kEsc;
    case Qt::Key_Left:
        return CBlanding::kLeft;
    case Qt::Key_Up:
        return CBlanding::kUp;
    case Qt::Key_Right:
        return CBlanding::kRight;
    case Qt::Key_Down:
        return CBlanding::kDown;
    case Qt::Key_R:
        return CBlanding::kR;
    case Qt::Key_Plus:
        return pad ? CBlanding::kPadPlus : CBlanding::kPlus;
    case Qt::Key_Equal:
        return CBlanding::kPlus;
    case Qt::Key_Minus:
        return pad ? CBlanding::kPadMinus : CBlanding::kMinus;
    default:
        return 0;
    }
}

bool CBlanding::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::KeyPress) {
            const int code = keyCode(key);
            if (code && OnKeyDown(code, key->modifiers() & Qt::ControlModifier, key->modifiers() & Qt::ShiftModifier))
                return true;
        } else if (!key->isAutoRepeat()) {
            // X11 sends a release before every repeated press; only the real
            // release ends the held arrow.
            OnKeyUp(keyCode(key));
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CBlanding::keyPressEvent(QKeyEvent* event)
{
    if (!eventFilter(this, event))
        QWidget::keyPressEvent(event);
}

void CBlanding::keyReleaseEvent(QKeyEvent* event)
{
    eventFilter(this, event);
    QWidget::keyReleaseEvent(event);
}

void CBlanding::OnCanvasPress(int x, int y)
{
    if (mode_ != kCustomLine || busy_)
        return;
    const calib::BlendRect& cv = graph_.data().canvas;
    if (!geom::RectHitTest({cv.left, cv.top, cv.right, cv.bottom + 6}, x, y))
        return;
    calib::BlendCurve& c = graph_.currentCurve();
    for (int i = 0; i < calib::BlendCurve::kPoints; ++i) {
        const calib::CurvePoint& p = c.points[std::size_t(i)];
        if (!p.visible || !geom::RectHitTest({p.left, p.top, p.right, p.bottom}, x, y))
            continue;
        graph_.ClearSelection();
        c.points[std::size_t(i)].selected = 1;
        if (colour_ == kAll)
            for (int k = 1; k < 4; ++k)
                graph_.curve(channel_, edge_, k).points[std::size_t(i)].selected = 1;
        graph_.SetLastMouse(x, y);
        dragging_ = true;
        moved_ = false;
        canvas_->update();
        SendMarker();
        return;
    }
}

void CBlanding::OnCanvasMove(int x, int y)
{
    if (!dragging_ || mode_ != kCustomLine)
        return;
    const calib::BlendRect& cv = graph_.data().canvas;
    if (!geom::RectHitTest({cv.left, cv.top, cv.right, cv.bottom + 6}, x, y))
        return;
    graph_.OnDrag(x, y);
    moved_ = true;
    canvas_->update();
}

void CBlanding::OnCanvasRelease()
{
    if (mode_ != kCustomLine || busy_) {
        dragging_ = false;
        return;
    }
    dragging_ = false;
    if (moved_) {
        moved_ = false;
        canvas_->update();
        StartSend();
    }
}

void CBlanding::OnCanvasWheel(int delta)
{
    if (mode_ != kCustomLine)
        return;
    if (delta > 0)
        graph_.FewerPoints();
    else
        graph_.MorePoints();
    canvas_->update();
}

// ---------------------------------------------------------------- requests

void CBlanding::begin(uint16_t expected)
{
    received_ = 0;
    expected_ = std::max<uint16_t>(expected, 1);
    busy_ = true;
    busyTicks_ = 0;
}

void CBlanding::finishSequence(bool completed)
{
    busy_ = false;
    busyTicks_ = 0;
    received_ = 0;
    expected_ = 1;
    if (completed)
        status_->setText(text("The adjustment is completed and the operation can be continued.", "调整完成,可以继续操作"));
}

bool CBlanding::sendToAll(const QByteArray& packet)
{
    const std::vector<SendTarget> devices = calib::DevicesOf(players);
    if (!calib::SendPacket(packet, devices))
        return false;
    begin(uint16_t(devices.empty() ? 1 : devices.size()));
    return true;
}

void CBlanding::SendAdjustStart()
{
    if (sendToAll(calib::BuildAdjustModePacket(sequence_, 0)))
        inAdjustment_ = true;
}

void CBlanding::SendAdjustEnd()
{
    if (sendToAll(calib::BuildAdjustModePacket(sequence_, 1)))
        inAdjustment_ = false;
}

void CBlanding::SendWhite()
{
    sendToAll(calib::BuildSolidColourPacket(sequence_, calib::Rgb(255, 255, 255)));
}

void CBlanding::SendMarker()
{
    if (!graph_.HasSelection())
        return;
    const uint32_t s = graph_.FirstSelected();
    const calib::BlendChannel& e = arrangement_.channels[std::size_t(channel_)];
    uint32_t x = 0, y = 0;
    switch (edge_) {
    case calib::kBlendLeft:
        x = e.bandLeft / 135u * s;
        break;
    case calib::kBlendRight:
        x = uint32_t(e.right - e.left - e.bandRight) + e.bandRight / 135u * s;
        break;
    case calib::kBlendTop:
        y = e.bandTop / 135u * s;
        break;
    default:
        y = uint32_t(e.bottom - e.top - e.bandBottom) + e.bandBottom / 135u * s;
        break;
    }
    const auto& m = arrangement_.markerColour;
    const QByteArray packet = calib::BuildMarkerPacket(sequence_, calib::Rgb(m[0], m[1], m[2]), x, y);
    std::vector<SendTarget> target;
    if (!players.empty()) {
        // One player per channel: only the current channel's player, and
        // nothing when the list holds no player for it.
        if (std::size_t(channel_) >= players.size() || players[std::size_t(channel_)].ip.isEmpty())
            return;
        target.push_back(players[std::size_t(channel_)]);
    }
    if (calib::SendPacket(packet, target))
        begin(1);
}

void CBlanding::StartSend()
{
    // One request in flight: edits made meanwhile stay in the model and go
    // out with the next send.
    if (busy_)
        return;
    CollectSyncFlags();
    SyncChannels();
    SendNextFile();
    if (busy_)
        status_->setText(text("Adjustment...", "调整中..."));
}

void CBlanding::CollectSyncFlags()
{
    flags_ = {};
    const bool horizontal = horizontalEdge();
    const int first = horizontal ? calib::kBlendLeft : calib::kBlendTop;
    const int second = horizontal ? calib::kBlendRight : calib::kBlendBottom;
    for (int number = 0; number < 9; ++number) {
        const bool a = syncBox(first, number)->isChecked();
        const bool b = syncBox(second, number)->isChecked();
        if (!a && !b)
            continue;
        for (int i = 0; i < channelCount(); ++i) {
            if (arrangement_.channels[std::size_t(i)].channel != number)
                continue;
            EntryFlags& f = flags_[std::size_t(i)];
            (horizontal ? f.left : f.top) |= a;
            (horizontal ? f.right : f.bottom) |= b;
        }
    }
    (horizontal ? flags_[std::size_t(channel_)].horizontal : flags_[std::size_t(channel_)].vertical) = true;
}

void CBlanding::SyncChannels()
{
    const bool horizontal = horizontalEdge();
    const int firstEdge = horizontal ? calib::kBlendLeft : calib::kBlendTop;
    const int secondEdge = horizontal ? calib::kBlendRight : calib::kBlendBottom;
    const uint16_t w = graph_.bandWidth(channel_, edge_);
    for (int i = 0; i < channelCount(); ++i) {
        const EntryFlags& f = flags_[std::size_t(i)];
        const std::pair<bool, int> targets[2] = {{horizontal ? f.left : f.top, firstEdge},
                                                 {horizontal ? f.right : f.bottom, secondEdge}};
        for (const auto& [flagged, edge] : targets) {
            if (!flagged || (i == channel_ && edge == edge_))
                continue;
            if (mode_ == kGammaLine) {
                for (int c = 0; c < 4; ++c)
                    gamma_.at(i, gammaEdge(edge), c) = gamma_.at(channel_, gammaEdge(edge_), c);
            } else {
                graph_.CopyEdgeCurve(w, channel_, edge_, i, edge);
            }
        }
    }
}

bool CBlanding::NextPendingChannel(int& entry, int& kind)
{
    for (int i = 0; i < 9; ++i)
        if (flags_[std::size_t(i)].horizontal) {
            flags_[std::size_t(i)].horizontal = false;
            entry = i;
            kind = calib::kRampHorizontal;
            return true;
        }
    for (int i = 0; i < 9; ++i)
        if (flags_[std::size_t(i)].vertical) {
            flags_[std::size_t(i)].vertical = false;
            entry = i;
            kind = calib::kRampVertical;
            return true;
        }
    return false;
}

void CBlanding::SendNextFile()
{
    int entry = 0, kind = 0;
    if (!NextPendingChannel(entry, kind)) {
        finishSequence(true);
        return;
    }
    const calib::RampBuffers ramps = mode_ == kGammaLine ? calib::BuildGammaRamps(graph_, gamma_, entry, kind)
                                                         : calib::BuildCurveRamps(graph_, entry, kind);
    if (!WriteAndSendBlendFile(calib::PackRamps(ramps), entry, kind))
        finishSequence(false);
}

bool CBlanding::WriteAndSendBlendFile(const QByteArray& bytes, int entry, int kind)
{
    // One player per channel: a channel without a device gets no file, and
    // never another channel's player.
    if (!players.empty() && (std::size_t(entry) >= players.size() || players[std::size_t(entry)].ip.isEmpty()))
        return false;
    const int fileIndex = players.empty() ? std::min<int>(arrangement_.channels[std::size_t(entry)].channel, 8) : 0;
    const int n = kind == calib::kRampVertical ? fileIndex + 9 : fileIndex;
    if (playerFolder_.isEmpty()) {
        platform::messageBox(text("Does the data file exist?", "数据文件不存在吧？"), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Warning, this);
        return false;
    }
    filecommit::WriteFailure failure;
    if (!calib::WriteRampFile(playerFolder_, fileIndex, kind, bytes, &failure)) {
        TellWriteFailure(failure);
        return false;
    }
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_PROJECTOR_DATA;
    h.subCode = uint8_t(calib::kRampSubCodeBase + n);
    h.sequence = sequence_;
    std::vector<SendTarget> target;
    if (!players.empty())
        target.push_back(players[std::size_t(entry)]);
    if (!calib::SendPacket(proto::buildPacket(h, bytes), target))
        return false;
    begin(1);
    return true;
}

void CBlanding::OnBlendReply(uint8_t command, uint8_t status)
{
    if (command == 0) {
        // Refused or link lost: nothing more will come for this request.
        finishSequence(false);
        return;
    }
    if (!busy_)
        return;
    if (++received_ < expected_)
        return;
    received_ = 0;
    if (command == proto::CMD_PROJECTOR_DATA) {
        ++sequence_;
        if (status & 0xC0) {
            busy_ = false;  // the next file sets it again when it goes out
            SendNextFile();
        } else if (status & 0x20) {
            finishSequence(true);
        } else {
            finishSequence(false);
        }
    } else if (command == proto::CMD_ADJUST_MODE) {
        ++sequence_;
        busy_ = false;
        // White shows the blend bands once the player is in adjustment mode;
        // after leaving it the player goes back to its own picture.
        if (status == 0)
            SendWhite();
        else
            finishSequence(false);
    }
}
