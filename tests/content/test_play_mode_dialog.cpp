#include "content/content_commands.h"
#include "content/play_mode_dialog.h"
#include "tests/content/content_harness.h"

#include "common/controls/property_grid.h"
#include "core/command_registry.h"
#include "player/play_mode_commands.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using contenttest::Harness;
using playmode::PlayMode;
using testsupport::waitUntil;
using Side = CPlayModeDialog::Side;

QByteArray typeParam(const QByteArray& name)
{
    return R"({"keyVal":"type","inputType":5,"lableName":"mode","remarks":"","valueRange":[")" + name +
           R"("],"select":")" + name + R"("})";
}

// A mode with a range row, two rows of one label and the picture types.
QByteArray fullMode(const QByteArray& name)
{
    return "[" + typeParam(name) +
           R"(,{"keyVal":"duration","inputType":6,"lableName":"duration","remarks":"s","valueRange":[100,1],"select":5},
    {"keyVal":"a","inputType":0,"lableName":"level","remarks":"","valueRange":[3],"select":3},
    {"keyVal":"b","inputType":0,"lableName":"level","remarks":"","valueRange":[3],"select":3},
    {"keyVal":"bright","inputType":7,"lableName":"\u4eae\u5ea6","remarks":"","valueRange":[0,1],"select":0.5},
    {"keyVal":"pictureType","inputType":8,"lableName":"types","remarks":"","valueRange":["jpg","png"],"select":["jpg","png"]}])";
}

QByteArray lists(const QByteArrayList& modes)
{
    return "{\"effectLists\":[" + modes.join(',') + "]}";
}

struct Docs {
    QByteArray catalogue = lists({fullMode("fade"), "[" + typeParam("slide") + "]"});
    QByteArray types = R"({"imageTypes":["jpg","png","bmp"]})";
    QByteArray configured = lists({fullMode("one"), "[" + typeParam("two") + "]", "[" + typeParam("three") + "]"});
};

void serve(Harness& h, const Docs& d)
{
    std::lock_guard lock(h.player->stateMutex());
    sim::PlayModeState& s = sim::playModeStore(*h.player);
    s.pictureCatalogue = s.videoCatalogue = d.catalogue;
    s.imageTypes = d.types;
    s.pictureModes = s.videoModes = d.configured;
}

sim::PlayModeState stored(Harness& h)
{
    std::lock_guard lock(h.player->stateMutex());
    return sim::playModeStore(*h.player);
}

std::unique_ptr<CPlayModeDialog> open(Harness& h, Side side, int modes)
{
    std::unique_ptr<CPlayModeDialog> d;
    if (side == Side::Picture)
        d = std::make_unique<CPicturePlayControl>(h.doc->titlePrefix(), h.doc->tempFolder(), u"127.0.0.3"_s);
    else
        d = std::make_unique<CVideoPlayControl>(h.doc->titlePrefix(), h.doc->tempFolder(), u"127.0.0.3"_s);
    d->OnInitDialog();
    EXPECT_TRUE(waitUntil([&] { return int(d->playModes().size()) == modes && d->combo()->count() > 0; }));
    return d;
}

QTreeWidgetItem* modeItem(CPlayModeDialog& d, int i)
{
    return d.tree()->topLevelItem(0)->child(i);
}

PropertyItem* row(CPlayModeDialog& d, const QString& group, const QString& name, int nth = 0)
{
    for (int g = 0; g < d.grid()->topLevelCount(); ++g) {
        PropertyItem* top = d.grid()->topLevelAt(g);
        if (top->name() != group)
            continue;
        for (int i = 0; i < top->childCount(); ++i)
            if (top->childAt(i)->name() == name && nth-- == 0)
                return top->childAt(i);
    }
    return nullptr;
}

const playmode::EffectParam& paramOf(const CPlayModeDialog& d, int mode, const char* key)
{
    for (const auto& p : d.playModes()[std::size_t(mode)].params)
        if (p.keyVal == QLatin1String(key))
            return p;
    static const playmode::EffectParam none;
    ADD_FAILURE() << key;
    return none;
}

