#include "companion/video_control_tab.h"

#include "companion/hub_records.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"

#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>

namespace tollivar {

CVideoControlTab::CVideoControlTab(const QString& titlePrefix, const QString& tempFolder,
                                   const std::vector<TickedPlayer>& players, unsigned language, int tickMs,
                                   QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this))
{
    setObjectName(QStringLiteral("139"));
    // The dispatcher finds the window by this caption.
    setWindowTitle(titlePrefix + kVideoControlCaption.text(language));
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("2701"));
    for (std::size_t i = 0; i < players.size() && i < std::size_t(kMaxPages); ++i) {
        const TickedPlayer& player = players[i];
        auto* page = new CVideoControl(tempFolder, uint16_t(i), player.ip, uint16_t(player.portText.toUInt()),
                                       language, tickMs);
        tabs_->addTab(page, player.ip);
        pages_.push_back(page);
    }
    // The selected page takes the focus.
    QObject::connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (CVideoControl* page = Page(index))
            page->setFocus();
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_);

    using platform::LPARAM;
    using platform::WPARAM;
    const struct {
        unsigned message;
        WPARAM pageParam;
    } routes[] = {
        {platform::WM_VIDEO_LIST_REPLY, 0},
        {platform::WM_TRACKBAR_VALUES_REPLY, 1},
        {platform::WM_VIDEO_UPLOAD_REPLY, 0},
        {platform::WM_VIDEO_CONTROL_REPLY, remote::kCmdProgress},
        {platform::WM_REPLY_TOO_SLOW, 0},
    };
    for (const auto& route : routes)
        onMessage(route.message, [this, route](WPARAM w, LPARAM l) -> platform::LRESULT {
            Forward(route.message, w, route.pageParam, l);
            return 0;
        });
    resize(1280, 800);
}

CVideoControlTab::~CVideoControlTab()
{
    for (CVideoControl* page : pages_)
        page->Close();
}

CVideoControl* CVideoControlTab::Page(int index) const
{
    return index >= 0 && index < int(pages_.size()) ? pages_[std::size_t(index)] : nullptr;
}

void CVideoControlTab::Forward(unsigned message, platform::WPARAM pageIndex, platform::WPARAM pageParam,
                               platform::LPARAM lParam)
{
    if (pageIndex < pages_.size()) {
        platform::sendMessage(pages_[pageIndex], message, pageParam, lParam);
        return;
    }
    // The two heap records belong to the receiver, which is nobody here.
    if (message == platform::WM_VIDEO_LIST_REPLY)
        delete reinterpret_cast<PlayerCatalog*>(lParam);
    else if (message == platform::WM_TRACKBAR_VALUES_REPLY)
        delete reinterpret_cast<ReplyStatusRecord*>(lParam);
}

void CVideoControlTab::OnInitDialog()
{
    if (initialised_)
        return;
    initialised_ = true;
    for (CVideoControl* page : pages_)
        page->OnInitDialog();
}

void CVideoControlTab::showEvent(QShowEvent* event)
{
    OnInitDialog();
    QDialog::showEvent(event);
}

void CVideoControlTab::done(int result)
{
    for (CVideoControl* page : pages_)
        page->Close();
    QDialog::done(result);
}

void OpenVideoControl(const FeatureContext& context)
{
    CVideoControlTab window(context.titlePrefix, context.tempFolder, context.ticked, platform::appLanguage(),
                            CVideoControl::kTimerMs, context.parent);
    window.setWindowState(window.windowState() | Qt::WindowMaximized);
    window.exec();
}

}  // namespace tollivar
