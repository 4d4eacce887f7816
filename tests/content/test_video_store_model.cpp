#include "common/text_coding.h"
#include "content/store_texts.h"
#include "content/video_store_model.h"
#include "player/video_store.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace Qt::StringLiterals;
using store::Level;

QByteArray gbk(const QString& s)
{
    return text::stringToLocal(s);
}

std::unique_ptr<PlayerCatalog> sampleCatalog()
{
    auto c = std::make_unique<PlayerCatalog>();
    c->totalMB = 1000;
    c->freeMB = 500;
    sim::addVideo(*c, "A", "x.mp4", 10);
    sim::addVideo(*c, "A", "y.mp4", 20);
    sim::addCategory(*c, "Empty");
    sim::addVideo(*c, gbk(u"中文"_s), gbk(u"歌.mp4"_s), 30);
    return c;
}

TEST(StoreModel, TreeKeepsCatalogueOrderSkipsEmptyEntriesAndBadIndexes)
{
    auto c = sampleCatalog();
    // An unused entry between used ones, and a list naming an index of 512.
    c->categories[5].name = {'L', 'a', 's', 't'};
    c->categories[5].count = 2;
    c->categories[5].videoIndex[0] = 512;
    c->categories[5].videoIndex[1] = 1;
    const auto tree = store::BuildTree(*c);
    ASSERT_EQ(tree.size(), 4u);
    const struct {
        QString name;
        int entry;
        QStringList videos;
    } rows[] = {
        {u"A"_s, 0, {u"x.mp4"_s, u"y.mp4"_s}},
        {u"Empty"_s, 1, {}},
        {u"中文"_s, 2, {u"歌.mp4"_s}},
        {u"Last"_s, 5, {u"y.mp4"_s}},
    };
    for (std::size_t i = 0; i < tree.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tree[i].name, rows[i].name);
        EXPECT_EQ(tree[i].entry, rows[i].entry);
        QStringList names;
        for (const auto& v : tree[i].videos)
            names << v.name;
        EXPECT_EQ(names, rows[i].videos);
    }
    EXPECT_EQ(store::CategoryNames(*c), (QStringList{u"A"_s, u"Empty"_s, u"中文"_s, u"Last"_s}));
}

TEST(StoreModel, SelectionIsDecidedByLevelNotByText)
{
    const QStringList cats{u"A"_s, u"B"_s};
    const QString root = u"127.0.0.3"_s;
    const struct {
        Level level;
        QString category, video;
        uint16_t flag;
        QStringList names;
        QString first;
    } rows[] = {
        {Level::Root, {}, {}, 1, cats, root},
        {Level::Category, u"B"_s, {}, 1, {u"B"_s}, u"B"_s},
        {Level::Video, u"A"_s, u"x.mp4"_s, 0, {u"A:x.mp4"_s}, u"A:x.mp4"_s},
        {Level::Video, u"A"_s, u"B"_s, 0, {u"A:B"_s}, u"A:B"_s},                 // named like a category
        {Level::Video, u"A"_s, u"127.0.0.3"_s, 0, {u"A:127.0.0.3"_s}, u"A:127.0.0.3"_s},  // like the root
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.video.toStdString());
        const auto s = store::MakeSelection(r.level, root, cats, r.category, r.video);
        EXPECT_EQ(s.categoryFlag, r.flag);
        EXPECT_EQ(s.names, r.names);
        EXPECT_EQ(s.firstName, r.first);
    }
    EXPECT_FALSE(store::MakeSelection(Level::None, root, cats).valid());
    EXPECT_FALSE(store::MakeSelection(Level::Root, root, {}).valid());
}

TEST(StoreModel, NewFolderChecksInOrder)
{
    const QStringList cats{u"A"_s};
    const struct {
        QString text;
        const char* error;  // null: accepted
        QByteArray bytes;
    } rows[] = {
        {u"  A?"_s, store::texts::kFolderQuestionMark.english, {}},
        {u"a:b"_s, store::texts::kFolderColon.english, {}},
        {u" A"_s, store::texts::kFolderExists.english, {}},
        {u"123456789"_s, store::texts::kFolderTooLong.english, {}},
        {u"中文中文中"_s, store::texts::kFolderTooLong.english, {}},  // 10 bytes
        {u"   "_s, store::texts::kFolderNotEntered.english, {}},
        {u"12345678"_s, nullptr, "12345678"},
        {u"  中文"_s, nullptr, gbk(u"中文"_s)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.toStdString());
        const auto e = store::CheckNewFolder(r.text, cats, 9);
        EXPECT_EQ(e.error, r.error ? QString::fromUtf8(r.error) : QString());
        EXPECT_EQ(e.bytes, r.bytes);
    }
    EXPECT_EQ(store::CheckNewFolder(u"\U0001F600"_s, cats, 9).error, text::unencodableNameMessage(u"\U0001F600"_s, 9));
}

