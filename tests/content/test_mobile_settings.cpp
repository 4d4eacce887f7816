#include "content/mobile_settings.h"
#include "tests/content/content_harness.h"

#include "common/json_coding.h"
#include "player/play_mode_commands.h"

#include <QFile>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using namespace Qt::StringLiterals;
using contenttest::Harness;
using testsupport::waitUntil;

const QByteArray kSettings = R"({"modules":[{"type":5,"name":"Play","enable":1},{"type":9,"name":"\u7279\u6548","enable":0},
  {"type":2,"name":"Bool","enable":true},{"type":2,"name":"Vote","enable":3}],
  "words":["Hello","\u4f60\u597d"],
  "effects_new":[{"name":"Hearts","type":7},{"name":"Bad","type":-2},{"name":"Stars","type":1}]})";

void serve(Harness& h, const QByteArray& settings)
{
    std::lock_guard lock(h.player->stateMutex());
    sim::playModeStore(*h.player).mobileSettings = settings;
}

sim::PlayModeState stored(Harness& h)
{
    std::lock_guard lock(h.player->stateMutex());
    return sim::playModeStore(*h.player);
}

std::unique_ptr<CMobileSettings> open(Harness& h)
{
    auto d = std::make_unique<CMobileSettings>(h.doc->titlePrefix(), h.doc->tempFolder());
    d->OnInitDialog();
    EXPECT_TRUE(waitUntil([&] { return d->modules()->topLevelItemCount() > 0; }));
    return d;
}

QStringList words(const CMobileSettings& d)
{
    QStringList out;
    for (int i = 0; i < d.words()->count(); ++i)
        out << d.words()->item(i)->text();
    return out;
}

TEST(MobileSettings, ReadEditAndUpload)
{
    Harness h;
    serve(h, kSettings);
    auto d = open(h);
    EXPECT_EQ(d->windowTitle(), h.doc->titlePrefix() + u"Cloud Settings"_s);
    const auto sent = h.requests(62);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header.param, 0);
    EXPECT_TRUE(sent[0].payload.isEmpty());

    QTreeWidget* modules = d->modules();
    ASSERT_EQ(modules->topLevelItemCount(), 3);
    const struct {
        QString name;
        Qt::CheckState state;
    } rows[] = {{u"Play"_s, Qt::Checked}, {u"特效"_s, Qt::Unchecked}, {u"Vote"_s, Qt::Checked}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(modules->topLevelItem(i)->text(0), rows[i].name);
        EXPECT_EQ(modules->topLevelItem(i)->checkState(0), rows[i].state);
    }
    EXPECT_EQ(words(*d), (QStringList{u"Hello"_s, u"你好"_s}));
    ASSERT_EQ(d->effects()->topLevelItemCount(), 2);

    // Switch a module, edit the phrases, upload.
    modules->topLevelItem(1)->setCheckState(0, Qt::Checked);
    d->OnNewWord();
    d->words()->item(2)->setText(u"Bye"_s);
    d->words()->setCurrentRow(2);
    d->OnMoveWord(-1);
    d->words()->setCurrentRow(0);
    d->OnRemoveWord();
    EXPECT_EQ(words(*d), (QStringList{u"Bye"_s, u"你好"_s}));
    d->OnSave();
    ASSERT_TRUE(waitUntil([&] { return !h.boxTexts().isEmpty(); }));
    EXPECT_EQ(h.boxTexts(), QStringList{u"Saved"_s});

    const QByteArray file = testsupport::readFile(d->documentPath());
    EXPECT_EQ(h.requests(62).back().header.param, 1);
    EXPECT_EQ(h.requests(62).back().payload, file);
    EXPECT_EQ(stored(h).mobileSettings, file);
    EXPECT_EQ(file.count('\n'), file.count("\r\n"));
    Json::Value up;
    ASSERT_TRUE(jsonio::parse(file, up));
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    EXPECT_EQ(Json::writeString(b, up),
              "{\"effects_new\":[{\"name\":\"Hearts\",\"type\":7},{\"name\":\"Stars\",\"type\":1}],"
              "\"modules\":[{\"enable\":1,\"name\":\"Play\",\"type\":1},{\"enable\":1,\"name\":\"特效\",\"type\":2},"
              "{\"enable\":1,\"name\":\"Vote\",\"type\":3}],\"words\":[\"Bye\",\"你好\"]}");
}

