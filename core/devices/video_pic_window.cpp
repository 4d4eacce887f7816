#include "core/devices/video_pic_window.h"

#include "common/controls/dialog_keys.h"
#include "common/file_commit.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <memory>

namespace vpw {

namespace {

constexpr int kEntryOffsets[3] = {32, 43, 54};

QColor kindColour(int kind)
{
    static const QColor colours[3] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255)};
    return colours[kind];
}

uint32_t kindColorRef(int kind)
{
    static constexpr uint32_t refs[3] = {0x000000FF, 0x0000FF00, 0x00FF0000};
    return refs[kind];
}

}  // namespace

QByteArray VideoPicWindowBlock::pack() const
{
    QByteArray out(kSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (std::size_t i = 0; i < screens.size(); ++i) {
        proto::putU16(p + 8 * i, screens[i].x);
        proto::putU16(p + 8 * i + 2, screens[i].y);
        proto::putU16(p + 8 * i + 4, screens[i].width);
        proto::putU16(p + 8 * i + 6, screens[i].height);
    }
    for (std::size_t k = 0; k < windows.size(); ++k) {
        uint8_t* w = p + kEntryOffsets[k];
        proto::putU16(w, windows[k].left);
        proto::putU16(w + 2, windows[k].top);
        proto::putU16(w + 4, windows[k].right);
        proto::putU16(w + 6, windows[k].bottom);
        proto::putU16(w + 8, windows[k].screen);
        w[10] = windows[k].selected;
    }
    proto::putU16(p + 65, inputSource);
    proto::putU16(p + 67, inputNumber);
    for (std::size_t k = 0; k < counts.size(); ++k)
        proto::putU16(p + 69 + 2 * k, counts[k]);
    return out;
}

VideoPicWindowBlock VideoPicWindowBlock::unpack(const uint8_t* p)
{
    VideoPicWindowBlock b;
    for (std::size_t i = 0; i < b.screens.size(); ++i)
        b.screens[i] = {proto::getU16(p + 8 * i), proto::getU16(p + 8 * i + 2), proto::getU16(p + 8 * i + 4),
                        proto::getU16(p + 8 * i + 6)};
    for (std::size_t k = 0; k < b.windows.size(); ++k) {
        const uint8_t* w = p + kEntryOffsets[k];
        b.windows[k] = {proto::getU16(w), proto::getU16(w + 2), proto::getU16(w + 4), proto::getU16(w + 6),
                        proto::getU16(w + 8), w[10]};
    }
    b.inputSource = proto::getU16(p + 65);
    b.inputNumber = proto::getU16(p + 67);
    for (std::size_t k = 0; k < b.counts.size(); ++k)
        b.counts[k] = proto::getU16(p + 69 + 2 * k);
    return b;
}

std::array<ScreenRect, 4> ScreensOf(const std::array<uint8_t, 108>& block)
{
    std::array<ScreenRect, 4> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        const uint8_t* p = block.data() + 4 + 8 * i;
        out[i] = {proto::getU16(p), proto::getU16(p + 2), proto::getU16(p + 4), proto::getU16(p + 6)};
    }
    return out;
}

bool EntryFits(const WindowEntry& e, const std::array<ScreenRect, 4>& screens)
{
    if (e.screen > 1)
        return false;
    const ScreenRect& s = screens[e.screen];
    const int w = int(e.right) - int(e.left);
    const int h = int(e.bottom) - int(e.top);
    return w >= kMinSide && h >= kMinSide && w <= kMaxWidth + 1 && h <= kMaxHeight + 1 && e.right <= s.width + 1 &&
           e.bottom <= s.height + 1;
}

