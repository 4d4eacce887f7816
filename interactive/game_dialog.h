#pragma once
// CGame: "Interactive Setup". Lists the player's games, marks the running
// one, installs APKs, uninstalls, and places the game's window by dragging a
// rectangle on a small map of the chosen screen. Every action is one
// CMD_GAME exchange; placements travel as Game.Json.

#include "core/layout/image_rect_tracker.h"
#include "interactive/game_model.h"
#include "platform/window.h"

#include <QDialog>
#include <QGroupBox>

#include <array>

class CTextProgressCtrl;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class CGame;

// The map area (group box 4601); paints and takes the mouse for the dialog.
class CGameMap : public QGroupBox {
public:
    explicit CGameMap(CGame* owner);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    CGame* owner_;
};

class CGame : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    CGame(const QString& folder, const QString& titlePrefix, const game::OutputLayout& layout,
          QWidget* parent = nullptr);
    ~CGame() override;

    // Lays the dialog out, selects screen 1 and asks for the list; runs once,
    // when the dialog is first shown.
    void Start();
    void OnGameReply(uint16_t operation, const QByteArray& payload);
    void OnScreen1();
    void OnScreen2();
    void OnSetupGame();
    void OnCloseGame();
    void OnInstallGame();
    void OnUninstallGame();
    void ResetGameRects();  // the 'R' key

    // For the map widget and tests.
    bool waiting() const { return waiting_; }
    int currentScreen() const { return currentScreen_; }
    const game::GameList& list() const { return list_; }
    const std::array<game::GameRect, 2>& gameRects() const { return rects_; }
    const game::MapScale& scale() const { return scale_; }
    geom::RectI screenOnMap() const;
    geom::RectI gameRectOnMap();
    QTreeWidget* listControl() const { return list_ctrl_; }
    CTextProgressCtrl* progress() const { return progress_; }
    CImageRectTracker& tracker() { return tracker_; }
    QRadioButton* screenRadio(int i) const { return i == 0 ? screen1_ : screen2_; }

    void MapPress(int x, int y);
    void MapMove(int x, int y);
    void MapRelease(int x, int y);
    void PaintMap(QPainter& painter);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void showEvent(QShowEvent* event) override;

private:
    void SelectScreen(int screen);
    void RequestGameList();
    bool SendGameSettings(const QString& name, int startGame, uint16_t arg);
    bool Send(const QByteArray& packet);
    void ApplyList(const game::GameList& list);
    void UpdateTrackerLimits();
    void ContinueUpload();
    // WM_LINK_CLOSED: wParam the link's event type, lParam its error code.
    void OnLinkClosed(uint16_t linkEvent, int error);
    void Inform(const QString& text);
    QString T(const char* english) const { return game::GameText(english, language_); }

    unsigned language_;
    QString folder_;
    QString prefix_;
    game::OutputLayout layout_;
    game::GameList list_;
    int currentIndex_ = 0;
    std::array<game::GameRect, 2> rects_{};
    game::ApkUpload upload_;
    game::MapScale scale_;
    int currentScreen_ = 0;
    bool waiting_ = false;
    bool dragging_ = false;
    bool refreshPending_ = false;
    bool started_ = false;
    CImageRectTracker tracker_;

    CGameMap* map_ = nullptr;
    QTreeWidget* list_ctrl_ = nullptr;
    QRadioButton* screen1_ = nullptr;
    QRadioButton* screen2_ = nullptr;
    CTextProgressCtrl* progress_ = nullptr;
};