TEST(PlayModeEditor, StartUpChainsAsBytesWhateverTheRepliesHold)
{
    const struct {
        const char* name;
        Side side;
        QByteArray catalogue, types;
        uint8_t code;
        std::vector<std::pair<uint16_t, uint16_t>> requests;  // param, arg
        int comboEntries;
    } rows[] = {
        {"picture", Side::Picture, Docs().catalogue, Docs().types, 63, {{0, 0}, {2, 0}, {1, 0}}, 2},
        {"picture, broken replies", Side::Picture, "{\"effectLists\":[", "", 63, {{0, 0}, {2, 0}, {1, 0}}, 0},
        {"video", Side::Video, Docs().catalogue, Docs().types, 3, {{6, 0}, {6, 1}}, 2},
        {"video, broken catalogue", Side::Video, "[]", Docs().types, 3, {{6, 0}, {6, 1}}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Harness h;
        Docs docs;
        docs.catalogue = r.catalogue;
        docs.types = r.types;
        serve(h, docs);
        CPicturePlayControl picture(h.doc->titlePrefix(), h.doc->tempFolder(), u"127.0.0.3"_s);
        CVideoPlayControl video(h.doc->titlePrefix(), h.doc->tempFolder(), u"127.0.0.3"_s);
        CPlayModeDialog& d = r.side == Side::Picture ? static_cast<CPlayModeDialog&>(picture) : video;
        d.OnInitDialog();
        ASSERT_TRUE(waitUntil([&] { return d.playModes().size() == 3; }));
        const auto sent = h.requests(r.code);
        ASSERT_EQ(sent.size(), r.requests.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].header.subCode, 0);
            EXPECT_EQ(sent[i].header.sequence, 0);
            EXPECT_EQ(sent[i].header.param, r.requests[i].first) << i;
            EXPECT_EQ(sent[i].header.arg, r.requests[i].second) << i;
            EXPECT_TRUE(sent[i].payload.isEmpty());
        }
        EXPECT_EQ(d.combo()->count(), r.comboEntries);
        // The first configured mode is shown; the root stands for the player.
        EXPECT_EQ(d.tree()->topLevelItem(0)->text(0), u"127.0.0.3"_s);
        EXPECT_EQ(d.shownMode(), 0);
        EXPECT_EQ(d.grid()->topLevelAt(0)->valueText(), u"one"_s);
        const int picTypes = r.side == Side::Picture && !r.types.isEmpty() ? 3 : 0;
        EXPECT_EQ(d.grid()->topLevelAt(2)->childCount(), picTypes);
        EXPECT_TRUE(h.boxTexts().isEmpty());
    }
}

TEST(PlayModeEditor, AddUpToTheLimitThenRefuse)
{
    for (Side side : {Side::Picture, Side::Video}) {
        Harness h;
        Docs docs;
        docs.configured = lists({});
        serve(h, docs);
        auto d = open(h, side, 0);
        for (int i = 0; i < d->limit(); ++i) {
            d->combo()->setCurrentIndex(i % 2);
            d->OnAddMode();
            ASSERT_EQ(int(d->playModes().size()), i + 1);
            EXPECT_EQ(d->shownMode(), i);  // the new mode is shown
        }
        EXPECT_TRUE(h.boxTexts().isEmpty());
        d->OnAddMode();
        EXPECT_EQ(int(d->playModes().size()), d->limit());
        EXPECT_EQ(h.boxTexts(), QStringList{u"There are enough play mode to add!"_s});
        EXPECT_EQ(modeItem(*d, 1)->text(0), u"slide"_s);
        EXPECT_EQ(modeItem(*d, 1)->data(0, Qt::UserRole).toInt(), 1);
    }
}

