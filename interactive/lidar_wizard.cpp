#include "interactive/lidar_wizard.h"

#include "common/controls/dialog_keys.h"
#include "common/controls/property_grid.h"
#include "common/controls/tab_order.h"
#include "core/reply_handlers.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "transport/records.h"
#include "transport/udp_server.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostAddress>
#include <QKeyEvent>
#include <QLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>

using namespace lidar;

namespace {

constexpr int kPlotTimerMs = kPollMs;
constexpr int kCheckTimerMs = 1000;

QString captionText(const char* english, unsigned language)
{
    return LidarText(english, language);
}

bool isDottedIPv4(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || p.isEmpty() || p.size() > 3 || v < 0 || v > 255)
            return false;
    }
    return true;
}

}  // namespace

// ---- page base ----

CLidarPage::CLidarPage(CLidarWizard* sheet, const char* caption)
    : QWidget(nullptr), sheet_(sheet), caption_(caption), language_(platform::appLanguage())
{
}

QString CLidarPage::caption() const
{
    return captionText(caption_, language_);
}

bool CLidarPage::OnQueryCancel()
{
    return platform::messageBox(T("Do you really want to exit?"), caption(), platform::MsgButtons::YesNo,
                                platform::MsgIcon::Question, this) == platform::MsgResult::Yes;
}

bool CLidarPage::SendLidar(uint16_t operation, const QByteArray& payload)
{
    auto* request = new SendRequest;
    request->data = LidarPacket(operation, payload);
    return SendToMainWindow(request);
}

bool CLidarPage::SendDocument(uint16_t operation, const QString& name, const Json::Value& doc)
{
    filecommit::WriteFailure failure;
    const QByteArray bytes = WriteDocument(sheet_->folder(), name, doc, &failure);
    if (bytes.isEmpty()) {
        // Nothing reaches the player: the operator is told, not left waiting.
        filecommit::showCannotWrite(language_, failure, this);
        return false;
    }
    return SendLidar(operation, bytes);
}

// ---- selection page ----

CLidarSelect::CLidarSelect(CLidarWizard* sheet) : CLidarPage(sheet, "Select Radar")
{
    auto* group = new QGroupBox(T("Radar"), this);
    combo_ = new QComboBox(group);
    combo_->setObjectName(QStringLiteral("5001"));
    add_ = new QPushButton(T("Add"), group);
    add_->setObjectName(QStringLiteral("5002"));
    del_ = new QPushButton(T("Del"), group);
    del_->setObjectName(QStringLiteral("5003"));
    tree_ = new QTreeWidget(group);
    tree_->setHeaderHidden(true);
    tree_->setObjectName(QStringLiteral("5004"));
    grid_ = new PropertyGrid(group);
    grid_->setObjectName(QStringLiteral("5005"));
    grid_->setHeaderLabels(T("Property"), T("Value"));
    grid_->fitNameColumnToLabels(180, 150);
    grid_->setDescriptionVisible(true);
    grid_->setModifiedMarking(true);
    auto* top = new QHBoxLayout;
    top->addWidget(combo_, 1);
    top->addWidget(add_);
    top->addWidget(del_);
    auto* body = new QHBoxLayout;
    body->addWidget(tree_, 1);
    body->addWidget(grid_, 2);
    auto* g = new QVBoxLayout(group);
    g->addLayout(top);
    g->addLayout(body, 1);
    auto* all = new QVBoxLayout(this);
    all->addWidget(group);
    for (QPushButton* b : {add_, del_})
        b->setAutoDefault(false);
    connect(add_, &QPushButton::clicked, this, [this] { OnAddLidar(); });
    connect(del_, &QPushButton::clicked, this, [this] { OnDeleteLidar(); });
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        const QVariant data = item->data(0, Qt::UserRole);
        if (data.isValid())
            ShowLidar(std::size_t(data.toUInt()));
    });
    connect(grid_, &PropertyGrid::propertyChanged, this,
            [this](PropertyItem* item, quintptr data, const QVariant& o, const QVariant& n) {
                OnPropertyChanged(item, data, o, n);
            });
}

