#include "content/set_mov_conf.h"
#include "content/set_mov_conf_tab.h"
#include "content/store_texts.h"
#include "tests/content/content_harness.h"

#include "common/text_coding.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using contenttest::Harness;
using testsupport::waitUntil;
namespace texts = store::texts;

QString en(store::Message m)
{
    return QString::fromUtf8(m.english);
}

void fillStore(Harness& h)
{
    h.store([](sim::VideoStoreState& s) {
        sim::addVideo(s.acts[0], "A", "x.mp4", 10);
        sim::addVideo(s.acts[0], "A", "y.mp4", 20);
        sim::addCategory(s.acts[0], "B");
        sim::addVideo(s.acts[1], "Second", "z.mp4", 30);
        s.pushChanges = false;
    });
}

// The tree under the root as "category/video" lines.
QStringList treeLines(const CSetMovConf& page)
{
    QStringList lines;
    QTreeWidgetItem* root = page.tree()->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i) {
        lines << root->child(i)->text(0);
        for (int k = 0; k < root->child(i)->childCount(); ++k)
            lines << root->child(i)->text(0) + u'/' + root->child(i)->child(k)->text(0);
    }
    return lines;
}

struct Open {
    explicit Open(Harness& h, uint32_t screens = 1, uint16_t version = 0x2640)
        : dialog(h.doc->titlePrefix(), screens, version, h.player->options().address), page(dialog.page(0))
    {
        const std::size_t before = h.requests(proto::CMD_VIDEO_LIST).size();
        dialog.OnInitDialog();
        EXPECT_TRUE(waitUntil([&] { return page->catalog() && h.requests(proto::CMD_VIDEO_LIST).size() > before; }));
    }
    CSetMovConfTab dialog;
    CSetMovConf* page;
};

// Waits until the page has a fresh catalogue after `action`.
bool refreshed(Harness& h, CSetMovConf* page, const std::function<void()>& action)
{
    const auto* before = page->catalog();
    const std::size_t asked = h.requests(proto::CMD_VIDEO_LIST).size();
    action();
    return waitUntil([&] {
        return h.requests(proto::CMD_VIDEO_LIST).size() > asked && page->catalog() != before && !page->busy();
    });
}

TEST(VideoStorePage, RefreshForEachActAndTabs)
{
    Harness h;
    fillStore(h);
    {
        Open one(h);
        EXPECT_EQ(one.dialog.tabs()->count(), 1);
        EXPECT_EQ(one.dialog.windowTitle(), h.doc->titlePrefix() + u"Video Source Settings"_s);
        EXPECT_EQ(treeLines(*one.page), (QStringList{u"A"_s, u"A/x.mp4"_s, u"A/y.mp4"_s, u"B"_s}));
        EXPECT_EQ(one.page->tree()->topLevelItem(0)->text(0), u"127.0.0.3"_s);
        const auto first = h.requests(proto::CMD_VIDEO_LIST).back();
        EXPECT_EQ(first.header.arg, 0);
        EXPECT_EQ(first.header.sequence, 0);
        EXPECT_TRUE(first.payload.isEmpty());
        EXPECT_EQ(one.page->findChild<QLabel*>(u"1802"_s)->text(), u"Total space:16384MB Free space:12000MB"_s);
    }

    Open two(h, 2);
    ASSERT_EQ(two.dialog.tabs()->count(), 2);
    EXPECT_EQ(two.dialog.tabs()->tabText(1), u"Second Screen"_s);
    two.dialog.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(waitUntil([&] { return two.dialog.page(1)->catalog() != nullptr; }));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_LIST).back().header.arg, 1);
    EXPECT_EQ(treeLines(*two.dialog.page(1)), (QStringList{u"Second"_s, u"Second/z.mp4"_s}));
    EXPECT_TRUE(h.boxTexts().isEmpty());
}

