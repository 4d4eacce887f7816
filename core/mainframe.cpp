#include "core/mainframe.h"

#include "core/command_registry.h"
#include "core/command_table.h"

#include "core/about_dialog.h"
#include "core/views/content_view.h"
#include "core/views/controls_view.h"
#include "core/views/layout_tree_view.h"
#include "core/views/pane_names.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "transport/records.h"
#include "transport/tcp_client.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// A status-bar pane that asks for its own width but lets a narrow window
// squeeze it instead of growing past the screen.
class PaneLabel : public QLabel {
public:
    PaneLabel(int width, QWidget* parent) : QLabel(parent), width_(width) {}
    QSize sizeHint() const override
    {
        QSize s = QLabel::sizeHint();
        if (width_ > 0)
            s.setWidth(width_);
        return s;
    }
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

private:
    int width_;
};

// The splitter tells the frame after each of its own resizes, so the frame
// can put the proportions back.
class FrameSplitter : public QSplitter {
public:
    FrameSplitter(CMainFrame* frame, QWidget* parent) : QSplitter(Qt::Horizontal, parent), frame_(frame) {}

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QSplitter::resizeEvent(event);
        frame_->RelayoutSplitter();
    }

private:
    CMainFrame* frame_;
};

struct LookEntry {
    unsigned id;
    const char* name;
};
const LookEntry kLooks[] = {
    {205, "Windows 2000"},     {206, "Office XP"},          {207, "Windows XP"},
    {208, "Office 2003"},      {209, "Visual Studio 2005"}, {210, "Visual Studio 2008"},
    {215, "Office 2007 (Blue Style)"}, {216, "Office 2007 (Black Style)"},
    {217, "Office 2007 (Silver Style)"}, {218, "Office 2007 (Aqua Style)"}, {219, "Windows 7"},
};

}  // namespace

CMainFrame::CMainFrame(const QString& title, unsigned language, QWidget* parent)
    : QMainWindow(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(language)
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("CMainFrame"));
    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildSplitter();

    unsigned stored = kLookDefault;
    {
        auto settings = platform::settings();
        bool ok = false;
        stored = settings->value(QStringLiteral("ApplicationLook"), kLookDefault).toUInt(&ok);
        if (!ok || !IsLook(stored))
            stored = kLookDefault;
    }
    ApplyLook(stored, false);

    BindMessages();
    platform::MessageWindow::setTimer(kTimerDuties, kTimerMs);
    // The clipboard is the user's: a window block carries data only, so one
    // left by an earlier run is safe to paste and is not cleared here.
    UpdateCommandUI();
}

CMainFrame::~CMainFrame()
{
    platform::MessageWindow::killTimer(kTimerDuties);
}

QString CMainFrame::Text(const char* english, const char* chinese) const
{
    return platform::pickText(language_, english, chinese);
}

void CMainFrame::SetDocument(FrameDocument* document)
{
    document_ = document;
    UpdateCommandUI();
}

// ---------------------------------------------------------------- bars

QAction* CMainFrame::AddCommand(QMenu* menu, int id)
{
    // Commands of the command table carry its labels.
    const core::CommandRow* row = core::FindCommandRow(id);
    Q_ASSERT(row);
    return AddCommand(menu, id, row->english, row->chinese);
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const char* english, const char* chinese)
{
    QAction* action = nullptr;
    auto found = commands_.find(id);
    if (found != commands_.end()) {
        action = found->second;
    } else {
        action = new QAction(Text(english, chinese), this);
        action->setObjectName(QString::number(id));
        action->setEnabled(false);  // features not built yet stay disabled
        commands_[id] = action;
        connect(action, &QAction::triggered, this, [this, id] {
            if (document_ && core::findCommand(id)) {
                document_->OnCommand(id);
                UpdateCommandUI();
            }
        });
    }
    if (menu)
        menu->addAction(action);
    return action;
}

