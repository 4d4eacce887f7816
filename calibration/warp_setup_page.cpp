// Step 3 of the warp wizard: the edge-blending and test-colour pages on two
// tabs, the arrangement they work on, and the routing of their replies.
#include "calibration/warp_setup_page.h"

#include "platform/app_identity.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace calib {

namespace {

WizardTabFactory& blendingFactory()
{
    static WizardTabFactory f;
    return f;
}

WizardTabFactory& colourFactory()
{
    static WizardTabFactory f;
    return f;
}

// Stands in for a page whose feature is not installed: it sends nothing and
// never waits.
class EmptyTabPage : public WizardTabPage {
public:
    explicit EmptyTabPage(QWidget* parent) : widget_(new QLabel(parent)) {}
    QWidget* widget() override { return widget_; }
    void setTargets(const std::vector<SendTarget>&, bool) override {}
    uint16_t sequence() const override { return sequence_; }
    void setSequence(uint16_t s) override { sequence_ = s; }
    bool awaitingReply() const override { return false; }
    void onPlayerReply(uint8_t, uint8_t) override {}
    bool inAdjustment() const override { return false; }
    void enterAdjustment() override {}
    void leaveAdjustment() override {}
    bool onKey(int, Qt::KeyboardModifiers) override { return false; }

private:
    QLabel* widget_;
    uint16_t sequence_ = 0;
};

std::unique_ptr<WizardTabPage> make(const WizardTabFactory& f, const WizardTabContext& c)
{
    std::unique_ptr<WizardTabPage> page = f ? f(c) : nullptr;
    return page ? std::move(page) : std::make_unique<EmptyTabPage>(c.parent);
}

}  // namespace

void setBlendingPageFactory(WizardTabFactory factory) { blendingFactory() = std::move(factory); }
void setColourPageFactory(WizardTabFactory factory) { colourFactory() = std::move(factory); }

CWarpSetupPage::CWarpSetupPage(const WizardTabContext& context, QWidget* parent) : QWidget(parent)
{
    const int language = platform::appLanguage() == 4 ? 4 : 9;
    setWindowTitle(language == 4 ? QStringLiteral("融合带校正(第三步)") : QStringLiteral("Gamma Correction (Third Step)"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("3004"));
    v->addWidget(tabs_);
    WizardTabContext c = context;
    c.parent = tabs_;
    blending_ = make(blendingFactory(), c);
    colours_ = make(colourFactory(), c);
    tabs_->addTab(blending_->widget(), language == 4 ? QStringLiteral("融合带") : QStringLiteral("Gamma Correction"));
    tabs_->addTab(colours_->widget(), language == 4 ? QStringLiteral("颜色") : QStringLiteral("Color"));
    tabs_->setCurrentIndex(0);
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int tab) { OnTabChange(tab); });
}

CWarpSetupPage::~CWarpSetupPage()
{
    // The pages' widgets belong to the tab control; take them out before the
    // page objects that refer to them go.
    if (tabs_) {
        while (tabs_->count() > 0)
            tabs_->removeTab(0);
    }
}

int CWarpSetupPage::currentTab() const { return tabs_->currentIndex(); }

void CWarpSetupPage::OnTabChange(int tab)
{
    const uint16_t larger = std::max(blending_->sequence(), colours_->sequence());
    if (tab == 0)
        blending_->setSequence(larger);
    else
        colours_->setSequence(larger);
}

void CWarpSetupPage::ApplyWarpSettings(const WarpSettings& settings, bool singleChannel,
                                       const std::vector<SendTarget>& targets)
{
    blending_->setTargets(targets, singleChannel);
    colours_->setTargets(targets, singleChannel);
    arrangement_ = BuildBlendArrangement(settings, singleChannel);
    blending_->loadArrangement(arrangement_);
}

bool CWarpSetupPage::StopAdjusting()
{
    bool nothingLeft = true;
    // Every page that keeps the player in adjustment mode leaves it, whichever
    // tab shows: the player must never be left adjusting.
    if (colours_->inAdjustment()) {
        colours_->leaveAdjustment();
        nothingLeft = false;
    }
    if (blending_->inAdjustment()) {
        blending_->leaveAdjustment();
        nothingLeft = false;
    }
    return nothingLeft;
}

void CWarpSetupPage::OnReply(uint8_t command, uint8_t status)
{
    // The reply belongs to the page that asked, not to the tab on show.
    if (blending_->awaitingReply())
        blending_->onPlayerReply(command, status);
    else if (colours_->awaitingReply())
        colours_->onPlayerReply(command, status);
    else if (tabs_->currentIndex() == 1)
        colours_->onPlayerReply(command, status);
    else
        blending_->onPlayerReply(command, status);
}

}  // namespace calib
