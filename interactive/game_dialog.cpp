#include "interactive/game_dialog.h"

#include "common/controls/text_progress_ctrl.h"
#include "common/json_coding.h"
#include "common/text_coding.h"
#include "interactive/lidar_model.h"
#include "platform/app_identity.h"
#include "platform/dialogs.h"
#include "platform/messages.h"
#include "transport/link_loss.h"
#include "transport/records.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

layout::LayoutRect toLayout(const geom::RectI& r)
{
    return {r.left, r.top, r.right, r.bottom};
}
geom::RectI fromLayout(const layout::LayoutRect& r)
{
    return {r.left, r.top, r.right, r.bottom};
}
QRect toQRect(const geom::RectI& r)
{
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

}  // namespace

// ---- map ----

CGameMap::CGameMap(CGame* owner) : QGroupBox(owner), owner_(owner)
{
    setMouseTracking(true);
    setMinimumSize(560, 360);
    setFocusPolicy(Qt::StrongFocus);
}

void CGameMap::paintEvent(QPaintEvent* event)
{
    QGroupBox::paintEvent(event);
    QPainter p(this);
    owner_->PaintMap(p);
}

void CGameMap::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        owner_->MapPress(int(e->position().x()), int(e->position().y()));
}

void CGameMap::mouseMoveEvent(QMouseEvent* e)
{
    owner_->MapMove(int(e->position().x()), int(e->position().y()));
}

void CGameMap::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        owner_->MapRelease(int(e->position().x()), int(e->position().y()));
}

void CGameMap::mouseDoubleClickEvent(QMouseEvent* e)
{
    // A double click does nothing of its own: the default processing only.
    QGroupBox::mouseDoubleClickEvent(e);
}

// ---- dialog ----

CGame::CGame(const QString& folder, const QString& titlePrefix, const game::OutputLayout& layout, QWidget* parent)
    : QDialog(parent), platform::MessageWindow(static_cast<QWidget*>(this)), language_(platform::appLanguage()),
      folder_(folder), prefix_(titlePrefix), layout_(layout)
{
    setWindowTitle(prefix_ + T("Interactive Setup"));
    onMessage(platform::WM_GAME_REPLY, [this](platform::WPARAM w, platform::LPARAM l) {
        const auto* payload = reinterpret_cast<const QByteArray*>(l);
        OnGameReply(uint16_t(w), payload ? *payload : QByteArray());
        return platform::LRESULT(0);
    });
    onMessage(platform::WM_LINK_CLOSED, [this](platform::WPARAM w, platform::LPARAM l) {
        OnLinkClosed(uint16_t(w), int(l));
        return platform::LRESULT(0);
    });

    map_ = new CGameMap(this);
    list_ctrl_ = new QTreeWidget(this);
    list_ctrl_->setColumnCount(2);
    list_ctrl_->setHeaderLabels({T("SN"), T("Game Name")});
    list_ctrl_->setRootIsDecorated(false);
    list_ctrl_->setColumnWidth(0, 40);
    list_ctrl_->setColumnWidth(1, 150);
    list_ctrl_->header()->setDefaultAlignment(Qt::AlignCenter);
    list_ctrl_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_ctrl_->setMinimumWidth(200);
    screen1_ = new QRadioButton(T("Screen1"), this);
    screen2_ = new QRadioButton(T("Screen2"), this);
    auto* setup = new QPushButton(T("setup"), this);
    auto* install = new QPushButton(T("install game"), this);
    auto* uninstall = new QPushButton(T("uninstall game"), this);
    auto* close = new QPushButton(T("close"), this);
    auto* exitButton = new QPushButton(T("exit"), this);
    progress_ = new CTextProgressCtrl(this);
    progress_->setVisible(false);
    for (QPushButton* b : {setup, install, uninstall, close, exitButton})
        b->setAutoDefault(false);

    auto* right = new QVBoxLayout;
    right->addWidget(list_ctrl_, 1);
    auto* radios = new QHBoxLayout;
    radios->addWidget(screen1_);
    radios->addWidget(screen2_);
    right->addLayout(radios);
    auto* buttons = new QGridLayout;
    buttons->addWidget(setup, 0, 0);
    buttons->addWidget(close, 0, 1);
    buttons->addWidget(install, 1, 0);
    buttons->addWidget(uninstall, 1, 1);
    buttons->addWidget(exitButton, 2, 1);
    right->addLayout(buttons);
    auto* top = new QHBoxLayout;
    top->addWidget(map_, 1);
    top->addLayout(right);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(progress_);

    connect(screen1_, &QRadioButton::clicked, this, [this] { OnScreen1(); });
    connect(screen2_, &QRadioButton::clicked, this, [this] { OnScreen2(); });
    connect(setup, &QPushButton::clicked, this, [this] { OnSetupGame(); });
    connect(install, &QPushButton::clicked, this, [this] { OnInstallGame(); });
    connect(uninstall, &QPushButton::clicked, this, [this] { OnUninstallGame(); });
    connect(close, &QPushButton::clicked, this, [this] { OnCloseGame(); });
    connect(exitButton, &QPushButton::clicked, this, [this] { reject(); });

    screen1_->setChecked(true);
    screen1_->setEnabled(game::ScreenExists(layout_.screens[0]));
    screen2_->setEnabled(game::ScreenExists(layout_.screens[1]));
    tracker_.style = CImageRectTracker::DottedLine | CImageRectTracker::ResizeInside;
    tracker_.handleSize = 10;
    tracker_.color = 0x0000FF00;  // COLORREF green
    game::ComputeScreenGrids(layout_, rects_);
    resize(900, 520);
}

