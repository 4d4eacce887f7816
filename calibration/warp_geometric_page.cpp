// Step 2 of the warp wizard: one output channel's grid at a time, every
// edit sent to the player as point data, a channel's per-pixel map sent when
// it is left. One request in flight: while busy, an editing key does
// nothing (the player would not see its change until the next edit), and a
// drag is drawn but not sent; the next send carries the whole state.
#include "calibration/player_requests.h"
#include "calibration/warp_main.h"
#include "common/controls/dialog_keys.h"

#include "core/config_exchange.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "transport/protocol.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSlider>
#include <QWheelEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace calib {

namespace {

constexpr std::size_t kPointBlockSize = 10240;
constexpr int kMaxBlockPoints = 2558;

QString tr2(int language, const char* english, const char* chinese)
{
    return QString::fromUtf8(language == 4 ? chinese : english);
}

int geoKey(int qtKey, Qt::KeyboardModifiers m)
{
    const bool pad = m & Qt::KeypadModifier;
    switch (qtKey) {
    case Qt::Key_Backspace: return kKeyBackspace;
    case Qt::Key_Home: return kKeyHome;
    case Qt::Key_H: return kKeyH;
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Right: return kKeyRight;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_Plus: return pad ? kKeyPadPlus : kKeyPlus;
    case Qt::Key_Equal: return kKeyPlus;
    case Qt::Key_Minus: return pad ? kKeyPadMinus : kKeyMinus;
    case Qt::Key_Comma: return kKeyComma;
    case Qt::Key_Period: return kKeyPeriod;
    default: return 0;
    }
}

unsigned mouseFlags(Qt::KeyboardModifiers m)
{
    return (m & Qt::ShiftModifier ? kMouseShift : 0u) | (m & Qt::ControlModifier ? kMouseCtrl : 0u);
}

}  // namespace

const std::vector<ShortcutKey>& ShortcutKeys()
{
    static const std::vector<ShortcutKey> keys = {
        {"Tab / Shift+Tab", "next / previous channel", "下一通道 / 上一通道"},
        {"Ctrl+Tab / Ctrl+Shift+Tab", "next step / previous step", "下一步 / 上一步"},
        {"\u2190 \u2191 \u2192 \u2193", "move the selected points (held: faster)", "移动选中的点（按住加速）"},
        {"Shift+\u2190\u2191\u2192\u2193", "select the next point that way", "选择该方向的下一个点"},
        {"Ctrl+\u2190\u2191\u2192\u2193", "add the next point that way", "加选该方向的下一个点"},
        {"Home / H", "select the point, its row, its column, all", "依次选择该点、该行、该列、全部点"},
        {"Shift+drag", "select the points in a rectangle", "框选点", "Shift+拖动"},
        {"Backspace", "clear the selection", "取消选择"},
        {"+ / \u2212", "fewer / more control points", "减少 / 增加控制点"},
        {", / .", "fewer / more reference points", "减少 / 增加参考点"},
        {"Wheel", "fewer / more control points", "减少 / 增加控制点", "鼠标滚轮"},
        {"R", "reset the grid (the shapes when adjusting them)", "复位网格（异形边框调整时复位边框）"},
        {"F5", "redraw", "刷新"},
        {"Esc", "quit the wizard", "退出向导"},
    };
    return keys;
}

QString ShortcutKeyName(const ShortcutKey& k, int language)
{
    return QString::fromUtf8(language == 4 && k.keyChinese ? k.keyChinese : k.key);
}

