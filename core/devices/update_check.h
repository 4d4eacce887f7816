#pragma once
// The update check: which versions of this program the update server offers
// (version.json), whether the newest release differs from the running one,
// and the one way the program fetches a file over HTTP(S).
//
// The server's address is the setting "UpdateServer" (INI, key "veluna");
// empty by default, and then nothing is asked.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;
class QTimer;

namespace update {

inline constexpr int kMaxAddressLength = 3000;
inline constexpr int kDefaultTimeoutMs = 30000;
inline constexpr const char* kServerSetting = "UpdateServer";

struct VersionEntry {
    QString name;
    int type = 0;  // 1 archive of this PC program ("PC"), 2 application image ("APP")
    QString version;
    QString url;
};

struct VersionInfo {
    QString infoUrl;
    std::vector<VersionEntry> current;
    std::vector<VersionEntry> history;
};

// Reads version.json; false for text that is no JSON document (the lists
// are then left empty).
bool ParseVersionJson(const QByteArray& text, VersionInfo& out);
// The document's address on `server` for the product line `name` (the text
// of Templates/Co.txt; empty: the plain version.json).
QString VersionFileAddress(const QString& server, const QString& name);
// The running version: the title after its first " V" (else after its
// first character).
QString RunningVersion(const QString& title);
// Whether an update is offered: set when the first type-1 entry of
// `current` differs from `running` (or there is none and `running` is not
// empty); nothing when `current` is empty (the flag stays as it was).
std::optional<bool> UpdateAvailable(const std::vector<VersionEntry>& current, const QString& running);
// The cache buster: "?time=<seconds>", joined with '&' when the address
// already has a query.
QString WithCacheBuster(const QString& address, qint64 secondsSince1970);
// UTF-8 bytes 0x21..0x7E kept, every other byte as %XX (upper case); empty
// when the result would reach kMaxAddressLength bytes.
QByteArray PercentEncode(const QString& address);
// The last path component of an address (after the last '/' or '\').
QString LastComponent(const QString& address);

// Why a download failed, told in our own words rather than the network
// library's (which speak English only).
enum class DownloadFailure {
    None,
    Cancelled,
    Busy,            // another download of the same object runs
    AddressTooLong,
    NotHttp,         // not an http:// or https:// address
    LocalFile,       // the file on this computer could not be written
    NoAnswer,        // the server stopped answering
    HttpStatus,      // the server answered with an error status
    Unreachable,     // no connection to the server
    BrokenOff,       // the connection failed during the transfer
};
// The reason in the interface's language (`httpStatus` for HttpStatus).
QString DownloadFailureText(DownloadFailure failure, int httpStatus, unsigned language);

// One HTTP(S) GET into a file, on the UI thread's event loop. The file
// appears whole or not at all (temporary file, then rename); a server that
// stops answering for `timeoutMs` fails the download.
class UrlDownload : public QObject {
public:
    using Progress = std::function<void(qint64 received, qint64 total)>;
    using Done = std::function<void(bool ok, const QString& error)>;

    // `language` picks the language of the failure texts.
    explicit UrlDownload(unsigned language);
    ~UrlDownload() override;

    // False (and `done` not called) when the address is refused before
    // anything is sent; `error` then says why. `done`'s error is the text of
    // Failure().
    bool Start(const QString& address, const QString& localPath, Progress progress, Done done,
               int timeoutMs = kDefaultTimeoutMs, QString* error = nullptr);
    bool IsRunning() const { return reply_ != nullptr; }
    void Abort();
    DownloadFailure Failure() const { return failure_; }

private:
    bool Fail(DownloadFailure failure, int httpStatus = 0);
    void Finish();

    unsigned language_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    QNetworkReply* reply_ = nullptr;
    std::unique_ptr<QSaveFile> file_;
    Progress progress_;
    Done done_;
    DownloadFailure failure_ = DownloadFailure::None;
    int httpStatus_ = 0;
};

// DownloadUrlToFile: the same, waiting for the end while the event loop runs;
// the error text is in the program's language.
bool DownloadUrlToFile(const QString& address, const QString& localPath,
                       const UrlDownload::Progress& progress = {}, int timeoutMs = kDefaultTimeoutMs,
                       QString* error = nullptr);

// What the check found for this run of the program (UI thread).
struct UpdateState {
    VersionInfo info;
    bool updateAvailable = false;
};
UpdateState& State();

// The server of the setting, without trailing '/'; empty: no check.
QString ConfiguredServer();
// CheckForUpdate: fetches the version document into `tempFolder` and updates
// State(). With `wait` it returns when done (the Upgrade command) and shows
// the failure when `showErrors`; otherwise it runs in the background (start-up).
// `language` picks the message's text. Returns false when the check failed or
// no server is configured.
bool CheckForUpdate(const QString& tempFolder, const QString& title, unsigned language, bool showErrors,
                    bool wait, int timeoutMs = kDefaultTimeoutMs);

}  // namespace update
