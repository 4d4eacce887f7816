#include "core/views/layout_views.h"

#include "core/document.h"
#include "core/mainframe.h"
#include "core/views/content_view.h"
#include "core/views/controls_view.h"
#include "core/views/layout_tree_view.h"

#include <QPointer>

void AttachLayoutViews(CMainFrame& frame, CvelunaDoc& document)
{
    QPointer<CContentTabView> tabs = frame.contentTabView();
    QPointer<CControlsView> controls = frame.controlsView();
    if (tabs)
        tabs->SetDocument(&document);
    if (controls)
        controls->SetDocument(&document);
    if (CLayoutTreeView* tree = frame.layoutTreeView())
        tree->SetDocument(&document);
    document.layoutViewsChanged = [tabs, controls] {
        if (tabs) {
            for (int s = 0; s < 4; ++s)
                tabs->view(s)->RefreshSelection(false);
        }
        if (controls)
            controls->viewport()->update();
    };
    // Zoom and lock of the two screen views follow the document's settings.
    CvelunaDoc* settingsDoc = &document;
    document.viewSettingsChanged = [tabs, settingsDoc] {
        if (!tabs)
            return;
        const layout::ViewSettings& s = settingsDoc->viewSettings();
        for (int v = 0; v < 2; ++v) {
            tabs->view(v)->SetZoom(s.zoom[std::size_t(v)]);
            tabs->view(v)->SetLocked(s.locked);
        }
    };
    // The player's status: each canvas takes its screen's size, and the
    // second tab shows when the player has a second screen.
    auto previous = document.onScreensChanged;
    CvelunaDoc* doc = &document;
    document.onScreensChanged = [previous, tabs, doc](const std::array<uint8_t, CvelunaDoc::kOutputBlockSize>& block) {
        if (previous)
            previous(block);
        if (!tabs)
            return;
        const CImageManage& m = doc->imageManage();
        for (int s = 0; s < 4; ++s) {
            const layout::LayoutRect area = m.screen(s).area;
            if (!area.isEmpty())
                tabs->view(s)->SetCanvasSize(area.width(), area.height());
        }
        tabs->SetScreenVisible(1, !m.screen(1).area.isEmpty());
    };
}

void DetachLayoutViews(CMainFrame& frame)
{
    if (CContentTabView* tabs = frame.contentTabView())
        tabs->SetDocument(nullptr);
    if (CControlsView* controls = frame.controlsView())
        controls->SetDocument(nullptr);
    if (CLayoutTreeView* tree = frame.layoutTreeView())
        tree->SetDocument(nullptr);
}
