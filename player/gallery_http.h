#pragma once
// The simulated player's picture gallery over HTTP: GET /image/names returns
// the list document (the query is ignored), GET of a listed thumbnail or
// picture path returns its bytes. It listens on the simulator's own address
// at port 23333 and runs on the thread that starts it (the UI thread), so
// its state is read under the simulator's state mutex.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace sim {

class PlayerSim;

class GalleryHttpServer : public QObject {
public:
    static constexpr uint16_t kPort = 23333;

    explicit GalleryHttpServer(PlayerSim& sim);
    ~GalleryHttpServer() override;

    // False with the reason when the port cannot be bound.
    bool start(QString* error = nullptr);
    // Request lines received ("GET /image/names?time=... HTTP/1.1").
    std::vector<QByteArray> requestLines() const;
    // Called with each request line before it is answered (UI thread).
    std::function<void(const QByteArray& line)> onRequest;
    // Each answer is held this long before it is written (a slow gallery).
    int replyDelayMs = 0;

private:
    void onConnection();
    void serve(QTcpSocket* socket);

    PlayerSim& sim_;
    std::unique_ptr<QTcpServer> server_;
    mutable std::mutex mutex_;
    std::vector<QByteArray> lines_;
};

// The list document of the gallery in `sim` (state mutex held by the caller).
QByteArray GalleryListDocument(PlayerSim& sim);

}  // namespace sim