QString ShortcutKeysText(int language)
{
    // Three columns of "key  what it does", row by row.
    constexpr int kColumns = 3;
    const auto& keys = ShortcutKeys();
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    for (std::size_t i = 0; i < keys.size(); i += kColumns) {
        html += QStringLiteral("<tr>");
        for (std::size_t k = i; k < std::min(keys.size(), i + kColumns); ++k)
            html += QStringLiteral("<td><b>%1</b></td><td>&nbsp;%2&nbsp;&nbsp;&nbsp;&nbsp;</td>")
                        .arg(ShortcutKeyName(keys[k], language).toHtmlEscaped(),
                             tr2(language, keys[k].english, keys[k].chinese).toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

int ArrowStepForTicks(int ticks)
{
    // Ticks 1-2 step 1, 3-4 step 2 ... 17-18 step 9; held past that, 10.
    if (ticks >= 19)
        return 10;
    return std::max(1, (ticks + 1) / 2);
}

bool SendWarpRequest(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, uint16_t sequence,
                     const QByteArray& payload, const std::vector<SendTarget>& targets)
{
    auto request = std::make_unique<SendRequest>();
    proto::PlayerPacketHeader h;
    h.command = command;
    h.subCode = subCode;
    h.sequence = sequence;
    h.param = param;
    h.arg = arg;
    if (!request->SetPacket(h, payload))
        return false;
    request->targets = targets;
    return SendToMainWindow(request.release());
}

CWarpGeometricPage::CWarpGeometricPage(QWidget* parent) : QWidget(parent), model_(std::make_unique<CGeometricCorrection>())
{
    language_ = platform::appLanguage() == 4 ? 4 : 9;
    setWindowTitle(tr2(language_, "Geometry Correction (Second Step)", "几何校正(第二步)"));
    setFocusPolicy(Qt::StrongFocus);
    auto* v = new QVBoxLayout(this);
    label_ = new QLabel;
    label_->setObjectName(QStringLiteral("3202"));
    label_->setStyleSheet(QStringLiteral("color: red"));
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("3205"));
    status_->setStyleSheet(QStringLiteral("color: blue"));
    auto* head = new QHBoxLayout;
    head->addWidget(label_);
    head->addStretch();
    head->addWidget(status_);
    v->addLayout(head);
    v->addStretch();
    auto* buttons = new QHBoxLayout;
    previous_ = new QPushButton(tr2(language_, "Previous Channel", "上一通道"));
    previous_->setObjectName(QStringLiteral("3203"));
    next_ = new QPushButton(tr2(language_, "Next Channel", "下一通道"));
    next_->setObjectName(QStringLiteral("3204"));
    auto* first = new QPushButton(tr2(language_, "Go Back to the 1st Channel", "切换到第一个通道"));
    first->setObjectName(QStringLiteral("3207"));
    for (QPushButton* b : {previous_, next_, first}) {
        b->setFocusPolicy(Qt::NoFocus);
        buttons->addWidget(b);
    }
    shape1_ = new QPushButton(tr2(language_, "Background 1st Adjustment", "异形边框1调整"));
    shape1_->setObjectName(QStringLiteral("3208"));
    shape2_ = new QPushButton(tr2(language_, "Background 2nd Adjustment", "异形边框2调整"));
    shape2_->setObjectName(QStringLiteral("3209"));
    shapeStop_ = new QPushButton(tr2(language_, "Stop Background Adjustment", "异形边框调整结束"));
    shapeStop_->setObjectName(QStringLiteral("3210"));
    shapeBack_ = new QPushButton(tr2(language_, "Back", "上一个"));
    shapeBack_->setObjectName(QStringLiteral("3211"));
    shapeNext_ = new QPushButton(tr2(language_, "Next", "下一个"));
    shapeNext_->setObjectName(QStringLiteral("3212"));
    shapeFlag_ = new QComboBox;
    shapeFlag_->setObjectName(QStringLiteral("3213"));
    shapeFlag_->addItems({tr2(language_, "Disable", "禁用"), tr2(language_, "Enable", "启用")});
    alpha_ = new QSlider(Qt::Horizontal);
    alpha_->setObjectName(QStringLiteral("3214"));
    alpha_->setRange(0, 10);
    alpha_->setPageStep(1);
    alpha_->setFixedWidth(120);
    for (QWidget* w : std::initializer_list<QWidget*>{shape1_, shape2_, shapeStop_, shapeBack_, shapeNext_, shapeFlag_}) {
        w->setFocusPolicy(Qt::NoFocus);
        buttons->addWidget(w);
    }
    buttons->addStretch();
    buttons->addWidget(new QLabel(tr2(language_, "Alpha:", "透明度:")));
    alpha_->setFocusPolicy(Qt::NoFocus);
    buttons->addWidget(alpha_);
    v->addLayout(buttons);
    keys_ = new QLabel(ShortcutKeysText(language_));
    keys_->setObjectName(QStringLiteral("shortcutKeys"));
    keys_->setTextFormat(Qt::RichText);
    v->addWidget(keys_);
    shapeStop_->setEnabled(false);
    shapeBack_->setEnabled(false);
    shapeNext_->setEnabled(false);
    shapeFlag_->setEnabled(false);
    connect(shape1_, &QPushButton::clicked, this, [this] { EnterShapes(1); });
    connect(shape2_, &QPushButton::clicked, this, [this] { EnterShapes(2); });
    connect(shapeStop_, &QPushButton::clicked, this, [this] { StopShapes(); });
    connect(shapeBack_, &QPushButton::clicked, this, [this] { MoveShape(-1); });
    connect(shapeNext_, &QPushButton::clicked, this, [this] { MoveShape(1); });
    connect(shapeFlag_, &QComboBox::activated, this, [this](int flag) {
        if (shapeSet_ == 0)
            return;
        ShapeSet& set = model_->shapeSet(shapeSet_ - 1);
        set.shapes[set.current % ShapeSet::kShapes].flag = uint8_t(flag);
        if (!busy_)
            SendShapePoints();
    });
    connect(alpha_, &QSlider::valueChanged, this, [this](int value) {
        if (uint16_t(value) == transparency_ || busy_)
            return;
        transparency_ = uint16_t(value);
        SendGridPoints();
    });
    connect(previous_, &QPushButton::clicked, this, [this] { OnPreviousChannel(); });
    connect(next_, &QPushButton::clicked, this, [this] { OnNextChannel(); });
    connect(first, &QPushButton::clicked, this, [this] {
        if (busy_)
            return;
        SelectChannel(FirstActiveChannel());
        sendReferenceNext_ = true;
        direction_ = 0;
        SelectChannelRequest();
    });
    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, [this] { onTick(); });
    layoutCanvas();
}

CWarpGeometricPage::~CWarpGeometricPage() = default;

void CWarpGeometricPage::layoutCanvas()
{
    // Above the button row and the list of keys.
    const int keysHeight = keys_ ? keys_->sizeHint().height() + 6 : 0;
    const int top = 40, bottom = std::max(top + 60, height() - 50 - keysHeight);
    model_->canvas = {10, top, std::max(20, width() - 10), bottom};
    const double xs = model_->canvas.width() / 1920.0, ys = model_->canvas.height() / 1080.0;
    model_->xScale.fill(xs);
    model_->yScale.fill(ys);
    model_->shapeXScale = xs;
    model_->shapeYScale = ys;
    model_->rotatedXScale = xs;
    model_->rotatedYScale = ys;
}

void CWarpGeometricPage::resizeEvent(QResizeEvent*) { layoutCanvas(); }

bool CWarpGeometricPage::event(QEvent* e)
{
    // Tab moves between channels here, not between controls.
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
            OnKey(k->key(), k->modifiers(), true, k->isAutoRepeat());
            return true;
        }
    }
    return QWidget::event(e);
}

