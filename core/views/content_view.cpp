#include "core/views/content_view.h"

#include "core/command_registry.h"
#include "core/document.h"
#include "core/mainframe.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "transport/protocol.h"
#include "transport/records.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <memory>

using layout::LayoutRect;

namespace {

CImageManage* model()
{
    return CImageManage::InstanceOrNull();
}

constexpr LayoutRect kNoSelection{-1, -1, -1, -1};

QColor fromColorRef(uint32_t c)
{
    return QColor::fromRgb(layout::colorRefToRgb(c));
}

}  // namespace

CContentView::CContentView(uint16_t screen, unsigned language, QWidget* parent)
    : QAbstractScrollArea(parent), language_(language), screen_(screen)
{
    tracker_.style = CImageRectTracker::DottedLine | CImageRectTracker::ResizeInside;
    tracker_.handleSize = 14;
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::ArrowCursor);
    zoom_ = 0.1;
    ResetScroll(true);
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
}

// ---------------------------------------------------------------- operations

void CContentView::UpdateScrollBars()
{
    horizontalScrollBar()->setRange(0, std::max(0, scrollWidth_ - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    verticalScrollBar()->setRange(0, std::max(0, scrollHeight_ - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
}

void CContentView::ResetScroll(bool full)
{
    scrollWidth_ = int(canvasWidth_ * zoom_);
    scrollHeight_ = int(canvasHeight_ * zoom_);
    UpdateScrollBars();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    (void)full;  // Qt repaints without erasing first: both ways are one repaint
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
    viewport()->update();
}

void CContentView::SetCanvasSize(int width, int height)
{
    canvasWidth_ = std::max(1, width);
    canvasHeight_ = std::max(1, height);
    ResetScroll(true);
}

void CContentView::SetZoom(double zoom)
{
    zoom_ = std::clamp(zoom, 0.1, 1.0);
    // The scroll sizes follow the canvas at the new zoom, so that the whole
    // screen can be scrolled to at every zoom.
    scrollWidth_ = int(canvasWidth_ * zoom_);
    scrollHeight_ = int(canvasHeight_ * zoom_);
    UpdateScrollBars();
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
    viewport()->update();
}

void CContentView::UpdateTrackerMetrics(int canvasWidth, int canvasHeight, double zoomX, double zoomY)
{
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    tracker_.bounds = LayoutRect{0, 0, int(canvasWidth * zoomX), int(canvasHeight * zoomY)}.translated(-sx, -sy);
    CImageManage* m = model();
    const LayoutRect area = m && screen_ < layout::kScreenCount ? m->screen(screen_).area : LayoutRect{};
    tracker_.maxWidth = int(area.width() * zoomX);
    tracker_.maxHeight = int(area.height() * zoomY);
    const int floor = zoom_ > 0.41 ? 58 : zoom_ > 0.31 ? 57 : zoom_ > 0.21 ? 45 : zoom_ > 0.11 ? 30 : 15;
    const int side = std::max(int(32 * zoom_), floor);
    tracker_.minWidth = side;
    tracker_.minHeight = side;
}

LayoutRect CContentView::ScreenRect() const
{
    LayoutRect r;
    if (CImageManage* m = model())
        m->GetScreenRect(screen_, r);
    return r;
}

void CContentView::RefreshSelection(bool keepIfInside)
{
    CImageManage* m = model();
    if (!m)
        return;
    const LayoutRect screenRect = ScreenRect();
    LayoutRect sel;
    uint32_t color = 0;
    if (m->GetSelectedRectAndColor(screen_, sel, color)) {
        selection_ = sel;
        tracker_.color = color;
    } else {
        selection_ = kNoSelection;
    }
    if (keepIfInside && !(selection_.left >= screenRect.left && selection_.top >= screenRect.top &&
                          selection_.right <= screenRect.right && selection_.bottom <= screenRect.bottom))
        selection_ = kNoSelection;
    viewport()->update();
}

QPoint CContentView::ModelPoint(QPoint p) const
{
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    return {int(p.x() / zoom_) + int(sx / zoom_), int(p.y() / zoom_) + int(sy / zoom_)};
}

LayoutRect CContentView::ToDevice(const LayoutRect& r) const
{
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    return {int(r.left * zoom_) - sx, int(r.top * zoom_) - sy, int(r.right * zoom_) - sx, int(r.bottom * zoom_) - sy};
}

// ---------------------------------------------------------------- drawing

void CContentView::DrawCanvas(QPainter& p)
{
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    p.save();
    p.translate(-sx, -sy);
    p.scale(zoom_, zoom_);
    p.fillRect(QRect(0, 0, canvasWidth_, canvasHeight_), QColor(0x22, 0x2C, 0x3A));
    if (CImageManage* m = model()) {
        if (screen_ < layout::kScreenCount) {
            const CellGrid& g = m->grid(screen_);
            QPen extentPen(fromColorRef(0x0000FFFF), 3, Qt::DashLine);
            extentPen.setCosmetic(true);
            p.setPen(extentPen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRect(g.extent.left, g.extent.top, g.extent.width(), g.extent.height()));
            QPen cellPen(fromColorRef(0x0000FF00), 1, Qt::DotLine);
            cellPen.setCosmetic(true);
            p.setPen(cellPen);
            for (int i = 0; i < g.cellCount && i < layout::kMaxCells; ++i) {
                const LayoutRect& c = g.cells[std::size_t(i)];
                p.drawRect(QRect(c.left, c.top, c.width(), c.height()));
            }
        }
        m->DrawWindows(p, screen_);
        m->DrawDragPicture(p, screen_);
    }
    p.restore();

    const LayoutRect screenRect = ScreenRect();
    if (tracker_.tracking()) {
        tracker_.Draw(p);
    } else if (!screenRect.isEmpty() && !selection_.isEmpty() && !(selection_ == kNoSelection)) {
        // An edge on the screen's right or bottom edge is drawn 2 pixels in, so it stays visible.
        LayoutRect shown = selection_;
        if (shown.right == screenRect.right)
            shown.right -= 2;
        if (shown.bottom == screenRect.bottom)
            shown.bottom -= 2;
        CImageRectTracker look = tracker_;
        look.rect = ToDevice(shown);
        look.Draw(p);
    }
}

void CContentView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), fromColorRef(kBackground));
    DrawCanvas(p);
}

// ---------------------------------------------------------------- mouse

void CContentView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    CImageManage* m = model();
    if (locked_ || !m)
        return;
    if (m->placingActive()) {
        OnLButtonUp();  // the drop
        return;
    }
    const QPoint vp = event->position().toPoint();
    const QPoint mp = ModelPoint(vp);
    const LayoutRect screenRect = ScreenRect();
    const LayoutRect before = selection_;
    selection_ = kNoSelection;
    if (!screenRect.contains(mp.x(), mp.y())) {
        // A click beside the screen lets go of the selected window.
        m->ClearSelection();
        RefreshSelection(false);
        viewport()->setCursor(Qt::ArrowCursor);
        viewport()->update();
        return;
    }
    if (!before.contains(mp.x(), mp.y())) {
        m->ClearSelection();
        const LayoutRect area = m->screen(screen_).area;
        for (int i = m->windowCount() - 1; i >= 0; --i) {
            const PictureWindow& w = m->window(i);
            if (w.viewIndex != screen_)
                continue;
            const LayoutRect rel = screen_ == 0 ? w.rect : w.rect.translated(-area.left, -area.top);
            if (rel.contains(mp.x(), mp.y())) {
                m->Select(i);
                m->pickX = int(vp.x() / zoom_);
                m->pickY = int(vp.y() / zoom_);
                break;
            }
        }
        RefreshSelection(false);
        trackerChanged_ = 0;
        OnLButtonUp();
        return;
    }
    // Inside the selected window: the tracker moves or sizes it.
    selection_ = before;
    tracker_.rect = ToDevice(selection_);
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
    if (!tracker_.Press(vp.x(), vp.y()))
        return;
    viewport()->update();
}