VideoPicWindowBlock LoadBlock(const QString& path, const std::array<ScreenRect, 4>& screens)
{
    VideoPicWindowBlock stored;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.size() == VideoPicWindowBlock::kSize) {
        const QByteArray bytes = file.readAll();
        if (bytes.size() == VideoPicWindowBlock::kSize)
            stored = VideoPicWindowBlock::unpack(reinterpret_cast<const uint8_t*>(bytes.constData()));
    }
    VideoPicWindowBlock b;
    if (stored.screens[0] == screens[0] && stored.screens[1] == screens[1]) {
        b.windows = stored.windows;
        b.counts = stored.counts;
        b.inputSource = stored.inputSource < 2 ? stored.inputSource : 0;
        b.inputNumber = stored.inputNumber < 16 ? stored.inputNumber : 0;
        for (std::size_t k = 0; k < b.windows.size(); ++k) {
            b.windows[k].selected = 0;
            // A file from elsewhere must not place a window off its screen.
            if (b.counts[k] != 1 || !EntryFits(b.windows[k], screens)) {
                b.counts[k] = 0;
                b.windows[k] = WindowEntry();
            }
        }
    }
    b.screens = screens;
    return b;
}

QByteArray StatePayload(const VideoPicWindowBlock& b)
{
    QByteArray out(kPayloadSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (std::size_t k = 0; k < b.windows.size(); ++k) {
        const WindowEntry& e = b.windows[k];
        const uint16_t dy = b.screens[std::min<std::size_t>(e.screen, 3)].y;
        proto::putU16(p + 8 * k, e.left);
        proto::putU16(p + 8 * k + 2, uint16_t(e.top + dy));
        proto::putU16(p + 8 * k + 4, e.right);
        proto::putU16(p + 8 * k + 6, uint16_t(e.bottom + dy));
    }
    proto::putU16(p + 24, b.inputSource);
    proto::putU16(p + 26, b.inputNumber);
    return out;
}

bool ApplyKey(WindowEntry& e, int key, bool shift, const ScreenRect& s)
{
    const WindowEntry before = e;
    switch (key) {
    case Qt::Key_Left:
        if (shift) {
            if (e.right - e.left > kMinSide)
                --e.right;
        } else if (e.left > 0) {
            --e.left;
            --e.right;
        }
        break;
    case Qt::Key_Up:
        if (shift) {
            if (e.bottom - e.top > kMinSide)
                --e.bottom;
        } else if (e.top > 0) {
            --e.top;
            --e.bottom;
        }
        break;
    case Qt::Key_Right:
        if (shift) {
            if (e.right - e.left < kMaxWidth && e.right < s.width + 1)
                ++e.right;
        } else if (e.right < s.width + 1) {
            ++e.left;
            ++e.right;
        }
        break;
    case Qt::Key_Down:
        if (shift) {
            if (e.bottom - e.top < kMaxHeight && e.bottom < s.height + 1)
                ++e.bottom;
        } else if (e.bottom < s.height + 1) {
            ++e.top;
            ++e.bottom;
        }
        break;
    default:
        return false;
    }
    return e.left != before.left || e.top != before.top || e.right != before.right || e.bottom != before.bottom;
}

void ApplyRect(WindowEntry& e, int left, int top, int right, int bottom, const ScreenRect& s)
{
    if (right - left < kMinSide)
        right = left + kMinSide;
    if (bottom - top < kMinSide)
        bottom = top + kMinSide;
    right = std::min(right, s.width + 1);
    bottom = std::min(bottom, s.height + 1);
    e.left = uint16_t(left);
    e.top = uint16_t(top);
    e.right = uint16_t(right);
    e.bottom = uint16_t(bottom);
}

CanvasMap::CanvasMap(const QRect& canvasRect)
    : canvas(canvasRect), sx(canvasRect.width() / double(kSpaceWidth)), sy(canvasRect.height() / double(kSpaceHeight))
{
}

layout::LayoutRect CanvasMap::screenRect(const VideoPicWindowBlock& b, int screen) const
{
    const ScreenRect& s = b.screens[std::size_t(screen == 1 ? 1 : 0)];
    const int y = screen == 1 ? 0 : s.y;
    return {toX(s.x), toY(y), toX(s.width), toY(s.height)};
}

layout::LayoutRect CanvasMap::entryRect(const WindowEntry& e) const
{
    return {toX(e.left), toY(e.top), toX(e.right), toY(e.bottom)};
}

void DrawVideoPicWindows(QPainter& painter, const VideoPicWindowBlock& b, int screen, const CanvasMap& map,
                         unsigned language, const CImageRectTracker* tracker)
{
    painter.save();
    const layout::LayoutRect s = map.screenRect(b, screen);
    painter.setPen(QColor(255, 204, 204));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(s.left, s.top), QPoint(s.right - 1, s.bottom - 1)));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(15);
    painter.setFont(font);
    static const char* labels[3][2] = {{"Video%1", "视频%1"}, {"Pic%1", "图片%1"}, {"Win%1", "窗口%1"}};
    for (int k = 0; k < 3; ++k) {
        const WindowEntry& e = b.windows[std::size_t(k)];
        if (b.counts[std::size_t(k)] == 0 || e.screen != screen)
            continue;
        const layout::LayoutRect r = map.entryRect(e);
        const QRect box(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
        painter.setPen(kindColour(k));
        painter.drawRect(box);
        painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine,
                         platform::pickText(language, labels[k][0], labels[k][1]).arg(1));
        if (k == kInput && b.inputSource < 2) {
            const QString source = b.inputSource == 0 ? platform::pickText(language, "InPut1:%1", "输入1:%1")
                                                      : platform::pickText(language, "InPut2:%1", "输入2:%1");
            painter.drawText(QRect(r.left, r.top, std::max(1, r.width()), 20), Qt::AlignLeft | Qt::TextSingleLine,
                             source.arg(b.inputNumber + 1));
        }
    }
    if (tracker && !tracker->rect.isEmpty())
        tracker->Draw(painter);
    painter.restore();
}

}  // namespace vpw