TEST(VideoStorePage, DeleteAllACategoryAndAVideo)
{
    const struct {
        QStringList path;
        uint16_t flag;
        QByteArray payload;
        QStringList after;
        int questions;
    } rows[] = {
        {{}, 1, "A?B?", {}, 2},
        {{u"B"_s}, 1, "B?", {u"A"_s, u"A/x.mp4"_s, u"A/y.mp4"_s}, 1},
        {{u"A"_s, u"x.mp4"_s}, 0, "A:x.mp4?", {u"A"_s, u"A/y.mp4"_s, u"B"_s}, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.payload.toStdString());
        Harness h;
        fillStore(h);
        Open o(h);
        ASSERT_TRUE(o.page->SelectPath(r.path));
        o.page->OnDelete();
        ASSERT_TRUE(waitUntil([&] { return !o.page->busy(); }));
        const auto sent = h.requests(proto::CMD_VIDEO_DELETE);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].header.param, r.flag);
        EXPECT_EQ(sent[0].header.arg, 0);
        EXPECT_EQ(sent[0].payload, r.payload);
        EXPECT_EQ(h.boxes.calls().size(), std::size_t(r.questions));
        // The page shows the store as the player now holds it.
        if (r.path.isEmpty()) {
            ASSERT_TRUE(waitUntil([&] { return treeLines(*o.page).isEmpty(); }));
        }
        EXPECT_EQ(treeLines(*o.page), r.after);
        ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRefresh(); }));
        EXPECT_EQ(treeLines(*o.page), r.after);
    }
}

TEST(VideoStorePage, VideoNamedLikeItsCategoryOrTheRootIsAVideo)
{
    Harness h;
    h.store([](sim::VideoStoreState& s) {
        sim::addVideo(s.acts[0], "A", "A", 10);
        sim::addVideo(s.acts[0], "A", "127.0.0.3", 10);
        s.pushChanges = false;
    });
    Open o(h);
    for (const QString& name : {u"A"_s, u"127.0.0.3"_s}) {
        ASSERT_TRUE(o.page->SelectPath({u"A"_s, name}));
        o.page->OnDelete();
        ASSERT_TRUE(waitUntil([&] { return !o.page->busy(); }));
        const auto sent = h.requests(proto::CMD_VIDEO_DELETE).back();
        EXPECT_EQ(sent.header.param, 0);
        EXPECT_EQ(sent.payload, (u"A:"_s + name + u"?"_s).toUtf8());
    }
    // Both videos went; the category stayed, in the tree and on the player.
    EXPECT_EQ(treeLines(*o.page), QStringList{u"A"_s});
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRefresh(); }));
    EXPECT_EQ(treeLines(*o.page), QStringList{u"A"_s});
}

TEST(VideoStorePage, RenameRefusalsAndTheEightByteCut)
{
    Harness h;
    fillStore(h);
    Open o(h);
    auto* edit = o.page->findChild<QLineEdit*>(u"1804"_s);
    // A duplicate by extension is refused before anything is sent.
    ASSERT_TRUE(o.page->SelectPath({u"A"_s, u"x.mp4"_s}));
    edit->setText(u"y.mov"_s);
    o.page->OnRename();
    EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kFolderExists)});
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_VIDEO_RENAME).empty());
    EXPECT_FALSE(o.page->busy());

    h.boxes.clear();
    ASSERT_TRUE(o.page->SelectPath({u"B"_s}));
    edit->setText(u"0123456789"_s);
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRename(); }));
    EXPECT_EQ(h.boxTexts(), QStringList{u"Rename <B> to <01234567>?"_s});
    const auto sent = h.requests(proto::CMD_VIDEO_RENAME);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header.param, 1);
    EXPECT_EQ(sent[0].payload, QByteArray("B?01234567"));
    EXPECT_EQ(treeLines(*o.page).last(), u"01234567"_s);

    // A video rename goes out as "category:old?new".
    ASSERT_TRUE(o.page->SelectPath({u"A"_s, u"x.mp4"_s}));
    edit->setText(u"w.mp4"_s);
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRename(); }));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_RENAME).back().payload, QByteArray("A:x.mp4?w.mp4"));
    EXPECT_TRUE(treeLines(*o.page).contains(u"A/w.mp4"_s));
}

