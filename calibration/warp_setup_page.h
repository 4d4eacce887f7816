#pragma once
// Step 3 of the warp wizard: the edge-blending and test-colour pages on two
// tabs, the blend arrangement they work on, and the routing of replies to
// the page that asked for them.

#include "calibration/warp_settings.h"
#include "transport/records.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QTabWidget;

namespace calib {

// What a page hosted on step 3 offers the wizard. The edge-blending and the
// test-colour pages are made by factories that the calibration feature
// installs, so the wizard is built and tested without them.
class WizardTabPage {
public:
    virtual ~WizardTabPage() = default;
    virtual QWidget* widget() = 0;
    virtual void setTargets(const std::vector<SendTarget>& targets, bool singleChannel) = 0;
    virtual uint16_t sequence() const = 0;
    virtual void setSequence(uint16_t sequence) = 0;
    // A request was sent and its reply has not come yet.
    virtual bool awaitingReply() const = 0;
    virtual void onPlayerReply(uint8_t command, uint8_t status) = 0;
    virtual bool inAdjustment() const = 0;
    virtual void enterAdjustment() = 0;
    virtual void leaveAdjustment() = 0;
    virtual bool onKey(int key, Qt::KeyboardModifiers modifiers) = 0;
    // Blending page only (the others ignore them).
    virtual void loadArrangement(const BlendArrangement&) {}
    virtual void sendTestColours() {}
    virtual bool saveGamma() { return true; }
};

struct WizardTabContext {
    QString prefix;
    QString playerFolder;
    uint16_t channelCount = 0;
    QWidget* parent = nullptr;
};
using WizardTabFactory = std::function<std::unique_ptr<WizardTabPage>(const WizardTabContext&)>;
// An empty factory leaves that tab with a page that sends nothing.
void setBlendingPageFactory(WizardTabFactory factory);
void setColourPageFactory(WizardTabFactory factory);

class CWarpSetupPage : public QWidget {
public:
    CWarpSetupPage(const WizardTabContext& context, QWidget* parent = nullptr);
    ~CWarpSetupPage() override;

    void ApplyWarpSettings(const WarpSettings& settings, bool singleChannel, const std::vector<SendTarget>& targets);
    // True when no page kept the player in adjustment mode.
    bool StopAdjusting();
    // A reply for step 3: to the page that waits for one (the blending page
    // first), else to the page of the visible tab.
    void OnReply(uint8_t command, uint8_t status);
    void OnTabChange(int tab);
    int currentTab() const;
    WizardTabPage& blending() { return *blending_; }
    WizardTabPage& colours() { return *colours_; }
    const BlendArrangement& arrangement() const { return arrangement_; }

private:
    QTabWidget* tabs_ = nullptr;
    std::unique_ptr<WizardTabPage> blending_;
    std::unique_ptr<WizardTabPage> colours_;
    BlendArrangement arrangement_;
};

}  // namespace calib