TEST(PlayModeEditor, DeleteAskRootAndLastMode)
{
    Harness h;  // answers Yes
    serve(h, Docs());
    auto d = open(h, Side::Picture, 3);
    // The root stands for no mode: nothing is asked or deleted.
    d->OnTreeSelect(d->tree()->topLevelItem(0));
    EXPECT_EQ(d->grid()->topLevelCount(), 0);
    d->OnDeleteMode();
    EXPECT_TRUE(h.boxTexts().isEmpty());

    d->OnTreeSelect(modeItem(*d, 1));
    EXPECT_EQ(d->shownMode(), 1);
    d->OnDeleteMode();
    EXPECT_EQ(h.boxTexts(), QStringList{u"Do you really want to delete it?"_s});
    ASSERT_EQ(d->playModes().size(), 2u);
    EXPECT_EQ(d->playModes()[1].name, u"three"_s);
    EXPECT_EQ(modeItem(*d, 0)->data(0, Qt::UserRole).toInt(), 0);
    EXPECT_EQ(modeItem(*d, 1)->data(0, Qt::UserRole).toInt(), 1);
    EXPECT_EQ(d->shownMode(), 0);
    EXPECT_EQ(d->grid()->topLevelAt(0)->valueText(), u"one"_s);

    for (int i = 0; i < 2; ++i) {
        d->OnTreeSelect(modeItem(*d, 0));
        d->OnDeleteMode();
    }
    EXPECT_TRUE(d->playModes().empty());
    EXPECT_EQ(d->grid()->topLevelCount(), 0);  // no rows left that would edit nothing
    EXPECT_EQ(d->shownMode(), -1);
}

TEST(PlayModeEditor, DeleteAnsweredNoKeepsTheMode)
{
    Harness h(9, {}, platform::MsgResult::No);
    serve(h, Docs());
    auto d = open(h, Side::Picture, 3);
    d->OnTreeSelect(modeItem(*d, 2));
    d->OnDeleteMode();
    EXPECT_EQ(d->playModes().size(), 3u);
}

TEST(PlayModeEditor, GridEditsRangesLabelsAndPictureTypes)
{
    Harness h;
    serve(h, Docs());
    auto d = open(h, Side::Picture, 3);
    PropertyGrid* grid = d->grid();
    EXPECT_EQ(grid->topLevelAt(0)->name(), u"(play mode)"_s);
    EXPECT_TRUE(grid->topLevelAt(0)->isReadOnly());
    EXPECT_EQ(row(*d, u"setting"_s, u"mode"_s), nullptr);  // the "type" parameter has no row

    const struct {
        const char* name;
        qint64 value;
        qint64 stored;
        qint64 shown;
        bool refused;
    } ranges[] = {
        {"upper bound", 100, 100, 100, false},
        {"above", 101, 5, 5, true},  // back to the value shown at first
        {"lower bound", 1, 1, 1, false},
        {"below", 0, 5, 5, true},
    };
    for (const auto& r : ranges) {
        SCOPED_TRACE(r.name);
        h.boxes.clear();
        PropertyItem* duration = row(*d, u"setting"_s, u"duration"_s);
        ASSERT_NE(duration, nullptr);
        grid->applyUserValue(duration, r.value);
        EXPECT_EQ(paramOf(*d, 0, "duration").integerInRange, r.stored);
        EXPECT_EQ(duration->value().toLongLong(), r.shown);
        EXPECT_EQ(h.boxTexts(), r.refused ? QStringList{u"input error"_s} : QStringList());
    }

    // Two parameters with one label: an edit of either row changes both.
    grid->applyUserValue(row(*d, u"setting"_s, u"level"_s, 1), 42);
    EXPECT_EQ(paramOf(*d, 0, "a").integerValue, 42);
    EXPECT_EQ(paramOf(*d, 0, "b").integerValue, 42);

    const struct {
        const char* type;
        bool checked;
        QStringList choices;
    } types[] = {
        {"jpg", false, {u"png"_s}},
        {"jpg", true, {u"png"_s, u"jpg"_s}},
        {"bmp", true, {u"png"_s, u"jpg"_s, u"bmp"_s}},
        {"png", false, {u"jpg"_s, u"bmp"_s}},
    };
    for (const auto& t : types) {
        grid->applyUserValue(row(*d, u"pic type"_s, QString::fromLatin1(t.type)), t.checked);
        EXPECT_EQ(paramOf(*d, 0, "pictureType").listChoices, t.choices) << t.type;
    }
    // Edits with the root selected change nothing (the grid is empty then).
    d->OnTreeSelect(d->tree()->topLevelItem(0));
    EXPECT_EQ(grid->topLevelCount(), 0);
}