QString CWarpGeometricPage::status() const { return status_->text(); }

void CWarpGeometricPage::setStatus(const char* english, const char* chinese, int value)
{
    QString s = tr2(language_, english, chinese);
    if (value >= 0)
        s.replace(QStringLiteral("%d"), QString::number(value));
    status_->setText(s);
}

void CWarpGeometricPage::ApplyWarpSettings(const WarpSettings& settings)
{
    settings_ = settings;
    QByteArray block = settings.toBytes();
    grid::OutputConfig config;
    if (!BuildOutputConfig(block, channelCount, singleChannel, config))
        return;
    model_->baseFolder = playerFolder;
    model_->config = config;
    model_->newShapeFormat = version >= 0x2600;
    // The shape canvas is reloaded with the files: whatever set was shown
    // has been stored and saved on leaving the page.
    shapeSet_ = 0;
    // The shapes are sized from the screens before their file is read: the
    // reader compares each record's size with the shape it replaces.
    model_->ResetGrids(config.layoutCode);
    const FileLoad grids = model_->LoadJunctionPoints();
    model_->ResetShapes();
    const FileLoad shapes = model_->LoadCustomShapes();
    model_->MarkFilesUnedited();
    warnIfRefused(grids, cfgx::kJunctionPointFile);
    warnIfRefused(shapes, model_->shapeFile());
    update();
}

void CWarpGeometricPage::warnIfRefused(FileLoad outcome, uint8_t file)
{
    // Once a run: going back to step 1 and on again reads the same file.
    if (outcome != FileLoad::Refused || !warned_.insert(file).second)
        return;
    platform::messageBox(refusedFileMessage(cfgx::configFileName(file), language_), QString(), platform::MsgButtons::Ok,
                         platform::MsgIcon::Warning, this);
}

int CWarpGeometricPage::FirstActiveChannel() const
{
    const int n = std::min<int>(model_->config.outputCount, 9);
    for (int i = 0; i < n; ++i)
        if (model_->config.outputs[std::size_t(i)].cellByte)
            return i;
    return 0;
}

std::vector<SendTarget> CWarpGeometricPage::allTargets() const
{
    return singleChannel ? DevicesOf(targets) : std::vector<SendTarget>{};
}

std::vector<SendTarget> CWarpGeometricPage::currentTarget() const
{
    if (!singleChannel)
        return {};
    // The list holds one entry per cell: a channel without a device (or past
    // the list) gets nothing rather than another channel's player.
    const std::size_t i = model_->currentOutput;
    if (i >= targets.size() || targets[i].ip.isEmpty())
        return {};
    return {targets[i]};
}

