#pragma once
// Layouts and their material between the document and the current player:
// the layout list, fetch, upload (one layout or a batch), delete, the
// material of uploaded layouts (announce with its MD5, then chunks each
// acknowledged before the next) and the watermark picture. All of it runs on
// the UI thread, driven by the document's replies; the material's MD5 is
// worked out on a thread of its own, and the chunks are shared with the
// link, never copied.

#include "common/digest.h"
#include "transport/chunk_source.h"
#include "transport/protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CvelunaDoc;
struct PlayerReply;

namespace layout {

inline constexpr int kNameFieldSize = int(proto::kNameFieldSize);
inline constexpr int kLayoutPathPane = 59142;
inline constexpr int kProgressPane = 59143;
inline constexpr uint16_t kMaterialPicture = 0;
inline constexpr uint16_t kMaterialVideo = 1;

struct MaterialEntry {
    QString path;
    uint16_t kind = kMaterialPicture;
    bool operator==(const MaterialEntry&) const = default;
};

// `name` zero-filled to 256 bytes, or its first 256 bytes.
QByteArray NameField(const QByteArray& name);
// The names of a layout-list reply: the text before each '?' (a tail
// without one is not a name).
QStringList SplitLayoutList(const QByteArray& payload);
// The material the layouts at `paths` show, in order: for each picture its
// file in <material>/Image and its .bmp twin when they exist, for each
// video its file in <material>/Video. Names that are not plain file names
// are skipped; a file that is not a layout adds nothing.
std::vector<MaterialEntry> CollectMaterial(const QStringList& paths, const QString& materialFolder);

class LayoutTransfer {
public:
    explicit LayoutTransfer(CvelunaDoc& doc);
    ~LayoutTransfer();
    LayoutTransfer(const LayoutTransfer&) = delete;
    LayoutTransfer& operator=(const LayoutTransfer&) = delete;

    void RequestLayoutList();
    void FetchLayout(const QString& name);
    // Asks first; an empty name gets its message instead.
    void DeleteLayout(const QString& name);
    // Saves the open layout and uploads it as the player's current one.
    void PushCurrentLayout();
    // Uploads several layout files one after the other, then their material.
    bool UploadLayouts(const QStringList& paths);
    // Asks for a PNG and sends it as the watermark.
    void SendWatermark();
    // Starts the watermark's digest; its announce follows when the digest
    // is known. False (said) when the name cannot be sent.
    bool SendWatermarkFile(const QString& path);

    void OnLayoutReply(const PlayerReply& r);
    void OnMaterialReply(const PlayerReply& r);
    void OnWatermarkReply(const PlayerReply& r);
    // The current player's link went: any layout, material or watermark
    // transfer ends with the progress off and, when `tell`, a message that
    // it did not finish. True when one was running.
    bool OnLinkLost(bool tell);

    // The player's layouts as the last list gave them, and the one marked current.
    const QStringList& names() const { return names_; }
    int currentIndex() const { return currentIndex_; }
    QString rememberedName() const { return remembered_; }
    // The name last opened from the tree; reset when the list is refilled.
    QString lastOpened;
    // The tree's selected item (Del Layout deletes it).
    QString selectedName;
    // The list was refilled (the tree pane redraws itself).
    std::function<void()> listChanged;

    const std::deque<MaterialEntry>& materials() const { return materials_; }
    // The MD5 pass of a material or watermark file is under way.
    bool hashing() const { return materialMd5_.Running() || watermarkMd5_.Running(); }
    bool materialBatch() const { return materialBatch_; }

private:
    bool sendLayoutPath(const QString& path, uint8_t subCode, uint16_t count);
    // Sends one chunk, shared with the link, to the current player.
    bool sendChunkPacket(const proto::PlayerPacketHeader& header, upload::Upload::Chunk&& chunk);
    // Works out the next file's MD5 off the UI thread; its announce follows.
    void announceNextMaterial();
    void announceMaterial(const QString& path, const QByteArray& name, const std::string& md5,
                          const filestamp::FileStamp& stamp);
    void sendMaterialChunk(upload::Upload::Chunk&& chunk);
    void announceWatermark(const QString& path, const QString& fileName, const std::string& md5,
                           const filestamp::FileStamp& stamp);
    // "MD5 n%" in the progress pane while a digest is worked out.
    void showDigestProgress(int percent);
    void finishMaterial();
    // After an upload of the open layout is answered: uploads again when an
    // edit was held back meanwhile and the layout is no longer the one sent.
    void pushIfChanged();
    // A layout from the player is about to replace the open one while it
    // holds edits the player never confirmed: when they were made for this
    // player the operator chooses, and true means they stay and go to the
    // player at once; edits made for another player are given up, said.
    bool keepUnsentEdits();
    // The canvas holds the current player's layout, or no player's yet.
    bool holdsCurrentPlayersLayout() const;
    void stopWithProgressOff();
    void setProgress(int percent);
    bool nameBytes(const QString& name, QByteArray& out);
    bool fromCurrentPlayer(const PlayerReply& r) const;

    CvelunaDoc& doc_;
    std::deque<QString> layoutNames_;
    uint32_t batchSent_ = 0;
    std::deque<MaterialEntry> materials_;
    upload::Upload material_;
    digest::BackgroundMd5 materialMd5_;
    bool materialRunning_ = false;  // an announce or chunk awaits its answer
    bool materialBatch_ = false;
    std::string lastPushed_;     // the layout text of the last upload
    bool pushDeferred_ = false;  // an edit came while an upload was pending

    upload::Upload watermark_;
    digest::BackgroundMd5 watermarkMd5_;

    QStringList names_;
    int currentIndex_ = -1;
    QString remembered_;
};

}  // namespace layout
