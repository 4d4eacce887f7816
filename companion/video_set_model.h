#pragma once
// The data of the Video Set wizard, without widgets: each ticked player with
// its cascade role and four acts (a local folder whose sub-folders are video
// categories, an alias and its filter), the checks made before the videos
// leave, and the list of files each player is sent.

#include "common/file_stamp.h"
#include "transport/records.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace videoset {

inline constexpr int kActs = 4;
inline constexpr int kCategoryBytes = 8;    // a category name in code page 936
inline constexpr int kFileNameBytes = 256;  // a file name in code page 936
// The video-type document page 2 writes and page 3 sends.
inline constexpr const char* kVideoTypeFileName = "VideoTypeProtocol.Json";

struct CategoryFiles {
    QString name;       // the sub-folder's name
    QStringList files;  // video file names, sorted
};

struct ActSetup {
    QString folder;
    QString alias;
    bool aliasFilter = false;
    std::vector<CategoryFiles> categories;
};

struct DeviceSetup {
    QString ip;
    QString portText;
    uint8_t mode = 0;  // 0 independent, 1 master, 2 slave
    std::array<ActSetup, kActs> acts;
};

// `name` with every occurrence of `alias` removed (unchanged for an empty
// alias).
QString StripAlias(const QString& name, const QString& alias);
// The sub-folders of `folder`, sorted by name: type slots and upload order
// never depend on the order the file system lists them in.
QStringList SortedSubFolders(const QString& folder);
// The act's categories, one per sub-folder, with no files yet.
void RebuildCategories(ActSetup& act);
// The first master, else the first player; -1 without players.
int ReferenceIndex(const std::vector<DeviceSetup>& devices);

// The refusal of a category (limit 8) or file name (limit 256) of `path`:
// empty when it fits, else the message naming it ("too long", or the name
// code page 936 cannot hold).
QString CheckName(const QString& name, const QString& path, bool category, unsigned language);

// Lists the videos of every act with a folder ("*.mp4" in any case, files
// only, sorted by name; with an alias only names that contain it) and checks
// the names: a missing alias under an active filter, a category name over 8
// code-page bytes, a file name over 256, or a name code page 936 cannot
// hold. The message of the first fault, empty when all is well.
QString ListVideos(std::vector<DeviceSetup>& devices, unsigned language);
// Every slave holds, per act with a folder, each video of the first master's
// acts (aliases removed where filtered) in a category of the same name,
// exactly once. True without a master.
bool MasterAndSlavesMatch(const std::vector<DeviceSetup>& devices);

// One video to send.
struct BatchFile {
    QString alias;
    bool aliasFilter = false;
    QString category;
    QString path;
    uint16_t act = 0;
    uint64_t size = 0;  // the stamp's: what the catalogue and free-space checks see
    // The file as it was listed, which its chunks must still come from.
    std::optional<filestamp::FileStamp> stamp;
    // The name the player is given: the file name, alias removed when filtered.
    QString SentName() const;
};
// In act order, then category order, then file order.
std::vector<BatchFile> BatchFilesOf(const DeviceSetup& device);
// Drops the videos of acts 0 and 1 the player holds already (same category,
// sent name and size in the catalogue of that act).
std::vector<BatchFile> WithoutHeld(const std::vector<BatchFile>& files, const PlayerCatalog& act0,
                                   const PlayerCatalog& act1);
// Needed bytes against the free space, in 64 bits: equal is too little.
bool FitsFreeSpace(uint64_t neededBytes, uint32_t freeMB);

}  // namespace videoset