std::vector<SendTarget> CWarpGeometricPage::otherTargets() const
{
    std::vector<SendTarget> out;
    if (!singleChannel)
        return out;
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (i != model_->currentOutput && !targets[i].ip.isEmpty())
            out.push_back(targets[i]);
    return out;
}

bool CWarpGeometricPage::send(uint8_t command, uint8_t subCode, uint16_t param, uint16_t arg, const QByteArray& payload,
                              const std::vector<SendTarget>& to, int expected)
{
    if (singleChannel && to.empty())
        return false;
    if (!SendWarpRequest(command, subCode, param, arg, sequence, payload, to))
        return false;
    expected_ = std::max(1, expected);
    received_ = 0;
    return true;
}

void CWarpGeometricPage::Start()
{
    if (shapeSet_ != 0)
        model_->StoreShape(shapeSet_ - 1, model_->shapeSet(shapeSet_ - 1).current);
    shapeSet_ = 0;
    model_->shapeMode = false;
    shapeFlag_->setCurrentIndex(0);
    findChild<QPushButton*>(QStringLiteral("3207"))->setEnabled(true);
    shape1_->setEnabled(true);
    shape2_->setEnabled(model_->config.screenCount == 2);
    shapeStop_->setEnabled(false);
    shapeBack_->setEnabled(false);
    shapeNext_->setEnabled(false);
    shapeFlag_->setEnabled(false);
    previous_->setEnabled(true);
    next_->setEnabled(true);
    SelectChannel(model_->currentOutput);
    timer_->start();
    if (inAdjustment_)
        SendBlendSwitch(0);
    else
        SendVideoChannelSetup();
}

void CWarpGeometricPage::SendVideoChannelSetup()
{
    setStatus("Setting parameters of video channel...", "设置视频通道参数...");
    uint8_t rects[108];
    model_->BuildOutputRectPayload(rects);
    const auto all = allTargets();
    busy_ = send(proto::CMD_VIDEO_CHANNEL_SETUP, 1, proto::getU16(rects), proto::getU16(rects + 2),
                 QByteArray(reinterpret_cast<const char*>(rects + 4), 104), all, int(all.size()));
}

void CWarpGeometricPage::EnterAdjustment()
{
    const auto all = allTargets();
    QByteArray payload;
    uint16_t param = 1, arg = 1;
    if (singleChannel) {
        payload = QByteArray("\x01\x01\x00\x00", 4);
    } else {
        param = model_->config.screenCount;
        arg = model_->config.outputCount;
        payload = BuildAdjustModePayload(settings_.toBytes(), horizontalCurved, verticalCurved);
        if (version < 0x1900)
            payload = payload.left(4);
    }
    busy_ = send(proto::CMD_ADJUST_MODE, 0, param, arg, payload, all, int(all.size()));
    if (busy_)
        inAdjustment_ = true;
}

void CWarpGeometricPage::LeaveAdjustment()
{
    // Every player answers: the next step waits for all of them, so that one
    // reply each does not start the step once per player.
    const auto all = allTargets();
    busy_ = send(proto::CMD_ADJUST_MODE, 1, 0, 0, QByteArray(), all, int(all.size()));
    if (busy_)
        inAdjustment_ = false;
}

void CWarpGeometricPage::SendBlendSwitch(uint8_t on)
{
    const auto all = allTargets();
    busy_ = send(proto::CMD_BLEND_SWITCH, on, 0, 0, QByteArray(), all, int(all.size()));
}

void CWarpGeometricPage::Leave(uint8_t step)
{
    SaveJunctionPoints();
    pendingStep = step;
    SendBlendSwitch(1);
}

void CWarpGeometricPage::SelectChannelRequest()
{
    uint8_t word[4];
    proto::putU32(word, singleChannel ? 0u : uint32_t(model_->config.outputs[model_->currentOutput].outputId) << 24);
    const auto all = allTargets();
    busy_ = send(proto::CMD_ADJUST_MODE, 3, 0, 0, QByteArray(reinterpret_cast<const char*>(word), 4), all,
                 int(all.size()));
}

void CWarpGeometricPage::SelectChannel(int channel)
{
    if (channel < 0 || channel >= 9)
        return;
    model_->currentOutput = uint16_t(channel);
    model_->ClearSelection();
    model_->ActivateReferencePoints();
    model_->ActivateCorrectedPoints();
    label_->setText(tr2(language_, "Channel %d correction", "正在校正第%d通道")
                        .replace(QStringLiteral("%d"), QString::number(model_->config.outputs[std::size_t(channel)].outputId + 1)));
    update();
}

