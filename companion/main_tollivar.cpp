// Tollivar: the companion program. Start-up, the main dialog and the table of
// feature windows its buttons open.

#include "companion/control_protocol.h"
#include "companion/osd_dialog.h"
#include "companion/tollivar_app.h"
#include "companion/video_control_tab.h"
#include "companion/video_set_wizard.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tollivar"));
    tollivar::CTollivarApp tollivarApp;
    if (!tollivarApp.InitInstance())
        return 0;
    // One opener per button. The feature windows that are not part of this
    // build leave their button disabled.
    tollivar::FeatureOpeners openers;
    openers.setupUart = [](const tollivar::FeatureContext& context) {
        OpenControlProtocol(context.parent, context.titlePrefix, context.tempFolder);
    };
    openers.videoSet = [](const tollivar::FeatureContext& context) {
        OpenVideoSetWizard(context.parent, context.titlePrefix, context.tempFolder);
    };
    openers.videoControl = tollivar::OpenVideoControl;
    openers.osd = [](const tollivar::FeatureContext& context) { OpenOsd(context.parent, context.tempFolder); };
    tollivarApp.CreateMainDialog(std::move(openers));
    const int code = tollivarApp.Run();
    tollivarApp.ExitInstance();
    return code;
}