TEST(PlayModeEditor, SaveSendsTheWholeFileAndShowsSaved)
{
    const struct {
        Side side;
        unsigned language;
        uint16_t param, arg;
        const char* file;
        QString saved;
    } rows[] = {
        {Side::Picture, 9, 3, 0, "PicturePlayControl.Json", u"Saved"_s},
        {Side::Picture, 4, 3, 0, "PicturePlayControl.Json", u"保存完成"_s},
        {Side::Video, 9, 6, 2, "VideoPlayControl.Json", u"Saved"_s},
        {Side::Video, 4, 6, 2, "VideoPlayControl.Json", u"保存完成"_s},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file + std::to_string(r.language));
        Harness h(r.language);
        serve(h, Docs());
        auto d = open(h, r.side, 3);
        d->combo()->setCurrentIndex(0);
        if (r.side == Side::Picture) {
            d->OnAddMode();
            d->OnAddMode();  // the same catalogue mode twice
        }
        d->OnSave();
        ASSERT_TRUE(waitUntil([&] { return !h.boxTexts().isEmpty(); }));
        EXPECT_EQ(h.boxTexts(), QStringList{r.saved});
        const QByteArray file = testsupport::readFile(QDir(h.doc->tempFolder()).filePath(QString::fromLatin1(r.file)));
        ASSERT_FALSE(file.isEmpty());
        EXPECT_EQ(file.count('\n'), file.count("\r\n"));
        const auto sent = h.requests(63).back();
        EXPECT_EQ(sent.header.param, r.param);
        EXPECT_EQ(sent.header.arg, r.arg);
        EXPECT_EQ(sent.payload, file);
        const sim::PlayModeState s = stored(h);
        EXPECT_EQ(r.side == Side::Picture ? s.pictureModes : s.videoModes, file);
        // The label came as \u escapes and goes back as the same characters.
        EXPECT_TRUE(file.contains("\"lableName\" : \"\xE4\xBA\xAE\xE5\xBA\xA6\""));

        // A reopened editor shows what was saved.
        std::vector<PlayMode> saved = d->playModes();
        d.reset();
        // No picture types on the video side: the choices go up empty.
        if (r.side == Side::Video)
            for (PlayMode& m : saved)
                for (auto& p : m.params)
                    if (p.keyVal == u"pictureType"_s)
                        p.listChoices.clear();
        auto again = open(h, r.side, r.side == Side::Picture ? 5 : 3);
        EXPECT_EQ(again->playModes(), saved);
        if (r.side == Side::Picture) {
            std::vector<PlayMode> twice(again->playModes().end() - 2, again->playModes().end());
            EXPECT_EQ(twice[0], twice[1]);
        } else {
            EXPECT_TRUE(paramOf(*again, 0, "pictureType").listChoices.isEmpty());
        }
    }
}

TEST(PlayModeEditor, EnterSavesEscClosesWithoutAQuestion)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    serve(h, Docs());
    auto d = open(h, Side::Video, 3);
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    QTest::keyClick(d.get(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return stored(h).videoUploads == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !h.boxTexts().isEmpty(); }));
    h.boxes.clear();
    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_TRUE(h.boxTexts().isEmpty());
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_EQ(stored(h).videoUploads, 1);
}

TEST(PlayModeEditor, CommandsAreRegisteredAndNeedAConnection)
{
    core::clearCommands();
    content::InstallContentCommands();
    Harness h;
    for (int id : {32807, 32808, 32812}) {
        const core::CommandEntry* entry = core::findCommand(id);
        ASSERT_NE(entry, nullptr) << id;
        EXPECT_FALSE(core::IsCommandEnabled(*h.doc, id)) << id;
    }
    core::clearCommands();
}

