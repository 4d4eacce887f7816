#include "core/devices/update_check.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "core/app.h"
#include "platform/app_identity.h"
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

QString DownloadFailureText(DownloadFailure failure, int httpStatus, unsigned language)
{
    auto t = [language](const char* english, const char* chinese) {
        return platform::pickText(language, english, chinese);
    };
    switch (failure) {
    case DownloadFailure::None:
        return QString();
    case DownloadFailure::Cancelled:
        return t("cancelled", "已取消");
    case DownloadFailure::Busy:
        return t("another download is running", "已有下载正在进行");
    case DownloadFailure::AddressTooLong:
        return t("the address is too long", "地址太长");
    case DownloadFailure::NotHttp:
        return t("not an HTTP address", "不是HTTP地址");
    case DownloadFailure::LocalFile:
        return t("the file cannot be written on this computer", "无法在本机写入文件");
    case DownloadFailure::NoAnswer:
        return t("the server did not answer", "服务器没有应答");
    case DownloadFailure::HttpStatus:
        return httpStatus == 404 ? t("the server does not have this file (HTTP 404)", "服务器上没有这个文件（HTTP 404）")
                                 : t("the server refused the request (HTTP %1)", "服务器拒绝了请求（HTTP %1）").arg(httpStatus);
    case DownloadFailure::Unreachable:
        return t("the server cannot be reached", "无法连接服务器");
    case DownloadFailure::BrokenOff:
        return t("the connection to the server broke off", "与服务器的连接中断");
    }
    return QString();
}

namespace {

DownloadFailure failureOf(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::OperationCanceledError:  // the transfer timeout aborts this way
    case QNetworkReply::TimeoutError:
        return DownloadFailure::NoAnswer;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return DownloadFailure::Unreachable;
    default:
        return DownloadFailure::BrokenOff;
    }
}

}  // namespace

UrlDownload::UrlDownload(unsigned language)
    : language_(language), manager_(std::make_unique<QNetworkAccessManager>())
{
}

UrlDownload::~UrlDownload()
{
    done_ = nullptr;
    Abort();
}

bool UrlDownload::Fail(DownloadFailure failure, int httpStatus)
{
    // The first reason stands: an abort that follows a failed write is not
    // the user's cancel.
    if (failure_ == DownloadFailure::None) {
        failure_ = failure;
        httpStatus_ = httpStatus;
    }
    return false;
}

bool UrlDownload::Start(const QString& address, const QString& localPath, Progress progress, Done done, int timeoutMs,
                        QString* error)
{
    auto refuse = [&](DownloadFailure why) {
        if (error)
            *error = DownloadFailureText(why, 0, language_);
        return false;
    };
    if (reply_)
        return refuse(DownloadFailure::Busy);
    failure_ = DownloadFailure::None;
    httpStatus_ = 0;
    const QString busted = WithCacheBuster(address, QDateTime::currentSecsSinceEpoch());
    if (busted.size() > kMaxAddressLength)
        return refuse(DownloadFailure::AddressTooLong);
    const QByteArray encoded = PercentEncode(busted);
    if (encoded.isEmpty())
        return refuse(DownloadFailure::AddressTooLong);
    const QUrl url = QUrl::fromEncoded(encoded, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return refuse(DownloadFailure::NotHttp);
    file_ = std::make_unique<QSaveFile>(localPath);
    if (!file_->open(QIODevice::WriteOnly)) {
        file_.reset();
        return refuse(DownloadFailure::LocalFile);
    }
    progress_ = std::move(progress);
    done_ = std::move(done);

    QNetworkRequest request(url);
    // Always the server's copy: the cache must never hand back an old list.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(timeoutMs);
    reply_ = manager_->get(request);
    connect(reply_, &QNetworkReply::readyRead, this, [this] {
        if (!reply_ || failure_ != DownloadFailure::None)
            return;
        const QByteArray chunk = reply_->readAll();
        if (file_->write(chunk) != chunk.size()) {
            Fail(DownloadFailure::LocalFile);
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
        // A status that says no (404 comes with an error of its own) is told as
        // the server's answer, before any transport reason.
        if (status >= 300)
            Fail(DownloadFailure::HttpStatus, status);
        else if (reply->error() != QNetworkReply::NoError)
            Fail(failureOf(reply->error()));
        if (failure_ == DownloadFailure::None) {
            const QByteArray rest = reply->readAll();
            if (file_->write(rest) != rest.size() || !file_->commit())
                Fail(DownloadFailure::LocalFile);
        }
        Finish();
    });
    return true;
}

void UrlDownload::Abort()
{
    if (!reply_)
        return;
    Fail(DownloadFailure::Cancelled);
    reply_->abort();  // finished runs now and ends the download
}

void UrlDownload::Finish()
{
    const bool ok = failure_ == DownloadFailure::None;
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
        done(ok, DownloadFailureText(failure_, httpStatus_, language_));
}

bool DownloadUrlToFile(const QString& address, const QString& localPath, const UrlDownload::Progress& progress,
                       int timeoutMs, QString* error)
{
    UrlDownload download(platform::appLanguage());
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
    background = new UrlDownload(language);
    return background->Start(
        address, local, {},
        [local, title](bool ok, const QString&) {
            if (ok)
                applyVersionFile(local, title);
        },
        timeoutMs);
}

}  // namespace update