void CMainFrame::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("59398"));
    const bool chinese = language_ == platform::kLanguageChinese;

    QMenu* layout = bar->addMenu(Text("Layout", "布局"));
    for (int id : {57600, 57601, 57603, 32770})
        AddCommand(layout, id);
    layout->addSeparator();
    AddCommand(layout, kCmdExit, "Exit", "退出");

    QMenu* edit = bar->addMenu(Text("Edit", "编辑"));
    for (int id : {32771, 32772})
        AddCommand(edit, id);

    QMenu* view = bar->addMenu(Text("View", "视图"));
    QAction* toolbar = AddCommand(view, kCmdToolbar, "Toolbar", "工具栏");
    QAction* status = AddCommand(view, kCmdStatusBar, "Status Bar", "状态栏");
    toolbar->setCheckable(true);
    status->setCheckable(true);
    QMenu* looks = view->addMenu(Text("Application Look", "应用程序外观"));
    auto* lookGroup = new QActionGroup(this);
    for (const LookEntry& entry : kLooks) {
        QAction* action = AddCommand(looks, int(entry.id), entry.name, entry.name);
        action->setCheckable(true);
        lookGroup->addAction(action);
        const unsigned id = entry.id;
        connect(action, &QAction::triggered, this, [this, id] { ApplyLook(id); });
    }

    QMenu* connection = bar->addMenu(Text("Connection", "连接"));
    for (int id : {kCmdConnectionSettings, 32777, kCmdReconnect})
        AddCommand(connection, id);

    QMenu* configuration = bar->addMenu(Text("Configuration", "配置"));
    for (int id : {32778, 32779})
        AddCommand(configuration, id);

    // The two languages' menus differ on purpose: three commands stand in
    // the Chinese menus only.
    QMenu* video = bar->addMenu(Text("Video", "视频"));
    AddCommand(video, 32781);
    if (chinese)
        AddCommand(video, 32812);

    QMenu* picture = bar->addMenu(Text("Picture", "图片"));
    for (int id : {32806, 32807})
        AddCommand(picture, id);

    QMenu* other = bar->addMenu(Text("Other Commands", "其他命令"));
    for (int id : {32782, 32783, 32784, 32785, 32796, 32786, 32787, 32791, 32793, int(kCmdReboot), 32795, 32801, 32808})
        AddCommand(other, id);
    AddCommand(other, 32804)->setCheckable(true);
    if (chinese) {
        AddCommand(other, 32788);
        AddCommand(other, 32800);
    }

    QMenu* help = bar->addMenu(Text("Help", "帮助"));
    AddCommand(help, kCmdAbout, "About", "关于");

    connect(Command(kCmdConnectionSettings), &QAction::triggered, this, [this] {
        if (document_)
            document_->OnPlayerConnectionSettings();
        UpdateCommandUI();
    });
    connect(Command(kCmdReconnect), &QAction::triggered, this, [this] {
        if (document_ && document_->CanReconnect())
            document_->OnReconnect();
        UpdateCommandUI();
    });
    connect(Command(kCmdReboot), &QAction::triggered, this, [this] {
        if (document_ && document_->IsConnected())
            document_->OnReboot();
        UpdateCommandUI();
    });
    connect(Command(kCmdAbout), &QAction::triggered, this, &CMainFrame::ShowAbout);
    connect(Command(kCmdExit), &QAction::triggered, this, &QWidget::close);

    // Update-UI: the enable state is refreshed whenever a menu opens.
    for (QAction* menuAction : bar->actions())
        if (QMenu* menu = menuAction->menu())
            connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
}

