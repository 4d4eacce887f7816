#include "core/views_placeholder.h"

#include <QWidget>

QWidget* MakePanePlaceholder(const QString& name, QWidget* parent)
{
    auto* pane = new QWidget(parent);
    pane->setObjectName(name);
    pane->setAutoFillBackground(true);
    return pane;
}
