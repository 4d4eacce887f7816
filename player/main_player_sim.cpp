// player-sim: a simulated player on the command line. It prints its address
// and port first, then one line per packet in and out, and runs until
// interrupted (SIGINT or SIGTERM).

#include "player/config_store.h"
#include "player/gallery_http.h"
#include "player/player_sim.h"
#include "player/remote_commands.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: player-sim [--address A] [--port P] [--mac 12HEX] [--id TEXT12] [--version WORD]\n"
                 "                  [--channel CODE] [--fpga N] [--no-android] [--build TEXT] [--udp]\n"
                 "                  [--config-seed FOLDER] [--gallery] [--verbose]\n"
                 "                  [--fault silent|notsupported|split[:n]|coalesce[:ms]|delay:<ms>|trickle:<bytes/s>[@code]]\n"
                 "numbers take decimal or 0x-prefixed hexadecimal; --gallery also serves the picture\n"
                 "gallery over HTTP on port 23333 of the address, with a few sample pictures\n");
}

std::optional<uint32_t> number(const QString& text, uint32_t max)
{
    bool ok = false;
    const uint v = text.trimmed().toUInt(&ok, 0);  // 0x... hexadecimal, else decimal
    if (!ok || v > max)
        return std::nullopt;
    return v;
}

struct FaultArg {
    sim::Fault fault = sim::Fault::None;
    int value = 0;
    int code = -1;
};

std::optional<FaultArg> parseFault(QString text)
{
    FaultArg f;
    const int at = text.indexOf(QLatin1Char('@'));
    if (at >= 0) {
        const auto code = number(text.mid(at + 1), 63);
        if (!code || *code == 0)
            return std::nullopt;
        f.code = int(*code);
        text = text.left(at);
    }
    const QString name = text.section(QLatin1Char(':'), 0, 0).toLower();
    const QString arg = text.section(QLatin1Char(':'), 1);
    const bool hasArg = text.contains(QLatin1Char(':'));
    if (hasArg) {
        const auto v = number(arg, 600000);
        if (!v)
            return std::nullopt;
        f.value = int(*v);
    }
    if (name == QLatin1String("silent") && !hasArg)
        f.fault = sim::Fault::Silent;
    else if (name == QLatin1String("notsupported") && !hasArg)
        f.fault = sim::Fault::NotSupported;
    else if (name == QLatin1String("split"))
        f.fault = sim::Fault::Split;
    else if (name == QLatin1String("coalesce"))
        f.fault = sim::Fault::Coalesce;
    else if (name == QLatin1String("delay") && hasArg)
        f.fault = sim::Fault::Delay;
    else if (name == QLatin1String("trickle") && hasArg && f.value > 0)
        f.fault = sim::Fault::Trickle;
    else
        return std::nullopt;
    return f;
}