namespace {

// The canvas over group box 3901: it paints and takes the mouse in the
// dialog's coordinates.
class CanvasArea : public QWidget {
public:
    explicit CanvasArea(CVideoPicWindow* owner) : QWidget(owner), owner_(owner)
    {
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);  // the tracker's cursors over its handles
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.translate(-pos());
        owner_->PaintCanvas(painter);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton)
            return;
        setFocus();
        const QPoint p = e->position().toPoint() + pos();
        owner_->OnLButtonDown(p.x(), p.y());
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        const QPoint p = e->position().toPoint() + pos();
        owner_->OnMouseMove(p.x(), p.y());
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() != Qt::LeftButton)
            return;
        const QPoint p = e->position().toPoint() + pos();
        owner_->OnLButtonUp(p.x(), p.y());
    }

private:
    CVideoPicWindow* owner_;
};

}  // namespace

CVideoPicWindow::CVideoPicWindow(const QString& titlePrefix, const QString& folder,
                                 const std::array<uint8_t, 108>& outputBlock, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kVideoPicWindow, parent), folder_(folder)
{
    setFixedSize(960, 450);
    auto* group = new QGroupBox(this);
    group->setObjectName(ControlName(3901));
    group->setGeometry(10, 10, 723, 429);
    // Inset by 10 on the left and 11 on the other sides.
    map_ = vpw::CanvasMap(QRect(QPoint(20, 21), QPoint(721, 427)));
    canvasWidget_ = new CanvasArea(this);
    canvasWidget_->setGeometry(group->geometry());

    const int x = 745;
    auto* split = new QGroupBox(Text("Split Screen", "分幕"), this);
    split->setGeometry(x, 10, 205, 80);
    first_ = new QRadioButton(Text("First Screen", "第一幕"), split);
    first_->setObjectName(ControlName(3902));
    first_->setGeometry(10, 24, 185, 22);
    second_ = new QRadioButton(Text("Second Screen", "第二幕"), split);
    second_->setObjectName(ControlName(3903));
    second_->setGeometry(10, 50, 185, 22);

    auto button = [this](int id, const char* english, const char* chinese, int top) {
        QPushButton* b = controls::MakeButton(Text(english, chinese), ControlName(id), this);
        b->setGeometry(745, top, 205, 30);
        return b;
    };
    QPushButton* addVideo = button(3904, "Add Video Location", "添加视频位置", 100);
    QPushButton* addPicture = button(3905, "Add Picture Location", "添加图片位置", 136);
    QPushButton* addWindow = button(3908, "Add Window Location", "添加窗口位置", 172);
    auto* inputLabel = new QLabel(Text("InPut:", "输入源:"), this);
    inputLabel->setGeometry(x, 212, 70, 26);
    inputCombo_ = new QComboBox(this);
    inputCombo_->setObjectName(ControlName(3906));
    inputCombo_->addItems({Text("InPut1", "输入1"), Text("Input2", "输入2")});
    inputCombo_->setGeometry(x + 75, 212, 130, 26);
    auto* numberLabel = new QLabel(Text("Number:", "编号:"), this);
    numberLabel->setGeometry(x, 244, 70, 26);
    numberCombo_ = new QComboBox(this);
    numberCombo_->setObjectName(ControlName(3907));
    for (int i = 1; i <= 16; ++i)
        numberCombo_->addItem(QString::number(i));
    numberCombo_->setGeometry(x + 75, 244, 130, 26);
    background_ = new QCheckBox(Text("Background following", "背景跟随"), this);
    background_->setObjectName(ControlName(3909));
    background_->setGeometry(x, 280, 205, 24);
    QPushButton* del = button(3910, "Del", "删除选定项", 312);
    QPushButton* save = button(1, "Save  Exit", "保存退出", 405);

    connect(addVideo, &QPushButton::clicked, this, [this] { OnAdd(vpw::kVideo); });
    connect(addPicture, &QPushButton::clicked, this, [this] { OnAdd(vpw::kPicture); });
    connect(addWindow, &QPushButton::clicked, this, [this] { OnAdd(vpw::kInput); });
    connect(del, &QPushButton::clicked, this, [this] { OnDelete(); });
    connect(save, &QPushButton::clicked, this, [this] { OnSaveExit(); });
    connect(first_, &QRadioButton::clicked, this, [this] { OnScreen(0); });
    connect(second_, &QRadioButton::clicked, this, [this] { OnScreen(1); });

    tracker_.style = CImageRectTracker::DottedLine | CImageRectTracker::ResizeInside;
    tracker_.handleSize = 10;
    block_.screens = vpw::ScreensOf(outputBlock);
    onMessage(platform::WM_VIDEO_PIC_WINDOW_REPLY,
              [this](platform::WPARAM w, platform::LPARAM l) { return OnReply(w, l); });
    // Keys reach the editor before any control handles them.
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    installEventFilter(this);
}