void CMainFrame::BuildToolBar()
{
    toolBar_ = addToolBar(Text("Standard", "标准"));
    toolBar_->setObjectName(QStringLiteral("59392"));
    toolBar_->setMovable(true);
    QStyle* st = style();
    // Groups of the toolbar, split by separators. Commands without an icon
    // here show their labels: among them those that no menu holds.
    const std::vector<std::vector<std::pair<int, QStyle::StandardPixmap>>> groups = {
        {{57600, QStyle::SP_FileIcon}, {57601, QStyle::SP_DialogOpenButton}, {57603, QStyle::SP_DialogSaveButton}},
        {{57635, QStyle::SP_CustomBase}, {57634, QStyle::SP_CustomBase}, {57637, QStyle::SP_CustomBase}},
        {{32773, QStyle::SP_ArrowUp}, {32774, QStyle::SP_ArrowDown}, {32799, QStyle::SP_BrowserReload}},
        {{32794, QStyle::SP_CustomBase}, {32803, QStyle::SP_CustomBase}},
        {{32802, QStyle::SP_CustomBase}, {32805, QStyle::SP_CustomBase}},
        {{32809, QStyle::SP_CustomBase}, {kCmdAbout, QStyle::SP_MessageBoxQuestion}},
    };
    for (const auto& group : groups) {
        if (!toolBar_->actions().isEmpty())
            toolBar_->addSeparator();
        for (const auto& [id, pixmap] : group) {
            QAction* action = Command(id) ? Command(id) : AddCommand(nullptr, id);
            if (pixmap != QStyle::SP_CustomBase) {
                action->setIcon(st->standardIcon(pixmap));
                action->setToolTip(action->text());
            }
            toolBar_->addAction(action);
        }
    }

    QAction* toggleBar = Command(kCmdToolbar);
    toggleBar->setChecked(true);
    connect(toggleBar, &QAction::toggled, toolBar_, &QWidget::setVisible);
}

void CMainFrame::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("59393"));
    struct PaneLayout {
        int id;
        const char* english;
        const char* chinese;
        int width;
        int stretch;
        bool sunken;
    };
    const PaneLayout layouts[] = {
        {0, "", "", 250, 0, false},
        {kPaneLayoutName, "Layout List Name", "布局列表文件名称", 0, 1, false},
        {kPaneProgress, " ", " ", 200, 0, true},
        {kPaneConnection, "Disconnected player", "未连接播放器", 800, 0, false},
        {kPaneCursor, "X:0,Y:0", "X:0,Y:0", 100, 0, false},
        {kPaneCaps, "CAP", "CAP", 0, 0, true},
        {kPaneNum, "NUM", "NUM", 0, 0, true},
        {kPaneScroll, "SCRL", "SCRL", 0, 0, true},
    };
    for (const PaneLayout& pane : layouts) {
        auto* label = new PaneLabel(pane.width, bar);
        label->setObjectName(QString::number(pane.id));
        label->setText(Text(pane.english, pane.chinese));
        label->setFrameShape(pane.sunken ? QFrame::Panel : QFrame::NoFrame);
        label->setFrameShadow(QFrame::Sunken);
        if (pane.id == 0)
            bar->addWidget(label, pane.stretch);  // the framework's message pane
        else
            bar->addPermanentWidget(label, pane.stretch);
        // Key-state indicators are shown dimmed: the platform does not tell us
        // the lock keys' state.
        if (pane.id == kPaneCaps || pane.id == kPaneNum || pane.id == kPaneScroll)
            label->setEnabled(false);
        panes_[pane.id] = label;
    }

    QAction* toggleStatus = Command(kCmdStatusBar);
    toggleStatus->setChecked(true);
    connect(toggleStatus, &QAction::toggled, bar, &QWidget::setVisible);
}

void CMainFrame::BuildSplitter()
{
    splitter_ = new FrameSplitter(this, this);
    splitter_->setObjectName(QStringLiteral("59648"));
    splitter_->setChildrenCollapsible(false);
    const char* names[] = {kControlsViewName, kContentTabViewName, kLayoutTreeViewName};
    controlsView_ = new CControlsView(language_, splitter_);
    contentTabView_ = new CContentTabView(language_, splitter_);
    layoutTreeView_ = new CLayoutTreeView(language_, splitter_);
    for (int i = 0; i < 3; ++i) {
        QWidget* pane = i == 0   ? static_cast<QWidget*>(controlsView_)
                        : i == 1 ? static_cast<QWidget*>(contentTabView_)
                                 : static_cast<QWidget*>(layoutTreeView_);
        pane->setObjectName(QString::fromLatin1(names[i]));
        pane->setProperty("paneId", 59648 + i);
        pane->setMinimumWidth(10);
        splitter_->addWidget(pane);
    }
    setCentralWidget(splitter_);

    QScreen* screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->geometry().width() : 1366;
    const SplitterColumns initial = InitialColumns(screenWidth);
    splitter_->setSizes({initial.controls, initial.content, std::max(10, screenWidth - initial.controls - initial.content)});
    splitterReady_ = true;
}

