#include "common/controls/text_progress_ctrl.h"
#include "core/command_registry.h"
#include "core/devices/device_commands.h"
#include "core/devices/update_check.h"
#include "core/devices/upgrade_app.h"
#include "tests/core/device_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>

namespace {

using devtest::DeviceHarness;
using testsupport::waitUntil;

// A small HTTP server on 127.0.0.1 (port chosen by the system), on the test's
// event loop. Paths it does not know get 404; `silent` reads requests and
// never answers.
class HttpServer {
public:
    HttpServer()
    {
        EXPECT_TRUE(server_.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { onData(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
    void serve(const QByteArray& path, const QByteArray& body) { files_[path] = body; }

    bool silent = false;
    QList<QByteArray> requests;  // request targets as sent

private:
    void onData(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QByteArray target = buffer.split(' ').value(1);
        buffer.clear();
        requests << target;
        if (silent)
            return;
        const QByteArray path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
        const auto it = files_.find(path);
        QByteArray response;
        if (it == files_.end()) {
            response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            response = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(it->second.size()) +
                       "\r\nConnection: close\r\n\r\n" + it->second;
        }
        socket->write(response);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QByteArray, QByteArray> files_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

const QByteArray kVersionJson = R"({
    "versioninfourl" : "http://example.invalid/notes",
    "current" : [ { "name" : "veluna", "type" : 2, "version" : "A1", "url" : "u0" },
                  { "name" : "veluna", "type" : 1, "version" : "9.1.5", "url" : "u1" } ],
    "history" : [ { "name" : "veluna-", "type" : 1, "version" : "9.1.4", "url" : "/files/pc-914.rar" },
                  { "name" : "veluna-", "type" : 1, "version" : "9.1.5", "url" : "/files/pc-915.rar" },
                  { "name" : "\u64ad\u653e\u5668-", "type" : 2, "version" : "A1", "url" : "/files/app a1.bin" } ]
})";

TEST(UpdateCheck, ParsingStopsAtTheFirstIncompleteEntry)
{
    update::VersionInfo info;
    ASSERT_TRUE(update::ParseVersionJson(R"({"current":[{"name":"a","type":1,"version":"1","url":"x"},
        {"name":"b","type":1,"version":"2"},{"name":"c","type":1,"version":"3","url":"z"}],
        "history":[{"name":"h","type":"2","version":"1","url":"y"}], "versioninfourl": 5})",
                                         info));
    ASSERT_EQ(info.current.size(), 1u);
    EXPECT_EQ(info.current[0].name, QStringLiteral("a"));
    EXPECT_TRUE(info.history.empty());
    EXPECT_TRUE(info.infoUrl.isEmpty());
    EXPECT_FALSE(update::ParseVersionJson("{\"current\": [", info));
    ASSERT_TRUE(update::ParseVersionJson(kVersionJson, info));
    EXPECT_EQ(info.history[2].name, QStringLiteral("播放器-"));  // \u escapes of Chinese read back whole
    EXPECT_EQ(info.infoUrl, QStringLiteral("http://example.invalid/notes"));
}

TEST(UpdateCheck, VersionComparisonAndAddresses)
{
    using update::VersionEntry;
    struct Row {
        QString title;
        std::vector<VersionEntry> current;
        std::optional<bool> available;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("Name V1.2.3"), {{QStringLiteral("n"), 1, QStringLiteral("1.2.3"), {}}}, false},
        {QStringLiteral("Name V1.2.3"), {{QStringLiteral("n"), 1, QStringLiteral("1.2.4"), {}}}, true},
        {QStringLiteral("Name V1.2.3"), {{QStringLiteral("n"), 2, QStringLiteral("1.2.3"), {}}}, true},
        {QStringLiteral("Name V1.2.3"), {}, std::nullopt},
        {QStringLiteral("X"), {{QStringLiteral("n"), 2, QStringLiteral("1"), {}}}, false},  // no running version
        {QStringLiteral("QVE-Name V1.2.3 beta"), {{QStringLiteral("n"), 1, QStringLiteral("1.2.3 beta"), {}}}, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(update::UpdateAvailable(r.current, update::RunningVersion(r.title)), r.available) << r.title.toStdString();
    EXPECT_EQ(update::RunningVersion(QStringLiteral("Name")), QStringLiteral("ame"));

    EXPECT_EQ(update::VersionFileAddress(QStringLiteral("https://u.example/"), QString()),
              QStringLiteral("https://u.example/software/version.json"));
    EXPECT_EQ(update::VersionFileAddress(QStringLiteral("https://u.example"), QStringLiteral("Alpha")),
              QStringLiteral("https://u.example/software/version_Alpha.json"));
    EXPECT_EQ(update::WithCacheBuster(QStringLiteral("http://h/a.json"), 17), QStringLiteral("http://h/a.json?time=17"));
    EXPECT_EQ(update::WithCacheBuster(QStringLiteral("http://h/a?x=1"), 17), QStringLiteral("http://h/a?x=1&time=17"));
    EXPECT_EQ(update::PercentEncode(QStringLiteral("http://h/a b/中.bin?t=1")),
              QByteArray("http://h/a%20b/%E4%B8%AD.bin?t=1"));
    EXPECT_TRUE(update::PercentEncode(QStringLiteral("http://h/") + QString(2991, QLatin1Char('a'))).isEmpty());
    EXPECT_FALSE(update::PercentEncode(QStringLiteral("http://h/") + QString(2990, QLatin1Char('a'))).isEmpty());
    EXPECT_EQ(update::LastComponent(QStringLiteral("http://h/x/y.rar")), QStringLiteral("y.rar"));
}

TEST(UpdateCheck, DownloadsStoreWholeFilesOrNothing)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    testsupport::TempHome home;
    HttpServer server;
    const QByteArray body = testsupport::randomBytes(300000, 5);
    server.serve("/files/a%20b.bin", body);
    const QString target = home.path() + QStringLiteral("/a b.bin");
    QString error;
    std::vector<std::pair<qint64, qint64>> progress;
    ASSERT_TRUE(update::DownloadUrlToFile(server.base() + QStringLiteral("/files/a b.bin"), target,
                                          [&](qint64 r, qint64 t) { progress.emplace_back(r, t); }, 5000, &error))
        << error.toStdString();
    EXPECT_EQ(testsupport::readFile(target), body);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(qint64(body.size()), qint64(body.size())));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_TRUE(server.requests[0].startsWith("/files/a%20b.bin?time=")) << server.requests[0].toStdString();

