#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QFileInfo>
#include <QFile>
#include <QDir>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QThread>
#include <QPaintEvent>
#include <QWidget>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

#include "platform/app_identity.h"
#include "platform/datagram.h"
#include "platform/port_owner.h"

#include <algorithm>
#include <set>
#include <cerrno>
#include <cstring>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

Answering measureRepaints(const std::function<bool()>& busy, const std::function<void()>& eachRound, int maxRounds)
{
    struct Painted : QWidget {
        int paints = 0;
        void paintEvent(QPaintEvent*) override { ++paints; }
    } window;
    window.resize(80, 40);
    window.show();
    Answering a;
    while (busy() && a.rounds < maxRounds) {
        const int before = window.paints;
        QElapsedTimer clock;
        clock.start();
        window.update();
        if (!waitUntil([&] { return window.paints > before; }, 2000)) {
            a.stalled = true;
            return a;
        }
        a.slowestMs = std::max<int64_t>(a.slowestMs, clock.elapsed());
        ++a.rounds;
        if (eachRound)
            eachRound();
    }
    return a;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

MessageBoxRecorder::MessageBoxRecorder(platform::MsgResult answer)
{
    platform::setMessageBoxAnswerer([this, answer](const platform::MessageBoxCall& call) {
        calls_.push_back(call);
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    platform::setMessageBoxAnswerer({});
}

QStringList MessageBoxRecorder::texts() const
{
    QStringList out;
    for (const auto& c : calls_)
        out << c.text;
    return out;
}

ModalCloser::ModalCloser(std::function<void(QDialog&)> seen, std::function<bool(QDialog&)> ready)
    : timer_(std::make_unique<QTimer>())
{
    timer_->setInterval(50);
    QObject::connect(timer_.get(), &QTimer::timeout, [seen = std::move(seen), ready = std::move(ready),
                                                      waited = 0]() mutable {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QDialog*>(w);
            if (!d || !d->isVisible() || d->windowTitle().isEmpty())
                continue;
            if (ready && !ready(*d) && ++waited < 200)
                continue;
            waited = 0;
            seen(*d);
            d->reject();
        }
    });
    timer_->start();
}

ModalCloser::~ModalCloser() = default;

void ModalCloser::stop()
{
    timer_->stop();
}

TempHome::TempHome()
{
    hadPrevious_ = qEnvironmentVariableIsSet("VELUNA_HOME");
    previous_ = qgetenv("VELUNA_HOME");
    qputenv("VELUNA_HOME", dir_.path().toUtf8());
}

TempHome::~TempHome()
{
    if (hadPrevious_)
        qputenv("VELUNA_HOME", previous_);
    else
        qunsetenv("VELUNA_HOME");
}

QString binDir()
{
    QByteArray dir = qgetenv("VELUNA_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../bin" : QString::fromUtf8(dir);
}

QString sourceDir()
{
    return QString::fromUtf8(qgetenv("VELUNA_SOURCE_DIR"));
}

QStringList cutTreeLabels(const QTreeWidget& tree, int column)
{
    // The room the style gives the text of each cell, less the margins its
    // painter keeps on both sides, as the view measures before eliding.
    const int margin = tree.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &tree) + 1;
    QStringList cut;
    const auto visit = [&](auto&& self, QTreeWidgetItem* item) -> void {
        const QModelIndex index = tree.indexFromItem(item, column);
        QStyleOptionViewItem option;
        option.initFrom(tree.viewport());
        option.rect = tree.visualRect(index);
        option.text = item->text(column);
        const QVariant font = item->data(column, Qt::FontRole);
        option.font = font.isValid() ? font.value<QFont>() : tree.font();
        option.fontMetrics = QFontMetrics(option.font);
        option.features = QStyleOptionViewItem::HasDisplay;
        option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        const QRect text = tree.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &tree);
        if (option.fontMetrics.horizontalAdvance(option.text) > text.width() - 2 * margin)
            cut << option.text;
        for (int i = 0; i < item->childCount(); ++i)
            self(self, item->child(i));
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        visit(visit, tree.topLevelItem(i));
    return cut;
}

QString screenshotPath(const QString& name)
{
    const QString folder = binDir() + QStringLiteral("/../screenshots");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name + QStringLiteral(".png");
}

bool saveScreenshot(QWidget& widget, const QString& name)
{
    if (kUnderThreadChecker)
        return true;
    return widget.grab().save(screenshotPath(name));
}

QByteArray randomBytes(std::size_t size, quint32 seed)
{
    std::vector<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), qsizetype(words.size()));
    return QByteArray(reinterpret_cast<const char*>(words.data()), qsizetype(size));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

namespace {

bool laterThan(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

bool setModified(const QByteArray& name, const struct timespec& modified)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, modified};
    return ::utimensat(AT_FDCWD, name.constData(), times, 0) == 0;
}

}  // namespace

