#include "content/set_mov_conf_tab.h"

#include "content/set_mov_conf.h"
#include "content/store_texts.h"
#include "platform/app_identity.h"
#include "platform/messages.h"

#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

using platform::LPARAM;
using platform::WPARAM;

CSetMovConfTab::CSetMovConfTab(const QString& titlePrefix, uint32_t screens, uint16_t version,
                               const QString& rootLabel, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this))
{
    const unsigned language = platform::appLanguage();
    setWindowTitle(titlePrefix + store::Text(store::texts::kStoreCaption, language));
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("4301"));
    pages_[0] = new CSetMovConf(0, version, rootLabel, tabs_);
    tabs_->addTab(pages_[0], store::Text(store::texts::kFirstScreen, language));
    if (screens >= 2) {
        pages_[1] = new CSetMovConf(1, version, rootLabel, tabs_);
        tabs_->addTab(pages_[1], store::Text(store::texts::kSecondScreen, language));
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    resize(900, 620);
    connect(tabs_, &QTabWidget::currentChanged, this, &CSetMovConfTab::OnTabChanged);
    for (unsigned id : {platform::WM_VIDEO_LIST_REPLY, platform::WM_VIDEO_UPLOAD_REPLY, platform::WM_VIDEO_DELETE_REPLY,
                        platform::WM_VIDEO_SELECT_REPLY, platform::WM_VIDEO_RENAME_REPLY,
                        platform::WM_TRACKBAR_VALUES_REPLY})
        onMessage(id, [this, id](WPARAM w, LPARAM l) { return Relay(id, w, l); });
}

CSetMovConfTab::~CSetMovConfTab() = default;

void CSetMovConfTab::OnInitDialog()
{
    ready_ = true;
    tabs_->setCurrentIndex(0);
    pages_[0]->OnRefresh();
    pages_[0]->tree()->setFocus();
}

void CSetMovConfTab::OnTabChanged(int index)
{
    if (!ready_ || index < 0 || index >= pageCount())
        return;
    CSetMovConf* shown = pages_[std::size_t(index)];
    shown->setFocus();
    shown->OnRefresh();
}

platform::LRESULT CSetMovConfTab::Relay(unsigned id, WPARAM wParam, LPARAM lParam)
{
    const int selected = tabs_->currentIndex() == 1 && pages_[1] ? 1 : 0;
    CSetMovConf* target = pages_[std::size_t(selected)];
    // Upload replies carry no act: they belong to the page whose upload is
    // in flight, whichever tab is shown.
    if (id == platform::WM_VIDEO_UPLOAD_REPLY) {
        for (CSetMovConf* p : pages_)
            if (p && p->uploading())
                target = p;
    }
    return target->HandleMessage(id, wParam, lParam);
}