TEST(PlayModeEditor, Screenshots)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        for (Side side : {Side::Picture, Side::Video}) {
            Harness h(language);
            serve(h, Docs());
            auto d = open(h, side, 3);
            d->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
            d->grid()->setSelectedItem(row(*d, language == 4 ? u"设置"_s : u"setting"_s, u"duration"_s));
            QTest::qWait(50);
            const QString name = (side == Side::Picture ? u"picture-play-control"_s : u"video-play-control"_s) +
                                 (language == 4 ? u"-zh"_s : u"-en"_s);
            EXPECT_TRUE(d->grab().save(contenttest::screenshotPath(name)));
            EXPECT_EQ(d->windowTitle(), h.doc->titlePrefix() + (side == Side::Picture
                                                                     ? (language == 4 ? u"图片播放控制"_s
                                                                                      : u"Picture Play Control"_s)
                                                                     : (language == 4 ? u"视频播放控制"_s
                                                                                      : u"Video Play Control"_s)));
        }
    }
}

}  // namespace

namespace {

TEST(PlayModeEditor, MenuCommandsOpenTheDialogsWithTheDocumentsFolders)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    core::clearCommands();
    content::InstallContentCommands();
    const struct {
        int id;
        QString caption;
        uint8_t firstCode;
    } rows[] = {
        {32807, u"Picture Play Control"_s, 63},
        {32812, u"Video Play Control"_s, 3},
        {32808, u"Cloud Settings"_s, 62},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        Harness h;
        serve(h, Docs());
        h.doc->OnReconnect();
        ASSERT_TRUE(waitUntil([&] { return h.doc->IsConnected(); }));
        const core::CommandEntry* entry = core::findCommand(r.id);
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(core::IsCommandEnabled(*h.doc, r.id));
        QDir(h.doc->tempFolder()).removeRecursively();
        QString seen;
        QTimer::singleShot(0, [&] {
            waitUntil([] { return QApplication::activeModalWidget() != nullptr; });
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            seen = dialog->windowTitle();
            waitUntil([&] { return !h.requests(r.firstCode).empty(); });
            // Esc closes the play-mode editors; the settings dialog asks (Yes).
            static_cast<QDialog*>(dialog)->reject();
        });
        entry->run(*h.doc);
        EXPECT_EQ(seen, h.doc->titlePrefix() + r.caption);
        EXPECT_FALSE(h.requests(r.firstCode).empty());
        EXPECT_TRUE(QDir(h.doc->tempFolder()).exists());
    }
    core::clearCommands();
}

}  // namespace

namespace {

TEST(PlayModeEditor, KeyboardSelectionIsTheModeShownAndDeleted)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    Harness h;
    serve(h, Docs());
    auto d = open(h, Side::Picture, 3);
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
    d->tree()->setFocus();
    QTest::keyClick(d->tree(), Qt::Key_Down);
    EXPECT_EQ(d->shownMode(), 1);
    EXPECT_EQ(d->grid()->topLevelAt(0)->valueText(), u"two"_s);
    d->OnDeleteMode();
    ASSERT_EQ(d->playModes().size(), 2u);
    EXPECT_EQ(d->playModes()[1].name, u"three"_s);
}

}  // namespace

namespace {

TEST(PlayModeEditor, ADocumentLargerThanOnePacketIsRefusedNotCut)
{
    Harness h;
    serve(h, Docs());
    auto d = open(h, Side::Picture, 3);
    const QByteArray big(qsizetype(proto::kMaxPayload), 'x');
    d->OnPlayReply(playmode::kPicConfigured,
                   lists({R"([{"keyVal":"t","inputType":2,"lableName":"t","remarks":"","valueRange":[],"select":")" +
                          big + "\"}]"}));
    ASSERT_EQ(d->playModes().size(), 1u);
    const std::size_t uploads = h.requests(63).size();
    d->OnSave();
    EXPECT_EQ(h.boxTexts(), QStringList{u"The document is too large to send to the player in one packet!"_s});
    ASSERT_TRUE(h.sendBehind(proto::CMD_QRCODE));  // a read no window here takes
    EXPECT_EQ(h.requests(63).size(), uploads);
    EXPECT_EQ(stored(h).pictureUploads, 0);
}

}  // namespace