void CContentView::mouseMoveEvent(QMouseEvent* event)
{
    setFocus();
    CImageManage* m = model();
    if (locked_ || !m)
        return;
    const QPoint vp = event->position().toPoint();
    if (tracker_.tracking()) {
        tracker_.Move(vp.x(), vp.y());
        viewport()->update();
        ShowCursorText(vp);
        return;
    }
    if (m->placingActive()) {
        const QPoint mp = ModelPoint(vp);
        const LayoutRect area = m->screen(screen_).area;
        PictureWindow& placing = m->placing();
        const int w = placing.rect.width(), h = placing.rect.height();
        placing.rect = {mp.x() + area.left, mp.y() + area.top, mp.x() + area.left + w, mp.y() + area.top + h};
        viewport()->update();
    }
    Qt::CursorShape shape = Qt::ArrowCursor;
    CImageRectTracker probe = tracker_;
    probe.rect = ToDevice(selection_);
    if (!(selection_ == kNoSelection) && probe.SetCursor(vp.x(), vp.y(), shape))
        tracker_.lastHit = probe.lastHit;
    viewport()->setCursor(shape);
    ShowCursorText(vp);
}

void CContentView::ShowCursorText(QPoint vp)
{
    if (!document_ || !document_->setStatusPaneText)
        return;
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    const int x = int((sx + vp.x()) / zoom_);
    const int y = int((sy + vp.y()) / zoom_);
    const QString text = x > layout::kModelWidth || y > layout::kModelHeight ? QString()
                                                                             : QStringLiteral("X:%1,Y:%2").arg(x).arg(y);
    document_->setStatusPaneText(CMainFrame::kPaneCursor, text);
}