void CLidarSelect::OnSetActive()
{
    sheet_->SetWizardButtons(kWizNext);
    controls::SetReadingOrder({combo_, add_, del_, tree_, grid_->tree(), sheet_->backButton(), sheet_->nextButton(),
                               sheet_->finishButton(), sheet_->cancelButton()});
    SendLidar(LIDAR_OP_QUERY_MODELS);
}

void CLidarSelect::OnLidarReply(uint16_t operation, const QByteArray& payload)
{
    if (operation == LIDAR_OP_QUERY_MODELS) {
        if (ParseSupportedModels(payload, models_)) {
            combo_->clear();
            for (const LidarModelInfo& m : models_)
                combo_->addItem(m.model);
            combo_->setCurrentIndex(0);
            add_->setEnabled(true);
            del_->setEnabled(true);
            SendLidar(LIDAR_OP_QUERY_CONFIG);
        } else {
            platform::messageBox(T("The current device does not support Radar!"), caption(), platform::MsgButtons::Ok,
                                 platform::MsgIcon::Warning, this);
            add_->setEnabled(false);
            del_->setEnabled(false);
            sheet_->SetWizardButtons(0);
        }
    } else if (operation == LIDAR_OP_QUERY_CONFIG) {
        if (!ParseLidarConfig(payload, lidars_))
            return;
        FillLidarTree();
        if (!lidars_.empty()) {
            tree_->setCurrentItem(tree_->topLevelItem(0)->child(0));
            ShowLidar(0);
        } else {
            grid_->clear();
        }
    }
}

void CLidarSelect::FillLidarTree()
{
    tree_->clear();
    auto* root = new QTreeWidgetItem(tree_, {playerIp_});
    for (std::size_t i = 0; i < lidars_.size(); ++i) {
        auto* child = new QTreeWidgetItem(root, {lidars_[i].lidarModel});
        child->setData(0, Qt::UserRole, uint(i));
    }
    root->setExpanded(true);
}

int CLidarSelect::SelectedLidar() const
{
    const QTreeWidgetItem* item = tree_->currentItem();
    if (!item)
        return -1;
    const QVariant data = item->data(0, Qt::UserRole);
    if (!data.isValid() || data.toUInt() >= lidars_.size())
        return -1;
    return int(data.toUInt());
}

void CLidarSelect::ShowLidar(std::size_t index)
{
    if (index >= lidars_.size())
        return;
    const LidarSettings& s = lidars_[index];
    grid_->clear();
    QStringList modes;
    for (const LidarModelInfo& m : models_)
        if (m.model == s.lidarModel)
            modes = m.modes;
    PropertyItem* model = grid_->addText(nullptr, T("Radar Model"), s.lidarModel, 0, QStringLiteral(" "));
    model->setReadOnly(true);
    grid_->addListText(nullptr, T("Communication mode"), modes, s.controlMode, false, 1,
                       T("Communication mode:<serial> <network>"));
    grid_->addText(nullptr, T("Ip Addr"), s.ip, 2, T("Ip Addr"));
    grid_->addText(nullptr, T("Port"), QString::number(s.port), 3, T("Port"));
    struct Row {
        const char* name;
        int corner;
        bool y;
    } rows[] = {
        {"Top left abscissa of screen", kTopLeft, false},     {"Top left ordinate of screen", kTopLeft, true},
        {"Bottom left abscissa of screen", kBottomLeft, false}, {"Bottom left ordinate of screen", kBottomLeft, true},
        {"Bottom right abscissa of screen", kBottomRight, false}, {"Bottom right ordinate of screen", kBottomRight, true},
        {"Top right abscissa of screen", kTopRight, false},   {"Top right ordinate of screen", kTopRight, true},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const double v = std::size_t(rows[i].corner) < s.corners.size()
                             ? (rows[i].y ? s.corners[std::size_t(rows[i].corner)].y
                                          : s.corners[std::size_t(rows[i].corner)].x)
                             : 0.0;
        grid_->addText(nullptr, T(rows[i].name), QString::asprintf("%.02f", v), quintptr(4 + i),
                       T(rows[i].name) + QStringLiteral("<0.0~1.0>"));
    }
}

