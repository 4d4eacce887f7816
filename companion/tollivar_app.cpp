#include "companion/tollivar_app.h"

#include "common/app_title.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/qt_translations.h"
#include "platform/termination.h"

#include <QApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

namespace tollivar {

QString ApplicationName()
{
    return QStringLiteral("Tollivar V1.23");
}

QString BuildTitle()
{
    return LoadTitlePrefix(ApplicationName(), platform::homePath(QStringLiteral("Templates/Co.txt")));
}

QString ActivationSocketPath(const QString& title)
{
    QString name = InstanceLockName(title);
    name.replace(QStringLiteral(".lock"), QStringLiteral(".raise"));
    return InstanceLockFolder() + QLatin1Char('/') + name;
}

CTollivarApp::CTollivarApp() = default;

CTollivarApp::~CTollivarApp()
{
    ExitInstance();
}

bool CTollivarApp::InitInstance()
{
    title_ = BuildTitle();
    platform::setAppTitle(title_);
    language_ = platform::languageCode();
    platform::setAppLanguage(language_);
    // Qt's own buttons (Yes, No, OK) speak the program's language.
    platform::installQtTranslations(language_);

    lock_ = std::make_unique<QLockFile>(InstanceLockFolder() + QLatin1Char('/') + InstanceLockName(title_));
    // Only a lock whose process has gone counts as stale, never an old one.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        platform::messageBox(SecondInstanceText(language_), QString(), platform::MsgButtons::Ok,
                             platform::MsgIcon::Question);
        // Ask the running instance to come forward; it may not listen (yet).
        QLocalSocket socket;
        socket.connectToServer(ActivationSocketPath(title_));
        if (socket.waitForConnected(1000)) {
            socket.write("raise\n");
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
        }
        return false;
    }
    ListenForActivation();
    return true;
}

void CTollivarApp::ListenForActivation()
{
    const QString path = ActivationSocketPath(title_);
    // We hold the lock, so a socket file left there belongs to a copy that died.
    QLocalServer::removeServer(path);
    activation_ = std::make_unique<QLocalServer>();
    activation_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!activation_->listen(path)) {
        activation_.reset();
        return;
    }
    QObject::connect(activation_.get(), &QLocalServer::newConnection, activation_.get(), [this] {
        while (QLocalSocket* peer = activation_->nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            BringForward();
        }
    });
}

void CTollivarApp::BringForward()
{
    if (!dialog_)
        return;
    // SW_RESTORE, then the foreground for the window and its last active pop-up.
    dialog_->setWindowState(dialog_->windowState() & ~Qt::WindowMinimized);
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
    if (QWidget* popup = QApplication::activeModalWidget(); popup && popup != dialog_.get()) {
        popup->raise();
        popup->activateWindow();
    }
}

CTollivarDlg& CTollivarApp::CreateMainDialog(FeatureOpeners openers)
{
    dialog_ = std::make_unique<CTollivarDlg>(title_, language_, std::move(openers));
    CloseOnSignals(dialog_.get());
    return *dialog_;
}

void CloseOnSignals(CTollivarDlg* dialog)
{
    if (dialog)
        platform::installTerminationHandler([dialog] { dialog->CloseWithoutQuestions(); });
    else
        platform::installTerminationHandler(nullptr);
}

void RunMainDialog(CTollivarDlg& dialog)
{
    dialog.exec();
    if (dialog.IsClosingBySignal())
        dialog.EndAfterSignal();
}

int CTollivarApp::Run()
{
    if (!dialog_)
        return 1;
    RunMainDialog(*dialog_);
    return 0;
}

void CTollivarApp::ExitInstance()
{
    // The dialog goes below: a signal from now on changes nothing more.
    if (dialog_)
        CloseOnSignals(nullptr);
    dialog_.reset();  // joins the link threads
    if (activation_) {
        activation_->close();
        activation_.reset();
    }
    if (lock_) {
        lock_->unlock();
        lock_.reset();
    }
}

}  // namespace tollivar
