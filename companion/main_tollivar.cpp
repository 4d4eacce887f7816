// Tollivar: the companion program. Start-up, the main dialog and the table of
// feature windows its buttons open.

#include "companion/tollivar_app.h"

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
    tollivarApp.CreateMainDialog(std::move(openers));
    const int code = tollivarApp.Run();
    tollivarApp.ExitInstance();
    return code;
}
