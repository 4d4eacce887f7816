#include "common/controls/dialog_keys.h"

#include <QDialog>
#include <QDialogButtonBox>
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

QDialogButtonBox* MakeOkCancelRow(QDialog* dialog, const QString& ok, const QString& cancel)
{
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* okButton = buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    okButton->setObjectName(QStringLiteral("1"));
    QPushButton* cancelButton = buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    cancelButton->setObjectName(QStringLiteral("2"));
    okButton->setAutoDefault(false);
    cancelButton->setAutoDefault(false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace controls
