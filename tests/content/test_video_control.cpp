#include "content/content_commands.h"
#include "content/video_control.h"
#include "tests/content/content_harness.h"

#include "player/remote_commands.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

namespace {

using contenttest::Harness;
using testsupport::waitUntil;

struct Remote {
    explicit Remote(Harness& h) : h(h), dialog(h.doc->titlePrefix(), h.doc->tempFolder())
    {
        h.store([](sim::VideoStoreState& s) {
            sim::addVideo(s.acts[0], "A", "x.mp4", 10);
            sim::addVideo(s.acts[0], "A", "y.mp4", 20);
            sim::addCategory(s.acts[0], "B");
            s.pushChanges = false;
        });
        {
            std::lock_guard lock(h.player->stateMutex());
            h.player->state().layouts = {{"a.GFD", ""}, {"b.GFD", ""}};
        }
        h.doc->onLayoutReply = content::LayoutListForwarder(*h.doc, nullptr);
    }
    // cmdId and document of every CMD_VIDEO_CONTROL the player got.
    std::vector<sim::ControlCommand> commands()
    {
        std::lock_guard lock(h.player->stateMutex());
        return sim::remoteState(*h.player).commands;
    }
    std::vector<sim::ControlCommand> commandsOf(uint16_t cmdId)
    {
        std::vector<sim::ControlCommand> out;
        for (const auto& c : commands())
            if (c.cmdId == cmdId)
                out.push_back(c);
        return out;
    }
    Harness& h;
    CVideoControl dialog;
};

TEST(VideoControl, StartSequenceAndOneProgressQueryPerSecond)
{
    Harness h;
    Remote r(h);
    r.dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return r.dialog.polling(); }));
    ASSERT_EQ(r.dialog.types().size(), 2u);
    EXPECT_EQ(r.dialog.types()[0].videos, QStringList({"x.mp4", "y.mp4"}));
    EXPECT_EQ(r.dialog.layouts(), QStringList({"a", "b"}));
    EXPECT_NE(r.dialog.findChild<QPushButton*>("5201"), nullptr);
    EXPECT_EQ(r.dialog.findChild<QPushButton*>("5201")->text(), "b.GFD");
    EXPECT_EQ(r.dialog.findChild<QPushButton*>("5202"), nullptr);
    // 19 first, then 52 sub-code 0, then the progress queries.
    std::vector<uint8_t> order;
    for (const auto& e : h.player->log())
        if (e.incoming && (e.header.command == 19 || e.header.command == 52 || e.header.command == 59))
            if (order.empty() || order.back() != e.header.command)
                order.push_back(e.header.command);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], 19);
    EXPECT_EQ(order[1], 52);

    ASSERT_TRUE(waitUntil([&] { return r.commandsOf(10).size() >= 2; }));
    EXPECT_TRUE(waitUntil([&] { return r.dialog.timeText().startsWith("01:02:0"); }));
    EXPECT_TRUE(r.dialog.timeText().endsWith("/02:02:02"));
    EXPECT_EQ(r.dialog.progress(), 50);
    EXPECT_EQ(r.dialog.nameText(), "Ads->a.mp4");
    EXPECT_EQ(r.commandsOf(10).front().document, "{\r\n\t\"cmdId\" : 10,\r\n\t\"playStep\" : \"\"\r\n}");  // written in text mode
    // Roughly one a second: over 2.2 s no more than three.
    const std::size_t before = r.commandsOf(10).size();
    testsupport::waitUntil([] { return false; }, 2200);
    const std::size_t during = r.commandsOf(10).size() - before;
    EXPECT_GE(during, 1u);
    EXPECT_LE(during, 3u);
}

TEST(VideoControl, ButtonsSendTheirDocumentsInBothLanguages)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        Harness h(language);
        Remote r(h);
        r.dialog.OnInitDialog();
        ASSERT_TRUE(waitUntil([&] { return r.dialog.polling(); }));
        // A video button before any type: nothing.
        r.dialog.OnVideoButton(0);
        r.dialog.OnTypeButton(0);  // "Video" not ticked: cmdId 2
        r.dialog.videoCheck()->setChecked(true);
        r.dialog.OnTypeButton(0);  // shows the videos, sends nothing
        EXPECT_FALSE(r.dialog.findChild<QPushButton*>("5101")->isHidden());
        EXPECT_TRUE(r.dialog.findChild<QPushButton*>("5102")->isHidden());
        r.dialog.OnVideoButton(1);
        r.dialog.OnVideoButton(2);  // beyond the type's videos: nothing
        r.dialog.OnLayoutButton(1);
        r.dialog.OnModeButton(remote::PlayMode::TypeLoop);
        r.dialog.OnModeButton(remote::PlayMode::Next);
        r.dialog.OnPlay(false);
        r.dialog.volume()->setValue(37);
        r.dialog.volume()->setValue(38);
        const bool zh = language == 4;
        struct Row {
            uint16_t cmdId;
            QByteArray value;
        };
        const std::vector<Row> expected = {
            {2, "\"type\" : \"A\""},
            {11, "\"playName\" : \"A:y.mp4\""},
            {6, "\"layoutName\" : \"b\""},
            {4, zh ? QByteArray("\"playMode\" : \"类别循环\"") : QByteArray("\"playMode\" : \"type loop\"")},
            {4, zh ? QByteArray("\"playMode\" : \"下一首\"") : QByteArray("\"playMode\" : \"next\"")},
            {9, "\"play\" : \"0\""},
        };
        ASSERT_TRUE(waitUntil([&] { return r.commandsOf(8).size() == 1; }));
        std::vector<sim::ControlCommand> got;
        for (const auto& c : r.commands())
            if (c.cmdId != 10 && c.cmdId != 8)
                got.push_back(c);
        ASSERT_EQ(got.size(), expected.size()) << language;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].cmdId, expected[i].cmdId) << language << " " << i;
            EXPECT_TRUE(got[i].document.contains(expected[i].value)) << got[i].document.constData();
        }
        EXPECT_TRUE(r.commandsOf(8).front().document.contains("\"sound\" : \"38\""));
        // One volume command however far the slider moved within the second.
        // Each tick sends the volume before its progress query: two more
        // queries arrived means a later tick's volume, had it sent one, too.
        const std::size_t queries = r.commandsOf(10).size();
        ASSERT_TRUE(waitUntil([&] { return r.commandsOf(10).size() >= queries + 2; }));
        EXPECT_EQ(r.commandsOf(8).size(), 1u);

        r.dialog.resize(1280, 720);
        r.dialog.show();
        r.dialog.grab().save(contenttest::screenshotPath(zh ? "video_control_zh" : "video_control_en"));
        r.dialog.hide();
    }
}

TEST(VideoControl, LockedLayoutListIsRefused)
{
    Harness h;
    Remote r(h);
    {
        std::lock_guard lock(h.player->stateMutex());
        h.player->state().layoutLocked = true;
    }
    r.dialog.OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return !h.boxTexts().isEmpty(); }));
    EXPECT_EQ(h.boxTexts().front(), "The layout is locked, please unlock it first!");
    EXPECT_FALSE(r.dialog.polling());
}

}  // namespace