CVideoPicWindow::~CVideoPicWindow()
{
    platform::MessageWindow::killTimer(kTimerPending);
}

QString CVideoPicWindow::BlockPath() const
{
    return QDir(folder_).filePath(QStringLiteral("config/VideoPicWindow.QVE"));
}

void CVideoPicWindow::OnInitDialog()
{
    screen_ = 0;
    inputCombo_->setCurrentIndex(0);
    numberCombo_->setCurrentIndex(0);
    platform::ensureFolder(QDir(folder_).filePath(QStringLiteral("config")));
    block_ = vpw::LoadBlock(BlockPath(), block_.screens);
    canvasWidget_->update();
    first_->setChecked(true);
    second_->setChecked(false);
    auto usable = [](const vpw::ScreenRect& s) { return s.width != 0 && s.height != 0 && s.width > s.x && s.height > s.y; };
    first_->setEnabled(usable(block_.screens[0]));
    second_->setEnabled(usable(block_.screens[1]));
    SetTrackerLimits();
    // Combo changes from here on are the operator's.
    connect(inputCombo_, &QComboBox::currentIndexChanged, this, [this] { OnComboChanged(); });
    connect(numberCombo_, &QComboBox::currentIndexChanged, this, [this] { OnComboChanged(); });
    platform::MessageWindow::setTimer(kTimerPending, kTimerPendingMs);
    SendState(128);
}

void CVideoPicWindow::SetTrackerLimits()
{
    tracker_.minWidth = int(vpw::kMinSide * map_.sx);
    tracker_.minHeight = int(vpw::kMinSide * map_.sy);
    tracker_.maxWidth = int(vpw::kMaxWidth * map_.sx);
    tracker_.maxHeight = int(vpw::kMaxHeight * map_.sy);
    tracker_.bounds = map_.screenRect(block_, screen_);
}

int CVideoPicWindow::SelectedKind() const
{
    for (int k = 0; k < 3; ++k) {
        const vpw::WindowEntry& e = block_.windows[std::size_t(k)];
        if (block_.counts[std::size_t(k)] && e.screen == screen_ && e.selected)
            return k;
    }
    return -1;
}