void CLidarSelect::OnPropertyChanged(PropertyItem* item, quintptr data, const QVariant& oldValue,
                                     const QVariant& newValue)
{
    const int index = SelectedLidar();
    if (index < 0) {
        item->setValue(oldValue);
        return;
    }
    LidarSettings& s = lidars_[std::size_t(index)];
    auto refuse = [&] {
        item->setValue(oldValue);
        platform::messageBox(T("input error"), caption(), platform::MsgButtons::Ok, platform::MsgIcon::None, this);
    };
    const QString text = newValue.toString().trimmed();
    if (data >= 4 && data <= 11) {
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (!ok || !(v >= 0.0 && v <= 1.0))
            return refuse();
        static const std::pair<int, bool> targets[8] = {{kTopLeft, false},     {kTopLeft, true},
                                                         {kBottomLeft, false},  {kBottomLeft, true},
                                                         {kBottomRight, false}, {kBottomRight, true},
                                                         {kTopRight, false},    {kTopRight, true}};
        const auto [corner, isY] = targets[data - 4];
        if (std::size_t(corner) < s.corners.size())
            (isY ? s.corners[std::size_t(corner)].y : s.corners[std::size_t(corner)].x) = v;
        return;
    }
    switch (data) {
    case 1:
        s.controlMode = newValue.toString();
        break;
    case 2:
        if (!isDottedIPv4(text))
            return refuse();
        s.ip = text;
        break;
    case 3: {
        bool ok = false;
        const uint v = text.toUInt(&ok);
        if (!ok || v < 1 || v > 65535)
            return refuse();
        s.port = v;
        break;
    }
    default:
        break;
    }
}

void CLidarSelect::OnAddLidar()
{
    if (lidars_.size() >= kMaxLidars) {
        platform::messageBox(T("There are enough lidar to add!"), caption(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Warning, this);
        return;
    }
    const int sel = combo_->currentIndex();
    if (sel < 0 || std::size_t(sel) >= models_.size())
        return;
    lidars_.push_back(NewLidar(models_[std::size_t(sel)].model));
    FillLidarTree();
    QTreeWidgetItem* root = tree_->topLevelItem(0);
    tree_->setCurrentItem(root->child(root->childCount() - 1));
    ShowLidar(lidars_.size() - 1);
}

void CLidarSelect::OnDeleteLidar()
{
    const int index = SelectedLidar();
    if (lidars_.empty() || index < 0)
        return;
    if (platform::messageBox(T("Do you really want to delete it?"), caption(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question, this) != platform::MsgResult::Yes)
        return;
    lidars_.erase(lidars_.begin() + index);
    FillLidarTree();
    if (lidars_.empty()) {
        grid_->clear();
    } else {
        tree_->setCurrentItem(tree_->topLevelItem(0)->child(0));
        ShowLidar(0);
    }
}

bool CLidarSelect::OnWizardNext()
{
    grid_->commitOpenEditor();
    const NextCheck check = CheckLidarsForNext(lidars_);
    if (check == NextCheck::Ok)
        return true;
    if (check == NextCheck::Empty)
        return platform::messageBox(NextCheckMessage(check, language_), caption(), platform::MsgButtons::YesNo,
                                    platform::MsgIcon::Question, this) == platform::MsgResult::Yes;
    platform::messageBox(NextCheckMessage(check, language_), caption(), platform::MsgButtons::Ok,
                         platform::MsgIcon::Warning, this);
    return false;
}

// ---- plot view ----

CLidarPlotView::CLidarPlotView(CLidarParam* page) : QWidget(page), page_(page)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);  // repaints never erase first
    setMinimumSize(420, 360);
    setToolTip(LidarText("Mouse Wheel Zoom", platform::appLanguage()));
}

void CLidarPlotView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // The view is drawn off-screen and copied in one step.
    QImage image(size(), QImage::Format_RGB32);
    {
        QPainter ip(&image);
        ip.setBackgroundMode(Qt::TransparentMode);
        DrawLidarPlot(ip, width(), height(), page_->zoom, page_->points(), page_->bearing, &page_->picked,
                      platform::appLanguage());
    }
    p.drawImage(0, 0, image);
}

