#include "content/batch_send_file_tab.h"

#include "content/batch_model.h"
#include "content/batch_send_file.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "transport/tcp_client.h"

#include <QTabWidget>
#include <QVBoxLayout>

using platform::LPARAM;
using platform::WPARAM;

CBatchSendFileTab::CBatchSendFileTab(const QString& titlePrefix, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this))
{
    const unsigned language = platform::appLanguage();
    setWindowTitle(titlePrefix + batch::Text(batch::texts::kCaption, language));
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("4401"));
    const batch::Message titles[kPages] = {batch::texts::kTab1, batch::texts::kTab2, batch::texts::kTab3};
    for (int i = 0; i < kPages; ++i) {
        pages_[std::size_t(i)] = new CBatchSendFile(i, titlePrefix, language, handle(), tabs_);
        tabs_->addTab(pages_[std::size_t(i)], batch::Text(titles[i], language));
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    resize(1120, 600);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { OnTabChanged(index); });
    onMessage(platform::WM_TCP_EVENT, [this](WPARAM w, LPARAM l) {
        // By link index, whatever tab is shown; other values are dropped.
        if (w < WPARAM(kPages) && l)
            pages_[std::size_t(w)]->OnTcpEvent(*reinterpret_cast<const LinkEvent*>(l));
        return platform::LRESULT(0);
    });
}

CBatchSendFileTab::~CBatchSendFileTab()
{
    for (CBatchSendFile* p : pages_)
        if (p)
            p->Shutdown();
}

void CBatchSendFileTab::OnTabChanged(int index)
{
    if (index < 0 || index >= kPages)
        return;
    pages_[std::size_t(index)]->setFocus();
}

void CBatchSendFileTab::reject()
{
    CBatchSendFile* shown = pages_[std::size_t(std::max(0, tabs_->currentIndex()))];
    if (!shown->OnCancel())
        return;
    for (CBatchSendFile* p : pages_)
        p->Shutdown();
    QDialog::reject();
}