// ---------------------------------------------------------------- panes, commands

QLabel* CMainFrame::Pane(int id) const
{
    auto it = panes_.find(id);
    return it == panes_.end() ? nullptr : it->second;
}

void CMainFrame::SetPaneText(int id, const QString& text)
{
    if (QLabel* pane = Pane(id))
        pane->setText(text);
}

QString CMainFrame::PaneText(int id) const
{
    QLabel* pane = Pane(id);
    return pane ? pane->text() : QString();
}

QAction* CMainFrame::Command(int id) const
{
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

void CMainFrame::UpdateCommandUI()
{
    for (const auto& [id, action] : commands_) {
        if (core::findCommand(id)) {
            action->setEnabled(document_ && document_->IsCommandEnabled(id));
            if (const auto checked = document_ ? document_->IsCommandChecked(id) : std::nullopt) {
                action->setCheckable(true);
                action->setChecked(*checked);
            }
        }
    }
    Command(kCmdConnectionSettings)->setEnabled(document_ != nullptr);
    Command(kCmdReconnect)->setEnabled(document_ && document_->CanReconnect());
    Command(kCmdReboot)->setEnabled(document_ && document_->IsConnected());
    Command(kCmdAbout)->setEnabled(true);
    Command(kCmdExit)->setEnabled(true);
    Command(kCmdToolbar)->setEnabled(true);
    Command(kCmdStatusBar)->setEnabled(true);
    for (const LookEntry& entry : kLooks) {
        QAction* action = Command(int(entry.id));
        action->setEnabled(true);
        action->setChecked(entry.id == look_);
    }
}

// ---------------------------------------------------------------- messages, timer

void CMainFrame::BindMessages()
{
    onMessage(platform::WM_TCP_EVENT, [this](platform::WPARAM, platform::LPARAM lParam) -> platform::LRESULT {
        if (lParam != 0 && document_)
            document_->OnLinkEvent(*reinterpret_cast<const LinkEvent*>(lParam));
        return 0;
    });
    onMessage(platform::WM_SEND_TO_PLAYER, [this](platform::WPARAM, platform::LPARAM lParam) -> platform::LRESULT {
        // Every request handed here is ours to free, with or without a document.
        std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(lParam));
        if (request && document_)
            document_->SendToPlayers(*request);
        return 0;
    });
    onMessage(platform::WM_OPEN_SETUP_EDITOR, [this](platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        if (document_)
            document_->OpenSetupEditor();
        return 0;
    });
    onMessage(platform::WM_OPEN_VIDEO_PIC_WINDOW, [this](platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        if (document_)
            document_->OpenVideoPicWindow();
        return 0;
    });
}

void CMainFrame::onTimer(unsigned id)
{
    if (id == kTimerDuties)
        OnTimerDuties();
    else
        platform::MessageWindow::onTimer(id);
}

void CMainFrame::OnTimerDuties()
{
    if (!document_)
        return;
    document_->TickAutoConnect();
    if (document_->TickWaitBox()) {
        // Posted by caption: when the title changed meanwhile, nobody opens it.
        if (platform::MessageWindow* main = platform::findWindow(platform::appTitle()))
            platform::postMessage(main->handle(), platform::WM_OPEN_SETUP_EDITOR, 0, 0);
    }
    document_->StepConfigExchange();
    document_->TickUploadPending();
    UpdateCommandUI();
}

// ---------------------------------------------------------------- closing

bool CMainFrame::ConfirmClose()
{
    using platform::MsgButtons;
    using platform::MsgIcon;
    using platform::MsgResult;
    if (platform::messageBox(Text("Do you really want to exit?", "【真的要退出程序吗?】"), QString(),
                             MsgButtons::YesNo, MsgIcon::Question, this) != MsgResult::Yes)
        return false;

    FinishClosing(true);
    return true;
}

