#pragma once
// The simulated player: a TCP command service (and, when asked, the UDP
// discovery answer) that keeps state, logs every packet and can be told to
// misbehave. It runs on threads of its own, so a test can run it in-process
// while the UI thread pumps events. Several can run at once on distinct
// loopback addresses (127.0.0.2, 127.0.0.3 ...).

#include "transport/protocol.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

// Bytes that cross threads go over as copies of their own. A byte array
// shared between threads is freed by whichever lets go last, and Qt's own
// functions (a copy assignment, an append, clear) let go where the thread
// checker cannot see the count that orders it. So the simulator copies a
// request's bytes into its state and its log, copies the state's bytes into
// a reply, hands the tests copies, and changes the state's bytes only by
// moving new ones in or with appendOwn, so that a share a test took of them
// is let go of in code the checker sees.
QByteArray ownBytes(const QByteArray& bytes);
// Appends a copy of `bytes` (`to += bytes` shares them when `to` is empty).
void appendOwn(QByteArray& to, const QByteArray& bytes);

struct Request {
    proto::PlayerPacketHeader header;
    QByteArray payload;
};

struct Reply {
    // `command` is the plain code; the reply bit (and the not-supported bit
    // when asked) is set when the reply is written. payloadLength is filled in.
    proto::PlayerPacketHeader header;
    QByteArray payload;
};

class PlayerSim;
// Runs on the simulator's connection thread; returns the replies to write
// (none for a command that the player answers with silence).
using CommandHandler = std::function<std::vector<Reply>(PlayerSim&, const Request&)>;

struct SimOptions {
    QString address = QStringLiteral("127.0.0.1");
    uint16_t tcpPort = 0;  // 0: the system picks a free port (see tcpPort())
    QString mac = QStringLiteral("A1B2C3D4E5F6");
    QString id = QStringLiteral("SIM000000001");  // 12 characters
    uint16_t version = 0x1523;  // player version word
    uint8_t channelCode = 4;    // channel-layout code
    bool android = true;
    uint8_t fpgaVersion = 5;
    QString buildText = QStringLiteral("2026-12-01 10:00:00");  // 19 characters; empty: 5-byte payload
    bool udpDiscovery = false;  // answer discovery broadcasts (ports 6000 and 7656)
    QString configSeedFolder;   // seed the configuration-file store from here
    bool verbose = false;       // print every packet on stderr
    bool dumpPayload = false;   // with verbose: also the first payload bytes in hex
    // The receive buffer of every connection (0: the system's own, which
    // grows to many megabytes). A small one, with a paused reader, keeps the
    // tool's large packet being written instead of resting whole in buffers.
    int receiveBufferBytes = 0;
};

struct VideoStoreState;  // player/video_store.h
struct PlayModeState;    // player/play_mode_commands.h
struct LayoutStoreState;  // player/layout_store.h
struct InteractiveState;  // player/interactive_commands.h
struct RemoteState;      // player/remote_commands.h
struct CapabilityState;  // player/companion_remote.h

// What the standard answers keep between requests. Read and change it only
// while holding stateMutex().
struct PlayerState {
    QByteArray networkParameters;  // 24 bytes once set; empty: built from the options
    std::array<uint8_t, 3> temperatures{41, 47, 52};  // header bytes 8, 11, 10 of the reply
    QByteArray productInfo;        // payload of the product-information reply
    QByteArray statusBlock;        // 108 bytes: output and screen block
    // Layouts by name; names are code-page bytes exactly as they came.
    std::vector<std::pair<QByteArray, QByteArray>> layouts;
    int currentLayout = 0;
    bool layoutLocked = false;     // layout replies then carry arg 1
    std::vector<uint16_t> loadStates;  // param of every CMD_LOAD_STATE, in order
    int reboots = 0;
    std::shared_ptr<VideoStoreState> videoStore;  // player/video_store.h
    std::shared_ptr<PlayModeState> playModes;     // player/play_mode_commands.h
    std::shared_ptr<LayoutStoreState> layoutStore;  // player/layout_store.h
    std::shared_ptr<InteractiveState> interactive;  // player/interactive_commands.h
    std::shared_ptr<RemoteState> remote;          // player/remote_commands.h
    std::shared_ptr<CapabilityState> capabilities;  // player/companion_remote.h
};

