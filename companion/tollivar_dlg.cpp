#include "companion/tollivar_dlg.h"

#include "common/controls/dialog_keys.h"
#include "companion/about_dialog.h"
#include "companion/scan_for_devices.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

namespace tollivar {

QString CaptionPrefixOf(const QString& title)
{
    const qsizetype blank = title.indexOf(QLatin1Char(' '));
    return (blank < 0 ? title : title.left(blank)) + QLatin1Char('-');
}

bool DeleteFolderTree(const QString& path)
{
    const QFileInfo top(path);
    // A link in place of the folder is removed as a link.
    if (top.isSymLink())
        return QFile::remove(path);
    if (!top.isDir())
        return !top.exists();
    bool whole = true;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QString entry = it.next();
        const QFileInfo info(entry);
        // Checked before isDir: a link to a folder is never entered, so no
        // file outside our own folder can be deleted through it.
        if (info.isSymLink() || !info.isDir())
            whole = QFile::remove(entry) && whole;
        else
            whole = DeleteFolderTree(entry) && whole;
    }
    return QDir().rmdir(path) && whole;
}

namespace {

}  // namespace

CTollivarDlg::CTollivarDlg(const QString& title, unsigned language, FeatureOpeners openers, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(language),
      openers_(std::move(openers))
{
    setObjectName(QStringLiteral("130"));
    // Every window of the program finds this one by the title.
    setWindowTitle(title);
    titlePrefix_ = CaptionPrefixOf(title);
    // Tollivar's working files live in a folder of its own: veluna, beside
    // it, makes and deletes a Temp folder of its own.
    const QString temp = platform::homePath(QStringLiteral("Tollivar/Temp"));
    platform::ensureFolder(temp);
    tempFolder_ = temp + QLatin1Char('/');
    hub_ = std::make_unique<CLinkHub>(*this, titlePrefix_, language_);
    scanRunner_ = RunCompanionScan;

    struct Spec {
        ButtonId id;
        const char* english;
        const char* chinese;
        void (CTollivarDlg::*handler)();
        const FeatureOpener* opener;
    };
    const Spec specs[4] = {
        {kVideoSet, "Video Set", "视频设置", &CTollivarDlg::OnVideoSet, &openers_.videoSet},
        {kVideoControl, "Video Control", "视频控制", &CTollivarDlg::OnVideoControl, &openers_.videoControl},
        {kOsd, "OSD", "OSD", &CTollivarDlg::OnOsd, &openers_.osd},
        {kSetupUart, "Setup UART", "串口设置", &CTollivarDlg::OnSetupUart, &openers_.setupUart},
    };
    // One column: the hidden "Video Set" leaves no gap.
    auto* grid = new QVBoxLayout;
    for (int i = 0; i < 4; ++i) {
        const Spec& s = specs[i];
        QPushButton* b = controls::MakeButton(Text(s.english, s.chinese), s.id, this);
        b->setMinimumSize(260, 48);
        b->setEnabled(bool(*s.opener));
        QObject::connect(b, &QPushButton::clicked, this, [this, h = s.handler] { (this->*h)(); });
        buttons_[i] = b;
        grid->addWidget(b);
    }
    // The English user interface does not offer the video set wizard.
    buttons_[0]->setVisible(language_ == platform::kLanguageChinese);

    QPushButton* exitButton = controls::MakeButton(Text("Exit", "退出"), 2, this);
    QObject::connect(exitButton, &QPushButton::clicked, this, [this] { reject(); });
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(exitButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(bottom);

    // The window menu's "About" entry.
    auto* about = new QAction(Text("about Tollivar(&A)...", "关于 Tollivar(&A)..."), this);
    QObject::connect(about, &QAction::triggered, this, [this] { OnAbout(); });
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    resize(320, 300);
}

CTollivarDlg::~CTollivarDlg()
{
    hub_.reset();  // joins the link threads while the window still exists
}

QString CTollivarDlg::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

QPushButton* CTollivarDlg::button(ButtonId id) const
{
    const int i = int(id) - int(kVideoSet);
    return i >= 0 && i < 4 ? buttons_[i] : nullptr;
}

void CTollivarDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter must not close the launcher; Esc asks like "Exit".
    if (controls::IsEnterKey(event->key())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTollivarDlg::RunScannedFeature(const FeatureOpener& opener, bool tickBoxes)
{
    if (!opener)
        return;
    // Every feature window starts with no open link and connects on demand.
    hub_->CloseAllLinks();
    currentDevice_ = PlayerRow();
    hub_->SetCurrentTarget(QString(), 0);
    devices_.clear();
    std::optional<ScanOutcome> outcome = scanRunner_ ? scanRunner_(titlePrefix_, tickBoxes, this) : std::nullopt;
    if (!outcome)
        return;
    currentDevice_ = outcome->chosen;
    hub_->SetCurrentTarget(currentDevice_.ip, uint16_t(currentDevice_.portText.toUInt()));
    devices_ = outcome->devices;

    FeatureContext context;
    context.titlePrefix = titlePrefix_;
    context.tempFolder = tempFolder_;
    context.device = currentDevice_;
    context.ticked = outcome->ticked;
    context.devices = devices_;
    context.parent = this;
    opener(context);
    hub_->CloseAllLinks();
}

void CTollivarDlg::OnVideoSet()
{
    if (!openers_.videoSet)
        return;
    FeatureContext context;
    context.titlePrefix = titlePrefix_;
    context.tempFolder = tempFolder_;
    context.parent = this;
    openers_.videoSet(context);
}

void CTollivarDlg::OnVideoControl()
{
    RunScannedFeature(openers_.videoControl, true);
}

void CTollivarDlg::OnOsd()
{
    RunScannedFeature(openers_.osd, false);
}

void CTollivarDlg::OnSetupUart()
{
    RunScannedFeature(openers_.setupUart, false);
}

void CTollivarDlg::OnAbout()
{
    CAboutDlg about(windowTitle(), language_, this);
    about.exec();
}

void CTollivarDlg::reject()
{
    // Exit while the window fades out asks nothing more.
    if (closing_)
        return;
    if (platform::messageBox(Text("Do you really want to exit?", "【真的要退出程序吗?】"), QString(),
                             platform::MsgButtons::YesNo, platform::MsgIcon::Question, this) != platform::MsgResult::Yes)
        return;
    closing_ = true;
    // Whether every file could go does not stop the exit.
    DeleteFolderTree(QDir::cleanPath(tempFolder_));
    if (!isVisible()) {
        QDialog::reject();
        return;
    }
    // The window fades out over a second, then the dialog ends.
    auto* fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(1000);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    QObject::connect(fade, &QPropertyAnimation::finished, this, [this] {
        // Hidden first: ending a shown dialog closes it, and its close
        // handling would come back here.
        hide();
        QDialog::reject();
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CTollivarDlg::CloseWithoutQuestions()
{
    if (signalled_)
        return;
    signalled_ = true;
    closing_ = true;
    QCoreApplication::exit(0);
}

void CTollivarDlg::EndAfterSignal()
{
    hide();
    hub_->CloseAllLinks();
    // Whether every file could go does not stop the end.
    DeleteFolderTree(QDir::cleanPath(tempFolder_));
}

}  // namespace tollivar