void CMainFrame::FinishClosing(bool askToSave)
{
    using platform::MsgButtons;
    using platform::MsgIcon;
    using platform::MsgResult;
    platform::MessageWindow::killTimer(kTimerDuties);
    if (document_) {
        document_->ResetSequence();
        document_->CloseAllLinks();
        if (askToSave && document_->IsLayoutDirty() &&
            platform::messageBox(Text("‘Do you want to save the changes to the layout ? ", "布局列表已经修改，是否要保存？"),
                                 QString(), MsgButtons::YesNo, MsgIcon::Question, this) == MsgResult::Yes)
            document_->SaveLayout();
    }
    // Only now: the layout just saved (or declined) may have lived in Temp.
    DeleteDirectoryTree(TempFolder());
}

void CMainFrame::CloseWithoutQuestions()
{
    if (closeConfirmed_)
        return;
    closeConfirmed_ = true;
    FinishClosing(false);
    close();
    // A dialog still open (a message box waiting for an answer) would keep
    // its own event loop, and the program, running: every loop ends now.
    QCoreApplication::exit(0);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!closeConfirmed_) {
        if (!ConfirmClose()) {
            event->ignore();
            return;
        }
        closeConfirmed_ = true;
    }
    event->accept();
}

QString CMainFrame::TempFolder()
{
    return platform::homePath(QStringLiteral("Temp"));
}

bool CMainFrame::DeleteDirectoryTree(const QString& folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (info.isSymLink() || !info.isDir())
        return false;
    // removeRecursively removes links themselves and never descends into them.
    return QDir(folder).removeRecursively() && !QFileInfo::exists(folder);
}

// ---------------------------------------------------------------- looks

QString CMainFrame::StyleForLook(unsigned id)
{
    // The plain look is the classic one; all the themed looks are closest to
    // Qt's own flat style.
    if (id == 205)
        return QStringLiteral("Windows");
    return QStringLiteral("Fusion");
}

void CMainFrame::ApplyLook(unsigned id, bool store)
{
    if (!IsLook(id))
        id = kLookDefault;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    look_ = id;
    const QString styleName = StyleForLook(id);
    if (QApplication::style() && QApplication::style()->name().compare(styleName, Qt::CaseInsensitive) != 0) {
        if (QStyleFactory::keys().contains(styleName, Qt::CaseInsensitive))
            QApplication::setStyle(styleName);
    }
    if (store) {
        auto settings = platform::settings();
        settings->setValue(QStringLiteral("ApplicationLook"), id);
        settings->sync();
    }
    update();
    QApplication::restoreOverrideCursor();
    UpdateCommandUI();
}

// ---------------------------------------------------------------- splitter

SplitterColumns CMainFrame::ResizeColumns(int clientWidth, int currentControls)
{
    const int w = std::max(0, clientWidth);
    SplitterColumns c;
    c.controls = std::min(w / 4, currentControls);
    const double minimum = w * 0.06;
    if (minimum > c.controls)
        c.controls = int(minimum);
    c.content = std::max(100, int(w - w * 0.08 - c.controls));
    return c;
}

SplitterColumns CMainFrame::InitialColumns(int screenWidth)
{
    return {int(screenWidth * 0.07), int(screenWidth * 0.80)};
}

void CMainFrame::RelayoutSplitter()
{
    if (!splitterReady_ || !splitter_ || splitter_->count() != 3)
        return;
    const QList<int> sizes = splitter_->sizes();
    const int handles = 2 * splitter_->handleWidth();
    const int w = splitter_->width();
    const SplitterColumns c = ResizeColumns(w, sizes.value(0));
    const int rest = std::max(10, w - handles - c.controls - c.content);
    if (sizes != QList<int>{c.controls, c.content, rest})
        splitter_->setSizes({c.controls, c.content, rest});
    // The active canvas starts again from its top-left corner with scroll
    // ranges for its new size.
    if (contentTabView_)
        if (auto* canvas = qobject_cast<CContentView*>(contentTabView_->currentWidget()))
            canvas->ResetScroll(true);
}

void CMainFrame::ShowAbout()
{
    CAboutDlg about(windowTitle(), language_, this);
    about.exec();
}