QByteArray CWarpGeometricPage::PointBlock(bool shapes) const
{
    QByteArray block(int(kPointBlockSize), '\0');
    auto* p = reinterpret_cast<uint8_t*>(block.data());
    int count = 0;
    auto add = [&](uint32_t v) {
        if (count < kMaxBlockPoints)
            proto::putU32(p + 8 + 4 * count++, v);
    };
    if (shapes) {
        // The shape being edited lives on the model's shape canvas.
        const grid::PixelMap& m = model_->shapeCanvas();
        const int cols = std::clamp<int>(m.columnsInUse, 1, grid::PixelMap::kColumns);
        const int rows = std::clamp<int>(m.rowsInUse, 1, grid::PixelMap::kRows);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const grid::GridPoint& g = m.at(c, r);
                if (g.active && g.selected)
                    add(uint32_t(g.y) * 131072u + uint32_t(g.x) * 2u);
            }
        proto::putU16(p + 2, uint16_t(m.spacing & 0xFFF));
    } else {
        const int out = model_->currentOutput;
        const grid::WarpGrid& g = model_->corrected(out);
        const grid::OutputEntry& e = model_->config.outputs[std::size_t(out)];
        const int cols = std::min<int>(e.gridColumns, grid::WarpGrid::kColumns);
        const int rows = std::min<int>(e.gridRows, grid::WarpGrid::kRows);
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const grid::GridPoint& pt = g.at(c, r);
                if (pt.active && pt.selected)
                    add(uint32_t(pt.y) * 65536u + uint32_t(pt.x));
            }
        proto::putU16(p + 2, uint16_t((g.spacing * 32) & 0xFFF));
    }
    proto::putU16(p, uint16_t(count & 0xFFF));
    return block;
}

void CWarpGeometricPage::SendGridPoints()
{
    const GridPayload built = model_->BuildCorrectedPayload();
    busy_ = send(proto::CMD_ADJUST_MODE, 2, built.kind, transparency_, PointBlock(false) + built.bytes, currentTarget(), 1);
}

void CWarpGeometricPage::SendReferenceGrid()
{
    const GridPayload built = model_->BuildPointPayload();
    const grid::WarpGrid& ref = model_->reference(model_->currentOutput);
    int firstColumn = 0, firstRow = 0;
    for (int r = 0; r < grid::WarpGrid::kRows; ++r)
        firstColumn += ref.at(0, r).active ? 1 : 0;
    for (int c = 0; c < grid::WarpGrid::kColumns; ++c)
        firstRow += ref.at(c, 0).active ? 1 : 0;
    const auto others = otherTargets();
    busy_ = send(proto::CMD_ADJUST_MODE, 2, built.kind, uint16_t((firstColumn & 0xFF) * 256 + (firstRow & 0xFF)),
                 QByteArray(int(kPointBlockSize), '\0') + built.bytes, singleChannel ? others : std::vector<SendTarget>{},
                 singleChannel ? int(others.size()) : 1);
}

void CWarpGeometricPage::SendShapePoints()
{
    const GridPayload built = model_->BuildShapePayload();
    const bool fresh = version >= 0x2600;
    const ShapeSet& set = model_->shapeSet(std::clamp<int>(model_->currentSet, 0, 1));
    const uint16_t arg = fresh ? uint16_t(set.shapes[set.current % ShapeSet::kShapes].flag * 256 + (set.current & 0xFF)) : 0;
    busy_ = send(proto::CMD_WARP_POINTS, fresh ? 1 : 0, uint16_t(shapeSet_), arg, PointBlock(true) + built.bytes,
                 currentTarget(), 1);
}

bool CWarpGeometricPage::SendChannelMap()
{
    const int out = model_->currentOutput;
    if (!model_->BuildChannelMap(out))
        return false;
    lastMapSub_ = uint8_t(singleChannel ? 64 : 64 + model_->config.outputs[std::size_t(out)].outputId);
    return send(proto::CMD_CHANNEL_MAP_DATA, lastMapSub_, 0, 0, model_->channelMap().payload(), currentTarget(), 1);
}

void CWarpGeometricPage::OnPreviousChannel()
{
    if (busy_)
        return;
    for (int i = int(model_->currentOutput) - 1; i >= 0; --i)
        if (model_->config.outputs[std::size_t(i)].cellByte) {
            direction_ = 1;
            busy_ = SendChannelMap();
            setStatus("Adjustment...", "调整中...");
            return;
        }
    setStatus("It's already the first channel", "已经是第一个通道了");
}

