#pragma once
// A document linked to a simulated player with a video store, and a
// stand-in main window that relays requests and link events, as the frame does.

#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "player/video_store.h"
#include "tests/support/test_support.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

namespace contenttest {

inline const QString kTitle = QStringLiteral("veluna V9.1.5");

struct Harness {
    explicit Harness(unsigned language = 9, sim::SimOptions options = {},
                     platform::MsgResult answer = platform::MsgResult::Yes)
        : boxes(answer)
    {
        platform::setAppTitle(kTitle);
        platform::setAppLanguage(language);
        frame = std::make_unique<platform::MessageWindow>(kTitle);
        frame->onMessage(platform::WM_SEND_TO_PLAYER, [this](platform::WPARAM, platform::LPARAM l) {
            std::unique_ptr<SendRequest> request(reinterpret_cast<SendRequest*>(l));
            if (doc)
                doc->SendToPlayers(*request);
            return platform::LRESULT(0);
        });
        frame->onMessage(platform::WM_TCP_EVENT, [this](platform::WPARAM, platform::LPARAM l) {
            if (doc)
                doc->OnLinkEvent(*reinterpret_cast<const LinkEvent*>(l));
            return platform::LRESULT(0);
        });
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        options.address = QStringLiteral("127.0.0.3");
        player = std::make_unique<sim::PlayerSim>(options);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        QString error;
        started = player->start(&error);
        EXPECT_TRUE(started) << error.toStdString();
        doc->setTarget(player->options().address, player->tcpPort());
        doc->currentPlayer().ip = player->options().address;
        doc->currentPlayer().portText = QString::number(player->tcpPort());
        doc->currentPlayer().mac = player->options().mac;
        doc->currentPlayer().version = options.version;
    }
    ~Harness()
    {
        doc.reset();
        player.reset();
        frame.reset();
    }

    template <class F>
    void store(F&& f)
    {
        std::lock_guard lock(player->stateMutex());
        f(sim::videoStore(*player));
    }

    // Requests of one command that reached the player, in order.
    std::vector<sim::LogEntry> requests(uint8_t code) const
    {
        std::vector<sim::LogEntry> out;
        for (const sim::LogEntry& e : player->log())
            if (e.incoming && e.header.command == code)
                out.push_back(e);
        return out;
    }

    QStringList boxTexts() const { return boxes.texts(); }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    bool started = false;
};

inline QString screenshotPath(const QString& name)
{
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name + QStringLiteral(".png");
}

}  // namespace contenttest
