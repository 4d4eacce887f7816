#include "companion/about_dialog.h"

#include "platform/home.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tollivar {

CAboutDlg::CAboutDlg(const QString& title, unsigned language, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("100"));
    setWindowTitle(platform::pickText(language, "About Tollivar", "关于 Tollivar"));
    auto* name = new QLabel(title, this);
    auto* built = new QLabel(platform::pickText(language, "Built: ", "编译时间: ") + QStringLiteral(__DATE__ " " __TIME__),
                             this);
    auto* ok = new QPushButton(platform::pickText(language, "OK", "确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    QObject::connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(built);
    layout->addLayout(buttons);
}

}  // namespace tollivar