CGame::~CGame() = default;

void CGame::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Start();
}

void CGame::Start()
{
    if (started_)
        return;
    started_ = true;
    // The map's rectangle comes from the laid-out group box.
    if (layout())
        layout()->activate();
    SelectScreen(0);
    RequestGameList();
}

geom::RectI CGame::screenOnMap() const
{
    return scale_.toMap(layout_.screens[std::size_t(currentScreen_)]);
}

geom::RectI CGame::gameRectOnMap()
{
    game::GameRect& g = rects_[std::size_t(currentScreen_)];
    const geom::RectI& screen = layout_.screens[std::size_t(currentScreen_)];
    const geom::RectI r = g.rect();
    if (r.right <= r.left || r.bottom <= r.top || !game::RectContains(screen, r))
        g.setRect(game::DefaultGameRect(screen));
    return scale_.toMap(g.rect());
}

void CGame::SelectScreen(int screen)
{
    currentScreen_ = screen;
    screen1_->setChecked(screen == 0);
    screen2_->setChecked(screen == 1);
    const QRect inner = map_->rect().adjusted(10, 11, -11, -11);
    const geom::RectI map{inner.left(), inner.top(), inner.right() + 1, inner.bottom() + 1};
    const game::GameRect& g = rects_[std::size_t(screen)];
    scale_ = game::ComputeMapScale(map, layout_.screens[std::size_t(screen)], g.rows, g.columns);
    map_->unsetCursor();
    UpdateTrackerLimits();
    map_->update();
}

void CGame::OnScreen1() { SelectScreen(0); }
void CGame::OnScreen2() { SelectScreen(1); }

void CGame::UpdateTrackerLimits()
{
    const geom::RectI onMap = screenOnMap();
    tracker_.minWidth = int(std::lround(game::kMinGameSize * scale_.sx));
    tracker_.minHeight = int(std::lround(game::kMinGameSize * scale_.sy));
    tracker_.bounds = toLayout(onMap);
    tracker_.maxWidth = onMap.right - onMap.left;
    tracker_.maxHeight = onMap.bottom - onMap.top;
}

void CGame::PaintMap(QPainter& p)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 204, 204), 1));
    p.drawRect(toQRect(screenOnMap()));
    const geom::RectI g = gameRectOnMap();
    p.setPen(QPen(QColor(0, 0, 255), 1));
    p.drawRect(toQRect(g));
    if (!tracker_.tracking())
        tracker_.rect = toLayout(g);
    tracker_.Draw(p);
}

void CGame::MapPress(int x, int y)
{
    map_->setFocus();
    if (waiting_)
        return;
    if (list_.currentName.isEmpty()) {
        Inform(T("Please start a new game first"));
        return;
    }
    const bool full = currentIndex_ >= 0 && std::size_t(currentIndex_) < list_.games.size() &&
                      list_.games[std::size_t(currentIndex_)].fullScreen &&
                      list_.games[std::size_t(currentIndex_)].name == list_.currentName;
    if (!geom::RectHitTest(screenOnMap(), x, y) || full) {
        map_->unsetCursor();
        map_->update();
        return;
    }
    tracker_.rect = toLayout(gameRectOnMap());
    if (!tracker_.Press(x, y)) {
        map_->update();
        return;
    }
    dragging_ = true;
}

void CGame::MapMove(int x, int y)
{
    if (dragging_ && tracker_.tracking()) {
        tracker_.Move(x, y);
        map_->update();
        return;
    }
    Qt::CursorShape shape;
    if (tracker_.SetCursor(x, y, shape))
        map_->setCursor(shape);
    else
        map_->unsetCursor();
}

