#pragma once
// Tollivar's main window and link hub with three simulated players on
// 127.0.0.2, 127.0.0.3 and 127.0.0.4, for the end-to-end tests of the pages
// that work on ticked players. A fixture derives from it, makes its page
// and resets the page in its own destructor; the hub, the window and the
// players go after it, and the title and language are put back.

#include "companion/link_hub.h"
#include "companion/tollivar_dlg.h"
#include "platform/app_identity.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace comptest {

struct HubWithPlayers {
    // `prepare` sets the state of each player (`host` 2, 3 or 4) under its
    // state lock, once the player is listening.
    HubWithPlayers(unsigned language, const std::function<void(sim::PlayerSim&, int host)>& prepare)
    {
        using namespace Qt::StringLiterals;
        platform::setAppTitle(u"Tollivar V1.23"_s);
        platform::setAppLanguage(language);
        main = std::make_unique<platform::MessageWindow>(platform::appTitle());
        hub = std::make_unique<tollivar::CLinkHub>(*main, u"Tollivar-"_s, language);
        for (int host = 2; host <= 4; ++host) {
            sim::SimOptions o;
            o.address = u"127.0.0.%1"_s.arg(host);
            players.push_back(std::make_unique<sim::PlayerSim>(o));
            sim::PlayerSim& p = *players.back();
            sim::installStandardCommands(p);
            QString error;
            EXPECT_TRUE(p.start(&error)) << error.toStdString();
            std::lock_guard<std::mutex> lk(p.stateMutex());
            prepare(p, host);
        }
    }
    ~HubWithPlayers()
    {
        hub.reset();
        main.reset();
        players.clear();
        platform::setAppTitle(previousTitle);
        platform::setAppLanguage(platform::kLanguageEnglish);
    }
    HubWithPlayers(const HubWithPlayers&) = delete;
    HubWithPlayers& operator=(const HubWithPlayers&) = delete;

    // Every player, as the scan page hands them on when all are ticked.
    std::vector<tollivar::TickedPlayer> ticked() const
    {
        std::vector<tollivar::TickedPlayer> list;
        for (const auto& p : players)
            list.push_back({p->options().address, QString::number(p->tcpPort())});
        return list;
    }

    // A catalogue at 5 KB/s is dropped after about 2.2 s, not 22.7 s: the
    // rule as it stands, with the length allowed at 1 MB/s.
    void dropSlowRepliesSoon()
    {
        hub->SetReplyLimit(tollivar::CLinkHub::kReplyStallLimit, 100 * tollivar::CLinkHub::kSlowLinkBytesPerSecond);
    }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    QTemporaryDir temp;
    QString previousTitle = platform::appTitle();
    std::unique_ptr<platform::MessageWindow> main;
    std::unique_ptr<tollivar::CLinkHub> hub;
    std::vector<std::unique_ptr<sim::PlayerSim>> players;
};

// What a page says when a reply of the player at `ip` was dropped as too slow.
inline QString tooSlowNotice(unsigned language, const QString& ip)
{
    using namespace Qt::StringLiterals;
    return (language == platform::kLanguageChinese ? u"播放器 %1 的回复太慢，已丢弃。"_s
                                                   : u"The reply of player %1 came too slowly and was dropped."_s)
        .arg(ip);
}

}  // namespace comptest
