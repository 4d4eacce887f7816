#include "core/app.h"

#include "core/mainframe.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/qt_translations.h"
#include "platform/termination.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>

QString ApplicationName()
{
    return QStringLiteral("veluna V9.1.5");
}

QString BuildTitle()
{
    return LoadTitlePrefix(ApplicationName(), platform::homePath(QStringLiteral("Templates/Co.txt")));
}

DisplayCheck CheckDisplay(int width, int height, double dpiX, double dpiY)
{
    if (dpiX > kMaxDpi || dpiY > kMaxDpi)
        return DisplayCheck::ScaleTooHigh;
    if (width < kMinScreenWidth || height < kMinScreenHeight)
        return DisplayCheck::TooSmall;
    return DisplayCheck::Ok;
}

QString DisplayRefusalText(DisplayCheck check, unsigned language)
{
    switch (check) {
    case DisplayCheck::ScaleTooHigh:
        return platform::pickText(language, "Please change your display scale to 100%，reboot",
                                  "请把显示缩放比调整到100%,重启电脑。");
    case DisplayCheck::TooSmall:
        return platform::pickText(language, "Please change the display resolution to 1366X768.",
                                  "请把显示分辨率调整到1366X768以上。");
    case DisplayCheck::Ok:
        break;
    }
    return QString();
}

CvelunaApp::CvelunaApp() = default;

CvelunaApp::~CvelunaApp()
{
    ExitInstance();
}

bool CvelunaApp::TakeInstanceLock()
{
    instanceLock_ = std::make_unique<QLockFile>(InstanceLockFolder() + QLatin1Char('/') + InstanceLockName(title_));
    // Only a lock whose process has gone counts as stale, never an old one.
    instanceLock_->setStaleLockTime(0);
    if (instanceLock_->tryLock(0))
        return true;
    instanceLock_.reset();
    return false;
}

bool CvelunaApp::InitInstance(const DocumentFactory& makeDocument)
{
    using platform::MsgButtons;
    using platform::MsgIcon;

    title_ = BuildTitle();
    platform::setAppTitle(title_);
    language_ = platform::languageCode();
    platform::setAppLanguage(language_);
    // Buttons and dialogs Qt draws itself speak the language picked here.
    platform::installQtTranslations(language_);

    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        // Device pixels: a scaled display reports fewer logical pixels and a
        // device pixel ratio above 1.
        const double ratio = screen->devicePixelRatio();
        const QSize size = screen->geometry().size() * ratio;
        const DisplayCheck check = CheckDisplay(size.width(), size.height(), screen->logicalDotsPerInchX() * ratio,
                                                screen->logicalDotsPerInchY() * ratio);
        if (check != DisplayCheck::Ok) {
            platform::messageBox(DisplayRefusalText(check, language_), QString(), MsgButtons::Ok, MsgIcon::Question);
            return false;
        }
    }

    if (!TakeInstanceLock()) {
        platform::messageBox(SecondInstanceText(language_), QString(), MsgButtons::Ok, MsgIcon::Question);
        return false;
    }

    frame_ = std::make_unique<CMainFrame>(title_, language_);
    // SIGTERM, SIGINT and SIGHUP close as Exit does, without its questions.
    CMainFrame* frame = frame_.get();
    platform::installTerminationHandler([frame] { frame->CloseWithoutQuestions(); });
    if (makeDocument) {
        document_ = makeDocument(frame_.get());
        frame_->SetDocument(document_.get());
    }
    // Without a window manager (a bare X server) "maximised" is only a wish:
    // start at the screen's full working area so the frame is usable either way.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frame_->setGeometry(screen->availableGeometry());
    frame_->showMaximized();
    frame_->setWindowTitle(platform::appTitle());
    // A window manager gives a new window the keyboard; a bare X server
    // leaves it with the root window, where no menu key or shortcut lands.
    frame_->activateWindow();
    return true;
}

int CvelunaApp::ExitInstance()
{
    // The frame goes below: a signal from now on changes nothing more.
    if (frame_)
        platform::installTerminationHandler(nullptr);
    if (frame_)
        frame_->SetDocument(nullptr);
    document_.reset();  // joins the link threads while the frame still exists
    frame_.reset();
    if (instanceLock_) {
        instanceLock_->unlock();
        instanceLock_.reset();
    }
    return 0;
}