    // Missing file: false, and no file left; an earlier copy stays as it was.
    EXPECT_FALSE(update::DownloadUrlToFile(server.base() + QStringLiteral("/missing.bin"),
                                           home.path() + QStringLiteral("/missing.bin"), {}, 5000, &error));
    EXPECT_EQ(error, QStringLiteral("the server does not have this file (HTTP 404)"));
    EXPECT_FALSE(QFile::exists(home.path() + QStringLiteral("/missing.bin")));
    server.silent = true;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(update::DownloadUrlToFile(server.base() + QStringLiteral("/files/a%20b.bin"), target, {}, 700, &error));
    EXPECT_EQ(error, QStringLiteral("the server did not answer"));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(testsupport::readFile(target), body);
    EXPECT_TRUE(QDir(home.path()).entryList(QDir::Files).size() == 1) << QDir(home.path()).entryList().join(' ').toStdString();
}

TEST(UpdateCheck, CheckAgainstTheServerSetsTheFlagAndFillsTheDialog)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    DeviceHarness h(platform::kLanguageEnglish, false);
    HttpServer server;
    server.serve("/software/version_Alpha.json", kVersionJson);
    server.serve("/files/pc-914.rar", "archive 9.1.4");
    platform::settings()->setValue(QString::fromLatin1(update::kServerSetting), server.base() + QStringLiteral("/"));
    ASSERT_TRUE(testsupport::writeFile(h.home.path() + QStringLiteral("/Templates/Co.txt"), "Alpha\r\n"));
    const QString temp = h.home.path() + QStringLiteral("/Temp");