TEST(MobileSettings, KeysSwallowedAndCancelAsks)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    const struct {
        platform::MsgResult answer;
        bool closed;
    } rows[] = {{platform::MsgResult::No, false}, {platform::MsgResult::Yes, true}};
    for (const auto& r : rows) {
        Harness h(9, {}, r.answer);
        serve(h, kSettings);
        auto d = open(h);
        d->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(d.get(), key);
        // A read behind the keys, until its reply has added the modules once
        // more: an upload a key made, and its answer, came before.
        const int modules = d->modules()->topLevelItemCount();
        ASSERT_TRUE(h.sendBehind(62, 0));
        ASSERT_TRUE(waitUntil([&] { return d->modules()->topLevelItemCount() > modules; }));
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(h.boxTexts().isEmpty());
        EXPECT_EQ(stored(h).mobileUploads, 0);
        d->reject();  // Cancel and the close box
        EXPECT_EQ(h.boxTexts(), QStringList{u"Do you really want to exit?"_s});
        EXPECT_EQ(d->isVisible(), !r.closed);
    }
}

TEST(MobileSettings, PhraseFilesExportImportAndFailures)
{
    Harness h;
    serve(h, R"({"words":["a","","中文"]})");
    auto d = std::make_unique<CMobileSettings>(h.doc->titlePrefix(), h.doc->tempFolder());
    d->OnInitDialog();
    ASSERT_TRUE(waitUntil([&] { return d->words()->count() == 3; }));
    const QString path = QDir(h.home.path()).filePath(u"Words.GFDW"_s);
    QString chosen = path;
    std::vector<platform::FileDialogCall> calls;
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& c) {
        calls.push_back(c);
        return chosen;
    });

    d->OnExportWords();
    EXPECT_EQ(testsupport::readFile(path), QByteArray("a\r\n\r\n\xD6\xD0\xCE\xC4\r\n"));
    EXPECT_EQ(h.boxTexts(), QStringList{u"saved！"_s});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].caption, u"Save Words file"_s);
    EXPECT_EQ(calls[0].fileName, u"Words"_s);
    EXPECT_EQ(calls[0].filter, u"Words Flie(*.GFDW)|*.GFDW||"_s);

    // A phrase the file cannot hold is reported; the file stays as it was.
    h.boxes.clear();
    d->words()->item(0)->setText(u"smile 😀"_s);
    d->OnExportWords();
    ASSERT_EQ(h.boxTexts().size(), 1);
    EXPECT_TRUE(h.boxTexts()[0].contains(u"smile 😀"_s));
    EXPECT_EQ(testsupport::readFile(path), QByteArray("a\r\n\r\n\xD6\xD0\xCE\xC4\r\n"));

    h.boxes.clear();
    d->OnImportWords();
    EXPECT_EQ(words(*d), (QStringList{u"a"_s, QString(), u"中文"_s}));
    EXPECT_EQ(calls.back().caption, u"Open Words file"_s);
    EXPECT_TRUE(h.boxTexts().isEmpty());

    chosen = QDir(h.home.path()).filePath(u"missing.GFDW"_s);
    d->OnImportWords();
    EXPECT_EQ(d->words()->count(), 0);  // emptied before the file is opened
    EXPECT_EQ(h.boxTexts(), QStringList{u"file error. Please check it！"_s});
    platform::setFileDialogAnswerer({});
}

TEST(MobileSettings, Screenshots)
{
    if (testsupport::kUnderThreadChecker)
        GTEST_SKIP() << "shown and painted: Qt paints on threads the thread checker cannot follow";
    for (unsigned language : {9u, 4u}) {
        Harness h(language);
        serve(h, kSettings);
        auto d = open(h);
        d->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get()));
        QTest::qWait(50);
        EXPECT_TRUE(d->grab().save(contenttest::screenshotPath(language == 4 ? u"cloud-settings-zh"_s
                                                                             : u"cloud-settings-en"_s)));
        EXPECT_EQ(d->windowTitle(), h.doc->titlePrefix() + (language == 4 ? u"手机端设置"_s : u"Cloud Settings"_s));
    }
}

}  // namespace
