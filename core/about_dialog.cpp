#include "core/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(const QString& title, unsigned language, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("101"));
    setWindowTitle(language == 4 ? QStringLiteral("关于") : QStringLiteral("About"));
    auto* built = new QLabel(BuildText(), this);
    built->setObjectName(QStringLiteral("1101"));
    auto* name = new QLabel(title, this);
    name->setObjectName(QStringLiteral("1102"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(built);
    layout->addWidget(buttons);
}

QString CAboutDlg::BuildText()
{
    return QStringLiteral("Built: ") + QString::fromLatin1(__DATE__) + QLatin1Char(' ') +
           QString::fromLatin1(__TIME__);
}