    update::State().updateAvailable = true;
    ASSERT_TRUE(update::CheckForUpdate(temp, QStringLiteral("veluna V9.1.5"), 9, true, true, 5000));
    EXPECT_FALSE(update::State().updateAvailable);
    EXPECT_EQ(update::State().info.history.size(), 3u);
    EXPECT_TRUE(QFile::exists(temp + QStringLiteral("/version_Alpha.json")));
    ASSERT_TRUE(update::CheckForUpdate(temp, QStringLiteral("veluna V9.1.4"), 9, true, false, 5000));  // background
    ASSERT_TRUE(waitUntil([] { return update::State().updateAvailable; }));

    CUpgradeApp dialog(h.doc->titlePrefix(), temp, update::State().info, true);
    EXPECT_EQ(dialog.windowTitle(), h.doc->titlePrefix() + QStringLiteral("Upgrade"));
    ASSERT_EQ(dialog.List(1)->topLevelItemCount(), 2);
    ASSERT_EQ(dialog.List(2)->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.List(2)->topLevelItem(0)->text(1), QStringLiteral("播放器-A1"));
    dialog.OnDownload(1);
    EXPECT_EQ(h.boxes.texts(), QStringList{QStringLiteral("First choose a Version, then Download!")});

    const QString saveAs = h.home.path() + QStringLiteral("/saved.rar");
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        EXPECT_EQ(call.fileName, QStringLiteral("pc-914.rar"));
        EXPECT_EQ(call.caption, QStringLiteral("Save Zip file"));
        return saveAs;
    });
    dialog.List(1)->setCurrentItem(dialog.List(1)->topLevelItem(0));
    // A relative address resolves nowhere: refused with a message, nothing written.
    dialog.OnDownload(1);
    EXPECT_EQ(h.boxes.calls.size(), 2u);
    EXPECT_TRUE(h.boxes.calls.back().text.startsWith(QStringLiteral("DownLoad failed: ")));
    platform::setFileDialogAnswerer({});
    EXPECT_FALSE(QFile::exists(saveAs));
}

TEST(UpdateCheck, DialogDownloadsTheChosenReleaseWithProgress)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    DeviceHarness h(platform::kLanguageEnglish, false);
    HttpServer server;
    const QByteArray app = testsupport::randomBytes(200000, 9);
    server.serve("/files/app%20a1.bin", app);
    update::VersionInfo info;
    info.history = {{QStringLiteral("veluna-"), 1, QStringLiteral("A1"), server.base() + QStringLiteral("/no.rar")},
                    {QStringLiteral("veluna-"), 2, QStringLiteral("A1"), server.base() + QStringLiteral("/files/app a1.bin")}};
    CUpgradeApp dialog(h.doc->titlePrefix(), h.home.path(), info, true);
    const QString saveAs = h.home.path() + QStringLiteral("/app.bin");
    platform::setFileDialogAnswerer([&](const platform::FileDialogCall& call) {
        EXPECT_EQ(call.fileName, QStringLiteral("app a1.bin"));
        EXPECT_EQ(call.filter, QStringLiteral("APP file(*.bin)|*.bin||"));
        return saveAs;
    });
    dialog.List(2)->setCurrentItem(dialog.List(2)->topLevelItem(0));
    dialog.OnDownload(2);
    platform::setFileDialogAnswerer({});
    EXPECT_TRUE(dialog.IsDownloading());
    EXPECT_TRUE(dialog.Progress()->isVisibleTo(&dialog));
    ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls.empty(); }));
    EXPECT_EQ(h.boxes.texts(), QStringList{QStringLiteral("DownLoad OK!")});
    EXPECT_EQ(testsupport::readFile(saveAs), app);
    EXPECT_FALSE(dialog.Progress()->isVisibleTo(&dialog));
}

