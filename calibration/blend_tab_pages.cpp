// The edge-blending and test-colour pages as the tabs of the warp wizard's
// third step. The wizard is built apart from these pages and asks for them
// through its page factories; this file fills them.

#include "calibration/bland_color.h"
#include "calibration/blanding.h"
#include "calibration/blend_commands.h"

#include "calibration/warp_setup_page.h"

#include <memory>

namespace calib {

namespace {

class BlendingTab : public WizardTabPage {
public:
    explicit BlendingTab(const WizardTabContext& c) : page_(CreateBlandingPage(c.playerFolder, c.prefix, c.parent)) {}
    QWidget* widget() override { return page_; }
    void setTargets(const std::vector<SendTarget>& targets, bool singleChannel) override
    {
        // One player per channel: the list, indexed by channel entry; one
        // player for all: the current player.
        page_->players = singleChannel ? targets : std::vector<SendTarget>{};
    }
    uint16_t sequence() const override { return page_->sequence(); }
    void setSequence(uint16_t s) override { page_->setSequence(s); }
    bool awaitingReply() const override { return page_->HasRequestOutstanding(); }
    void onPlayerReply(uint8_t command, uint8_t status) override { page_->OnBlendReply(command, status); }
    bool inAdjustment() const override { return page_->inAdjustment(); }
    void enterAdjustment() override { page_->SendAdjustStart(); }
    void leaveAdjustment() override { page_->SendAdjustEnd(); }
    bool onKey(int key, Qt::KeyboardModifiers modifiers) override
    {
        const int code = CBlanding::KeyCode(key, modifiers);
        return code && page_->OnKeyDown(code, modifiers & Qt::ControlModifier, modifiers & Qt::ShiftModifier);
    }
    void loadArrangement(const BlendArrangement& a) override { page_->LoadChannelConfig(a); }
    void sendTestColours() override { page_->SendWhite(); }
    bool saveGamma() override { return page_->SaveFiles(); }

private:
    CBlanding* page_;  // owned by its parent widget
};

class ColourTab : public WizardTabPage {
public:
    explicit ColourTab(const WizardTabContext& c) : page_(new CBlandColor(c.parent)) {}
    QWidget* widget() override { return page_; }
    void setTargets(const std::vector<SendTarget>& targets, bool singleChannel) override
    {
        page_->players = singleChannel ? targets : std::vector<SendTarget>{};
    }
    uint16_t sequence() const override { return page_->sequence(); }
    void setSequence(uint16_t s) override { page_->setSequence(s); }
    bool awaitingReply() const override { return page_->HasRequestOutstanding(); }
    void onPlayerReply(uint8_t, uint8_t) override { page_->OnColourReply(); }
    bool inAdjustment() const override { return false; }
    void enterAdjustment() override {}
    void leaveAdjustment() override { page_->SendAdjustEnd(); }
    bool onKey(int, Qt::KeyboardModifiers) override { return true; }  // the page reacts to no keys

private:
    CBlandColor* page_;
};

}  // namespace

void InstallBlendTabPages()
{
    setBlendingPageFactory([](const WizardTabContext& c) { return std::make_unique<BlendingTab>(c); });
    setColourPageFactory([](const WizardTabContext& c) { return std::make_unique<ColourTab>(c); });
}

bool BlendTabPagesAvailable()
{
    return true;
}

}  // namespace calib