void CVideoPicWindow::ClearSelection()
{
    for (auto& e : block_.windows)
        e.selected = 0;
}

void CVideoPicWindow::TrackKind(int kind)
{
    tracker_.rect = map_.entryRect(block_.windows[std::size_t(kind)]);
    tracker_.color = vpw::kindColorRef(kind);
}

void CVideoPicWindow::OnAdd(vpw::Kind kind)
{
    static const char* full[3][2] = {{"There are enough Video to add！", "添加的视频够多了吧！"},
                                      {"There are enough pictures to add！", "添加的图片够多了吧！"},
                                      {"There are enough windows to add！", "添加的窗口够多了吧！"}};
    if (block_.counts[kind] != 0) {
        Message(full[kind][0], full[kind][1], platform::MsgIcon::Warning);
        return;
    }
    block_.windows[kind] = {0, 0, vpw::kMinSide, vpw::kMinSide, uint16_t(screen_), 0};
    if (kind == vpw::kInput) {
        block_.inputSource = uint16_t(inputCombo_->currentIndex());
        block_.inputNumber = uint16_t(numberCombo_->currentIndex());
    }
    block_.counts[kind] = 1;
    SendState(128);
    canvasWidget_->update();
}

void CVideoPicWindow::OnDelete()
{
    for (int k = 0; k < 3; ++k) {
        vpw::WindowEntry& e = block_.windows[std::size_t(k)];
        if (!block_.counts[std::size_t(k)] || e.screen != screen_ || !e.selected)
            continue;
        if (Message("Do you really want to delete it?", "【真的要删除吗?】", platform::MsgIcon::Question,
                    platform::MsgButtons::YesNo) != platform::MsgResult::Yes)
            continue;
        e = vpw::WindowEntry();
        block_.counts[std::size_t(k)] = 0;
        tracker_.rect = {};
        SendState(128);
        canvasWidget_->update();
    }
}

void CVideoPicWindow::OnScreen(int screen)
{
    screen_ = screen;
    canvasWidget_->unsetCursor();
    tracker_.rect = {};
    SetTrackerLimits();
    canvasWidget_->update();
}

void CVideoPicWindow::OnComboChanged()
{
    if (SelectedKind() == vpw::kInput) {
        block_.inputSource = uint16_t(inputCombo_->currentIndex());
        block_.inputNumber = uint16_t(numberCombo_->currentIndex());
    }
    canvasWidget_->update();
    SendState(128);
}

void CVideoPicWindow::OnLButtonDown(int x, int y)
{
    if (!map_.screenRect(block_, screen_).contains(x, y)) {
        canvasWidget_->unsetCursor();
        tracker_.rect = {};
        ClearSelection();
        canvasWidget_->update();
        return;
    }
    const int selected = SelectedKind();
    if (selected >= 0 && map_.entryRect(block_.windows[std::size_t(selected)]).contains(x, y)) {
        TrackKind(selected);
        if (tracker_.Press(x, y)) {
            tracking_ = true;
            return;
        }
    }
    tracker_.rect = {};
    ClearSelection();
    for (int k = 0; k < 3; ++k) {
        vpw::WindowEntry& e = block_.windows[std::size_t(k)];
        if (!block_.counts[std::size_t(k)] || e.screen != screen_ || !map_.entryRect(e).contains(x, y))
            continue;
        e.selected = 1;
        TrackKind(k);
        if (k == vpw::kInput) {
            QSignalBlocker a(inputCombo_), b(numberCombo_);
            inputCombo_->setCurrentIndex(block_.inputSource);
            numberCombo_->setCurrentIndex(block_.inputNumber);
        }
        break;
    }
    canvasWidget_->update();
}

void CVideoPicWindow::OnMouseMove(int x, int y)
{
    if (!tracking_) {
        Qt::CursorShape cursor = Qt::ArrowCursor;
        if (!tracker_.rect.isEmpty() && tracker_.SetCursor(x, y, cursor))
            canvasWidget_->setCursor(cursor);
        else
            canvasWidget_->unsetCursor();
        return;
    }
    tracker_.Move(x, y);
    canvasWidget_->update();
}