void CWarpGeometricPage::OnNextChannel()
{
    if (busy_)
        return;
    const int n = std::min<int>(model_->config.outputCount, 9);
    for (int i = model_->currentOutput + 1; i < n; ++i)
        if (model_->config.outputs[std::size_t(i)].cellByte) {
            direction_ = 2;
            busy_ = SendChannelMap();
            setStatus("Update channel %d data...", "更新第%d通道数据...", model_->currentOutput + 1);
            return;
        }
    setStatus("Adjustment completed, save data", "调整完成，请保存校正数据");
}

bool CWarpGeometricPage::SaveJunctionPoints()
{
    // An edit still on the shape canvas belongs to its shape.
    if (shapeSet_ != 0)
        model_->StoreShape(shapeSet_ - 1, model_->shapeSet(shapeSet_ - 1).current);
    // A file is rewritten only when the user changed what it holds, so that
    // the upload that follows never replaces the player's copy with defaults
    // or with a file this program could not read.
    bool saved = true;
    filecommit::WriteFailure failure;
    if (model_->ShapesEdited())
        saved = model_->SaveCustomShapes(&failure);
    if (model_->JunctionEdited())
        saved = model_->SaveJunctionPoints(saved ? &failure : nullptr) && saved;
    if (saved) {
        model_->MarkFilesUnedited();
        return true;
    }
    // The edits stay on the page, still marked, and are written at the next
    // save; the file on disk is still the one before them. The first file
    // refused is named: a full disk refuses both.
    filecommit::showCannotWrite(language_, failure, this);
    return false;
}

void CWarpGeometricPage::notifyWizard(uint8_t step)
{
    platform::MessageWindow* w = platform::findWindow(prefix + WarpWizardCaption(language_));
    if (w && w->handles(platform::WM_WARP_WIZARD_STEP))
        platform::sendMessage(w, platform::WM_WARP_WIZARD_STEP, 0, platform::LPARAM(new uint16_t(step)));
}

void CWarpGeometricPage::OnReply(uint8_t command, uint8_t status)
{
    ++received_;
    if (received_ < expected_)
        return;
    const auto done = [this] {
        busy_ = false;
        setStatus("Adjustment completed operation.", "调整完成,可以继续操作");
    };
    switch (command) {
    case proto::CMD_CHANNEL_MAP_DATA: {
        ++sequence;
        if (lastMapSub_ < 64) {
            busy_ = false;
            return;
        }
        const int n = std::min<int>(model_->config.outputCount, 9);
        int to = model_->currentOutput;
        if (direction_ == 1) {
            for (int i = to - 1; i >= 0; --i)
                if (model_->config.outputs[std::size_t(i)].cellByte) {
                    to = i;
                    break;
                }
        } else if (direction_ == 2) {
            for (int i = to + 1; i < n; ++i)
                if (model_->config.outputs[std::size_t(i)].cellByte) {
                    to = i;
                    break;
                }
        }
        model_->currentOutput = uint16_t(to);
        SelectChannelRequest();
        return;
    }
    case proto::CMD_VIDEO_CHANNEL_SETUP:
        ++sequence;
        EnterAdjustment();
        return;
    case proto::CMD_ADJUST_MODE:
        ++sequence;
        if (status == 0) {
            SendBlendSwitch(0);
        } else if (status == 1) {
            sequence = 0;
            busy_ = false;
            timer_->stop();
            notifyWizard(pendingStep);
        } else if (status == 2) {
            setFocus();
            if (sendReferenceNext_) {
                sendReferenceNext_ = false;
                SendReferenceGrid();
                if (!busy_)
                    done();
            } else {
                done();
            }
        } else if (status == 3) {
            direction_ = 0;
            SelectChannel(model_->currentOutput);
            SendGridPoints();
        }
        return;
    case proto::CMD_BLEND_SWITCH:
        ++sequence;
        if (status == 0) {
            sendReferenceNext_ = true;
            SelectChannelRequest();
            direction_ = 0;
            SelectChannel(model_->currentOutput);
        } else if (status == 1) {
            if (pendingStep == 1) {
                LeaveAdjustment();
            } else if (pendingStep == 2) {
                pendingStep = 0;
                LeaveAdjustment();
            } else if (pendingStep == 3) {
                busy_ = false;
                notifyWizard(3);
            } else {
                busy_ = false;
            }
        }
        return;
    case proto::CMD_WARP_POINTS:
        ++sequence;
        setFocus();
        done();
        if (shapeSet_ == 0) {
            sendReferenceNext_ = true;
            direction_ = 0;
            SelectChannel(model_->currentOutput);
            SendGridPoints();
        }
        return;
    default:
        // Not supported, a lost link, or a code this page never asked for:
        // nothing more will come, so the page may send again.
        busy_ = false;
        sequence = 0;
        return;
    }
}

