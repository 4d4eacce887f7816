// veluna: the installer's tool for networked video players.
//   veluna                      start normally
//   veluna -IP -PORT -MAC       start and connect to that player
//   veluna --version            print the title and exit (for scripts)
#include "calibration/blend_commands.h"
#include "common/controls/save_param_wait.h"
#include "content/content_commands.h"
#include "core/app.h"
#include "core/command_registry.h"
#include "core/devices/device_commands.h"
#include "core/document.h"
#include "core/editor_hooks.h"
#include "core/layout/layout_commands.h"
#include "core/mainframe.h"
#include "core/scan_for_devices.h"
#include "calibration/calibration_feature.h"
#include "rotation/rotation_feature.h"
#include "interactive/interactive_commands.h"
#include "core/views/layout_views.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Binds the frame's relays and timer to the document.
class DocumentRelay : public FrameDocument {
public:
    DocumentRelay(CMainFrame* frame, const QStringList& arguments) : doc_(frame, arguments)
    {
        doc_.setStatusPaneText = [frame](int id, const QString& text) { frame->SetPaneText(id, text); };
        doc_.setWindowTitle = [frame](const QString& title) { frame->setWindowTitle(title); };
        doc_.runScanDialog = [this, frame] { return RunPlayerConnectionScan(doc_.titlePrefix(), frame); };
        AttachLayoutViews(*frame, doc_);
        frame_ = frame;
        // The frame owns the box; it outlives the document.
        waitBox_ = new CSaveParamWait(frame->language(), frame);
        doc_.showWaitBox = [this](const QString& text) {
            if (waitBox_)
                waitBox_->ShowWait(text, 10);  // the box counts down from 10
        };
        doc_.openUpgradeDialog = [this](int mode) { OpenUpgradeDialog(doc_, uint8_t(mode)); };
        doc_.hideWaitBox = [this] {
            if (waitBox_)
                waitBox_->CloseWait();
        };
    }

    void SendToPlayers(const SendRequest& request) override { doc_.SendToPlayers(request); }
    void OnLinkEvent(const LinkEvent& event) override { doc_.OnLinkEvent(event); }
    void TickAutoConnect() override { doc_.TickAutoConnect(); }
    bool TickWaitBox() override { return doc_.TickWaitBox(); }
    void StepConfigExchange() override { doc_.StepConfigExchange(); }
    void ResetSequence() override { doc_.ResetSequence(); }
    void CloseAllLinks() override { doc_.CloseAllLinks(); }
    bool IsLayoutDirty() const override { return doc_.IsLayoutDirty(); }
    void SaveLayout() override { doc_.SaveLayout(); }
    void OnPlayerConnectionSettings() override { doc_.OnPlayerConnectionSettings(); }
    void OnReconnect() override { doc_.OnReconnect(); }
    void OnReboot() override { doc_.OnReboot(); }
    bool CanReconnect() const override { return doc_.CanReconnect(); }
    void OpenSetupEditor() override { core::openSetupEditor(doc_); }
    bool IsConnected() const override { return doc_.IsConnected(); }
    bool IsCommandEnabled(int id) const override
    {
        const core::CommandEntry* entry = core::findCommand(id);
        return entry && (!entry->enabled || entry->enabled(doc_));
    }
    void OpenVideoPicWindow() override { OpenVideoPicWindowDialog(doc_); }
    std::optional<bool> IsCommandChecked(int id) const override
    {
        const core::CommandEntry* entry = core::findCommand(id);
        if (!entry || !entry->checked)
            return std::nullopt;
        return entry->checked(doc_);
    }
    void OnCommand(int id) override
    {
        const core::CommandEntry* entry = core::findCommand(id);
        if (entry && entry->run && IsCommandEnabled(id))
            entry->run(doc_);
    }

    ~DocumentRelay() override
    {
        if (frame_)
            DetachLayoutViews(*frame_);
    }

private:
    QPointer<CMainFrame> frame_;
    QPointer<CSaveParamWait> waitBox_;
    CvelunaDoc doc_;
};

// Each feature library above the core registers its commands and openers
// here (core/command_registry.h); the core itself names none of them.
void InstallFeatures()
{
    content::InstallContentCommands();
    InstallRotationFeature();
    InstallDeviceCommands();
    calib::InstallBlendCommands();
    layout::InstallLayoutCommands();
    interactive::InstallInteractiveCommands();
    InstallCalibrationFeature();
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            QCoreApplication core(argc, argv);
            std::printf("%s\n", BuildTitle().toUtf8().constData());
            return 0;
        }
    }

    QApplication qapp(argc, argv);
    InstallScanCommands();
    InstallFeatures();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    int result = 1;
    {
        CvelunaApp app;
        if (app.InitInstance([&arguments](CMainFrame* frame) -> std::unique_ptr<FrameDocument> {
                return std::make_unique<DocumentRelay>(frame, arguments);
            })) {
            result = QApplication::exec();
        }
        app.ExitInstance();
    }
    return result;
}
