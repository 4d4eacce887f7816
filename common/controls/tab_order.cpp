#include "common/controls/tab_order.h"

#include <QWidget>

namespace controls {

QWidget* FirstReachable(const std::vector<QWidget*>& chain)
{
    for (QWidget* w : chain) {
        if (!w || w->isHidden() || !w->isEnabled())
            continue;
        // A compound control takes the focus through its proxy.
        QWidget* target = w->focusProxy() ? w->focusProxy() : w;
        if (target->focusPolicy() & Qt::TabFocus)
            return target;
    }
    return nullptr;
}

void SetReadingOrder(const std::vector<QWidget*>& chain, bool focusFirst)
{
    QWidget* previous = nullptr;
    for (QWidget* w : chain) {
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
    if (!focusFirst)
        return;
    // Given before the window shows, the focus waits for it and lands there.
    if (QWidget* first = FirstReachable(chain))
        first->setFocus(Qt::TabFocusReason);
}

}  // namespace controls
