#pragma once
// veluna's main frame as far as the tests of its dialogs and setup editors
// need it, for test programs that link core and player:
// - RequestFrame: the frame stand-in that takes the requests a dialog sends;
// - RelayFrame, AimAt: the frame stand-in that relays requests and link
//   events to a document, and the document pointed at a simulated player;
// - StartPlayerWithConfigStore: a listening simulated player;
// - RequestsOf: the requests of one command a simulated player received;
// - LinkedDocument: a frame that hands requests and link events to a
//   document linked to that player, and opens the player's setup editor on
//   WM_OPEN_SETUP_EDITOR as the real frame does;
// - WhenWindowOpens: the operator's part, once a modal window is up.

#include "core/document.h"
#include "core/editor_hooks.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "transport/records.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// Sets the program's title and hands every request sent to the frame to
// `keep` (the request is freed afterwards).
struct RequestFrame {
    RequestFrame(const QString& title, std::function<void(const SendRequest&)> keep)
    {
        platform::setAppTitle(title);
        window = std::make_unique<platform::MessageWindow>(title);
        window->onMessage(platform::WM_SEND_TO_PLAYER, [keep = std::move(keep)](platform::WPARAM, platform::LPARAM l) {
            std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
            keep(*request);
            return platform::LRESULT(0);
        });
    }
    std::unique_ptr<platform::MessageWindow> window;
};

// Relays requests (after showing each to `seen`, when given) and link events
// to `doc` while it exists, as the main frame does.
inline std::unique_ptr<platform::MessageWindow> RelayFrame(const QString& title, const std::unique_ptr<CvelunaDoc>& doc,
                                                           std::function<void(const SendRequest&)> seen = {})
{
    auto frame = std::make_unique<platform::MessageWindow>(title);
    frame->onMessage(platform::WM_SEND_TO_PLAYER,
                     [&doc, seen = std::move(seen)](platform::WPARAM, platform::LPARAM l) {
                         std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
                         if (seen)
                             seen(*request);
                         if (doc)
                             doc->SendToPlayers(*request);
                         return platform::LRESULT(0);
                     });
    frame->onMessage(platform::WM_TCP_EVENT, [&doc](platform::WPARAM, platform::LPARAM l) {
        if (doc)
            doc->OnLinkEvent(*reinterpret_cast<const LinkEvent*>(l));
        return platform::LRESULT(0);
    });
    return frame;
}

// Points `doc` at `player` (address, port, MAC) as a scan choice does.
inline void AimAt(CvelunaDoc& doc, const sim::PlayerSim& player)
{
    const sim::SimOptions& o = player.options();
    doc.setTarget(o.address, player.tcpPort());
    doc.currentPlayer().ip = o.address;
    doc.currentPlayer().portText = QString::number(player.tcpPort());
    doc.currentPlayer().mac = o.mac;
}

// The requests of `code` that reached `player`, in order.
inline std::vector<sim::LogEntry> RequestsOf(const sim::PlayerSim& player, uint8_t code)
{
    std::vector<sim::LogEntry> out;
    for (const sim::LogEntry& e : player.log())
        if (e.incoming && e.header.command == code)
            out.push_back(e);
    return out;
}

// Whether the requests an accepted handshake sets off (the display-grid
// file, the status, the layout list) have run their course on `player`, a
// player without layouts: the layout list, the last of them, was answered
// and `doc` took the answer, since each answer leaves its number + 1 as the
// number of the next request. Before that, one of them can still reach the
// player after a test has cleared its log, or while the test's own exchange
// runs.
inline bool HandshakeRequestsDone(const CvelunaDoc& doc, const sim::PlayerSim& player)
{
    const std::vector<sim::LogEntry> lists = RequestsOf(player, proto::CMD_LAYOUT);
    return doc.IsConnected() && !lists.empty() && doc.sequence() > lists.back().header.sequence;
}

// A simulated player with the standard commands and the configuration
// store, listening; null (and a test failure saying why) when it cannot.
inline std::unique_ptr<sim::PlayerSim> StartPlayerWithConfigStore(const sim::SimOptions& o)
{
    auto player = std::make_unique<sim::PlayerSim>(o);
    sim::installStandardCommands(*player);
    sim::installConfigStore(*player);
    QString error;
    if (!player->start(&error)) {
        ADD_FAILURE() << "the simulated player did not start: " << error.toStdString();
        return nullptr;
    }
    return player;
}

struct LinkedDocument {
    // Starts linking to `player` (already started); the test waits for
    // doc->IsConnected(). The wait box is recorded in `waits`, its hiding as
    // "(hidden)"; the grid fetch after the link is left out.
    LinkedDocument(const QString& title, const sim::PlayerSim& player)
    {
        frame = RelayFrame(title, doc);
        frame->onMessage(platform::WM_OPEN_SETUP_EDITOR, [this](platform::WPARAM, platform::LPARAM) {
            if (doc)
                core::openSetupEditor(*doc);
            return platform::LRESULT(0);
        });
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        doc->startGridFetch = [] {};
        doc->showWaitBox = [this](const QString& text) { waits << text; };
        doc->hideWaitBox = [this] { waits << QStringLiteral("(hidden)"); };
        AimAt(*doc, player);
        doc->OnReconnect();
    }
    ~LinkedDocument()
    {
        doc.reset();
        frame.reset();
    }
    LinkedDocument(const LinkedDocument&) = delete;
    LinkedDocument& operator=(const LinkedDocument&) = delete;

    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    QStringList waits;
};

// Looks for a window every 20 ms and runs `act` on it once, the first time
// `find` returns one: the operator's part of an end-to-end test while a
// modal window runs its own event loop. Stops looking when it goes.
class WhenWindowOpens {
public:
    WhenWindowOpens(std::function<platform::MessageWindow*()> find, std::function<void(platform::MessageWindow&)> act)
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this, find = std::move(find), act = std::move(act)] {
            platform::MessageWindow* w = find();
            if (!w || acted_)
                return;
            acted_ = true;
            act(*w);
        });
        timer_.start();
    }
    // Whether `act` has begun.
    bool acted() const { return acted_; }
    void stop() { timer_.stop(); }

private:
    QTimer timer_;
    bool acted_ = false;
};

}  // namespace testsupport