TEST(VideoStorePage, PlayNewFolderAndVolume)
{
    Harness h;
    fillStore(h);
    Open o(h);
    ASSERT_TRUE(o.page->SelectPath({u"A"_s, u"y.mp4"_s}));
    o.page->OnPlay();
    ASSERT_TRUE(waitUntil([&] { return !o.page->busy(); }));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_SELECT).back().payload, QByteArray("A:y.mp4"));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_SELECT).back().header.param, 0);

    auto* edit = o.page->findChild<QLineEdit*>(u"1804"_s);
    const struct {
        QString text;
        store::Message message;
    } refusals[] = {
        {u"a?"_s, texts::kFolderQuestionMark},
        {u"A"_s, texts::kFolderExists},
        {u"123456789"_s, texts::kFolderTooLong},
        {u""_s, texts::kFolderNotEntered},
    };
    for (const auto& r : refusals) {
        h.boxes.clear();
        edit->setText(r.text);
        o.page->OnNewFolder();
        EXPECT_EQ(h.boxTexts(), QStringList{en(r.message)});
        EXPECT_FALSE(o.page->busy());
    }
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_VIDEO_NEW_FOLDER).empty());
    edit->setText(u"  New"_s);
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnNewFolder(); }));
    EXPECT_EQ(h.requests(proto::CMD_VIDEO_NEW_FOLDER).back().payload, QByteArray("New"));
    EXPECT_EQ(treeLines(*o.page).last(), u"New"_s);

    // Volume: sent on the tick, and a change made while busy waits for the
    // page to be free instead of being lost.
    h.player->setFault(sim::Fault::Silent, 0, proto::CMD_VIDEO_SELECT);
    ASSERT_TRUE(o.page->SelectPath({u"A"_s, u"y.mp4"_s}));
    o.page->OnPlay();
    ASSERT_TRUE(o.page->busy());
    o.page->SetSlider(1, 70);
    o.page->OnVolumeTick();
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_TRACKBAR_VALUES).empty());
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRefresh(); }));
    o.page->OnVolumeTick();
    ASSERT_TRUE(waitUntil([&] { return !h.requests(proto::CMD_TRACKBAR_VALUES).empty() && !o.page->busy(); }));
    const auto volume = h.requests(proto::CMD_TRACKBAR_VALUES).back();
    EXPECT_EQ(volume.header.param, 70);
    EXPECT_EQ(volume.header.sequence, 0);
    h.store([](sim::VideoStoreState& s) { EXPECT_EQ(s.sliders[1], 70); });
    // The next catalogue brings the player's values back into the sliders.
    ASSERT_TRUE(refreshed(h, o.page, [&] { o.page->OnRefresh(); }));
    EXPECT_EQ(o.page->findChild<QSlider*>(u"1811"_s)->value(), 70);
}

TEST(VideoStorePage, PlayTimeAndTheVersionGate)
{
    {
        Harness h;
        fillStore(h);
        h.store([](sim::VideoStoreState& s) { s.playTimeSeconds = 150; });
        Open o(h, 1, 0x2640);
        auto* edit = o.page->findChild<QLineEdit*>(u"1817"_s);
        ASSERT_TRUE(waitUntil([&] { return edit->text() == u"2.50"_s; }));
        const struct {
            QString minutes;
            int sent;  // -1: refused
            const char* box;
        } rows[] = {
            {u"0"_s, 0, "Play time has been set！"},
            {u"1.5"_s, 90, "Play time has been set！"},
            {u"-0.01"_s, -1, texts::kPlayTimeNegative.english},
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(r.minutes.toStdString());
            h.boxes.clear();
            const std::size_t before = h.requests(proto::CMD_PARAM_FILE).size();
            edit->setText(r.minutes);
            o.page->OnSetPlayTime();
            ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls().empty(); }));
            EXPECT_EQ(h.boxTexts(), QStringList{QString::fromUtf8(r.box)});
            const auto sent = h.requests(proto::CMD_PARAM_FILE);
            if (r.sent < 0) {
                EXPECT_EQ(sent.size(), before);
                continue;
            }
            ASSERT_EQ(sent.size(), before + 1);
            EXPECT_EQ(sent.back().header.param, 5);
            ASSERT_EQ(sent.back().payload.size(), 4);
            EXPECT_EQ(proto::getI32(reinterpret_cast<const uint8_t*>(sent.back().payload.constData())), r.sent);
    }
    }
    Harness old;
    fillStore(old);
    Open gated(old, 1, 0x2630);
    EXPECT_TRUE(old.requests(proto::CMD_PARAM_FILE).empty());
    EXPECT_FALSE(gated.page->findChild<QLineEdit*>(u"1817"_s)->isEnabled());
    EXPECT_FALSE(gated.page->findChild<QPushButton*>(u"1818"_s)->isEnabled());
}

