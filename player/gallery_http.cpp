#include "player/gallery_http.h"

#include "common/text_coding.h"
#include "player/player_sim.h"
#include "player/remote_commands.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace sim {

namespace {

QByteArray jsonString(const QByteArray& utf8)
{
    QByteArray out = "\"";
    for (char c : utf8) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QByteArray utf8Of(const QByteArray& codePage)
{
    return text::DoubleByteTextToCString(codePage).toUtf8();
}

}  // namespace

QByteArray GalleryListDocument(PlayerSim& sim)
{
    RemoteState& s = remoteState(sim);
    QByteArray doc = "{\"freeSpace\":" + QByteArray::number(qulonglong(s.freeSpace)) + ",\"httpImageInfos\":[";
    bool first = true;
    for (const auto& [folder, names] : s.gallery) {
        if (!first)
            doc += ',';
        first = false;
        QByteArray thumbs, fulls;
        for (const QByteArray& name : names) {
            const QByteArray path = utf8Of(folder) + '/' + utf8Of(name);
            thumbs += (thumbs.isEmpty() ? "" : ",") + jsonString("/thumb/" + path);
            fulls += (fulls.isEmpty() ? "" : ",") + jsonString("/image/" + path);
        }
        doc += "{\"type\":" + jsonString(utf8Of(folder)) + ",\"imagePath\":[" + thumbs + "],\"originalImage\":[" +
               fulls + "]}";
    }
    return doc + "]}";
}

GalleryHttpServer::GalleryHttpServer(PlayerSim& sim) : sim_(sim) {}

GalleryHttpServer::~GalleryHttpServer() = default;

bool GalleryHttpServer::start(QString* error)
{
    server_ = std::make_unique<QTcpServer>();
    if (!server_->listen(QHostAddress(sim_.options().address), kPort)) {
        if (error)
            *error = server_->errorString();
        server_.reset();
        return false;
    }
    connect(server_.get(), &QTcpServer::newConnection, this, &GalleryHttpServer::onConnection);
    return true;
}

std::vector<QByteArray> GalleryHttpServer::requestLines() const
{
    std::lock_guard lock(mutex_);
    std::vector<QByteArray> copy;
    for (const QByteArray& line : lines_)
        copy.push_back(ownBytes(line));
    return copy;
}

void GalleryHttpServer::onConnection()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void GalleryHttpServer::serve(QTcpSocket* socket)
{
    QByteArray request = socket->property("buffer").toByteArray() + socket->readAll();
    if (request.size() > 65536) {
        socket->abort();
        return;
    }
    if (!request.contains("\r\n\r\n")) {
        socket->setProperty("buffer", request);
        return;
    }
    const QByteArray line = request.left(request.indexOf("\r\n"));
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    if (onRequest)
        onRequest(line);
    const QList<QByteArray> parts = line.split(' ');
    QByteArray path = parts.value(1);
    const qsizetype query = path.indexOf('?');
    if (query >= 0)
        path.truncate(query);
    path = QByteArray::fromPercentEncoding(path);
    QByteArray body;
    bool found = false;
    {
        std::lock_guard lock(sim_.stateMutex());
        RemoteState& s = remoteState(sim_);
        if (path == "/image/names") {
            body = GalleryListDocument(sim_);
            found = true;
        } else {
            const QString text = QString::fromUtf8(path);
            for (const char* prefix : {"/thumb/", "/image/"}) {
                if (!text.startsWith(QLatin1String(prefix)))
                    continue;
                const QString rest = text.mid(int(strlen(prefix)));
                const QByteArray key = text::CStringToDoubleByteText(rest.section(QLatin1Char('/'), 0, 0)) + ':' +
                                       text::CStringToDoubleByteText(rest.section(QLatin1Char('/'), 1));
                const auto it = s.pictureData.find(key);
                if (it != s.pictureData.end()) {
                    body = ownBytes(it->second);
                    found = true;
                }
            }
        }
    }
    QByteArray reply = found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n";
    reply += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    if (replyDelayMs <= 0) {
        socket->write(reply);
        socket->disconnectFromHost();
        return;
    }
    // The socket is the timer's context: a client that gave up meanwhile
    // takes the pending answer with it.
    QTimer::singleShot(replyDelayMs, socket, [socket, reply] {
        socket->write(reply);
        socket->disconnectFromHost();
    });
}

}  // namespace sim
