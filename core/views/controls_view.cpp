#include "core/views/controls_view.h"

#include "core/document.h"
#include "platform/home.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

using layout::LayoutRect;

namespace {

QColor fromColorRef(uint32_t c)
{
    return QColor::fromRgb(layout::colorRefToRgb(c));
}

}  // namespace

CControlsView::CControlsView(unsigned language, QWidget* parent) : QAbstractScrollArea(parent), language_(language)
{
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void CControlsView::LayoutSlots()
{
    const int width = viewport()->width();
    const int h = viewport()->height() / layout::kSlotCount;
    int y = 30;
    for (LayoutRect& r : slotRects_) {
        r = {5, y, width - 5, y + h - 7};
        y += h - 2;
    }
}

void CControlsView::Draw(QPainter& p)
{
    LayoutSlots();
    const int width = viewport()->width();
    p.fillRect(viewport()->rect(), fromColorRef(kBackground));
    QFont font = p.font();
    if (language_ == platform::kLanguageChinese) {
        font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
        font.setPointSize(16);
    } else {
        font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
        font.setPointSize(8);
    }
    p.setFont(font);
    p.setPen(fromColorRef(kCaption));
    p.drawText(QRect(0, 10, width - 5, 20), Qt::AlignCenter, platform::pickText(language_, "Image", "图片"));
    CImageManage* m = CImageManage::InstanceOrNull();
    for (int i = 0; i < layout::kSlotCount; ++i) {
        const LayoutRect& r = slotRects_[std::size_t(i)];
        if (m)
            m->DrawLibrarySlot(p, i, r);
        p.setPen(QPen(fromColorRef(kFrame), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(r.left, r.top, r.width() - 1, r.height() - 1));
    }
}

void CControlsView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    Draw(p);
}

void CControlsView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    LayoutSlots();
    const QPoint pt = event->position().toPoint() + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    for (int i = 0; i < layout::kSlotCount; ++i) {
        if (slotRects_[std::size_t(i)].contains(pt.x(), pt.y())) {
            if (document_)
                document_->AddPictureWindow(i);
            return;
        }
    }
}

void CControlsView::mouseMoveEvent(QMouseEvent*)
{
    setFocus();
}

void CControlsView::wheelEvent(QWheelEvent* event)
{
    CImageManage* m = CImageManage::InstanceOrNull();
    if (!m)
        return;
    if (event->angleDelta().y() < 1)
        m->ShowNextPage();
    else
        m->ShowPreviousPage();
    viewport()->update();
    event->accept();
}

void CControlsView::keyPressEvent(QKeyEvent* event)
{
    CImageManage* m = CImageManage::InstanceOrNull();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return;
    case Qt::Key_PageUp:
        if (m)
            m->ShowPreviousPage();
        break;
    case Qt::Key_PageDown:
        if (m)
            m->ShowNextPage();
        break;
    case Qt::Key_End:
        if (m)
            m->ShowLastPage();
        break;
    case Qt::Key_Home:
        if (m)
            m->ShowFirstPage();
        break;
    case Qt::Key_R:
        // A rescan shows the first page of what is there now, however few.
        if (m) {
            m->LoadImageLibrary();
            m->FreePageImages();
            m->LoadImagePage();
        }
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    viewport()->update();
}