void CVideoPicWindow::OnLButtonUp(int x, int y)
{
    if (tracking_) {
        tracking_ = false;
        tracker_.Release(x, y);
        const int kind = SelectedKind();
        if (kind >= 0 && !tracker_.rect.isEmpty()) {
            vpw::WindowEntry& e = block_.windows[std::size_t(kind)];
            vpw::ApplyRect(e, map_.fromX(tracker_.rect.left), map_.fromY(tracker_.rect.top),
                           map_.fromX(tracker_.rect.right), map_.fromY(tracker_.rect.bottom),
                           block_.screens[e.screen]);
        }
    }
    const int kind = SelectedKind();
    if (kind >= 0) {
        TrackKind(kind);
        canvasWidget_->update();
    }
    SendState(128);
}

bool CVideoPicWindow::OnKey(int key, bool press)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    case Qt::Key_Shift:
        shift_ = press;
        return true;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down: {
        if (!press)
            return true;
        const int kind = SelectedKind();
        if (kind < 0)
            return true;
        vpw::WindowEntry& e = block_.windows[std::size_t(kind)];
        if (vpw::ApplyKey(e, key, shift_, block_.screens[e.screen])) {
            TrackKind(kind);
            canvasWidget_->update();
            SendState(128);
        }
        return true;
    }
    default:
        return false;
    }
}

bool CVideoPicWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (OnKey(key->key(), event->type() == QEvent::KeyPress))
            return true;
    }
    return CDeviceDialog::eventFilter(watched, event);
}

void CVideoPicWindow::SendState(uint8_t subCode)
{
    if (pending_) {
        // The newest state goes out when the player has answered.
        unsent_ = true;
        return;
    }
    const auto header = Header(proto::CMD_VIDEO_PIC_WINDOW, subCode, 0, background_->isChecked() ? 1 : 0, 0);
    if (!SendToPlayer(header, vpw::StatePayload(block_)))
        return;
    unsent_ = false;
    pending_ = true;
    pendingSince_.start();
}

platform::LRESULT CVideoPicWindow::OnReply(platform::WPARAM, platform::LPARAM)
{
    canvasWidget_->setFocus();
    pending_ = false;
    if (saveWaiting_)
        FinishSave();
    else if (unsent_)
        SendState(128);
    return 0;
}

void CVideoPicWindow::onTimer(unsigned id)
{
    if (id != kTimerPending || !pending_)
        return;
    const bool linkGone = linkUp && !linkUp();
    if (linkGone || pendingSince_.elapsed() >= pendingExpiryMs) {
        pending_ = false;
        if (saveWaiting_)
            FinishSave();
        else if (unsent_)
            SendState(128);
    }
}

void CVideoPicWindow::OnSaveExit()
{
    if (saveWaiting_)
        return;
    saveWaiting_ = true;
    // A save must not vanish behind an update still waiting for its answer:
    // it goes out when that answer comes (or the wait expires).
    if (!pending_)
        FinishSave();
}

void CVideoPicWindow::FinishSave()
{
    saveWaiting_ = false;
    // The file first: the player's answer to the save makes the document push
    // this file to it, so a save the disk refused must not reach the player.
    // The dialog stays open with the edits for another try.
    QString error;
    if (!filecommit::replaceFile(BlockPath(), block_.pack(), &error)) {
        Message(filecommit::cannotWriteMessage(Language(), BlockPath(), error), platform::MsgIcon::Warning);
        if (unsent_)
            SendState(128);
        return;
    }
    unsent_ = false;
    const bool sent = SendToPlayer(Header(proto::CMD_VIDEO_PIC_WINDOW, 64, 0, background_->isChecked() ? 1 : 0, 0),
                                   vpw::StatePayload(block_));
    if (!sent)
        Message("The settings could not be sent to the player.", "设置未能发送到播放器。", platform::MsgIcon::Warning);
    platform::MessageWindow::killTimer(kTimerPending);
    QDialog::accept();
}

void CVideoPicWindow::reject()
{
    // Cancel is hidden; only the window's close button comes here.
    platform::MessageWindow::killTimer(kTimerPending);
    QDialog::reject();
}

void CVideoPicWindow::PaintCanvas(QPainter& painter)
{
    vpw::DrawVideoPicWindows(painter, block_, screen_, map_, language_, &tracker_);
}
