#pragma once
// The rules of batch sending without widgets: what a Send collects from the
// three folders (videos by category, layouts and the material they use),
// the refusals, the status column texts and every packet a batch page sends.

#include "content/video_store_model.h"
#include "transport/protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace batch {

using store::Message;
using store::Text;

inline constexpr std::size_t kMaxCategories = 64;
inline constexpr std::size_t kCategoryBytes = 8;
inline constexpr std::size_t kNameBytes = 256;  // a file name of 257 bytes or more is left out
inline constexpr int kMaxTries = 4;

// Status codes of the two columns.
enum Status : uint32_t {
    kNoChoice = 0,
    kTimeOut = 1,
    kSmallDisk = 2,
    kNetFailure = 4,
    kInProgress = 5,
    kDone = 6,
    // Everything was tried, but a file could not be read and never reached
    // the player: the row must not read as done.
    kNotDelivered = 7,
};
// The column text of a status; `done`/`count` fill "%d/%d".
QString StatusText(uint32_t status, uint64_t done, uint64_t count, unsigned language);

struct VideoEntry {
    QString path;
    QString category;
    uint16_t act = 0;
    uint64_t size = 0;
    QByteArray categoryBytes;  // code page 936, as sent
    QByteArray nameBytes;
};

struct MaterialEntry {
    QString path;
    uint16_t kind = 0;  // 0 image, 1 video
};

struct Collection {
    std::vector<VideoEntry> videos;  // first-act videos first
    QStringList layouts;
    std::vector<MaterialEntry> material;
    uint64_t categories = 0;
    uint64_t neededBytes = 0;
    QString error;  // why Send is refused; empty when it may go
    bool ok() const { return error.isEmpty(); }
    // Needed MB: the bytes of everything shifted right by 20.
    uint64_t neededMB() const { return neededBytes >> 20; }
};

// Collects what one Send takes: each sub-folder of an act folder is a
// category whose *.mp4 files (any case) are its videos; *.GFD files (any
// case) of the layout folder are the layouts, each adding its material from
// `materialFolder`. Empty folder texts are skipped. Refusals, in order: too
// many categories, nothing to send, a category name longer than 8 bytes, a
// name that code page 936 cannot hold.
Collection Collect(const QString& firstAct, const QString& secondAct, const QString& layoutFolder,
                   const QString& materialFolder, unsigned language);

// The material a layout file names: "data" / "image" and "video" element
// names found under Image/ and Video/ of `materialFolder`, each path and kind
// once. Nothing unless the file is a JSON object whose "msg" is
// "windows config".
void ReadLayoutMaterials(const QString& layoutPath, const QString& materialFolder,
                         std::vector<MaterialEntry>& material);

// The status reply (108 bytes) reports a second act when the u16 at 16 or
// the u16 at 38 is not zero.
bool HasSecondAct(const QByteArray& statusPayload);

// Packets (header + payload). Names must have been encoded already.
QByteArray CatalogQuery(uint16_t sequence, uint16_t act);
QByteArray StatusQuery(uint16_t sequence);
QByteArray VideoBegin(uint16_t sequence, const VideoEntry& video);
// Chunk headers: the chunk itself travels as the packet's shared body.
proto::PlayerPacketHeader VideoChunkHeader(uint16_t sequence, uint16_t ordinal, bool last, uint16_t act);
QByteArray LayoutPacket(uint16_t sequence, uint16_t remaining, const QByteArray& nameBytes, const QByteArray& file);
QByteArray MaterialAnnounce(uint16_t sequence, uint16_t kind, const QByteArray& nameBytes, const QByteArray& md5);
proto::PlayerPacketHeader MaterialChunkHeader(uint16_t sequence, bool last);

namespace texts {
inline constexpr Message kCaption{"Bach Send", "批量发送"};
inline constexpr Message kTab1{"Bach1", "批量1"};
inline constexpr Message kTab2{"Bach2", "批量2"};
inline constexpr Message kTab3{"Bach3", "批量3"};
inline constexpr Message kNoChoiceIp{"No choice IP!", "没有选择IP!"};
inline constexpr Message kTooManyCategories{"There are too many categories to choose", "选择的分类太多"};
inline constexpr Message kNothingChosen{"No choice video or layout!", "没有选择视频或布局!"};
inline constexpr Message kTypeNameTooLong{">type name to long!", ">类型名称太长!"};
inline constexpr Message kQuit{"Do you really want to quit?", "确定要退出吗?"};
inline constexpr Message kSendingVideo{"Sending video:", "正在发送视频:"};
inline constexpr Message kResendingVideo{"ReSending video:", "重新发送视频:"};
inline constexpr Message kSendingLayout{"Sending layout:", "正在发送布局:"};
inline constexpr Message kSendingMaterial{"Sending Material:", "正在发送素材:"};
inline constexpr Message kBatchOk{"Batch Send OK!", "批量发送完成!"};
inline constexpr Message kStNoChoice{"No choice", "未选择"};
inline constexpr Message kStTimeOut{"Time Out", "超时"};
inline constexpr Message kStSmallDisk{"Small disk surplus", "磁盘剩余空间不足"};
inline constexpr Message kStNetFailure{"net failure", "网络连接失败"};
inline constexpr Message kStOk{"OK", "完成"};
inline constexpr Message kStNotDelivered{"Not delivered", "文件未送达"};
// Columns and controls.
inline constexpr Message kColSn{"SN", "序号"};
inline constexpr Message kColIp{"IP", "IP"};
inline constexpr Message kColMac{"MAC", "MAC"};
inline constexpr Message kColPort{"TCP Port", "TCP端口"};
inline constexpr Message kColId{"ID", "ID"};
inline constexpr Message kColVer{"Ver", "版本"};
inline constexpr Message kColVideo{"Update Video", "更新视频"};
inline constexpr Message kColLayout{"Update layout", "更新布局"};
inline constexpr Message kUpdata{"Updata", "刷新"};
inline constexpr Message kScan{"Scan", "扫描"};
inline constexpr Message kStop{"Stop", "停止"};
inline constexpr Message kAll{"All", "全选"};
inline constexpr Message kInvert{"Invert", "反选"};
inline constexpr Message kFirstAct{"First Act Video(MP4)", "第一幕视频(MP4)"};
inline constexpr Message kSecondAct{"Second Act Video(MP4)", "第二幕视频(MP4)"};
inline constexpr Message kLayout{"Layout", "布局"};
inline constexpr Message kSend{"Send", "发送"};
inline constexpr Message kBrowse{"...", "..."};
}  // namespace texts

}  // namespace batch
