#pragma once
// A document linked to a simulated player with a video store, and a
// stand-in main window that relays requests and link events, as the frame does.

#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/config_store.h"
#include "player/player_sim.h"
#include "player/video_store.h"
#include "tests/support/send_behind.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QDir>
#include <QTest>

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
        frame = testsupport::RelayFrame(kTitle, doc);
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        options.address = QStringLiteral("127.0.0.3");
        player = std::make_unique<sim::PlayerSim>(options);
        sim::installStandardCommands(*player);
        sim::installConfigStore(*player);
        QString error;
        started = player->start(&error);
        EXPECT_TRUE(started) << error.toStdString();
        testsupport::AimAt(*doc, *player);
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
        return testsupport::RequestsOf(*player, code);
    }

    QStringList boxTexts() const { return boxes.texts(); }

    // A request behind what was sent, for checks that nothing was (see
    // SendBehind).
    bool sendBehind(uint8_t code, uint16_t param = 0) const { return testsupport::SendBehind(*player, code, param); }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    bool started = false;
};

using testsupport::screenshotPath;

// Shows `dialog` as the active window and names the focused control at
// opening and after each of `steps` Tab presses ("-" when none has focus).
inline QStringList TabWalk(QWidget& dialog, int steps)
{
    dialog.show();
    dialog.activateWindow();
    (void)QTest::qWaitForWindowActive(&dialog, 2000);
    auto focused = [] {
        const QWidget* f = QApplication::focusWidget();
        return f ? f->objectName() : QStringLiteral("-");
    };
    QStringList names{focused()};
    for (int i = 0; i < steps; ++i) {
        QWidget* f = QApplication::focusWidget();
        QTest::keyClick(f ? f : &dialog, Qt::Key_Tab);
        names << focused();
    }
    return names;
}

}  // namespace contenttest
