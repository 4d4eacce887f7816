#pragma once
// The player's picture gallery as veluna reads and changes it: the list
// document fetched over HTTP (port 23333), the names that become local files
// in the working folder, the CMD_GALLERY packets and the upload queue's
// bookkeeping. Plain C++ over Qt strings; the dialog is thin over it.

#include "transport/protocol.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace gallery {

inline constexpr uint16_t kHttpPort = 23333;
inline constexpr char kListName[] = "PictureManager.json";
inline constexpr char kPreviewName[] = "PictureTemp.jpg";
inline constexpr qint64 kChunkSize = 8192000;
inline constexpr int kMaxFolderBytes = 128;
inline constexpr int kMaxFileBytes = 256;
inline constexpr int kThumbWidth = 100;
inline constexpr int kThumbHeight = 75;

enum Operation : uint16_t { kNewFolder = 0, kDeleteFolder = 1, kPicture = 2, kDeletePictures = 3 };
enum PictureArg : uint16_t { kAnnounce = 0, kChunk = 1, kLastChunk = 2 };

struct GalleryPicture {
    QString thumbUrl;
    QString fullUrl;
};
struct GalleryFolder {
    QString name;
    std::vector<GalleryPicture> pictures;
};
struct GalleryList {
    uint64_t freeSpace = 0;
    std::vector<GalleryFolder> folders;
};

// "http://<ip>:23333".
QString BaseUrl(const QString& ip);
// The base followed by a path from the player; a path without a leading
// '/' gets one, so the result stays a valid URL.
QString JoinUrl(const QString& base, const QString& path);
// The list's address: the base and "/image/names".
QString ListUrl(const QString& ip);

// Parses the list document. Nothing when the text fails the pre-checks or
// the parse, or `httpImageInfos` is not a non-empty array; elements whose
// `type` is not a string or whose two path arrays differ in length (or are
// not arrays of strings) are skipped.
std::optional<GalleryList> ParseList(const QByteArray& text, const QString& ip);

// Drop-down text "name (n)".
QString FolderItemText(const GalleryFolder& folder);
// The folder to select after a refresh: the last one named `current`, else 0;
// -1 when there are none.
int FolderToSelect(const std::vector<GalleryFolder>& folders, const QString& current);

// The text after the last '\' or '/' of an address.
QString UrlFileName(const QString& url);
// A name from the player that may become a file or folder below the working
// folder: not empty, not "." or "..", no separators, drive colons or control
// characters.
bool IsSafeLocalName(const QString& name);

// Texts of the dialog and its messages (language 4: Chinese).
enum class Msg {
    Title, ConnectFailed, FolderExists, FolderTooLong, EnterFolder, ConfirmDelete, SelectFile, FileTooLong,
    BatchFolderTooLong, NoSpace, NoPictures, ConfirmExit, ColonInName, OpenFailed, SelectPicTitle,
    NewFolder, DelFolder, AddPic, Del, BatchAdd, Exit,
};
QString Text(Msg m, int language);

// Checks a name for the gallery (folder: 1..128 bytes; file: up to 256
// bytes) in code page 936, with no ':' (the payload's separator). Empty
// when accepted; otherwise the message to show. `encoded` gets the bytes.
QString CheckFolderName(const QString& name, int language, QByteArray* encoded = nullptr);
QString CheckFileName(const QString& name, int language, QByteArray* encoded = nullptr);
// New Folder's checks: leading white space stripped, an existing name among
// the first 128 refused, then CheckFolderName.
QString CheckNewFolder(const QString& typed, const std::vector<GalleryFolder>& folders, int language,
                       QByteArray* encoded);

// The CMD_GALLERY packet.
QByteArray Packet(uint16_t operation, uint16_t argument, const QByteArray& payload = QByteArray());
// "A:x.jpg:y.jpg" in code page 936; empty (and `message` set) when a name
// cannot be encoded.
QByteArray DeletePayload(const QString& folder, const QStringList& names, int language, QString* message);

// One entry of the upload queue.
struct GalleryUpload {
    QStringList files;
    QString folder;
};
// Batch Add Pic: one entry per sub-folder of `root` (files directly in it
// ignored), holding its .JPG/.BMP/.PNG files (any case) that the gallery's
// folder of the same name does not list yet; entries without files dropped.
// False with `message` when a name is refused.
bool ScanBatchFolder(const QString& root, const std::vector<GalleryFolder>& folders, int language,
                     std::vector<GalleryUpload>& queue, QString* message);
// Add Pic: every chosen file for `folder`; false with `message` when a file
// name is refused.
bool QueueFiles(const QStringList& paths, const QString& folder, int language, std::vector<GalleryUpload>& queue,
                QString* message);
// Sum of the queued files' sizes.
uint64_t QueueBytes(const std::vector<GalleryUpload>& queue);
// Empty when the upload may start; otherwise the message.
QString CheckUploadSize(uint64_t total, uint64_t freeSpace, int language);
// The argument of a chunk of `read` bytes: a full chunk 1, else the last 2.
inline uint16_t ChunkArgument(qint64 read) { return read < kChunkSize ? kLastChunk : kChunk; }

// The picture fitted into `target` with its aspect kept: relatively taller
// than the target takes the full height, otherwise the full width; centred,
// halves of the remainder on the left or top.
QRect FitRect(int width, int height, const QRect& target);
// The 100 x 75 thumbnail on opaque white.
QImage Thumbnail(const QImage& picture);
// Rescales the file in place (encoder by its extension); false when it
// cannot be read or written. A write failure (the file kept as it was) is
// described in `error`; an unreadable picture leaves it empty.
bool RescaleFileInPlace(const QString& path, QString* error = nullptr);

}  // namespace gallery