void CContentView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QPoint mp = ModelPoint(event->position().toPoint());
        if (!locked_ && ScreenRect().contains(mp.x(), mp.y())) {
            std::unique_ptr<QMenu> menu(BuildContextMenu(this));
            menu->exec(event->globalPosition().toPoint());
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    CImageManage* m = model();
    if (locked_ || !m)
        return;
    if (tracker_.tracking()) {
        const LayoutRect start = ToDevice(selection_);
        const QPoint vp = event->position().toPoint();
        tracker_.Release(vp.x(), vp.y());
        const LayoutRect dev = tracker_.rect;
        const int sx = horizontalScrollBar()->value();
        const int sy = verticalScrollBar()->value();
        // Device to model; an edge the drag did not move keeps its model value.
        auto back = [this](int d, int scroll, int startDev, int original) {
            return d == startDev ? original : int((d + scroll) / zoom_);
        };
        LayoutRect r{back(dev.left, sx, start.left, selection_.left), back(dev.top, sy, start.top, selection_.top),
                     back(dev.right, sx, start.right, selection_.right),
                     back(dev.bottom, sy, start.bottom, selection_.bottom)};
        if (r.width() < layout::kMinSide)
            r.right = r.left + layout::kMinSide;
        if (r.height() < layout::kMinSide)
            r.bottom = r.top + layout::kMinSide;
        if (!(r == selection_)) {
            trackerChanged_ = 1;
            m->SetSelectedRect(screen_, r);
        }
    }
    OnLButtonUp();
}

void CContentView::AfterEdit(bool requireConnection)
{
    if (!document_)
        return;
    document_->SetModified();
    if (requireConnection && !document_->IsConnected()) {
        // Kept on the canvas with no player to take it: marked, so that the
        // layout of the player it was made for does not replace it unasked
        // when that player is back.
        document_->MarkLayoutUnsent();
        return;
    }
    document_->PushCurrentLayout();
}

void CContentView::OnLButtonUp()
{
    CImageManage* m = model();
    if (!m)
        return;
    const bool busy = document_ && document_->layoutBusy();
    if (m->placingActive() && !busy) {
        uint16_t channel = 0, index = 0;
        if (m->DropDragPicture(screen_, channel, index))
            AfterEdit(false);
    }
    // While an upload is pending the move is kept and goes with the next one.
    if (trackerChanged_)
        AfterEdit(true);
    trackerChanged_ = 0;
    RefreshSelection(false);
}

void CContentView::mouseDoubleClickEvent(QMouseEvent* event)
{
    CImageManage* m = model();
    if (locked_ || !m || event->button() != Qt::LeftButton)
        return;
    const QPoint mp = ModelPoint(event->position().toPoint());
    LayoutRect sel;
    if (!ScreenRect().contains(mp.x(), mp.y()) || !m->GetSelectedRect(screen_, sel))
        return;
    const LayoutRect area = m->screen(screen_).area;
    // Selected rectangles of screen 0 are stored as they are, others screen-relative.
    const LayoutRect modelRect = screen_ == 0 ? sel : sel.translated(area.left, area.top);
    LayoutRect snapped = m->SnapToCells(screen_, modelRect);
    if (snapped.isEmpty())
        return;
    if (snapped.width() < layout::kMinSide)
        snapped.right = snapped.left + layout::kMinSide;
    if (snapped.height() < layout::kMinSide)
        snapped.bottom = snapped.top + layout::kMinSide;
    m->SetSelectedRect(screen_, screen_ == 0 ? snapped : snapped.translated(-area.left, -area.top));
    AfterEdit(true);
    RefreshSelection(false);
}

