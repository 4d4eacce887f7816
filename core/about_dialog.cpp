#include "core/about_dialog.h"

#include "common/controls/dialog_keys.h"

#include <QKeyEvent>
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
    QPushButton* ok = controls::MakeButton(language == 4 ? QStringLiteral("确定") : QStringLiteral("OK"), 1, this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(built);
    layout->addWidget(ok, 0, Qt::AlignRight);
}

QString CAboutDlg::BuildText()
{
    return QStringLiteral("Built: ") + QString::fromLatin1(__DATE__) + QLatin1Char(' ') +
           QString::fromLatin1(__TIME__);
}

// Enter and Esc close nothing: the box is left through its OK button.
void CAboutDlg::keyPressEvent(QKeyEvent* event)
{
    if (!controls::SwallowEnterEsc(event))
        QDialog::keyPressEvent(event);
}