void CGame::MapRelease(int x, int y)
{
    if (!dragging_)
        return;
    dragging_ = false;
    tracker_.Release(x, y);
    const geom::RectI dragged = fromLayout(tracker_.rect);
    const geom::RectI& screen = layout_.screens[std::size_t(currentScreen_)];
    if (dragged.right > dragged.left && dragged.bottom > dragged.top)
        rects_[std::size_t(currentScreen_)].setRect(game::TrackerRectToGameRect(dragged, scale_, screen));
    map_->update();
    SendGameSettings(list_.currentName, 1, 0);
    map_->setFocus();
}

void CGame::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Shift:
    case Qt::Key_Escape:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return;  // swallowed: neither closes the dialog nor moves focus
    case Qt::Key_R:
        ResetGameRects();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CGame::ResetGameRects()
{
    for (std::size_t i = 0; i < 2; ++i)
        rects_[i].setRect(game::DefaultGameRect(layout_.screens[i]));
    map_->update();
    SendGameSettings(list_.currentName, 1, 0);
}

void CGame::reject()
{
    if (platform::messageBox(T("Do you really want to exit?"), windowTitle(), platform::MsgButtons::YesNo,
                             platform::MsgIcon::Question, this) != platform::MsgResult::Yes)
        return;
    SendGameSettings(list_.currentName, 1, 1);
    QDialog::reject();
}

void CGame::Inform(const QString& text)
{
    platform::messageBox(text, windowTitle(), platform::MsgButtons::Ok, platform::MsgIcon::Information, this);
}

bool CGame::Send(const QByteArray& packet)
{
    auto* request = new SendRequest;
    request->data = packet;
    return SendToMainWindow(request);
}

void CGame::RequestGameList()
{
    if (Send(game::GamePacket(game::GAME_OP_LIST, 0, 0)))
        waiting_ = true;
}

bool CGame::SendGameSettings(const QString& name, int startGame, uint16_t arg)
{
    const Json::Value doc =
        game::GameJson(name, uint32_t(currentScreen_), rects_[std::size_t(currentScreen_)].rect(), startGame);
    filecommit::WriteFailure failure;
    const QByteArray bytes = lidar::WriteDocument(folder_, QStringLiteral("Game.Json"), doc, &failure);
    if (bytes.isEmpty()) {
        // Nothing reaches the player: the operator is told, not left waiting.
        filecommit::showCannotWrite(language_, failure, this);
        return false;
    }
    if (!Send(game::GamePacket(game::GAME_OP_SETTINGS, 0, arg, bytes)))
        return false;
    waiting_ = true;
    return true;
}

void CGame::ApplyList(const game::GameList& parsed)
{
    list_ = parsed;
    list_ctrl_->clear();
    currentIndex_ = 0;
    for (std::size_t i = 0; i < list_.games.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_ctrl_, {QString::asprintf("%d", int(i + 1)), game::GameRowLabel(list_, i)});
        item->setTextAlignment(0, Qt::AlignCenter);
        item->setTextAlignment(1, Qt::AlignCenter);
        if (list_.games[i].name == list_.currentName) {
            currentIndex_ = int(i);
            if (list_.games[i].fullScreen) {
                // A full-screen game covers its own screen, whichever is shown.
                const geom::RectI& s = layout_.screens[std::min<std::size_t>(list_.currentScreen, 1)];
                list_.x = uint32_t(s.left);
                list_.y = uint32_t(s.top);
                list_.width = uint32_t(s.right - s.left);
                list_.height = uint32_t(s.bottom - s.top);
            }
        }
    }
    if (!list_.games.empty())
        for (game::GameRect& g : rects_)
            g.setRect({int32_t(list_.x), int32_t(list_.y), int32_t(list_.x + list_.width),
                       int32_t(list_.y + list_.height)});
    if (rects_[1].rows * rects_[1].columns != 0 && game::ScreenExists(layout_.screens[1])) {
        SelectScreen(list_.currentScreen == 1 ? 1 : 0);
    } else {
        list_.currentScreen = 0;
        SelectScreen(0);
    }
}

void CGame::OnGameReply(uint16_t operation, const QByteArray& payload)
{
    switch (operation) {
    case game::GAME_OP_LIST: {
        game::GameList parsed;
        if (game::ParseGameList(payload, parsed))
            ApplyList(parsed);
        map_->setFocus();
        waiting_ = false;
        return;
    }
    case game::GAME_OP_SETTINGS:
        if (refreshPending_) {
            refreshPending_ = false;
            RequestGameList();
        } else {
            waiting_ = false;
        }
        return;
    case game::GAME_OP_INSTALL:
        ContinueUpload();
        return;
    case game::GAME_OP_UNINSTALL:
        waiting_ = false;
        Send(game::GamePacket(game::GAME_OP_LIST, 0, 0));
        return;
    default:
        return;
    }
}