QMenu* CContentView::BuildContextMenu(QWidget* parent) const
{
    auto t = [this](const char* en, const char* zh) { return platform::pickText(language_, en, zh); };
    auto* menu = new QMenu(t("Edit", "编辑"), parent);
    QAction* close = menu->addAction(t("Close(&E)\tDel", "删除(&E)\tDel"));
    close->setData(kCmdClose);
    menu->addSeparator();
    QAction* mask = menu->addAction(t("Mask Parameter Setting", "蒙版参数设置"));
    mask->setData(kCmdMaskParameter);
    CvelunaDoc* doc = document_;
    const uint16_t screen = screen_;
    auto* self = const_cast<CContentView*>(this);
    for (QAction* a : {close, mask}) {
        // The menu asks the same rules as the menu bar and the toolbar.
        a->setEnabled(doc && core::IsCommandEnabled(*doc, a->data().toInt()));
        QObject::connect(a, &QAction::triggered, self, [self, doc, screen, id = a->data().toInt()] {
            if (doc)
                doc->OnLayoutContextCommand(id, screen);
            self->RefreshSelection(false);
        });
    }
    return menu;
}

// ---------------------------------------------------------------- keys

void CContentView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    // A held F8 repeats: only real presses count towards the five.
    if (!(key == Qt::Key_F8 && event->isAutoRepeat()))
        OnServiceKey(key);
    QAbstractScrollArea::keyPressEvent(event);
}

void CContentView::OnServiceKey(int key)
{
    const bool armed = serviceArmed_ != 0;
    switch (key) {
    case Qt::Key_F5:
        f8Count_ = 0;
        if (armed) {
            serviceArmed_ = 0;
            if (document_)
                document_->SendWatermark();
        } else {
            viewport()->update();
        }
        return;
    case Qt::Key_F7:
    case Qt::Key_F9:
    case Qt::Key_F12:
        f8Count_ = 0;
        if (armed) {
            serviceArmed_ = 0;
            if (document_)
                document_->OpenUpgradeDialog(key == Qt::Key_F7 ? 3 : key == Qt::Key_F9 ? 2 : 1);
        }
        return;
    case Qt::Key_F8:
        if (++f8Count_ >= 5) {
            f8Count_ = 0;
            if (document_ && document_->IsConnected())
                PromptFactoryReset();
        }
        return;
    case Qt::Key_F11:
        f8Count_ = 0;
        serviceArmed_ = 1;
        return;
    default:
        f8Count_ = 0;
        serviceArmed_ = 0;
        return;
    }
}

void CContentView::PromptFactoryReset()
{
    const QString question = platform::pickText(language_, "Restoring factory settings deletes all data and continues?",
                                                "恢复出厂设置会删除所有数据，是否继续？");
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question) !=
        platform::MsgResult::Yes)
        return;
    auto request = std::make_unique<SendRequest>();
    if (!request->SetPacket(document_->MakeRequest(proto::CMD_FACTORY_RESET)))
        return;
    SendToMainWindow(request.release());  // freed there when no main window takes it
}

// ---------------------------------------------------------------- size

void CContentView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
}

void CContentView::scrollContentsBy(int, int)
{
    UpdateTrackerMetrics(canvasWidth_, canvasHeight_, zoom_, zoom_);
    viewport()->update();
}

// ---------------------------------------------------------------- tabs

CContentTabView::CContentTabView(unsigned language, QWidget* parent) : QTabWidget(parent)
{
    const char* labels[4][2] = {
        {"First Screen", "第一幕"}, {"Second Screen", "第二幕"}, {"Third Screen", "第三幕"}, {"Fourth Screen", "第四幕"}};
    for (int i = 0; i < 4; ++i) {
        auto* v = new CContentView(uint16_t(i), language, this);
        v->setObjectName(QString::number(100 + i));
        views_[std::size_t(i)] = v;
        addTab(v, platform::pickText(language, labels[i][0], labels[i][1]));
    }
    setTabVisible(1, false);
    setTabVisible(2, false);
    setTabVisible(3, false);
    setCurrentIndex(0);
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        if (document_ && index >= 0 && index < 4)
            document_->setActiveScreen(uint16_t(index));
    });
}

void CContentTabView::SetDocument(CvelunaDoc* document)
{
    document_ = document;
    for (CContentView* v : views_)
        v->SetDocument(document);
}

void CContentTabView::SetScreenVisible(int screen, bool visible)
{
    if (screen <= 0 || screen >= 4)
        return;
    if (!visible && currentIndex() == screen)
        setCurrentIndex(0);
    setTabVisible(screen, visible);
}

bool CContentTabView::IsScreenVisible(int screen) const
{
    return screen >= 0 && screen < 4 && isTabVisible(screen);
}
