#include "content/content_commands.h"

#include "common/controls/text_progress_ctrl.h"
#include "content/batch_send_file_tab.h"
#include "content/import_and_export.h"
#include "content/mobile_settings.h"
#include "content/play_mode_dialog.h"
#include "content/set_mov_conf_tab.h"
#include "content/video_control.h"
#include "content/qr_code.h"
#include "content/picture_manager.h"
#include "common/text_coding.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "content/video_store_model.h"
#include "core/command_registry.h"
#include "core/document.h"
#include "core/mainframe.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/window.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>

namespace content {

namespace {

QWidget* mainWindowWidget()
{
    platform::MessageWindow* w = platform::findWindow(platform::appTitle());
    return w ? w->widget() : nullptr;
}

// Shows `dialog` as the modal window it is about to run as, for a dialog that
// loads in view before exec() runs it: exec() cannot make a window that is
// already shown modal (the frame behind would still take clicks and keys),
// and only a window modal as it is shown gets the keyboard from X11 where no
// window manager runs.
void showModal(QDialog& dialog, bool maximized = false)
{
    dialog.setWindowModality(Qt::ApplicationModal);
    if (maximized)
        dialog.showMaximized();
    else
        dialog.show();
}

// The progress bar that lives in the frame's progress pane (made on first use).
CTextProgressCtrl* paneProgress(bool create)
{
    auto* frame = dynamic_cast<CMainFrame*>(platform::findWindow(platform::appTitle()));
    QLabel* pane = frame ? frame->Pane(CMainFrame::kPaneProgress) : nullptr;
    if (!pane)
        return nullptr;
    auto* bar = pane->findChild<CTextProgressCtrl*>(QStringLiteral("PaneProgress"));
    if (!bar && create) {
        bar = new CTextProgressCtrl(pane);
        bar->setObjectName(QStringLiteral("PaneProgress"));
        auto* layout = new QHBoxLayout(pane);
        layout->setContentsMargins(1, 1, 1, 1);
        layout->addWidget(bar);
        bar->setVisible(false);
    }
    return bar;
}

}  // namespace

uint32_t ScreenCount(const std::array<uint8_t, 108>& block)
{
    uint32_t count = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const uint8_t* s = block.data() + 4 + 8 * i;
        if (proto::getU16(s + 4) != 0 && proto::getU16(s + 6) != 0)
            ++count;
    }
    return count;
}

void OpenVideoSource(CvelunaDoc& doc)
{
    CSetMovConfTab dialog(doc.titlePrefix(), ScreenCount(doc.outputBlock()), doc.currentPlayer().version,
                          doc.currentPlayer().ip, mainWindowWidget());
    dialog.OnInitDialog();
    dialog.exec();
}

void OpenImportExport(CvelunaDoc& doc)
{
    CImportAndExport dialog(doc.titlePrefix(), doc.playerFolder(), doc.currentPlayer().id, mainWindowWidget());
    dialog.progressRange = SetStatusProgressRange;
    dialog.progressPos = SetStatusProgressPos;
    dialog.exec();
}

void OpenPicturePlayControl(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    CPicturePlayControl dialog(doc.titlePrefix(), doc.tempFolder(), doc.currentPlayer().ip, mainWindowWidget());
    dialog.OnInitDialog();
    dialog.exec();
}

void OpenVideoPlayControl(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    CVideoPlayControl dialog(doc.titlePrefix(), doc.tempFolder(), doc.currentPlayer().ip, mainWindowWidget());
    dialog.OnInitDialog();
    dialog.exec();
}

void OpenMobileSettings(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    CMobileSettings dialog(doc.titlePrefix(), doc.tempFolder(), mainWindowWidget());
    dialog.OnInitDialog();
    dialog.exec();
}

void (*batchBeforeExec)(CBatchSendFileTab&) = nullptr;

void OpenBatchSend(CvelunaDoc& doc)
{
    doc.CloseAllLinks();
    doc.ResetSequence();
    doc.ClearConnected();
    CBatchSendFileTab dialog(doc.titlePrefix(), mainWindowWidget());
    if (batchBeforeExec)
        batchBeforeExec(dialog);
    dialog.exec();
}

std::function<void(const PlayerReply&)> LayoutListForwarder(CvelunaDoc& doc,
                                                            std::function<void(const PlayerReply&)> previous)
{
    return [&doc, previous](const PlayerReply& r) {
        platform::MessageWindow* window =
            replies::FindDialog(doc.titlePrefix(), platform::appLanguage(), replies::kVideoControl);
        if (!window) {
            if (previous)
                previous(r);
            return;
        }
        if (r.header.arg != 0) {
            const bool zh = platform::appLanguage() == 4;
            platform::messageBox(zh ? QStringLiteral("布局已锁定，请先解锁！")
                                    : QStringLiteral("The layout is locked, please unlock it first!"));
            return;
        }
        if (r.header.subCode != 0) {
            if (previous)
                previous(r);
            return;
        }
        const QString names = text::DoubleByteTextToCString(r.bytes());
        platform::sendMessage(window, platform::WM_VIDEO_UPLOAD_REPLY, 0, platform::LPARAM(&names));
    };
}

void OpenVideoControl(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    auto previous = doc.onLayoutReply;
    doc.onLayoutReply = LayoutListForwarder(doc, previous);
    {
        CVideoControl dialog(doc.titlePrefix(), doc.tempFolder(), mainWindowWidget());
        dialog.OnInitDialog();
        showModal(dialog, true);
        dialog.exec();
    }
    doc.onLayoutReply = previous;
}

void OpenQrCode(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    CQRCode dialog(doc.titlePrefix(), doc.tempFolder(), doc.outputBlock(), mainWindowWidget());
    showModal(dialog);
    dialog.OnInitDialog();
    dialog.exec();
}

void OpenPictureManager(CvelunaDoc& doc)
{
    platform::ensureFolder(doc.tempFolder());
    CPictureManager dialog(doc.titlePrefix(), doc.tempFolder(), doc.currentPlayer().ip, mainWindowWidget());
    showModal(dialog);
    dialog.OnInitDialog();
    // Closed while it was loading: it stays closed.
    if (!dialog.closed())
        dialog.exec();
}

void SetStatusProgressRange(int range)
{
    CTextProgressCtrl* bar = paneProgress(range > 0);
    if (!bar)
        return;
    if (range > 0) {
        bar->SetRange(0, uint64_t(range));
        bar->SetPos(0);
        bar->setVisible(true);
    } else {
        bar->setVisible(false);
    }
}

void SetStatusProgressPos(int percent)
{
    if (CTextProgressCtrl* bar = paneProgress(false))
        bar->SetPos(uint64_t(std::max(0, percent)));
}

void InstallContentCommands()
{
    core::registerCommand(kCmdVideoSource, {nullptr, OpenVideoSource});
    core::registerCommand(kCmdImportExport, {nullptr, OpenImportExport});
    core::registerCommand(kCmdPicturePlay, {nullptr, OpenPicturePlayControl});
    core::registerCommand(kCmdVideoPlay, {nullptr, OpenVideoPlayControl});
    core::registerCommand(kCmdMobile, {nullptr, OpenMobileSettings});
    core::registerCommand(kCmdBatchSend, {nullptr, OpenBatchSend});
    core::registerCommand(kCmdVideoControl, {nullptr, OpenVideoControl});
    core::registerCommand(kCmdQrCode, {nullptr, OpenQrCode});
    core::registerCommand(kCmdPictureManager, {nullptr, OpenPictureManager});
}

}  // namespace content