void CGame::ContinueUpload()
{
    if (!upload_.active())
        return;
    QString message;
    std::unique_ptr<SendRequest> request = upload_.NextRequest(language_, &message);
    if (request) {
        if (!message.isEmpty())
            Inform(message);  // a file passed over; the chain goes on
        SendToMainWindow(request.release());
        progress_->SetPos(upload_.sent());
        return;
    }
    // The chain is over, or a file could not be read: the bar goes, the
    // dialog takes clicks again and the list shows what the player has.
    progress_->setVisible(false);
    waiting_ = false;
    if (!message.isEmpty())
        Inform(message);
    RequestGameList();
}

void CGame::OnLinkClosed(uint16_t linkEvent, int error)
{
    // No answer can come over a link that went: whatever waited for one
    // gives the dialog back, and an install says why it did not finish.
    waiting_ = false;
    refreshPending_ = false;
    if (!upload_.active())
        return;
    upload_.Stop();
    progress_->setVisible(false);
    // The package was cut while it was written: the document names it, and
    // the player is not blamed a second time here.
    if (LinkLostToUnreadableFile(linkEvent, error))
        return;
    const QString text =
        T("The game installation failed: ") + LinkLossText(linkEvent, error, language_) + T(".");
    // Told after the link's event is done: the link thread waits for it.
    QTimer::singleShot(0, this, [this, text] { Inform(text); });
}

void CGame::OnSetupGame()
{
    if (waiting_)
        return;
    const QList<QTreeWidgetItem*> selected = list_ctrl_->selectedItems();
    if (selected.isEmpty()) {
        Inform(T("Game name not selected"));
        return;
    }
    const int row = list_ctrl_->indexOfTopLevelItem(selected.front());
    if (row < 0 || std::size_t(row) >= list_.games.size())
        return;
    const game::GameEntry& entry = list_.games[std::size_t(row)];
    if (entry.fullScreen) {
        const geom::RectI& s = layout_.screens[std::size_t(currentScreen_)];
        list_.x = uint32_t(s.left);
        list_.y = uint32_t(s.top);
        list_.width = uint32_t(s.right - s.left);
        list_.height = uint32_t(s.bottom - s.top);
        rects_[std::size_t(currentScreen_)].setRect(s);
    }
    refreshPending_ = true;
    if (!SendGameSettings(entry.name, 1, 0))
        refreshPending_ = false;
}

void CGame::OnCloseGame()
{
    if (waiting_)
        return;
    refreshPending_ = true;
    if (!SendGameSettings(list_.currentName, 0, 1))
        refreshPending_ = false;
}

void CGame::OnUninstallGame()
{
    if (waiting_)
        return;
    const QList<QTreeWidgetItem*> selected = list_ctrl_->selectedItems();
    const int row = selected.isEmpty() ? -1 : list_ctrl_->indexOfTopLevelItem(selected.front());
    if (row < 0 || std::size_t(row) >= list_.games.size()) {
        Inform(T("Game name not selected"));
        return;
    }
    const QString name = list_.games[std::size_t(row)].name;
    QByteArray bytes;
    if (!text::NameToDoubleByteText(name, bytes, 100000)) {
        Inform(text::unencodableNameMessage(name, int(language_)));
        return;
    }
    if (std::size_t(bytes.size()) > game::kMaxNameBytes) {
        Inform(T("Game name is too long"));
        return;
    }
    if (Send(game::GamePacket(game::GAME_OP_UNINSTALL, 0, 0, bytes)))
        waiting_ = true;
}

void CGame::OnInstallGame()
{
    if (waiting_)
        return;
    platform::FileDialogCall call{platform::FileDialogKind::Open, T("Select the game file "), QString(), QString(),
                                  T("game File(*.APK)") + QStringLiteral("|*.APK||"), QStringLiteral("*.APK")};
    const QStringList paths = platform::fileDialogMulti(call, this);
    if (paths.isEmpty())
        return;
    QString message;
    if (!upload_.Start(paths, language_, &message)) {
        waiting_ = false;
        Inform(message);
        return;
    }
    progress_->SetRange(0, upload_.total());
    progress_->SetPos(0);
    progress_->setVisible(true);
    waiting_ = true;
    ContinueUpload();
}