// A failed download is told in the interface's language, never in the
// network library's English, with the address after the reason.
TEST(UpdateCheck, FailedDownloadsAreToldInTheInterfaceLanguage)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    HttpServer server;
    QTcpServer closed;  // a port that nobody listens on any more
    ASSERT_TRUE(closed.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    const QString nowhere = QStringLiteral("http://127.0.0.1:%1/files/app.bin").arg(closed.serverPort());
    closed.close();
    const QString missing = server.base() + QStringLiteral("/files/gone.bin");
    const struct {
        unsigned language;
        QString url;
        const char* text;  // the address follows on the next line
    } rows[] = {
        {platform::kLanguageEnglish, missing, "DownLoad failed: the server does not have this file (HTTP 404)"},
        {platform::kLanguageChinese, missing, "下载失败：服务器上没有这个文件（HTTP 404）"},
        {platform::kLanguageEnglish, nowhere, "DownLoad failed: the server cannot be reached"},
        {platform::kLanguageChinese, nowhere, "下载失败：无法连接服务器"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        DeviceHarness h(row.language, false);
        update::VersionInfo info;
        info.history = {{QStringLiteral("veluna-"), 2, QStringLiteral("A1"), row.url}};
        CUpgradeApp dialog(h.doc->titlePrefix(), h.home.path(), info, true);
        const QString saveAs = h.home.path() + QStringLiteral("/app.bin");
        platform::setFileDialogAnswerer([&](const platform::FileDialogCall&) { return saveAs; });
        dialog.List(2)->setCurrentItem(dialog.List(2)->topLevelItem(0));
        dialog.OnDownload(2);
        platform::setFileDialogAnswerer({});
        ASSERT_TRUE(waitUntil([&] { return !h.boxes.calls.empty(); }));
        EXPECT_EQ(h.boxes.texts(), QStringList{QString::fromUtf8(row.text) + QLatin1Char('\n') + row.url});
        EXPECT_FALSE(QFile::exists(saveAs));
        EXPECT_FALSE(dialog.IsDownloading());
    }
}

TEST(UpdateCheck, UnansweredCheckFailsWithTheMessageOnlyWhenAsked)
{
    DEVTEST_SKIP_UNDER_THREAD_CHECKER();
    DeviceHarness h(platform::kLanguageChinese, false);
    HttpServer server;
    server.silent = true;
    platform::settings()->setValue(QString::fromLatin1(update::kServerSetting), server.base());
    const QString temp = h.home.path() + QStringLiteral("/Temp");
    EXPECT_FALSE(update::CheckForUpdate(temp, QStringLiteral("veluna V1"), 4, false, true, 500));
    EXPECT_TRUE(h.boxes.calls.empty());
    EXPECT_FALSE(update::CheckForUpdate(temp, QStringLiteral("veluna V1"), 4, true, true, 500));
    ASSERT_EQ(h.boxes.calls.size(), 1u);
    EXPECT_EQ(h.boxes.calls[0].text, QStringLiteral("连接服务器失败，请确认网络或服务器是否正常？"));
    EXPECT_EQ(h.boxes.calls[0].icon, platform::MsgIcon::Question);
    EXPECT_EQ(server.requests.size(), 2);
    EXPECT_TRUE(server.requests[0].startsWith("/software/version.json?time="));
    EXPECT_FALSE(QFile::exists(temp + QStringLiteral("/version.json")));

    platform::settings()->remove(QString::fromLatin1(update::kServerSetting));
    EXPECT_FALSE(update::CheckForUpdate(temp, QStringLiteral("veluna V1"), 4, true, true, 500));
    EXPECT_EQ(server.requests.size(), 2);  // no server configured: nothing asked
}

}  // namespace