void untilALaterChangeTime(const QString& path)
{
    struct stat before {};
    if (::stat(QFile::encodeName(path).constData(), &before) != 0)
        return;
    const QString probe = path + QStringLiteral(".tick");
    QElapsedTimer waited;
    waited.start();
    struct stat now {};
    do {
        if (!writeFile(probe, "t") || ::stat(QFile::encodeName(probe).constData(), &now) != 0)
            break;
    } while (!laterThan(now.st_ctim, before.st_ctim) && waited.elapsed() < 5000);
    QFile::remove(probe);
}

bool rewriteKeepingTheTime(const QString& path, qint64 at)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) != 0 || at >= before.st_size)
        return false;
    untilALaterChangeTime(path);
    {
        QFile f(path);
        const QByteArray bytes(qsizetype(std::min<qint64>(64, before.st_size - at)), 'w');
        if (!f.open(QIODevice::ReadWrite) || !f.seek(at) || f.write(bytes) != bytes.size())
            return false;
    }
    return setModified(name, before.st_mtim);
}

bool replaceKeepingTheTime(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    if (::stat(name.constData(), &before) != 0)
        return false;
    untilALaterChangeTime(path);
    const QString other = path + QStringLiteral(".new");
    const QByteArray otherName = QFile::encodeName(other);
    return writeFile(other, randomBytes(std::size_t(before.st_size), 77)) && setModified(otherName, before.st_mtim) &&
           ::rename(otherName.constData(), name.constData()) == 0;
}

TcpPeer::TcpPeer(const QString& address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &a.sin_addr) != 1 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
        close();
}

bool TcpPeer::send(const QByteArray& bytes) const
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

std::optional<QByteArray> TcpPeer::readSome(int timeoutMs) const
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, std::max(timeoutMs, 0)) != 1)
        return QByteArray();
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0)
        return std::nullopt;
    return QByteArray(buffer, int(n));
}

QByteArray TcpPeer::read(std::size_t count, int timeoutMs) const
{
    // Never more than asked for: what follows stays for the next read.
    QByteArray out(qsizetype(count), Qt::Uninitialized);
    std::size_t got = 0;
    QElapsedTimer t;
    t.start();
    while (got < count && t.elapsed() < timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) != 1)
            continue;
        const ssize_t n = ::recv(fd_, out.data() + got, count - got, 0);
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    out.truncate(qsizetype(got));
    return out;
}

bool TcpPeer::seesEnd(int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs)
        if (!readSome(int(timeoutMs - t.elapsed())))
            return true;
    return false;
}

TcpPeer::End TcpPeer::waitForEnd(int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    char buffer[65536];
    while (t.elapsed() < timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(1, timeoutMs - t.elapsed()))) != 1)
            continue;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n == 0)
            return End::Orderly;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return errno == ECONNRESET ? End::Reset : End::None;
    }
    return End::None;
}

void TcpPeer::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void TcpPeer::reset()
{
    const linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
}

TcpListener::TcpListener(int receiveBufferBytes)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBufferBytes > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 4) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port_ = ntohs(a.sin_port);
}

TcpListener::~TcpListener()
{
    ::close(fd_);
}