bool CWarpGeometricPage::OnKey(int key, Qt::KeyboardModifiers m, bool pressed, bool autoRepeat)
{
    const int k = geoKey(key, m);
    const bool arrow = k == kKeyLeft || k == kKeyUp || k == kKeyRight || k == kKeyDown || k == kKeyPlus ||
                       k == kKeyMinus || k == kKeyPadPlus || k == kKeyPadMinus;
    if (!pressed) {
        if (key == Qt::Key_Shift || key == Qt::Key_Control)
            model_->OnKey(key == Qt::Key_Shift ? kKeyShift : kKeyCtrl, false);
        // X11 sends a release before every auto-repeated press: only a real
        // release ends the acceleration.
        if (arrow && !autoRepeat) {
            keyHeld_ = false;
            ticks_ = 0;
            model_->step = 1;
            return true;
        }
        return false;
    }
    if (key == Qt::Key_Shift || key == Qt::Key_Control) {
        model_->OnKey(key == Qt::Key_Shift ? kKeyShift : kKeyCtrl, true);
        return false;
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        const bool shift = (m & Qt::ShiftModifier) || key == Qt::Key_Backtab;
        if (m & Qt::ControlModifier) {
            platform::MessageWindow* w = platform::findWindow(prefix + WarpWizardCaption(language_));
            if (auto* sheet = w ? dynamic_cast<CWarpMain*>(w) : nullptr)
                shift ? sheet->OnBack() : sheet->OnNext();
        } else if (shift) {
            OnPreviousChannel();
        } else {
            OnNextChannel();
        }
        return true;
    }
    if (controls::IsEnterKey(key))
        return true;
    if (key == Qt::Key_Escape) {
        platform::MessageWindow* w = platform::findWindow(prefix + WarpWizardCaption(language_));
        if (auto* sheet = w ? dynamic_cast<CWarpMain*>(w) : nullptr)
            sheet->OnQuit();
        return true;
    }
    if (key == Qt::Key_F5) {
        update();
        return true;
    }
    if (key == Qt::Key_R) {
        setStatus("Init Param...", "初始化参数...");
        if (model_->shapeMode) {
            const int set = shapeSet_;
            model_->ResetShapes();
            shapeSet_ = 0;  // nothing of the old canvas is stored back
            showShapeSet(set);
            if (!busy_)
                SendShapePoints();
        } else {
            model_->ResetGrids(model_->config.layoutCode);
            if (!busy_) {
                SelectChannel(model_->currentOutput);
                sendReferenceNext_ = true;
                direction_ = 0;
                SelectChannelRequest();
            }
        }
        setStatus("Init Param OK", "初始化参数完成");
        update();
        return true;
    }
    if (k == kKeyComma || k == kKeyPeriod) {
        if (!busy_ && model_->OnKey(k, true)) {
            SendReferenceGrid();
            update();
        }
        return true;
    }
    if (k != 0) {
        if (arrow)
            keyHeld_ = true;
        if (!busy_ && model_->OnKey(k, true)) {
            model_->shapeMode ? SendShapePoints() : SendGridPoints();
            update();
        }
        return k != kKeyBackspace;
    }
    return false;
}

void CWarpGeometricPage::onTick()
{
    if (!keyHeld_)
        return;
    ticks_ = std::min(ticks_ + 1, 19);
    model_->step = ArrowStepForTicks(ticks_);
}

void CWarpGeometricPage::showShapeLabel()
{
    const ShapeSet& set = model_->shapeSet(shapeSet_ - 1);
    shapeFlag_->setCurrentIndex(set.shapes[set.current % ShapeSet::kShapes].flag ? 1 : 0);
    if (version >= 0x2600)
        label_->setText(tr2(language_, "Correction %1 Screen %2 Shapes", "校正第%1幕第%2个异形窗口")
                            .arg(shapeSet_)
                            .arg(set.current + 1));
}

void CWarpGeometricPage::EnterShapes(int set)
{
    if (busy_ || set < 1 || set > 2)
        return;
    showShapeSet(set);
    SendShapePoints();
    update();
}

