// veluna: the installer's tool for networked video players.
//   veluna                      start normally
//   veluna -IP -PORT -MAC       start and connect to that player
//   veluna --version            print the title and exit (for scripts)
#include "core/app.h"
#include "core/document_relay.h"
#include "core/main_veluna_features.h"
#include "core/mainframe.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>

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
    InstallFeatures();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    int result = 1;
    {
        CvelunaApp app;
        if (app.InitInstance([&arguments](CMainFrame* frame) -> std::unique_ptr<FrameDocument> {
                return std::make_unique<CDocumentRelay>(frame, arguments);
            })) {
            result = QApplication::exec();
        }
        app.ExitInstance();
    }
    return result;
}