void CLidarPlotView::mouseMoveEvent(QMouseEvent* e)
{
    setFocus();
    const int dx = int(e->position().x()) - width() / 2;
    const int dy = height() / 2 + 20 - int(e->position().y());
    page_->bearing = MouseBearing(dx, dy);
    update();
}

void CLidarPlotView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        page_->OnPlotClick();
}

void CLidarPlotView::wheelEvent(QWheelEvent* e)
{
    setFocus();
    page_->zoom = WheelZoom(page_->zoom, e->angleDelta().y());
    update();
}

// ---- parameter page ----

CLidarParam::CLidarParam(CLidarWizard* sheet)
    : CLidarPage(sheet, "Radar Param"), dotSize_(DotSizeForSlider(3)), udp_(std::make_unique<CUDPServer>())
{
    udp_->setOwnerTitle(caption());
    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("5006"));
    plot_ = new CLidarPlotView(this);
    auto* fl = new QVBoxLayout(frame);
    fl->setContentsMargins(2, 8, 2, 2);
    fl->addWidget(plot_);
    auto* param = new QGroupBox(T("Param"), this);
    grid_ = new PropertyGrid(param);
    grid_->setHeaderLabels(T("Property"), T("Value"));
    grid_->fitNameColumnToLabels(120, 80);
    grid_->setDescriptionVisible(true);
    grid_->setModifiedMarking(true);
    auto* pl = new QVBoxLayout(param);
    pl->addWidget(grid_);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(0, 9);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    slider_->setValue(3);
    const char* names[5] = {"Previous Point", "Next Point", "Previous Radar", "Next Radar", "Start"};
    for (int i = 0; i < 5; ++i) {
        buttons_[std::size_t(i)] = new QPushButton(T(names[i]), this);
        buttons_[std::size_t(i)]->setAutoDefault(false);
    }
    prompt_ = new QLabel(this);
    QFont pf(QStringLiteral("Verdana"));
    pf.setPixelSize(28);
    prompt_->setFont(pf);
    prompt_->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
    data_ = new QLabel(QString(T("Radar Data:%d")).replace(QStringLiteral("%d"), QStringLiteral("0")), this);
    show_ = new QCheckBox(T("Show Point"), this);

    auto* right = new QVBoxLayout;
    right->addWidget(param, 1);
    auto* size = new QHBoxLayout;
    size->addWidget(new QLabel(T("Point Size:"), this));
    size->addWidget(slider_, 1);
    right->addLayout(size);
    auto* walk = new QHBoxLayout;
    walk->addWidget(buttons_[0]);
    walk->addWidget(buttons_[1]);
    right->addLayout(walk);
    auto* radar = new QHBoxLayout;
    radar->addWidget(buttons_[2]);
    radar->addWidget(buttons_[3]);
    right->addLayout(radar);
    auto* run = new QHBoxLayout;
    run->addWidget(buttons_[4]);
    run->addWidget(show_);
    right->addLayout(run);
    right->addWidget(data_);
    auto* top = new QHBoxLayout;
    top->addWidget(frame, 3);
    top->addLayout(right, 2);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(prompt_);

    connect(buttons_[0], &QPushButton::clicked, this, [this] { OnPreviousPoint(); });
    connect(buttons_[1], &QPushButton::clicked, this, [this] { OnNextPoint(); });
    connect(buttons_[2], &QPushButton::clicked, this, [this] { OnPreviousRadar(); });
    connect(buttons_[3], &QPushButton::clicked, this, [this] { OnNextRadar(); });
    connect(buttons_[4], &QPushButton::clicked, this, [this] { OnStartStop(); });
    connect(show_, &QCheckBox::clicked, this, [this] { OnShowPoint(); });
    // Real position changes only: each one re-sends LidarXY.Json.
    connect(slider_, &QSlider::valueChanged, this, [this](int v) { OnDotSizeChanged(v); });
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

CLidarParam::~CLidarParam()
{
    timer_.stop();
    udp_->Close();
}

void CLidarParam::SetInputs(const QString& folder, const QString& playerIp, const QString& localIp)
{
    folder_ = folder;
    playerIp_ = playerIp;
    localIp_ = localIp;
}

QPushButton* CLidarParam::button(int id) const
{
    return id >= 5009 && id <= 5013 ? buttons_[std::size_t(id - 5009)] : nullptr;
}

