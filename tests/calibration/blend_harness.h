#pragma once
// A document linked to a simulated player that answers the blending, colour,
// cascade and timing commands, and a stand-in main window that relays
// requests and link events as the frame does.

#include "core/document.h"
#include "platform/app_identity.h"
#include "platform/messages.h"
#include "player/blend_commands.h"
#include "player/player_sim.h"
#include "tests/support/send_behind.h"
#include "tests/support/frame_harness.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace blendtest {

inline const QString kTitle = QStringLiteral("veluna V9.1.5");

struct Harness {
    explicit Harness(unsigned language = 9, platform::MsgResult answer = platform::MsgResult::Yes,
                     const QString& address = QStringLiteral("127.0.0.3"))
        : boxes(answer), languageScope(language)
    {
        platform::setAppTitle(kTitle);
        frame = testsupport::RelayFrame(kTitle, doc, [this](const SendRequest& r) { sent.push_back(r); });
        doc = std::make_unique<CvelunaDoc>(frame.get(), QStringList());
        sim::SimOptions options;
        options.address = address;
        player = std::make_unique<sim::PlayerSim>(options);
        sim::installStandardCommands(*player);
        QString error;
        started = player->start(&error);
        EXPECT_TRUE(started) << error.toStdString();
        testsupport::AimAt(*doc, *player);
    }
    ~Harness()
    {
        doc.reset();
        player.reset();
        frame.reset();
    }

    template <class F>
    auto state(F&& f)
    {
        return sim::blendPlayerOf(*player)->with(std::forward<F>(f));
    }

    std::vector<sim::LogEntry> requests(uint8_t code) const
    {
        return testsupport::RequestsOf(*player, code);
    }
    // A request behind what was sent, for checks that nothing was (see
    // testsupport::SendBehind).
    bool sendBehind(uint8_t code, uint16_t param = 0) const { return testsupport::SendBehind(*player, code, param); }

    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes;
    testsupport::ScopedLanguage languageScope;
    std::unique_ptr<platform::MessageWindow> frame;
    std::unique_ptr<CvelunaDoc> doc;
    std::unique_ptr<sim::PlayerSim> player;
    std::vector<SendRequest> sent;  // every request the main window took
    bool started = false;
};

using testsupport::screenshotPath;

// Screenshots are not taken under the thread checker: Qt converts large
// images on its own pooled threads, which the checker cannot follow.
inline bool screenshotsTaken()
{
    return !testsupport::kUnderThreadChecker;
}

inline void saveScreenshot(QWidget& w, const QString& name)
{
    if (!screenshotsTaken())
        return;
    w.adjustSize();
    EXPECT_TRUE(w.grab().save(screenshotPath(name)));
}

inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

}  // namespace blendtest
