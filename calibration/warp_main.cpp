// The warp wizard's sheet: three steps, their buttons, the quit questions
// and the routing of the player's replies to the page that waits for them.
#include "calibration/warp_main.h"

#include "core/config_exchange.h"
#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/protocol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace calib {

namespace {

QString tr2(int language, const char* english, const char* chinese)
{
    return QString::fromUtf8(language == 4 ? chinese : english);
}

}  // namespace

QString WarpWizardCaption(int language)
{
    return tr2(language, "Edge blending wizard", "融合带校正向导");
}

CWarpMain::CWarpMain(Inputs inputs, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), in_(std::move(inputs))
{
    language_ = platform::appLanguage() == 4 ? 4 : 9;
    setWindowTitle(in_.prefix + WarpWizardCaption(language_));
    setCaption(windowTitle());
    resize(1000, 720);

    auto* v = new QVBoxLayout(this);
    auto* group = new QGroupBox(this);  // the pages' rectangle, titled by the page shown
    group->setObjectName(QStringLiteral("3001"));
    auto* stack = new QStackedLayout(group);
    v->addWidget(group, 1);

    CWarpParamPage::Inputs p{in_.devices, in_.current, in_.channelCount, in_.version, in_.playerFolder, in_.prefix};
    param_ = new CWarpParamPage(std::move(p), group);
    geometric_ = new CWarpGeometricPage(group);
    geometric_->channelCount = in_.channelCount;
    geometric_->playerFolder = in_.playerFolder;
    geometric_->version = in_.version;
    geometric_->prefix = in_.prefix;
    setup_ = new CWarpSetupPage({in_.prefix, in_.playerFolder, in_.channelCount, nullptr}, group);
    stack->addWidget(param_);
    stack->addWidget(geometric_);
    stack->addWidget(setup_);

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton(tr2(language_, "<Back", "<上一步"), this);
    back_->setObjectName(QStringLiteral("3002"));
    next_ = new QPushButton(tr2(language_, "Next>", "下一步>"), this);
    next_->setObjectName(QStringLiteral("3003"));
    cancel_ = new QPushButton(tr2(language_, "Cancel", "关闭"), this);
    cancel_->setObjectName(QStringLiteral("2"));
    buttons->addStretch();
    for (QPushButton* b : {back_, next_, cancel_}) {
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
        buttons->addWidget(b);
    }
    v->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, [this] { OnBack(); });
    connect(next_, &QPushButton::clicked, this, [this] { OnNext(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { OnQuit(); });

    onMessage(platform::WM_BLEND_WIZARD_REPLY, [this](platform::WPARAM, platform::LPARAM l) { return onReply(l); });
    onMessage(platform::WM_WARP_WIZARD_STEP, [this](platform::WPARAM, platform::LPARAM l) { return onStep(l); });
    ShowStep(1);
}

CWarpMain::~CWarpMain() = default;

void CWarpMain::ShowStep(int step)
{
    step_ = step;
    auto* group = findChild<QGroupBox*>(QStringLiteral("3001"));
    auto* stack = static_cast<QStackedLayout*>(group->layout());
    group->setTitle(step == 2 ? geometric_->windowTitle() : step == 3 ? setup_->windowTitle() : QString());
    if (step == 1) {
        stack->setCurrentWidget(param_);
        back_->hide();
        next_->show();
    } else if (step == 2) {
        geometric_->pendingStep = 2;
        geometric_->model().currentOutput = uint16_t(geometric_->FirstActiveChannel());
        geometric_->Start();
        stack->setCurrentWidget(geometric_);
        geometric_->setFocus();
        back_->show();
        next_->show();
    } else if (step == 3) {
        setup_->blending().sendTestColours();
        stack->setCurrentWidget(setup_);
        back_->show();
        next_->hide();
    } else {
        back_->hide();
        next_->hide();
    }
}

void CWarpMain::OnNext()
{
    quits_ = 0;
    if (step_ == 1) {
        if (!param_->ValidateAndSave())
            return;
        const WarpSettings settings = param_->settings();
        const WarpForm f = param_->form();
        // One entry per cell, so that every page finds a channel's own player
        // at the channel's index, also when the checked channels have gaps.
        const std::vector<SendTarget> targets =
            f.singleChannel ? TargetsByCell(param_->settings(), param_->targets()) : std::vector<SendTarget>{};
        geometric_->singleChannel = f.singleChannel;
        geometric_->horizontalCurved = f.horizontalCurved;
        geometric_->verticalCurved = f.verticalCurved;
        geometric_->targets = targets;
        geometric_->ApplyWarpSettings(settings);
        setup_->ApplyWarpSettings(settings, f.singleChannel, targets);
        if (f.skipGeometry) {
            setup_->blending().enterAdjustment();
            step_ = 3;
            auto* group = findChild<QGroupBox*>(QStringLiteral("3001"));
            group->setTitle(setup_->windowTitle());
            static_cast<QStackedLayout*>(group->layout())->setCurrentWidget(setup_);
            back_->show();
            next_->hide();
        } else {
            ShowStep(2);
        }
    } else if (step_ == 2) {
        if (!geometric_->busy())
            geometric_->Leave(3);
    }
}

void CWarpMain::OnBack()
{
    quits_ = 0;
    if (step_ == 2) {
        if (!geometric_->busy())
            geometric_->Leave(1);
    } else if (step_ == 3) {
        if (setup_->blending().awaitingReply())
            return;
        setup_->blending().saveGamma();
        platform::sendMessage(this, platform::WM_WARP_WIZARD_STEP, 0, platform::LPARAM(new uint16_t(2)));
    }
}

void CWarpMain::OnQuit()
{
    if (step_ == 2)
        geometric_->SaveJunctionPoints();
    else if (step_ == 3)
        setup_->blending().saveGamma();
    ++quits_;
    if (quits_ >= 4) {
        const auto answer = platform::messageBox(
            tr2(language_, "Forced withdrawal will cause problems to show, will it continue?", "【强制退出会导致显示有问题，是否继续吗?】"),
            windowTitle(), platform::MsgButtons::YesNo, platform::MsgIcon::Question, this);
        if (answer == platform::MsgResult::Yes)
            finish();
        return;
    }
    const auto answer = platform::messageBox(
        tr2(language_, "Do you really want to quit the edge blending wizard?", "【真的要退出融合带校正向导吗?】"), windowTitle(),
        platform::MsgButtons::YesNo, platform::MsgIcon::Question, this);
    if (answer != platform::MsgResult::Yes) {
        update();
        return;
    }
    if (step_ == 1) {
        geometric_->pendingStep = 0;
        if (geometric_->inAdjustment())
            geometric_->LeaveAdjustment();  // closes on the reply
        else
            finish();
    } else if (step_ == 2) {
        if (geometric_->busy())
            finish();
        else
            geometric_->Leave(2);  // blend on, leave, then step 0
    } else if (step_ == 3) {
        // The requests that end the run count on from the largest sequence
        // any page has used, never from a page that fell behind.
        const uint16_t largest =
            std::max({geometric_->sequence, setup_->blending().sequence(), setup_->colours().sequence()});
        setup_->blending().setSequence(largest);
        setup_->colours().setSequence(largest);
        geometric_->sequence = largest;
        setup_->StopAdjusting();
        // Adjustment mode is tracked for the whole run: a step-2 entry that
        // was never left is left now, and the wizard closes on its reply.
        if (geometric_->inAdjustment()) {
            geometric_->pendingStep = 0;
            geometric_->LeaveAdjustment();
            if (geometric_->busy())
                return;
        }
        finish();
    } else {
        finish();
    }
}

void CWarpMain::finish()
{
    closing_ = true;
    done(QDialog::Rejected);
}

platform::LRESULT CWarpMain::onReply(platform::LPARAM l)
{
    std::unique_ptr<uint16_t> value(reinterpret_cast<uint16_t*>(l));
    if (!value)
        return 0;
    quits_ = 0;
    const uint8_t command = uint8_t(*value >> 8), status = uint8_t(*value & 0xFF);
    if (step_ == 1 || step_ == 2) {
        geometric_->OnReply(command, status);
    } else if (step_ == 3) {
        // A leave asked for on quitting from step 3 ends with this reply.
        if (command == proto::CMD_ADJUST_MODE && status == 1 && geometric_->busy() && !geometric_->inAdjustment()) {
            geometric_->OnReply(command, status);
            return 0;
        }
        if (command == proto::CMD_PROJECTOR_DATA || command == proto::CMD_ADJUST_MODE)
            setup_->OnReply(command, status);
    }
    return 0;
}

platform::LRESULT CWarpMain::onStep(platform::LPARAM l)
{
    std::unique_ptr<uint16_t> value(reinterpret_cast<uint16_t*>(l));
    if (!value || *value >= 4)
        return 0;
    const uint16_t v = *value;
    if (v == 0) {
        finish();
        return 0;
    }
    quits_ = 0;
    if (v == 2)
        geometric_->sequence = std::max(setup_->blending().sequence(), setup_->colours().sequence());
    else if (v == 3)
        setup_->blending().setSequence(geometric_->sequence);
    ShowStep(v);
    return 0;
}

void CWarpMain::keyPressEvent(QKeyEvent* e)
{
    bool taken = false;
    if (step_ == 1)
        taken = param_->OnKey(e->key(), e->modifiers());
    else if (step_ == 2)
        taken = geometric_->OnKey(e->key(), e->modifiers(), true, e->isAutoRepeat());
    else if (step_ == 3)
        taken = setup_->currentTab() == 0 ? setup_->blending().onKey(e->key(), e->modifiers())
                                          : setup_->colours().onKey(e->key(), e->modifiers());
    // Enter and Esc never act by themselves on the sheet.
    (void)taken;
    e->accept();
}

void CWarpMain::keyReleaseEvent(QKeyEvent* e)
{
    if (step_ == 2)
        geometric_->OnKey(e->key(), e->modifiers(), false, e->isAutoRepeat());
    e->accept();
}

void CWarpMain::reject()
{
    if (closing_)
        QDialog::reject();
    else
        OnQuit();
}

void CWarpMain::closeEvent(QCloseEvent* e)
{
    if (closing_) {
        e->accept();
        return;
    }
    e->ignore();
    OnQuit();
}

void OpenWarpWizard(CvelunaDoc& doc)
{
    CWarpMain::Inputs in;
    in.prefix = doc.titlePrefix();
    in.devices = doc.devices();
    in.current = doc.target();
    in.playerFolder = doc.playerFolder();
    in.channelCount = ChannelCountFromModel(doc.currentPlayer().channelCode);
    in.version = doc.currentPlayer().version;
    {
        CWarpMain wizard(std::move(in), QApplication::activeWindow());
        wizard.exec();
    }
}

}  // namespace calib