bool CLidarParam::udpOpen() const
{
    return udp_->IsOpen();
}

QString CLidarParam::dataLabel() const
{
    return data_->text();
}

QString CLidarParam::prompt() const
{
    return prompt_->text();
}

void CLidarParam::BuildGrid()
{
    grid_->clear();
    for (std::size_t i = 0; i < lidars_.size(); ++i) {
        const LidarSettings& s = lidars_[i];
        PropertyItem* g = grid_->addGroup(nullptr, QStringLiteral("%1%2").arg(T("Radar")).arg(i + 1));
        auto add = [&](const char* name, const QString& value, const QString& description) {
            grid_->addText(g, T(name), value, 0, description)->setReadOnly(true);
        };
        add("Radar Model", s.lidarModel, QStringLiteral(" "));
        add("Communication mode", s.controlMode, T("Communication mode:<serial> <network>"));
        add("Ip Addr", s.ip, T("Ip Addr"));
        add("Port", QString::number(s.port), T("Port"));
        struct C {
            int corner;
            const char *x, *y, *r, *a;
        } cs[] = {
            {kTopLeft, "Top left abscissa of screen", "Top left ordinate of screen", "Top left R of screen",
             "Top left Aggle of screen"},
            {kBottomLeft, "Bottom left abscissa of screen", "Bottom left ordinate of screen", "Bottom left R of screen",
             "Bottom left Aggle of screen"},
            {kBottomRight, "Bottom right abscissa of screen", "Bottom right ordinate of screen",
             "Bottom right R of screen", "Bottom right Aggle of screen"},
            {kTopRight, "Top right abscissa of screen", "Top right ordinate of screen", "Top right R of screen",
             "Top right Aggle of screen"},
        };
        for (const C& c : cs) {
            const LidarCorner k = std::size_t(c.corner) < s.corners.size() ? s.corners[std::size_t(c.corner)] : LidarCorner{};
            add(c.x, QString::asprintf("%.02f", k.x), T(c.x) + QStringLiteral("<0.0~1.0>"));
            add(c.y, QString::asprintf("%.02f", k.y), T(c.y) + QStringLiteral("<0.0~1.0>"));
            add(c.r, QString::asprintf("%.02f", k.R), T(c.r));
            add(c.a, QString::asprintf("%.02f", k.angle), T(c.a));
        }
    }
}

void CLidarParam::OnSetActive()
{
    timer_.start(kPlotTimerMs);
    lidars_.clear();
    running_ = false;
    sheet_->SetWizardButtons(kWizBack | kWizNext);
    lidars_ = sheet_->selectPage()->lidars();
    BuildGrid();
    current_ = 0;
    if (!lidars_.empty())
        lidars_[0].currentCorner = 0;
    state_ = kStateStarting;
    points_.clear();
    picked = {};
    SendLidarXYJson();
    udp_->Open(localIp_, kLocalUdpPort);
    show_->setChecked(true);
    buttons_[4]->setText(T("Start"));
    const bool any = !lidars_.empty();
    for (QPushButton* b : buttons_)
        b->setEnabled(any);
    if (any)
        PromptStandAtPoint();
    else
        sheet_->SetWizardButtons(kWizBack);
}

void CLidarParam::SendLidarJson()
{
    SendDocument(LIDAR_OP_CONFIG, QStringLiteral("Lidar.Json"), LidarJson(lidars_));
}

void CLidarParam::SendLidarXYJson()
{
    SendDocument(LIDAR_OP_POINT, QStringLiteral("LidarXY.Json"), LidarXYJson(lidars_, current_, dotSize_, state_));
}

void CLidarParam::PromptStandAtPoint()
{
    if (current_ < lidars_.size())
        prompt_->setText(StandAtPointPrompt(current_, lidars_[current_].currentCorner, language_));
}

void CLidarParam::OnLidarReply(uint16_t operation, const QByteArray&)
{
    if (operation == LIDAR_OP_POINT && state_ == kStateStarting) {
        SendLidarJson();
        running_ = true;
        buttons_[4]->setText(T("Stop"));
        state_ = kStateRunning;
    } else if (operation == LIDAR_OP_CONFIG && state_ == kStateLeaving) {
        sheet_->PressNext();
    }
}