std::unique_ptr<TcpPeer> TcpListener::accept(int timeoutMs) const
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return nullptr;
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<TcpPeer>(fd);
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : name_(name), previous_(qgetenv(name)), hadPrevious_(qEnvironmentVariableIsSet(name))
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (hadPrevious_)
        qputenv(name_, previous_);
    else
        qunsetenv(name_);
}

ScopedLanguage::ScopedLanguage(unsigned language) : previous_(platform::appLanguage())
{
    platform::setAppLanguage(language);
}

ScopedLanguage::~ScopedLanguage()
{
    platform::setAppLanguage(previous_);
}

static sockaddr_in ipv4(uint32_t addressHost, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(addressHost);
    return a;
}

UdpPeer::UdpPeer(uint32_t addressHost, uint16_t port, bool sharePort)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Stamps each datagram on arrival, not when it is read.
    ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    if (sharePort) {
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on);
    }
    const sockaddr_in a = ipv4(addressHost, port);
    bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

UdpPeer::~UdpPeer()
{
    ::close(fd_);
}

uint16_t UdpPeer::port() const
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

bool UdpPeer::sendTo(uint16_t port, const QByteArray& bytes, uint32_t hostAddress) const
{
    const sockaddr_in a = ipv4(hostAddress, port);
    return ::sendto(fd_, bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&a),
                    sizeof a) == bytes.size();
}

std::optional<UdpPeer::Datagram> UdpPeer::receive(int timeoutMs) const
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1)
        return std::nullopt;
    char buffer[65536];
    platform::DatagramInfo info;
    const ssize_t got = platform::receiveDatagram(fd_, buffer, sizeof buffer, info);
    if (got < 0)
        return std::nullopt;
    Datagram d;
    d.bytes = QByteArray(buffer, int(got));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &info.from.sin_addr, text, sizeof text);
    d.from = QString::fromLatin1(text);
    d.fromPort = ntohs(info.from.sin_port);
    if (info.hasTimestamp)
        d.atMs = qint64(info.timestamp.tv_sec) * 1000 + info.timestamp.tv_usec / 1000;
    return d;
}

std::optional<UdpPeer::Datagram> UdpPeer::receiveFrom(uint16_t fromPort, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (auto d = receive(int(std::max<qint64>(0, timeoutMs - t.elapsed()))))
        if (d->fromPort == fromPort)
            return d;
    return std::nullopt;
}

bool udpPortHeldByAnotherProcess(uint16_t port)
{
    std::set<quint64> onPort;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file(QString::fromLatin1(table));
        if (file.open(QIODevice::ReadOnly))
            for (quint64 inode : platform::udpInodesForPort(file.readAll(), port))
                onPort.insert(inode);
    }
    // This process's own sockets, from the links of its descriptors.
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64];
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target);
        const QByteArray link(target, n > 0 ? qsizetype(n) : 0);
        if (!link.startsWith("socket:[") || !link.endsWith(']'))
            continue;
        bool ok = false;
        const quint64 inode = link.mid(8, link.size() - 9).toULongLong(&ok);
        if (ok)
            onPort.erase(inode);
    }
    return !onPort.empty();
}

MachineLock::MachineLock(const QString& name, int timeoutMs)
{
    const QByteArray path = QFile::encodeName(QStringLiteral("/tmp/veluna-tests-") + name + QStringLiteral(".lock"));
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0)  // made by another user: a lock needs no writing
        fd_ = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    // flock, not fcntl: the lock belongs to this open file, so it also
    // excludes a second lock taken in this same process.
    QElapsedTimer t;
    t.start();
    while (!(held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0) && t.elapsed() < timeoutMs)
        QThread::msleep(20);
}

MachineLock::~MachineLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

uint16_t freeUdpPort()
{
    return UdpPeer(INADDR_ANY, 0).port();
}

bool waitUdpPortFree(uint16_t port, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    do {
        if (UdpPeer(INADDR_ANY, port).bound())
            return true;
        QThread::msleep(50);
    } while (t.elapsed() < timeoutMs);
    return false;
}

}  // namespace testsupport
