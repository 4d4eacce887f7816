#pragma once
// CTollivarApp: Tollivar's start-up. Decides the window title (by which every
// window finds the main dialog), the language code every dialog copies, and
// lets one instance run per title: a second start shows the refusal and
// brings the running one forward.

#include "companion/tollivar_dlg.h"

#include <QLockFile>
#include <QString>

#include <memory>

class QLocalServer;

namespace tollivar {

// "Tollivar V1.23".
QString ApplicationName();
// The application name with Templates/Co.txt (under the home) applied.
QString BuildTitle();
// Where a running instance listens for a second start's wish to bring it
// forward: a socket beside the instance lock, named by the title's digest.
QString ActivationSocketPath(const QString& title);

// SIGTERM, SIGINT and SIGHUP close `dialog` without questions (see
// CTollivarDlg::CloseWithoutQuestions); a null dialog undoes it.
void CloseOnSignals(CTollivarDlg* dialog);
// Runs the main dialog modally, finishing a close a signal began.
void RunMainDialog(CTollivarDlg& dialog);

class CTollivarApp {
public:
    CTollivarApp();
    ~CTollivarApp();
    CTollivarApp(const CTollivarApp&) = delete;
    CTollivarApp& operator=(const CTollivarApp&) = delete;

    // Title, language, the instance lock. False when another instance with
    // the same title runs: it has been asked to come forward and the
    // refusal has been shown.
    bool InitInstance();
    // Builds the main dialog with the feature openers (not shown yet).
    CTollivarDlg& CreateMainDialog(FeatureOpeners openers);
    // Runs the main dialog modally; the program ends with it.
    int Run();
    void ExitInstance();

    QString title() const { return title_; }
    unsigned language() const { return language_; }
    CTollivarDlg* mainDialog() const { return dialog_.get(); }

private:
    void ListenForActivation();
    void BringForward();

    QString title_;
    unsigned language_ = platform::kLanguageEnglish;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> activation_;
    std::unique_ptr<CTollivarDlg> dialog_;
};

}  // namespace tollivar