void CLidarParam::Leave()
{
    timer_.stop();
    udp_->Close();
    state_ = kStateLeaving;
}

bool CLidarParam::OnWizardNext()
{
    if (state_ == kStateLeaving)
        return true;
    Leave();
    SendLidarJson();
    sheet_->selectPage()->lidars() = lidars_;
    return false;
}

bool CLidarParam::OnWizardBack()
{
    Leave();
    SendLidarXYJson();
    return true;
}

bool CLidarParam::OnQueryCancel()
{
    if (!CLidarPage::OnQueryCancel())
        return false;
    Leave();
    SendLidarXYJson();
    return true;
}

void CLidarParam::OnTimer()
{
    if (running_)
        SendLidarRequest(LIDAR_UDP_POLL);
}

void CLidarParam::SendLidarRequest(uint32_t command)
{
    if (!udp_->IsOpen() || QHostAddress(playerIp_).protocol() != QAbstractSocket::IPv4Protocol)
        return;
    udp_->SendTo(playerIp_, kPlayerUdpPort,
                 BuildLidarRequest(command, current_, SecondsSince2020(QDateTime::currentDateTime())));
}

void CLidarParam::OnShowPoint()
{
    SendLidarRequest(show_->isChecked() ? LIDAR_UDP_SHOW_POINTS_ON : LIDAR_UDP_SHOW_POINTS_OFF);
}

void CLidarParam::OnUdpEvent(const UdpLinkEvent& e)
{
    if (e.type == kUdpDatagram) {
        const DatagramResult r = ParseLidarDatagram(e.sourceText(), playerIp_, e.data, e.length);
        if (r.kind == DatagramResult::Ignored)
            return;
        data_->setText(QString(T("Radar Data:%d")).replace(QStringLiteral("%d"), QString::number(r.announced)));
        if (r.kind == DatagramResult::Points) {
            points_ = r.points;
            plot_->update();
        }
    } else if (e.type == kUdpReceiveError) {
        udp_->Close();
        udp_->Open(localIp_, kLocalUdpPort);
    }
}

void CLidarParam::OnPreviousPoint()
{
    if (current_ >= lidars_.size() || lidars_[current_].corners.size() != kCornerCount)
        return;
    lidars_[current_].currentCorner = PreviousCorner(lidars_[current_].currentCorner);
    SendLidarXYJson();
    PromptStandAtPoint();
}

void CLidarParam::OnNextPoint()
{
    if (current_ >= lidars_.size() || lidars_[current_].corners.size() != kCornerCount)
        return;
    lidars_[current_].currentCorner = NextCorner(lidars_[current_].currentCorner);
    SendLidarXYJson();
    PromptStandAtPoint();
}

void CLidarParam::OnPreviousRadar()
{
    if (current_ == 0 || current_ > lidars_.size())
        return;
    --current_;
    lidars_[current_].currentCorner = 0;
    SendLidarXYJson();
    PromptStandAtPoint();
}

void CLidarParam::OnNextRadar()
{
    if (std::size_t(current_) + 1 >= lidars_.size())
        return;
    ++current_;
    lidars_[current_].currentCorner = 0;
    SendLidarXYJson();
    PromptStandAtPoint();
}

void CLidarParam::OnStartStop()
{
    running_ = !running_;
    buttons_[4]->setText(running_ ? T("Stop") : T("Start"));
}

void CLidarParam::OnDotSizeChanged(int position)
{
    dotSize_ = DotSizeForSlider(position);
    SendLidarXYJson();
}

void CLidarParam::OnPlotClick()
{
    setFocus();
    if (!picked.present)
        return;
    if (current_ < lidars_.size()) {
        LidarSettings& s = lidars_[current_];
        if (s.currentCorner < s.corners.size()) {
            s.corners[s.currentCorner].R = double(picked.distance);
            s.corners[s.currentCorner].angle = RoundAngle(picked.angle);
            BuildGrid();
        }
    }
    picked.present = false;
}

// ---- check page ----