enum class Fault {
    None,
    Silent,        // read requests, answer nothing
    NotSupported,  // answer with the not-supported bit set and no payload
    Split,         // write each reply in pieces of `value` bytes (default 1), with a short pause between
    Coalesce,      // hold a reply back and write it together with the next one in one write
    Delay,         // wait `value` ms before each reply
    Trickle,       // write each reply at `value` bytes a second (a slow link), a piece every 50 ms
};

struct LogEntry {
    bool incoming;  // true: request from the tool; false: reply from the player
    proto::PlayerPacketHeader header;
    QByteArray payload;
};

class PlayerSim {
public:
    explicit PlayerSim(SimOptions options = SimOptions());
    ~PlayerSim();
    PlayerSim(const PlayerSim&) = delete;
    PlayerSim& operator=(const PlayerSim&) = delete;

    bool start(QString* error = nullptr);
    void stop();  // closes everything and joins every thread
    bool isRunning() const;

    const SimOptions& options() const { return options_; }
    uint16_t tcpPort() const;

    // Replaces the handler of one command code. Thread-safe. A handler runs on
    // a connection thread and must not call stop().
    void registerCommand(uint8_t code, CommandHandler handler);
    // The handler now registered for `code` (empty when none), so that an
    // installer serving some kinds of a command can pass the others on.
    CommandHandler commandHandler(uint8_t code) const;

    // Misbehaviour for every command (onlyCode < 0) or for one code. A fault
    // for one code wins over the one for every command; Fault::None with
    // onlyCode < 0 clears every fault. Coalesce holds a reply until the next
    // one or `value` ms (default 500) without another request.
    void setFault(Fault fault, int value = 0, int onlyCode = -1);

    // What went in and out, in order. Thread-safe copies, bytes and all.
    // A request is in the log, in the counts and in their waits only once the
    // player has acted on it (its handler returned, so the state holds its
    // change), in the place where it arrived: ahead of its replies and of
    // what its handler sent. A test that sees it may read the state at once.
    std::vector<LogEntry> log() const;
    std::size_t requestCount(uint8_t code) const;
    void clearLog();
    // Waits (without an event loop) until the player has acted on `count`
    // requests of `code`. So a handler must not wait for something a test does
    // only after seeing the handler's own request: the test never sees it.
    bool waitForRequests(uint8_t code, std::size_t count, int timeoutMs) const;

    // Closes the open connections from the player's side (the tool sees the
    // peer close); the service keeps listening.
    void dropConnections();
    // Resets the open connections (the tool's next receive fails with
    // ECONNRESET, as when a player restarts); the service keeps listening.
    void resetConnections();

    // Number of bytes the connections have read since start().
    uint64_t bytesReceived() const;
    // Slows reading: sleep `ms` between reads (0 = read at full speed).
    void setReadPause(int ms);

    // Guards state that command handlers share with tests (stores, catalogues).
    std::mutex& stateMutex() const { return stateMutex_; }
    // The standard answers' state; only with stateMutex() held.
    PlayerState& state() { return state_; }

    // Writes an unsolicited packet (such as CMD_VIDEO_LIST_CHANGED) to every
    // open connection; the reply bit is set as for replies. Returns the
    // number of connections written to.
    int sendToAll(const Reply& packet);

    // Discovery requests answered so far.
    std::size_t discoveryAnswers() const;

private:
    struct Impl;
    SimOptions options_;
    std::unique_ptr<Impl> d;
    mutable std::mutex stateMutex_;
    PlayerState state_;
};

// The 108-byte output and screen block of a player with `outputs` outputs
// (1..9) of 1920 x 1080 side by side; the first four are the screens.
QByteArray makeStatusBlock(int outputs);
// Outputs of a channel-layout code: 1..9 as they are, 11..91 the tens digit,
// 0 for unknown codes.
int outputsOfChannelCode(int code);

// Installs the answers every player gives (handshake, status, temperature,
// product information, ...) on a simulator.
void installStandardCommands(PlayerSim& sim);

}  // namespace sim