QByteArray samplePicture(int w, int h, Qt::GlobalColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Something to look at in Picture Manager on a first run.
void seedGallery(sim::PlayerSim& player)
{
    std::lock_guard lock(player.stateMutex());
    sim::RemoteState& s = sim::remoteState(player);
    const struct {
        const char* name;
        Qt::GlobalColor colour;
    } samples[] = {{"red.png", Qt::red}, {"green.png", Qt::darkGreen}, {"blue.png", Qt::blue}};
    for (const auto& sample : samples) {
        s.gallery["Samples"].push_back(sample.name);
        s.pictureData[QByteArray("Samples:") + sample.name] = samplePicture(640, 360, sample.colour);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    sim::SimOptions o;
    o.verbose = true;
    std::optional<FaultArg> fault;
    bool gallery = false;

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    auto bad = [](const char* what, const QString& value) {
        std::fprintf(stderr, "player-sim: bad %s: %s\n", what, value.toLocal8Bit().constData());
        usage();
        return 2;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            usage();
            return 0;
        } else if (a == QLatin1String("--gallery")) {
            gallery = true;
        } else if (a == QLatin1String("--udp")) {
            o.udpDiscovery = true;
        } else if (a == QLatin1String("--no-android")) {
            o.android = false;
        } else if (a == QLatin1String("--verbose")) {
            o.dumpPayload = true;
        } else {
            const auto v = value();
            if (!v)
                return bad("option (missing value)", a);
            if (a == QLatin1String("--address")) {
                o.address = *v;
            } else if (a == QLatin1String("--port")) {
                const auto n = number(*v, 65535);
                if (!n)
                    return bad("port", *v);
                o.tcpPort = uint16_t(*n);
            } else if (a == QLatin1String("--mac")) {
                QString hex = *v;
                hex.remove(QLatin1Char(':'));
                bool ok = false;
                hex.toULongLong(&ok, 16);
                if (hex.size() != 12 || !ok)
                    return bad("MAC (12 hex digits)", *v);
                o.mac = hex.toUpper();
            } else if (a == QLatin1String("--id")) {
                if (v->size() > 12 || v->toLatin1() != v->toUtf8())
                    return bad("ID (up to 12 ASCII characters)", *v);
                o.id = *v;
            } else if (a == QLatin1String("--version")) {
                const auto n = number(*v, 0xFFFF);
                if (!n)
                    return bad("version", *v);
                o.version = uint16_t(*n);
            } else if (a == QLatin1String("--channel")) {
                const auto n = number(*v, 255);
                if (!n)
                    return bad("channel code", *v);
                o.channelCode = uint8_t(*n);
            } else if (a == QLatin1String("--fpga")) {
                const auto n = number(*v, 255);
                if (!n)
                    return bad("FPGA version", *v);
                o.fpgaVersion = uint8_t(*n);
            } else if (a == QLatin1String("--build")) {
                o.buildText = *v;
            } else if (a == QLatin1String("--config-seed")) {
                o.configSeedFolder = *v;
            } else if (a == QLatin1String("--fault")) {
                fault = parseFault(*v);
                if (!fault)
                    return bad("fault", *v);
            } else {
                return bad("option", a);
            }
        }
    }

    // The service threads must not take the stop signals: block them before
    // any thread starts and wait for them here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::PlayerSim player(o);
    sim::installStandardCommands(player);
    sim::installConfigStore(player);  // seeded from --config-seed when given
    if (fault)
        player.setFault(fault->fault, fault->value, fault->code);

    QString error;
    if (!player.start(&error)) {
        std::fprintf(stderr, "player-sim: %s\n", error.toLocal8Bit().constData());
        return 1;
    }
    // The gallery server lives on this thread's event loop; the stop signals
    // are then awaited on a thread of their own that ends the loop.
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<sim::GalleryHttpServer> http;
    if (gallery) {
        app = std::make_unique<QCoreApplication>(argc, argv);
        http = std::make_unique<sim::GalleryHttpServer>(player);
        if (!http->start(&error)) {
            std::fprintf(stderr, "player-sim: gallery on %s:%u: %s\n", o.address.toLatin1().constData(),
                         unsigned(sim::GalleryHttpServer::kPort), error.toLocal8Bit().constData());
            player.stop();
            return 1;
        }
        seedGallery(player);
    }
    std::printf("player-sim listening on %s:%u%s%s\n", o.address.toLatin1().constData(), unsigned(player.tcpPort()),
                o.udpDiscovery ? " (discovery on udp 6000 and 7656)" : "",
                gallery ? " (gallery on http port 23333)" : "");
    std::fflush(stdout);

    int sig = 0;
    if (app) {
        std::thread waiter([&] {
            sigwait(&stopSignals, &sig);
            QMetaObject::invokeMethod(app.get(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        });
        app->exec();
        waiter.join();
        http.reset();
    } else {
        sigwait(&stopSignals, &sig);
    }
    std::fprintf(stderr, "player-sim: stopping (%s)\n", sig == SIGINT ? "SIGINT" : "SIGTERM");
    player.stop();
    return 0;
}
