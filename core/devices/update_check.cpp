#include "core/devices/update_check.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "core/app.h"
#include "platform/dialogs.h"
#include "platform/home.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

#include <json/json.h>

namespace update {

namespace {

// Strings of the document: UTF-8 as written, or code page 936 where the
// reader turned a \u escape of a Chinese character into its bytes.
QString textOf(const Json::Value& value)
{
    const std::string s = value.asString();
    const QByteArray bytes(s.data(), qsizetype(s.size()));
    return text::DecodeUtf8OrCodePage(bytes);
}

void readList(const Json::Value& root, const char* key, std::vector<VersionEntry>& out)
{
    const Json::Value& list = root[key];
    if (!list.isArray())
        return;
    for (const Json::Value& item : list) {
        if (!item.isObject() || !item["name"].isString() || !item["type"].isInt() || !item["version"].isString() ||
            !item["url"].isString())
            break;
        out.push_back({textOf(item["name"]), item["type"].asInt(), textOf(item["version"]), textOf(item["url"])});
    }
}

}  // namespace

bool ParseVersionJson(const QByteArray& text, VersionInfo& out)
{
    out = VersionInfo();
    Json::Value root;
    if (!jsonio::parse(text, root) || !root.isObject())
        return false;
    if (root["versioninfourl"].isString())
        out.infoUrl = textOf(root["versioninfourl"]);
    readList(root, "current", out.current);
    readList(root, "history", out.history);
    return true;
}

QString VersionFileAddress(const QString& server, const QString& name)
{
    QString base = server;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (name.isEmpty())
        return base + QStringLiteral("/software/version.json");
    return base + QStringLiteral("/software/version_") + name + QStringLiteral(".json");
}

QString RunningVersion(const QString& title)
{
    const qsizetype at = title.indexOf(QStringLiteral(" V"));
    if (at < 0)
        return title.mid(1);
    return title.mid(at + 2);
}

std::optional<bool> UpdateAvailable(const std::vector<VersionEntry>& current, const QString& running)
{
    if (current.empty())
        return std::nullopt;
    for (const VersionEntry& e : current)
        if (e.type == 1)
            return e.version != running;
    return !running.isEmpty();
}

QString WithCacheBuster(const QString& address, qint64 secondsSince1970)
{
    const QChar joint = address.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    return address + joint + QStringLiteral("time=") + QString::number(secondsSince1970);
}

QByteArray PercentEncode(const QString& address)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const QByteArray utf8 = address.toUtf8();
    QByteArray out;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x21 && b <= 0x7E) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        if (out.size() >= kMaxAddressLength)
            return QByteArray();
    }
    return out;
}

QString LastComponent(const QString& address)
{
    const qsizetype cut = std::max(address.lastIndexOf(QLatin1Char('/')), address.lastIndexOf(QLatin1Char('\\')));
    return address.mid(cut + 1);
}

// ------------------------------------------------------------ UrlDownload

UrlDownload::UrlDownload() : manager_(std::make_unique<QNetworkAccessManager>()) {}

UrlDownload::~UrlDownload()
{
    done_ = nullptr;
    Abort();
}

bool UrlDownload::Start(const QString& address, const QString& localPath, Progress progress, Done done, int timeoutMs,
                        QString* error)
{
    auto refuse = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (reply_)
        return refuse(QStringLiteral("a download is running"));
    const QString busted = WithCacheBuster(address, QDateTime::currentSecsSinceEpoch());
    if (busted.size() > kMaxAddressLength)
        return refuse(QStringLiteral("the address is too long"));
    const QByteArray encoded = PercentEncode(busted);
    if (encoded.isEmpty())
        return refuse(QStringLiteral("the address is too long"));
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return refuse(QStringLiteral("not an HTTP address: ") + address);
    file_ = std::make_unique<QSaveFile>(localPath);
    if (!file_->open(QIODevice::WriteOnly)) {
        const QString why = file_->errorString();
        file_.reset();
        return refuse(why);
    }
    progress_ = std::move(progress);
    done_ = std::move(done);
    failed_ = false;
    failure_.clear();

    QNetworkRequest request(url);
    // Always the server's copy: the cache must never hand back an old list.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(timeoutMs);
    reply_ = manager_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        if (!reply_ || failed_)
            return;
        const QByteArray chunk = reply_->readAll();
        if (file_->write(chunk) != chunk.size()) {
            failed_ = true;
            failure_ = file_->errorString();
            reply_->abort();
        }
    });
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (progress_)
            progress_(received, total);
    });
    connect(reply_, &QNetworkReply::finished, this, [this] {
        if (!reply_)
            return;
        QNetworkReply* reply = reply_;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!failed_ && reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
            const QByteArray rest = reply->readAll();
            if (file_->write(rest) != rest.size()) {
                failed_ = true;
                failure_ = file_->errorString();
            }
        } else if (!failed_) {
            failed_ = true;
            failure_ = reply->error() == QNetworkReply::OperationCanceledError
                           ? QStringLiteral("no answer from the server")
                           : (reply->error() != QNetworkReply::NoError ? reply->errorString()
                                                                       : QStringLiteral("HTTP %1").arg(status));
        }
        if (!failed_ && !file_->commit()) {
            failed_ = true;
            failure_ = file_->errorString();
        }
        Finish(!failed_, failure_);
    });
    return true;
}