TEST(StoreModel, RenamePlans)
{
    const QStringList cats{u"A"_s, u"Movies"_s, u"中文中文"_s};
    const QString root = u"ip"_s;
    const auto video = store::MakeSelection(Level::Video, root, cats, u"A"_s, u"x.mp4"_s);
    const auto category = store::MakeSelection(Level::Category, root, cats, u"A"_s);
    const auto all = store::MakeSelection(Level::Root, root, cats);
    const QStringList siblings{u"x.mp4"_s, u"y.mp4"_s};
    const QString exists = QString::fromUtf8(store::texts::kFolderExists.english);
    const struct {
        const store::Selection* sel;
        QString text;
        QString error;
        QByteArray payload;
    } rows[] = {
        {nullptr, u"z"_s, QString::fromUtf8(store::texts::kRenameSelectFirst.english), {}},
        {&all, u"z"_s, QString::fromUtf8(store::texts::kRenameOnlyOne.english), {}},
        {&video, u"z?"_s, QString::fromUtf8(store::texts::kRenameQuestionMark.english), {}},
        {&video, u"a:b"_s, QString::fromUtf8(store::texts::kRenameColon.english), {}},
        {&video, QString(253, u'n'), QString::fromUtf8(store::texts::kRenameTooLong.english), {}},
        {&video, u" "_s, QString::fromUtf8(store::texts::kRenameNotEntered.english), {}},
        {&video, u"y.mov"_s, exists, {}},  // same name but for the extension
        {&video, u"z.mp4"_s, QString(), "A:x.mp4?z.mp4"},
        {&category, u"Movies"_s, exists, {}},
        {&category, u"A"_s, QString(), "A?A"},
        {&category, u"0123456789"_s, QString(), "A?01234567"},  // cut to 8 bytes
        {&category, u"Movies-2026"_s, QString(), "A?Movies-2"},
        {&category, u"中文中文中"_s, exists, {}},               // its 8-byte cut is taken
        {&category, u"x中文中文"_s, QString(), QByteArray("A?x") + gbk(u"中文中"_s)},  // 7 bytes: no half code
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.toStdString());
        const store::Selection none;
        const auto plan = store::PlanRename(r.sel ? *r.sel : none, r.text, cats, siblings, 9);
        EXPECT_EQ(plan.error, r.error);
        EXPECT_EQ(plan.payload, r.payload);
    }
}

TEST(StoreModel, PlayTimeParsing)
{
    const struct {
        QString text;
        int32_t seconds;
        const char* error;
    } rows[] = {
        {u"0"_s, 0, nullptr},
        {u""_s, 0, nullptr},
        {u"1.5"_s, 90, nullptr},
        {u"0.999"_s, 59, nullptr},
        {u"35791394"_s, 2147483640, nullptr},
        {u"35791394.01"_s, 0, store::texts::kPlayTimeTooLarge.english},
        {u"-0.01"_s, 0, store::texts::kPlayTimeNegative.english},
        {u"-5"_s, 0, store::texts::kPlayTimeNegative.english},
        {u"inf"_s, 0, store::texts::kPlayTimeTooLarge.english},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.toStdString());
        const auto t = store::ParsePlayTime(r.text, 9);
        EXPECT_EQ(t.error, r.error ? QString::fromUtf8(r.error) : QString());
        if (t.ok()) {
            EXPECT_EQ(t.seconds, r.seconds);
        }
    }
    EXPECT_EQ(store::PlayTimeText(90), u"1.50"_s);
    EXPECT_EQ(store::PlayTimeText(0), u"0.00"_s);
}