CLidarCheck::CLidarCheck(CLidarWizard* sheet) : CLidarPage(sheet, "Radar Check")
{
    scan_ = new QPushButton(T("Scanning obstacles"), this);
    check_ = new QPushButton(T("check"), this);
    auto* scanText = new QLabel(
        T("Clear the sensing points triggered by obstacles in the interaction area. Please do not stand or touch the "
          "sensing area when clearing the obstacle points."),
        this);
    auto* checkText = new QLabel(
        T("Check whether the sensing point coordinates are correct. If correct, standing or touching the sensing area "
          "will display \r\nthe sensing point in the corresponding place."),
        this);
    for (QLabel* l : {scanText, checkText})
        l->setWordWrap(true);
    for (QPushButton* b : {scan_, check_}) {
        b->setAutoDefault(false);
        b->setMinimumWidth(160);
    }
    auto* all = new QVBoxLayout(this);
    auto* r1 = new QHBoxLayout;
    r1->addWidget(scan_);
    r1->addWidget(scanText, 1);
    auto* r2 = new QHBoxLayout;
    r2->addWidget(check_);
    r2->addWidget(checkText, 1);
    all->addStretch();
    all->addLayout(r1);
    all->addSpacing(30);
    all->addLayout(r2);
    all->addStretch();
    connect(scan_, &QPushButton::clicked, this, [this] { OnScanObstacles(); });
    connect(check_, &QPushButton::clicked, this, [this] { OnCheck(); });
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

void CLidarCheck::OnSetActive()
{
    sheet_->SetWizardButtons(kWizBack | kWizFinish);
    timer_.start(kCheckTimerMs);
}

void CLidarCheck::OnScanObstacles()
{
    SendLidar(LIDAR_OP_SCAN);
    scanFlag_ = false;
    countdown_ = 3;
}

void CLidarCheck::OnCheck()
{
    SendLidar(LIDAR_OP_CHECK);
}

void CLidarCheck::OnLidarReply(uint16_t operation, const QByteArray&)
{
    if (operation == LIDAR_OP_SCAN) {
        scan_->setEnabled(false);
        check_->setEnabled(false);
        scanFlag_ = true;
    } else if (operation == LIDAR_OP_SCAN_END) {
        scan_->setEnabled(true);
        check_->setEnabled(true);
        platform::messageBox(T("scan end"), caption(), platform::MsgButtons::Ok, platform::MsgIcon::None, this);
    }
}

void CLidarCheck::OnTimer()
{
    if (!scanFlag_)
        return;
    if (countdown_ > 0)
        --countdown_;
    if (countdown_ == 0) {
        scanFlag_ = false;
        SendLidar(LIDAR_OP_SCAN_END);
    }
}

bool CLidarCheck::OnWizardBack()
{
    timer_.stop();
    SendLidar(LIDAR_OP_CHECK_END);
    return true;
}

void CLidarCheck::SendLidarXYJson()
{
    SendDocument(LIDAR_OP_POINT, QStringLiteral("LidarXY.Json"), CheckPageLidarXYJson());
}

bool CLidarCheck::OnWizardFinish()
{
    timer_.stop();
    SendLidarXYJson();
    return true;
}

bool CLidarCheck::OnQueryCancel()
{
    if (!CLidarPage::OnQueryCancel())
        return false;
    timer_.stop();
    SendLidarXYJson();
    return true;
}

// ---- sheet ----

CLidarWizard::CLidarWizard(QWidget* parent) : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this))
{
    select_ = new CLidarSelect(this);
    param_ = new CLidarParam(this);
    check_ = new CLidarCheck(this);
    stack_ = new QStackedWidget(this);
    stack_->addWidget(select_);
    stack_->addWidget(param_);
    stack_->addWidget(check_);
    const unsigned language = platform::appLanguage();
    back_ = new QPushButton(language == 4 ? QString::fromUtf8("< 上一步(&B)") : QStringLiteral("< &Back"), this);
    next_ = new QPushButton(language == 4 ? QString::fromUtf8("下一步(&N) >") : QStringLiteral("&Next >"), this);
    finish_ = new QPushButton(language == 4 ? QString::fromUtf8("完成") : QStringLiteral("Finish"), this);
    cancel_ = new QPushButton(language == 4 ? QString::fromUtf8("取消") : QStringLiteral("Cancel"), this);
    back_->setObjectName(QStringLiteral("12323"));
    next_->setObjectName(QStringLiteral("12324"));
    finish_->setObjectName(QStringLiteral("12325"));
    cancel_->setObjectName(QStringLiteral("2"));
    for (QPushButton* b : {back_, next_, finish_, cancel_})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addWidget(finish_);
    buttons->addWidget(cancel_);
    auto* all = new QVBoxLayout(this);
    all->addWidget(stack_, 1);
    all->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, [this] { PressBack(); });
    connect(next_, &QPushButton::clicked, this, [this] { PressNext(); });
    connect(finish_, &QPushButton::clicked, this, [this] { PressFinish(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });

    onMessage(platform::WM_LIDAR_REPLY, [this](platform::WPARAM w, platform::LPARAM l) -> platform::LRESULT {
        const auto* payload = reinterpret_cast<const QByteArray*>(l);
        const QByteArray bytes = payload ? *payload : QByteArray();
        switch (w) {
        case 1: case 2: case 4: case 5:
            check_->OnLidarReply(uint16_t(w), bytes);
            return 0;
        case 3: case 11:
            param_->OnLidarReply(uint16_t(w), bytes);
            return 0;
        case 9: case 10:
            select_->OnLidarReply(uint16_t(w), bytes);
            return 0;
        default:
            return 0;
        }
    });
    onMessage(platform::WM_UDP_EVENT, [this](platform::WPARAM, platform::LPARAM l) -> platform::LRESULT {
        if (l)
            param_->OnUdpEvent(*reinterpret_cast<const UdpLinkEvent*>(l));
        return 0;
    });
    stack_->setCurrentIndex(0);
    setWindowTitle(select_->caption());
    resize(960, 640);
}

