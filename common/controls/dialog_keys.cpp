#include "common/controls/dialog_keys.h"

#include <QKeyEvent>
#include <QPushButton>

namespace controls {

bool IsEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool IsEnterOrEscKey(int key)
{
    return IsEnterKey(key) || key == Qt::Key_Escape;
}

bool SwallowEnterEsc(QKeyEvent* event)
{
    if (!IsEnterOrEscKey(event->key()))
        return false;
    event->accept();
    return true;
}

QPushButton* MakeButton(const QString& text, const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QPushButton* MakeButton(const QString& text, int id, QWidget* parent)
{
    return MakeButton(text, QString::number(id), parent);
}

}  // namespace controls
