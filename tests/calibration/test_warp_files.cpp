// The player's calibration files across a wizard run, end to end: fetched
// from the simulated player, read by the wizard, and uploaded again when the
// player leaves its adjustment mode. A file nobody edited goes back as it
// came; an edit changes only the shape that was edited.

#include "calibration/calibration_feature.h"
#include "calibration/geometric_correction.h"
#include "calibration/warp_main.h"
#include "core/config_exchange.h"
#include "core/document.h"
#include "core/editor_hooks.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"
#include "warp_session.h"

#include <QCheckBox>
#include <QComboBox>

#include <gtest/gtest.h>

using namespace calib;
using testsupport::waitUntil;
using warptest::kTitle;

namespace {

// One screen of one 1,920 x 1,080 output: every shape is 960 x 540 (the
// second screen's rectangle keeps the same size when unused).
// Shape 0 of screen 1 has its top-right corner moved in, its top edge
// following, as the wizard itself leaves a shape after such an edit.
QByteArray servedShapes()
{
    CGeometricCorrection m;
    m.canvas = {0, 0, 960, 540};
    m.config.screenCount = 1;
    m.newShapeFormat = true;
    m.ResetShapes();
    m.LoadShape(0, 0);
    m.shapeCanvas().at(959, 0).x = 952;
    m.shapeCanvas().at(959, 0).y = 6;
    m.InterpolateShape();
    m.StoreShape(0, 0);
    return m.ShapeBytes();
}

// Offsets of one point of shape 0, screen 1, in the file (edge 1 bottom,
// 2 left).
constexpr int kEdgeBlock = 19200;
int pointOffset(int edge, int index) { return 6 + edge * kEdgeBlock + index * 10; }

struct WizardRun {
    QByteArray uploaded;      // file 7 as the player holds it afterwards
    QByteArray junction;      // file 2 as the player holds it (empty: none)
    QStringList boxes;
};

// Fetches the player's files, runs the wizard to step 2 on one output,
// lets `edit` act there, quits, and waits for the upload to end.
WizardRun runWizard(const std::function<void(CWarpMain&)>& edit)
{
    WizardRun out;
    warptest::Session session;
    auto player = testsupport::StartPlayerWithConfigStore(warptest::WarpPlayer(QStringLiteral("127.0.0.2"), 4));
    if (!player)
        return out;
    auto store = sim::configStoreOf(*player);
    const QByteArray served = servedShapes();
    store->setFile(cfgx::kCustomShapesNewFile, served);

    testsupport::LinkedDocument link(kTitle, *player);
    auto& doc = link.doc;
    EXPECT_TRUE(waitUntil([&] { return doc->IsConnected(); }));
    auto& exchange = doc->configExchange();
    exchange.SetActive(true);
    exchange.StartFetch(cfgx::kWarpFile);
    const QString local = doc->playerFolder() + "/config/CustomShapesPointNew.QVE";
    // Guards against a frozen run only: 4.6 MB each way under the address
    // checker on a busy machine take tens of seconds.
    EXPECT_TRUE(waitUntil([&] { return testsupport::readFile(local) == served; }, 60000))
        << "the fetch brings the player's shapes byte for byte";
    EXPECT_TRUE(waitUntil([&] { return exchange.mode() == cfgx::ConfigExchange::Idle || !exchange.active(); }, 60000));
    exchange.CloseWaitBox();

    bool closed = false;
    auto operate = [&](platform::MessageWindow& w) {
        auto* wizard = dynamic_cast<CWarpMain*>(&w);
        wizard->findChild<QCheckBox*>("3140")->setChecked(true);
        wizard->OnNext();
        auto& page = wizard->geometricPage();
        // Step 2 sends the whole pixel map: as slow as the fetch above.
        waitUntil([&] { return wizard->step() == 2 && !page.busy(); }, 60000);
        edit(*wizard);
        waitUntil([&] { return !page.busy(); });
        wizard->OnQuit();
        closed = true;
    };
    testsupport::WhenWindowOpens driver(
        [&] { return platform::findWindow(doc->titlePrefix() + "Edge blending wizard"); }, operate);
    const int storedBefore = store->uploadsStored();
    platform::postMessage(link.frame->handle(), platform::WM_OPEN_SETUP_EDITOR, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return closed && platform::findWindow(doc->titlePrefix() + "Edge blending wizard") == nullptr; }, 60000));
    driver.stop();
    // The upload chain ends with the last file there is; Warp.QVE always goes.
    EXPECT_TRUE(waitUntil([&] { return store->uploadsStored() > storedBefore && exchange.mode() != cfgx::ConfigExchange::Upload; },
                          60000));
    out.uploaded = store->file(cfgx::kCustomShapesNewFile).value_or(QByteArray());
    out.junction = store->file(cfgx::kJunctionPointFile).value_or(QByteArray());
    out.boxes = session.boxes.texts();

    core::registerSetupEditor(1, {});
    core::registerSetupEditor(3, {});
    doc.reset();
    link.frame.reset();
    player->stop();
    return out;
}

}  // namespace

