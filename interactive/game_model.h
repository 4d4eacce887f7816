#pragma once
// The game set-up's plain parts: the output layout taken from the player's
// status block, the screens' output grids, the game-list reply, Game.Json,
// the map arithmetic and the APK upload chain. No widgets.

#include "common/hit_test.h"
#include "transport/chunk_source.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <json/json.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace game {

inline constexpr uint32_t kMinGameSize = 320;
inline constexpr std::size_t kMaxNameBytes = 256;

enum GameOperation : uint16_t { GAME_OP_LIST = 0, GAME_OP_SETTINGS = 1, GAME_OP_INSTALL = 2, GAME_OP_UNINSTALL = 3 };

// Screens as left, top, right, bottom (right and bottom exclusive); outputs
// as left, top, right, bottom inclusive.
struct OutputLayout {
    std::array<geom::RectI, 4> screens{};
    std::array<geom::RectI, 9> outputs{};
    // The 108-byte status block: a u32, four screens of u16 (x, y, width,
    // height, taken as left, top, right, bottom), nine outputs of u16 (left,
    // right, top, bottom). Defaults (screens 0, 0, 1920, 1080) when the
    // block is not 108 bytes.
    static OutputLayout FromStatusBlock(const uint8_t* block, std::size_t size);
};

bool ScreenExists(const geom::RectI& screen);
// Inner wholly inside outer, edges may touch.
bool RectContains(const geom::RectI& outer, const geom::RectI& inner);

struct GameRect {
    uint32_t screen = 0;
    uint32_t left = 0, top = 0, right = 0, bottom = 0;
    uint32_t rows = 0, columns = 0;
    geom::RectI rect() const { return {int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)}; }
    void setRect(const geom::RectI& r);
};

// Rows and columns of screens 1 and 2 (1..9); a screen after the first
// empty one keeps 0.
void ComputeScreenGrids(const OutputLayout& layout, std::array<GameRect, 2>& rects);

// A game window at its own screen's top-left corner, 320 x 320.
geom::RectI DefaultGameRect(const geom::RectI& screen);

struct GameEntry {
    QString name;
    bool fullScreen = false;
};

struct GameList {
    QString currentName;
    uint32_t currentScreen = 0;
    uint32_t x = 0, y = 0, width = 0, height = 0;
    std::vector<GameEntry> games;
};
// The list reply; false (and `out` untouched) when refused.
bool ParseGameList(const QByteArray& payload, GameList& out);
// "SN" and "Game Name" of row i ("* " marks the current game).
QString GameRowLabel(const GameList& list, std::size_t i);
// Index of the current game in the list, -1 when absent.
int CurrentGameIndex(const GameList& list);

Json::Value GameJson(const QString& name, uint32_t screen, const geom::RectI& rect, int startGame);

// A CMD_GAME packet.
QByteArray GamePacket(uint16_t operation, uint8_t subCode, uint16_t arg, const QByteArray& payload = QByteArray());

// Screen pixels to map pixels.
struct MapScale {
    geom::RectI map;
    double sx = 1, sy = 1;
    int toMapX(double x) const;
    int toMapY(double y) const;
    int fromMapX(int x) const;
    int fromMapY(int y) const;
    geom::RectI toMap(const geom::RectI& r) const;
};
MapScale ComputeMapScale(const geom::RectI& map, const geom::RectI& screen, uint32_t rows, uint32_t columns);
// The tracker's map rectangle to a game window on `screen`: at least 320 x
// 320 screen pixels, clipped at the screen's right and bottom.
geom::RectI TrackerRectToGameRect(const geom::RectI& mapRect, const MapScale& scale, const geom::RectI& screen);

// The install chain: name, chunks of 8,192,000 bytes (sub-code 1, the last of
// a file 2 with the files still to send), next name ..., then the list.
class ApkUpload {
public:
    enum Step { kNameSent = 0, kChunkSent = 1, kFileDone = 2 };
    // Checks the chosen files; false with a message (language 4 Chinese).
    // Each file is looked at once: its size counts in the total and its
    // stamp is what its chunks must still come from, so that a package that
    // changes before its turn is passed over rather than overrunning the bar.
    bool Start(const QStringList& paths, unsigned language, QString* message);
    // The next request after the player's acknowledgement, by step: a name
    // packet, or a chunk's header with the chunk as its shared body. Null
    // and finished() when the chain is over (the caller asks for the list);
    // `message` set when a file cannot be read or changed since it was
    // chosen: that file ends there and the chain goes on with the next one
    // (null when none).
    std::unique_ptr<SendRequest> NextRequest(unsigned language, QString* message);
    // The same request as one byte array (header, then payload).
    QByteArray NextPacket(unsigned language, QString* message);
    bool finished() const { return finished_; }
    bool active() const { return active_; }
    uint64_t total() const { return total_; }
    uint64_t sent() const { return sent_; }
    int step() const { return step_; }
    void Stop();

private:
    std::unique_ptr<SendRequest> nameOrEnd(unsigned language, QString* message);
    std::unique_ptr<SendRequest> chunk(unsigned language, QString* message);
    void dropFirst();
    QStringList paths_;
    std::vector<std::optional<filestamp::FileStamp>> stamps_;  // one per path, as the total counted it
    upload::Upload file_;
    uint64_t total_ = 0, sent_ = 0;
    int step_ = kNameSent;
    bool finished_ = false, active_ = false;
};

QString FileNameOf(const QString& path);
QString GameText(const char* english, unsigned language);

}  // namespace game