void CWarpGeometricPage::showShapeSet(int set)
{
    if (set < 1 || set > 2)
        return;
    if (shapeSet_ != 0)
        model_->StoreShape(shapeSet_ - 1, model_->shapeSet(shapeSet_ - 1).current);
    // The shapes the model holds are shown as they are, read from the player
    // or edited; only shapes never sized from the screens are made afresh.
    const ShapeSet& held = model_->shapeSet(set - 1);
    if (std::any_of(held.shapes.begin(), held.shapes.end(), [](const CustomShape& c) { return c.width == 0; }))
        model_->ResetShapes();
    shapeSet_ = set;
    model_->currentSet = uint16_t(set - 1);
    model_->shapeMode = true;
    ShapeSet& s = model_->shapeSet(set - 1);
    if (version >= 0x2600)
        s.current = 0;
    model_->LoadShape(set - 1, s.current % ShapeSet::kShapes);
    model_->ActivateShapePoints();
    findChild<QPushButton*>(QStringLiteral("3207"))->setEnabled(false);
    shape1_->setEnabled(set != 1);
    shape2_->setEnabled(set != 2 && model_->config.screenCount == 2);
    shapeStop_->setEnabled(true);
    previous_->setEnabled(false);
    next_->setEnabled(false);
    const bool fresh = version >= 0x2600;
    shapeBack_->setEnabled(fresh);
    shapeNext_->setEnabled(fresh);
    shapeFlag_->setEnabled(fresh);
    showShapeLabel();
    update();
}

void CWarpGeometricPage::StopShapes()
{
    if (busy_ || shapeSet_ == 0)
        return;
    model_->StoreShape(shapeSet_ - 1, model_->shapeSet(shapeSet_ - 1).current);
    shapeSet_ = 0;
    SendShapePoints();
    model_->shapeMode = false;
    findChild<QPushButton*>(QStringLiteral("3207"))->setEnabled(true);
    shape1_->setEnabled(true);
    shape2_->setEnabled(model_->config.screenCount == 2);
    shapeStop_->setEnabled(false);
    previous_->setEnabled(true);
    next_->setEnabled(true);
    shapeBack_->setEnabled(false);
    shapeNext_->setEnabled(false);
    shapeFlag_->setEnabled(false);
    SelectChannel(model_->currentOutput);
}

void CWarpGeometricPage::MoveShape(int delta)
{
    if (busy_ || shapeSet_ == 0)
        return;
    ShapeSet& s = model_->shapeSet(shapeSet_ - 1);
    const int to = std::clamp(int(s.current) + delta, 0, ShapeSet::kShapes - 1);
    if (to == s.current)
        return;
    model_->StoreShape(shapeSet_ - 1, s.current);
    s.current = uint16_t(to);
    model_->LoadShape(shapeSet_ - 1, to);
    model_->ActivateShapePoints();
    showShapeLabel();
    SendShapePoints();
    update();
}

void CWarpGeometricPage::wheelEvent(QWheelEvent* e)
{
    // Like the editing keys: a spacing changed while a reply is awaited
    // would be shown here and never reach the player.
    if (busy_)
        return;
    const bool up = e->angleDelta().y() > 0;
    if (model_->shapeMode) {
        grid::PixelMap& m = model_->shapeCanvas();
        if (up && m.spacing <= 1023)
            m.spacing = uint16_t(std::min(1024, m.spacing * 2));
        else if (!up && m.spacing >= 17)
            m.spacing = uint16_t(std::max(16, m.spacing / 2));
        else
            return;
        model_->ActivateShapePoints();
    } else {
        grid::WarpGrid& g = model_->corrected(model_->currentOutput);
        if (up && g.spacing < 64)
            g.spacing = uint16_t(g.spacing * 2 > 64 ? 64 : g.spacing * 2);
        else if (!up && g.spacing > 1)
            g.spacing = uint16_t(g.spacing / 2);
        else
            return;
        model_->ActivateCorrectedPoints();
    }
    model_->shapeMode ? SendShapePoints() : SendGridPoints();
    update();
}

void CWarpGeometricPage::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const CanvasRect& c = model_->canvas;
    p.setPen(Qt::gray);
    p.drawRect(QRect(c.left, c.top, c.width(), c.height()));
    model_->Draw(p);
}

void CWarpGeometricPage::mousePressEvent(QMouseEvent* e)
{
    setFocus();
    const QPoint at = e->position().toPoint();
    if (model_->OnButtonDown(mouseFlags(e->modifiers()), {at.x(), at.y()})) {
        pressed_ = true;
        if (!busy_)
            model_->shapeMode ? SendShapePoints() : SendGridPoints();
        update();
    }
}

void CWarpGeometricPage::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    if (pressed_ && model_->OnMouseMove(mouseFlags(e->modifiers()), {at.x(), at.y()})) {
        update();
        if (!(e->modifiers() & Qt::ShiftModifier) && !busy_)
            model_->shapeMode ? SendShapePoints() : SendGridPoints();
    }
}

void CWarpGeometricPage::mouseReleaseEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    if (pressed_ && model_->OnButtonUp(mouseFlags(e->modifiers()), {at.x(), at.y()}) && !busy_)
        model_->shapeMode ? SendShapePoints() : SendGridPoints();
    pressed_ = false;
    update();
}

}  // namespace calib