TEST(WarpFilesEndToEnd, ServedShapesSurviveARunWithoutEditsAndAnEditChangesOnlyTheEdgesAtItsCorner)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shows the modal wizard, whose painting the thread checker cannot follow";
    const QByteArray served = servedShapes();
    ASSERT_EQ(served.size(), qsizetype(cfgx::kCustomShapesNewSize));

    struct Case {
        const char* name;
        bool edit;
    } cases[] = {{"shape mode shown, nothing edited", false}, {"bottom-left corner one step right", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WizardRun r = runWizard([&](CWarpMain& wizard) {
            auto& page = wizard.geometricPage();
            page.EnterShapes(1);
            waitUntil([&] { return !page.busy(); });
            // The canvas shows the player's shape, not a fresh one.
            EXPECT_EQ(page.model().shapeCanvas().columnsInUse, 960);
            EXPECT_EQ(page.model().shapeCanvas().at(959, 0).x, 952);
            if (c.edit) {
                auto& model = page.model();
                const WindowPoint corner{int(model.canvas.left), int(539 * model.shapeYScale + model.canvas.top)};
                model.OnButtonDown(0, corner);
                model.OnButtonUp(0, corner);
                page.OnKey(Qt::Key_Right, Qt::NoModifier, true, false);
                page.OnKey(Qt::Key_Right, Qt::NoModifier, false, false);
                waitUntil([&] { return !page.busy(); });
            }
            page.StopShapes();
        });
        EXPECT_EQ(r.boxes.filter("damaged").size(), 0) << r.boxes.join('|').toStdString();
        EXPECT_TRUE(r.junction.isEmpty()) << "grids nobody edited are not pushed";
        ASSERT_EQ(r.uploaded.size(), served.size());
        if (!c.edit) {
            EXPECT_TRUE(r.uploaded == served);
            continue;
        }
        // The corner is stored twice, as bottom point 0 and left point 539;
        // the edges that meet there follow it to their next control point.
        // Nothing else of the file changes: not the other edges, not the
        // other 59 shapes, not a header.
        std::vector<int> changed;
        for (int i = 0; i < served.size(); ++i)
            if (r.uploaded[i] != served[i])
                changed.push_back(i);
        ASSERT_FALSE(changed.empty());
        for (int at : changed) {
            const bool onItsEdges = (at >= pointOffset(1, 0) && at < pointOffset(1, 960)) ||
                                    (at >= pointOffset(2, 0) && at < pointOffset(2, 540));
            EXPECT_TRUE(onItsEdges) << "byte " << at << " changed";
        }
        EXPECT_EQ(r.uploaded.mid(pointOffset(1, 959), 8), served.mid(pointOffset(1, 959), 8)) << "far corner kept";
        EXPECT_EQ(r.uploaded.mid(pointOffset(2, 0), 8), served.mid(pointOffset(2, 0), 8)) << "far corner kept";
        EXPECT_EQ(proto::getU32(reinterpret_cast<const uint8_t*>(r.uploaded.constData()) + pointOffset(1, 0)), 1u);
    }
}