CLidarWizard::~CLidarWizard() = default;

void CLidarWizard::SetInputs(const QString& folder, const QString& playerIp, const QString& localIp)
{
    folder_ = folder;
    select_->setPlayerIp(playerIp);
    param_->SetInputs(folder, playerIp, localIp);
    check_->setFolder(folder);
}

void CLidarWizard::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Start();
}

void CLidarWizard::Start()
{
    if (!started_) {
        started_ = true;
        if (layout())
            layout()->activate();
        SetActivePage(0);
    }
}

int CLidarWizard::activeIndex() const
{
    return stack_->currentIndex();
}

CLidarPage* CLidarWizard::activePage() const
{
    return static_cast<CLidarPage*>(stack_->currentWidget());
}

void CLidarWizard::SetActivePage(int index)
{
    stack_->setCurrentIndex(index);
    // The caption follows the page: replies and datagrams find it by it.
    setWindowTitle(activePage()->caption());
    activePage()->OnSetActive();
}

void CLidarWizard::SetWizardButtons(unsigned buttons)
{
    buttons_ = buttons;
    back_->setEnabled(buttons & kWizBack);
    const bool last = activeIndex() == 2;
    next_->setVisible(!last);
    finish_->setVisible(last);
    next_->setEnabled(buttons & kWizNext);
    finish_->setEnabled(buttons & kWizFinish);
}

void CLidarWizard::PressNext()
{
    if (!(buttons_ & kWizNext) || activeIndex() >= 2)
        return;
    if (activePage()->OnWizardNext())
        SetActivePage(activeIndex() + 1);
}

void CLidarWizard::PressBack()
{
    if (!(buttons_ & kWizBack) || activeIndex() == 0)
        return;
    if (activePage()->OnWizardBack())
        SetActivePage(activeIndex() - 1);
}

void CLidarWizard::PressFinish()
{
    if (!(buttons_ & kWizFinish))
        return;
    if (activePage()->OnWizardFinish())
        QDialog::accept();
}

void CLidarWizard::keyPressEvent(QKeyEvent* event)
{
    // On the parameter and check pages neither Enter nor Escape ends the wizard.
    if (controls::IsEnterOrEscKey(event->key()) && activeIndex() > 0)
        return;
    QDialog::keyPressEvent(event);
}

void CLidarWizard::reject()
{
    if (activePage()->OnQueryCancel())
        QDialog::reject();
}