void UrlDownload::Abort()
{
    if (!reply_)
        return;
    failed_ = true;
    if (failure_.isEmpty())
        failure_ = QStringLiteral("cancelled");
    reply_->abort();  // finished runs now and ends the download
}

void UrlDownload::Finish(bool ok, const QString& error)
{
    if (file_ && !ok)
        file_->cancelWriting();
    file_.reset();
    if (reply_) {
        reply_->disconnect(this);
        reply_->deleteLater();
        reply_ = nullptr;
    }
    Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(ok, error);
}

bool DownloadUrlToFile(const QString& address, const QString& localPath, const UrlDownload::Progress& progress,
                       int timeoutMs, QString* error)
{
    UrlDownload download;
    QEventLoop loop;
    bool finished = false;
    bool result = false;
    if (!download.Start(
            address, localPath, progress,
            [&](bool ok, const QString& why) {
                finished = true;
                result = ok;
                if (error)
                    *error = why;
                loop.quit();
            },
            timeoutMs, error))
        return false;
    if (!finished)
        loop.exec();
    return result;
}

// ------------------------------------------------------------ the check

UpdateState& State()
{
    static UpdateState state;
    return state;
}

QString ConfiguredServer()
{
    QString server = platform::settings()->value(QString::fromLatin1(kServerSetting)).toString().trimmed();
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server;
}

namespace {

// The product line's name, decoded as at start-up.
QString productLineName()
{
    QFile file(platform::homePath(QStringLiteral("Templates/Co.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return DecodeTitlePrefix(file.read(kTitlePrefixMaxBytes));
}

void applyVersionFile(const QString& path, const QString& title)
{
    QFile file(path);
    VersionInfo info;
    if (!file.open(QIODevice::ReadOnly) || !ParseVersionJson(file.readAll(), info))
        return;  // a malformed document leaves the lists empty and the flag as it was
    UpdateState& state = State();
    state.info = info;
    if (const auto available = UpdateAvailable(info.current, RunningVersion(title)))
        state.updateAvailable = *available;
}

}  // namespace

bool CheckForUpdate(const QString& tempFolder, const QString& title, unsigned language, bool showErrors, bool wait,
                    int timeoutMs)
{
    State().info = VersionInfo();
    const QString server = ConfiguredServer();
    if (server.isEmpty())
        return false;
    const QString address = VersionFileAddress(server, productLineName());
    platform::ensureFolder(tempFolder);
    const QString local = QDir(tempFolder).filePath(LastComponent(address));
    auto failed = [language, showErrors] {
        if (showErrors)
            platform::messageBox(platform::pickText(language,
                                                    "Failed to connect to server，Please confirm net or http server is "
                                                    "normal？",
                                                    "连接服务器失败，请确认网络或服务器是否正常？"),
                                 QString(), platform::MsgButtons::Ok, platform::MsgIcon::Question);
    };
    if (wait) {
        if (!DownloadUrlToFile(address, local, {}, timeoutMs)) {
            failed();
            return false;
        }
        applyVersionFile(local, title);
        return true;
    }
    // In the background: start-up goes on; the result lands when it comes.
    // Kept for the life of the program: it must not outlive the application
    // object in a destructor at exit.
    static UrlDownload* background = nullptr;
    if (background && background->IsRunning())
        return true;
    delete background;
    background = new UrlDownload;
    return background->Start(
        address, local, {},
        [local, title](bool ok, const QString&) {
            if (ok)
                applyVersionFile(local, title);
        },
        timeoutMs);
}

}  // namespace update
