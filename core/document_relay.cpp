#include "core/document_relay.h"

#include "common/controls/save_param_wait.h"
#include "core/command_registry.h"
#include "core/devices/device_commands.h"
#include "core/scan_for_devices.h"
#include "core/views/content_view.h"
#include "core/views/layout_views.h"

CDocumentRelay::CDocumentRelay(CMainFrame* frame, const QStringList& arguments) : doc_(frame, arguments)
{
    doc_.setStatusPaneText = [frame](int id, const QString& text) { frame->SetPaneText(id, text); };
    doc_.setWindowTitle = [frame](const QString& title) { frame->setWindowTitle(title); };
    doc_.runScanDialog = [this, frame] { return RunPlayerConnectionScan(doc_.titlePrefix(), frame); };
    AttachLayoutViews(*frame, doc_);
    frame_ = frame;
    // The frame owns the box; it outlives the document.
    waitBox_ = new CSaveParamWait(frame->language(), frame);
    doc_.showWaitBox = [this](const QString& text) {
        if (!waitBox_)
            return;
        waitBox_->ShowWait(text, 10);  // the box counts down from 10
        // Over the middle of the canvas the operator is looking at.
        if (frame_ && frame_->contentTabView())
            if (QWidget* canvas = frame_->contentTabView()->currentWidget())
                waitBox_->move(canvas->mapToGlobal(canvas->rect().center()) -
                               QPoint(waitBox_->width() / 2, waitBox_->height() / 2));
    };
    doc_.openUpgradeDialog = [this](int mode) { OpenUpgradeDialog(doc_, uint8_t(mode)); };
    doc_.hideWaitBox = [this] {
        if (waitBox_)
            waitBox_->CloseWait();
    };
}

CDocumentRelay::~CDocumentRelay()
{
    if (frame_)
        DetachLayoutViews(*frame_);
}

bool CDocumentRelay::IsCommandEnabled(int id) const
{
    return core::IsCommandEnabled(doc_, id);
}

void CDocumentRelay::OpenVideoPicWindow()
{
    OpenVideoPicWindowDialog(doc_);
}

std::optional<bool> CDocumentRelay::IsCommandChecked(int id) const
{
    const core::CommandEntry* entry = core::findCommand(id);
    if (!entry || !entry->checked)
        return std::nullopt;
    return entry->checked(doc_);
}

void CDocumentRelay::OnCommand(int id)
{
    const core::CommandEntry* entry = core::findCommand(id);
    if (entry && entry->run && IsCommandEnabled(id))
        entry->run(doc_);
}