TEST(VideoStorePage, LockedRepliesShowTheMessageAndFreeThePage)
{
    Harness h;
    fillStore(h);
    Open o(h);
    h.store([](sim::VideoStoreState& s) { s.locked = true; });
    auto* edit = o.page->findChild<QLineEdit*>(u"1804"_s);
    const struct {
        const char* what;
        std::function<void()> act;
    } rows[] = {
        {"delete", [&] { o.page->SelectPath({u"B"_s}); o.page->OnDelete(); }},
        {"play", [&] { o.page->SelectPath({u"B"_s}); o.page->OnPlay(); }},
        {"rename", [&] { o.page->SelectPath({u"B"_s}); edit->setText(u"C"_s); o.page->OnRename(); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        h.boxes.clear();
        r.act();
        ASSERT_TRUE(waitUntil([&] { return h.boxTexts().contains(en(texts::kLocked)); }));
        EXPECT_FALSE(o.page->busy());
    }
    EXPECT_EQ(treeLines(*o.page), (QStringList{u"A"_s, u"A/x.mp4"_s, u"A/y.mp4"_s, u"B"_s}));
}

TEST(VideoStorePage, ExportWritesTheLastCatalogue)
{
    Harness h;
    fillStore(h);
    Open o(h);
    const QString path = h.home.path() + u"/list.DAT"_s;
    platform::FileDialogCall seen{};
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& c) {
        seen = c;
        return path;
    });
    o.page->OnExportFileList();
    platform::setFileDialogAnswerer({});
    EXPECT_EQ(seen.caption, u"Save the File List parameter"_s);
    EXPECT_EQ(seen.filter, u"File list parameter(*.DAT)|*.DAT||"_s);
    QByteArray expected;
    h.store([&](sim::VideoStoreState& s) { expected = s.acts[0].pack(); });
    EXPECT_EQ(testsupport::readFile(path), expected);
    EXPECT_EQ(expected.size(), 207496);
    EXPECT_EQ(h.boxTexts(), QStringList{en(texts::kExportDone)});
}

}  // namespace

namespace {

TEST(VideoStorePage, KeysOfThePage)
{
    Harness h(9, {}, platform::MsgResult::No);  // every question answered No
    fillStore(h);
    Open o(h);
    bool closed = false;
    QObject::connect(&o.dialog, &QDialog::finished, [&closed] { closed = true; });
    QTreeWidget* tree = o.page->tree();
    ASSERT_TRUE(o.page->SelectPath({u"A"_s, u"x.mp4"_s}));
    tree->setFocus();
    const struct {
        Qt::Key key;
        QWidget* target;
        uint8_t command;  // the request it sends (0: none)
        QString box;      // the message it shows (empty: none)
    } rows[] = {
        {Qt::Key_F6, tree, proto::CMD_VIDEO_SELECT, {}},
        {Qt::Key_Delete, tree, 0, en(texts::kConfirmDelete)},
        {Qt::Key_F5, tree, proto::CMD_VIDEO_LIST, {}},
        {Qt::Key_F2, tree, 0, en(texts::kRenameNotEntered)},
        {Qt::Key_Escape, tree, 0, {}},
        {Qt::Key_Return, o.page->findChild<QLineEdit*>(u"1804"_s), 0, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(int(r.key));
        h.boxes.clear();
        ASSERT_TRUE(waitUntil([&] { return !o.page->busy(); }));
        const std::size_t before = r.command ? h.requests(r.command).size() : 0;
        QTest::keyClick(r.target, r.key);
        if (r.command) {
            EXPECT_TRUE(waitUntil([&] { return h.requests(r.command).size() > before; }));
        }
        EXPECT_EQ(h.boxTexts(), r.box.isEmpty() ? QStringList() : QStringList{r.box});
        EXPECT_FALSE(closed);  // Enter and Esc do not close the window
    }
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_TRUE(h.requests(proto::CMD_VIDEO_DELETE).empty());
}

}  // namespace