TEST(StoreModel, PacketsAndHeaders)
{
    const QStringList cats{u"A"_s, u"B"_s};
    const auto all = store::MakeSelection(Level::Root, u"ip"_s, cats);
    const auto video = store::MakeSelection(Level::Video, u"ip"_s, cats, u"A"_s, u"x.mp4"_s);
    store::Packet begin;
    ASSERT_TRUE(store::UploadBeginPacket(u"中文中文中"_s, u"歌.mp4"_s, 7, 1, begin));
    const struct {
        store::Packet p;
        uint8_t command, sub;
        uint16_t seq, param, arg;
        QByteArray payload;
    } rows[] = {
        {store::RefreshPacket(3, 1), 19, 0, 3, 0, 1, {}},
        {*store::DeletePacket(all, 0, 9, nullptr), 21, 0, 0, 1, 0, "A?B?"},
        {*store::DeletePacket(video, 1, 9, nullptr), 21, 0, 0, 0, 1, "A:x.mp4?"},
        {*store::PlayPacket(video, 0, 9, nullptr), 22, 0, 0, 0, 0, "A:x.mp4"},
        {store::NewFolderPacket("New", 1), 51, 0, 0, 0, 1, "New"},
        {store::VolumePacket(5, 60, 7), 41, 5, 0, 60, 7, {}},
        {store::AskPlayTimePacket(), 3, 0, 0, 5, 0, {}},
        {store::SetPlayTimePacket(90), 3, 0, 0, 5, 0, QByteArray("\x5a\0\0\0", 4)},
        {begin, 20, 0, 7, 0, 1, gbk(u"中文中文"_s) + gbk(u"歌.mp4"_s)},
        {store::UploadChunkPacket(true, false, "ab", 8, 0), 20, 1, 8, 1, 0, "ab"},
        {store::UploadChunkPacket(true, true, "", 9, 0), 20, 2, 9, 1, 0, {}},
        {store::UploadChunkPacket(false, true, "c", 9, 1), 20, 2, 9, 0, 1, "c"},
        {store::ParamFilePacket(store::ParamKind::Backup, 1), 3, 0, 0, 2, 1, {}},
        {store::ParamFilePacket(store::ParamKind::Recovery, 2, "zz"), 3, 0, 0, 3, 2, "zz"},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        const auto& r = rows[i];
        EXPECT_EQ(r.p.header.command, r.command);
        EXPECT_EQ(r.p.header.subCode, r.sub);
        EXPECT_EQ(r.p.header.sequence, r.seq);
        EXPECT_EQ(r.p.header.param, r.param);
        EXPECT_EQ(r.p.header.arg, r.arg);
        EXPECT_EQ(r.p.payload, r.payload);
    }
    // A short category is zero-padded to its 8-byte field.
    ASSERT_TRUE(store::UploadBeginPacket(u"A"_s, u"v.mp4"_s, 0, 0, begin));
    EXPECT_EQ(begin.payload, QByteArray("A\0\0\0\0\0\0\0v.mp4", 13));
    // An unencodable name sends nothing.
    EXPECT_FALSE(store::UploadBeginPacket(u"A"_s, u"\U0001F600.mp4"_s, 0, 0, begin));
    QString error;
    const auto bad = store::MakeSelection(Level::Video, u"ip"_s, cats, u"A"_s, u"\U0001F600"_s);
    EXPECT_FALSE(store::DeletePacket(bad, 0, 9, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(store::PlayPacket(all, 0, 9, &error));
    EXPECT_EQ(error, QString::fromUtf8(store::texts::kOnlyOneToPlay.english));
}

TEST(StoreModel, LocalNamesAndDuplicates)
{
    const auto tooLong = store::texts::kFileNameTooLong;
    const struct {
        QString name;
        std::size_t limit;
        bool ok;
    } rows[] = {
        {u"a.mp4"_s, 256, true},       {u"a?.mp4"_s, 256, false},       {u"a:b.mp4"_s, 256, false},
        {QString(256, u'n'), 256, true}, {QString(257, u'n'), 256, false}, {u"中文中文"_s, 8, true},
        {u"中文中文x"_s, 8, false},     {u"\U0001F600"_s, 256, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        EXPECT_EQ(store::CheckLocalName(r.name, r.limit, tooLong, 9).isEmpty(), r.ok);
    }
    EXPECT_EQ(store::FileNameOf(u"C:\\v\\a.mp4"_s), u"a.mp4"_s);
    EXPECT_EQ(store::FileNameOf(u"/v/b.mp4"_s), u"b.mp4"_s);

    auto c = sampleCatalog();
    EXPECT_TRUE(store::IsOnPlayer(*c, u"A"_s, u"x.mp4"_s, 10));
    EXPECT_FALSE(store::IsOnPlayer(*c, u"A"_s, u"x.mp4"_s, 11));
    EXPECT_FALSE(store::IsOnPlayer(*c, u"B"_s, u"x.mp4"_s, 10));
    EXPECT_TRUE(store::IsOnPlayer(*c, u"中文"_s, u"歌.mp4"_s, 30));
}

TEST(StoreModel, BackupSizeAndPercent)
{
    const struct {
        QByteArray payload;
        uint64_t bytes;
    } sizes[] = {
        {{}, 0},
        {QByteArray("\x02", 1), 2048},
        {QByteArray("\x00\x01\0\0", 4), 256 * 1024},
        {QByteArray("\x01\0\0\0\0\0\0\0\xff", 9), 1024},  // bytes past 8 are not read
        {QByteArray(8, '\xff'), UINT64_MAX},
    };
    for (const auto& s : sizes)
        EXPECT_EQ(store::BackupTotalBytes(s.payload), s.bytes);
    EXPECT_EQ(store::Percent(5, 0), 0);
    EXPECT_EQ(store::Percent(50, 200), 25);
    EXPECT_EQ(store::Percent(300, 200), 100);
    EXPECT_EQ(store::Percent(UINT64_MAX - UINT64_MAX / 2, UINT64_MAX), 50);  // no overflow
}

}  // namespace
