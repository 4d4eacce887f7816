#pragma once
// CMainFrame: the single main window of veluna. Menu bar, toolbar, status
// bar and a three-pane splitter (picture panel, layout canvases, layout
// list). Its caption is the application title, by which every dialog and
// every link thread finds it; it is the post office between them and the
// document: link events and send requests are handed to the document, and
// its one-second timer drives the document's slow jobs.

#include "core/command_table.h"
#include "platform/window.h"

#include <QMainWindow>
#include <QString>

#include <map>
#include <optional>

class CContentTabView;
class CLayoutTreeView;
class CControlsView;
class QAction;
class QLabel;
class QSplitter;
class QMenu;
class QToolBar;
struct LinkEvent;
struct SendRequest;

// What the frame asks of the document. The program binds it to CvelunaDoc;
// tests bind it to a recorder.
class FrameDocument {
public:
    virtual ~FrameDocument() = default;

    virtual void SendToPlayers(const SendRequest& request) = 0;
    virtual void OnLinkEvent(const LinkEvent& event) = 0;

    virtual void TickAutoConnect() = 0;
    // True on the tick that closes the wait box.
    virtual bool TickWaitBox() = 0;
    virtual void StepConfigExchange() = 0;
    // After the exchange's step: a layout upload nobody answered expires.
    virtual void TickUploadPending() {}

    virtual void ResetSequence() = 0;
    virtual void CloseAllLinks() = 0;
    virtual bool IsLayoutDirty() const = 0;
    virtual void SaveLayout() = 0;

    virtual void OnPlayerConnectionSettings() = 0;
    virtual void OnReconnect() = 0;
    virtual void OnReboot() = 0;
    virtual bool CanReconnect() const = 0;
    virtual bool IsConnected() const = 0;

    // The calibration or rotation editor, and the video and picture window
    // editor, once their files have arrived. Nothing until they exist.
    virtual void OpenSetupEditor() {}
    virtual void OpenVideoPicWindow() {}

    // Commands registered in core/command_registry.h.
    virtual bool IsCommandEnabled(int /*id*/) const { return false; }
    // Nothing: the command has no check mark.
    virtual std::optional<bool> IsCommandChecked(int /*id*/) const { return std::nullopt; }
    virtual void OnCommand(int /*id*/) {}
};

// Column widths of the splitter's first two panes; the third takes the rest.
struct SplitterColumns {
    int controls = 0;
    int content = 0;
    bool operator==(const SplitterColumns&) const = default;
};

class CMainFrame : public QMainWindow, public platform::MessageWindow {
    Q_OBJECT
public:
    // Status-bar pane ids.
    static constexpr int kPaneLayoutName = 59142;
    static constexpr int kPaneProgress = 59143;
    static constexpr int kPaneConnection = 59144;
    static constexpr int kPaneCursor = 59145;
    static constexpr int kPaneCaps = 59137;
    static constexpr int kPaneNum = 59138;
    static constexpr int kPaneScroll = 59139;

    // Command ids wired here.
    static constexpr int kCmdConnectionSettings = core::kCmdConnectionSettings;
    static constexpr int kCmdReconnect = core::kCmdReconnect;
    static constexpr int kCmdReboot = core::kCmdReboot;
    static constexpr int kCmdAbout = 57664;
    static constexpr int kCmdExit = 57665;
    static constexpr int kCmdToolbar = 59392;
    static constexpr int kCmdStatusBar = 59393;
    static constexpr unsigned kLookFirst = 205;
    static constexpr unsigned kLookLast = 219;
    static constexpr unsigned kLookDefault = 215;

    static constexpr unsigned kTimerDuties = 1;
    static constexpr int kTimerMs = 1000;

    // `title` becomes the caption; `language` picks the texts (4 Chinese).
    explicit CMainFrame(const QString& title, unsigned language, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The document the relays and the timer drive (not owned; may be null).
    void SetDocument(FrameDocument* document);
    FrameDocument* document() const { return document_; }
    unsigned language() const { return language_; }

    // Status-bar panes by id.
    void SetPaneText(int id, const QString& text);
    QString PaneText(int id) const;
    QLabel* Pane(int id) const;

    // Menu and toolbar commands by id (null for an unknown id).
    QAction* Command(int id) const;
    // Enables the commands by the document's state (update-UI).
    void UpdateCommandUI();

    // Timer 1: auto-connect countdown, wait box, configuration-file step.
    void OnTimerDuties();
    void onTimer(unsigned id) override;

    // The closing sequence; true when the window may go.
    bool ConfirmClose();
    // The same closing without a question (a session ending, SIGTERM):
    // links closed, Temp deleted, the layout not saved; then the program ends.
    void CloseWithoutQuestions();

    // Application looks: the stored id, the Qt style that stands for it.
    unsigned look() const { return look_; }
    void ApplyLook(unsigned id, bool store = true);
    static bool IsLook(unsigned id) { return id >= kLookFirst && id <= kLookLast; }
    static QString StyleForLook(unsigned id);

    // The splitter's first two columns for a client width, given the
    // current width of the first; and the widths when the frame opens.
    static SplitterColumns ResizeColumns(int clientWidth, int currentControls);
    static SplitterColumns InitialColumns(int screenWidth);
    QSplitter* splitter() const { return splitter_; }
    // The picture panel and the layout canvases (first two panes).
    CControlsView* controlsView() const { return controlsView_; }
    CContentTabView* contentTabView() const { return contentTabView_; }
    CLayoutTreeView* layoutTreeView() const { return layoutTreeView_; }
    // Lays the splitter out by the resize rule (also on every resize).
    void RelayoutSplitter();

    // Deletes everything below `folder`, then the folder; true when the
    // folder itself is gone. Links are removed, never followed.
    static bool DeleteDirectoryTree(const QString& folder);
    // The Temp folder beside the program.
    static QString TempFolder();

    void ShowAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildSplitter();
    QAction* AddCommand(QMenu* menu, int id, const char* english, const char* chinese);
    QAction* AddCommand(QMenu* menu, int id);
    void FinishClosing(bool askToSave);
    void BindMessages();
    QString Text(const char* english, const char* chinese) const;

    unsigned language_;
    FrameDocument* document_ = nullptr;
    QSplitter* splitter_ = nullptr;
    CControlsView* controlsView_ = nullptr;
    CContentTabView* contentTabView_ = nullptr;
    CLayoutTreeView* layoutTreeView_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    bool splitterReady_ = false;
    unsigned look_ = kLookDefault;
    bool closeConfirmed_ = false;
    std::map<int, QLabel*> panes_;
    std::map<int, QAction*> commands_;
};
