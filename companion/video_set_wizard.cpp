#include "companion/video_set_wizard.h"

#include "companion/batch_send.h"
#include "companion/hub_records.h"
#include "companion/scan_for_devices.h"
#include "companion/set_param.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

CVideoSetWizard::CVideoSetWizard(const QString& titlePrefix, const QString& tempFolder, QWidget* parent)
    : QDialog(parent)
{
    language_ = platform::appLanguage() == platform::kLanguageChinese ? platform::kLanguageChinese
                                                                       : platform::kLanguageEnglish;
    stack_ = new QStackedWidget(this);
    select_ = new tollivar::CScanForDevices(titlePrefix, false, true, stack_);
    select_->SetRoundRule(scan::RoundRule::FiveFreshRounds);
    // Embedded as a page: its own Connect and Close give way to the wizard's buttons.
    select_->setWindowFlags(Qt::Widget);
    for (const char* id : {"1", "2"})
        if (auto* button = select_->findChild<QPushButton*>(QString::fromLatin1(id)))
            button->hide();
    param_ = new CSetParam(tempFolder, stack_);
    batch_ = new CBatchSend(tempFolder, stack_);
    stack_->addWidget(select_);
    stack_->addWidget(param_);
    stack_->addWidget(batch_);

    backButton_ = new QPushButton(Text("< Back", "< 上一步"), this);
    nextButton_ = new QPushButton(Text("Next >", "下一步 >"), this);
    finishButton_ = new QPushButton(Text("Finish", "完成"), this);
    cancelButton_ = new QPushButton(Text("Cancel", "取消"), this);
    for (QPushButton* b : {backButton_, nextButton_, finishButton_, cancelButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    QObject::connect(backButton_, &QPushButton::clicked, this, [this] { OnBack(); });
    QObject::connect(nextButton_, &QPushButton::clicked, this, [this] { OnNext(); });
    QObject::connect(finishButton_, &QPushButton::clicked, this, [this] { OnFinish(); });
    QObject::connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(backButton_);
    buttons->addWidget(nextButton_);
    buttons->addWidget(finishButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stack_, 1);
    layout->addLayout(buttons);
    resize(940, 600);
    Show(0);
}

CVideoSetWizard::~CVideoSetWizard()
{
    StopPages();
}

QString CVideoSetWizard::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

int CVideoSetWizard::ActivePage() const
{
    return stack_->currentIndex();
}

void CVideoSetWizard::Show(int page)
{
    stack_->setCurrentIndex(page);
    // Only the active page answers to its caption.
    param_->setWindowTitle(page == 1 ? tollivar::kSetParamCaption.text(language_) : QString());
    batch_->setWindowTitle(page == 2 ? tollivar::kBatchSendCaption.text(language_) : QString());
    setWindowTitle(page == 0 ? select_->windowTitle() : stack_->currentWidget()->windowTitle());
    backButton_->setVisible(page > 0);
    nextButton_->setVisible(page < 2);
    finishButton_->setVisible(page == 2);
    if (page == 0)
        StartScan();
}

void CVideoSetWizard::StartScan()
{
    // Every visit scans afresh: the list is emptied and the ticks are gone.
    if (select_->IsScanning())
        select_->OnScanButton();
    select_->OnScanButton();
}

void CVideoSetWizard::StopPages()
{
    if (select_ && select_->IsScanning())
        select_->OnScanButton();
    if (param_)
        param_->Leave();
    if (batch_)
        batch_->Shutdown();
}

void CVideoSetWizard::EnterParamPage(const std::vector<tollivar::TickedPlayer>& ticked)
{
    if (select_->IsScanning())
        select_->OnScanButton();
    ticked_ = ticked;
    Show(1);
    param_->Activate(ticked_);
}

void CVideoSetWizard::OnNext()
{
    switch (ActivePage()) {
    case 0: {
        std::vector<tollivar::TickedPlayer> ticked;
        const std::vector<bool> ticks = select_->Ticks();
        const auto& rows = select_->Rows();
        for (std::size_t i = 0; i < ticks.size() && i < rows.size(); ++i)
            if (ticks[i])
                ticked.push_back({rows[i].ip, rows[i].portText});
        if (ticked.empty()) {
            platform::messageBox(Text("Please tick the devices!", "请勾选设备！"), QString(), platform::MsgButtons::Ok,
                                 platform::MsgIcon::Warning, this);
            return;
        }
        EnterParamPage(ticked);
        return;
    }
    case 1:
        if (!param_->OnNext())
            return;
        Show(2);
        batch_->SetDevices(param_->Devices());
        return;
    default:
        return;
    }
}

void CVideoSetWizard::OnBack()
{
    switch (ActivePage()) {
    case 1:
        param_->Leave();
        Show(0);
        return;
    case 2:
        batch_->Shutdown();
        EnterParamPage(ticked_);
        return;
    default:
        return;
    }
}

void CVideoSetWizard::OnFinish()
{
    StopPages();
    QDialog::done(QDialog::Accepted);
}

void CVideoSetWizard::reject()
{
    if (platform::messageBox(Text("Do you really want to exit?", "确定要退出吗？"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question,
                             this) != platform::MsgResult::Yes)
        return;
    // A running batch ends cleanly: no timer or pause outlives the wizard.
    StopPages();
    QDialog::done(QDialog::Rejected);
}

void OpenVideoSetWizard(QWidget* parent, const QString& titlePrefix, const QString& tempFolder)
{
    CVideoSetWizard wizard(titlePrefix, tempFolder, parent);
    wizard.exec();
}
