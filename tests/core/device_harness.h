#pragma once
// A document linked to a simulated player over loopback, with a stand-in for
// the main frame, for the device dialogs' end-to-end tests.

#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/home.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/device_commands.h"
#include "player/player_sim.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace devtest {

// Qt's own worker threads (the network access thread, the image writers)
// are not built for the thread checker, which then reports races inside Qt.
inline constexpr const char* kQtWorkerThreadsUnderThreadChecker =
    "uses Qt's own worker threads (network, image writing), which the thread checker cannot follow";
#define DEVTEST_SKIP_UNDER_THREAD_CHECKER()                                      \
    do {                                                                         \
        if (testsupport::kUnderThreadChecker)                                    \
            GTEST_SKIP() << devtest::kQtWorkerThreadsUnderThreadChecker;         \
    } while (0)

inline const QString kTitle = QStringLiteral("veluna V9.1.5");

struct DeviceHarness {
    // `playerReceiveBufferBytes`: the simulated player's receive buffer
    // (sim::SimOptions::receiveBufferBytes; 0 the system's own).
    explicit DeviceHarness(unsigned language = platform::kLanguageEnglish, bool connect = true,
                           int playerReceiveBufferBytes = 0)
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
        sim::SimOptions o;
        o.address = QStringLiteral("127.0.0.3");
        o.receiveBufferBytes = playerReceiveBufferBytes;
        player = std::make_unique<sim::PlayerSim>(o);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        store = sim::installDeviceCommands(*player);
        QString error;
        EXPECT_TRUE(player->start(&error)) << error.toStdString();
        doc->setTarget(player->options().address, player->tcpPort());
        doc->currentPlayer().ip = player->options().address;
        doc->currentPlayer().portText = QString::number(player->tcpPort());
        doc->currentPlayer().mac = player->options().mac;
        if (connect) {
            doc->OnReconnect();
            EXPECT_TRUE(testsupport::waitUntil([this] { return doc->IsConnected(); }));
            EXPECT_TRUE(testsupport::waitUntil([this] { return testsupport::HandshakeRequestsDone(*doc, *player); }));
            boxes.clear();
            player->clearLog();
        }
    }
    ~DeviceHarness()
    {
        doc.reset();
        frame.reset();
        if (player)
            player->stop();
    }

    // Requests of `code` that reached the player, in order.
    std::vector<sim::LogEntry> requests(uint8_t code) const
    {
        std::vector<sim::LogEntry> out;
        for (const sim::LogEntry& e : player->log())
            if (e.incoming && e.header.command == code)
                out.push_back(e);
        return out;
    }
    // The default only ends a frozen run: an 8 MB chunk under the thread
    // checker on a busy machine takes seconds.
    bool waitRequests(uint8_t code, std::size_t count, int timeoutMs = 30000) const
    {
        return testsupport::waitUntil([&] { return requests(code).size() >= count; }, timeoutMs);
    }
    template <class T>
    T withStore(const std::function<T(sim::DeviceStore&)>& f)
    {
        std::lock_guard<std::mutex> lk(player->stateMutex());
        return f(*store);
    }

    // Answers Yes/No boxes from `answers` in order (Yes once it runs out),
    // others with OK; every box is recorded.
    struct Boxes {
        Boxes()
        {
            platform::setMessageBoxAnswerer([this](const platform::MessageBoxCall& call) {
                calls.push_back(call);
                if (call.buttons != platform::MsgButtons::YesNo)
                    return platform::MsgResult::Ok;
                if (answers.empty())
                    return platform::MsgResult::Yes;
                const platform::MsgResult a = answers.front();
                answers.erase(answers.begin());
                return a;
            });
        }
        ~Boxes() { platform::setMessageBoxAnswerer({}); }
        void clear() { calls.clear(); }
        QStringList texts() const
        {
            QStringList out;
            for (const auto& c : calls)
                out << c.text;
            return out;
        }
        std::vector<platform::MessageBoxCall> calls;
        std::vector<platform::MsgResult> answers;
    };

    testsupport::TempHome home;
    Boxes boxes;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    std::shared_ptr<sim::DeviceStore> store;
};

// Where screenshots go: <build>/screenshots/<name>.png.
inline QString screenshotPath(const QString& name)
{
    const QString folder = testsupport::binDir() + QStringLiteral("/../screenshots");
    platform::ensureFolder(folder);
    return folder + QLatin1Char('/') + name + QStringLiteral(".png");
}

}  // namespace devtest
