// Layouts and material between the document and the current player.
#include "core/layout/layout_transfer.h"

#include "common/digest.h"
#include "common/file_commit.h"
#include "common/json_coding.h"
#include "common/text_coding.h"
#include "core/document.h"
#include "core/layout/image_manage.h"
#include "core/layout/layout_commands.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QDir>
#include <QFileInfo>

namespace layout {

QByteArray NameField(const QByteArray& name)
{
    QByteArray field = name.left(kNameFieldSize);
    field.append(QByteArray(kNameFieldSize - field.size(), '\0'));
    return field;
}

QStringList SplitLayoutList(const QByteArray& payload)
{
    QStringList names;
    qsizetype start = 0;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        if (payload[i] != '?')
            continue;
        names << text::DoubleByteTextToCString(payload.mid(start, i - start));
        start = i + 1;
    }
    return names;
}

std::vector<MaterialEntry> CollectMaterial(const QStringList& paths, const QString& materialFolder)
{
    std::vector<MaterialEntry> out;
    for (const QString& path : paths) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        Json::Value root;
        if (!jsonio::parseDocument(f.readAll(), root) || !root.isObject())
            continue;
        if (!root["msg"].isString() || root["msg"].asString() != "windows config" || !root["data"].isObject())
            continue;
        const Json::Value& data = root["data"];
        // Entries are taken in order up to the first without a string name.
        auto each = [&](const char* key, const QString& folder, uint16_t kind, bool withTwin) {
            const Json::Value& list = data[key];
            if (!list.isArray())
                return;
            for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
                if (!list[i].isObject() || !list[i]["name"].isString())
                    return;
                const QString name = text::Utf8ToCString(QByteArray::fromStdString(list[i]["name"].asString()));
                // A name from a file becomes a path only when it names a file
                // inside the material folder.
                if (!IsPlainFileName(name))
                    continue;
                const QString file = materialFolder + QLatin1Char('/') + folder + QLatin1Char('/') + name;
                if (QFileInfo(file).isFile())
                    out.push_back({file, kind});
                if (withTwin && file.size() >= 4) {
                    const QString twin = file.left(file.size() - 4) + QStringLiteral(".bmp");
                    if (twin != file && QFileInfo(twin).isFile())
                        out.push_back({twin, kind});
                }
            }
        };
        each("image", QStringLiteral("Image"), kMaterialPicture, true);
        each("video", QStringLiteral("Video"), kMaterialVideo, false);
    }
    return out;
}

LayoutTransfer::LayoutTransfer(CvelunaDoc& doc) : doc_(doc) {}
LayoutTransfer::~LayoutTransfer() = default;

void LayoutTransfer::showDigestProgress(int percent)
{
    if (doc_.setStatusPaneText)
        doc_.setStatusPaneText(kProgressPane, QStringLiteral("MD5 %1%").arg(percent));
}

void LayoutTransfer::setProgress(int percent)
{
    if (doc_.setStatusPaneText)
        doc_.setStatusPaneText(kProgressPane, percent < 0 ? QStringLiteral(" ") : QStringLiteral("%1%").arg(percent));
}

bool LayoutTransfer::nameBytes(const QString& name, QByteArray& out)
{
    if (text::NameToDoubleByteText(name, out))
        return true;
    platform::messageBox(text::unencodableNameMessage(name, int(doc_.language())), QString(), platform::MsgButtons::Ok,
                         platform::MsgIcon::Warning);
    return false;
}

bool LayoutTransfer::fromCurrentPlayer(const PlayerReply& r) const
{
    return doc_.IsFromCurrentPlayer(r);
}

void LayoutTransfer::stopWithProgressOff()
{
    setProgress(-1);
    doc_.layoutBusy_ = 0;
}

void LayoutTransfer::RequestLayoutList()
{
    setProgress(0);
    doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LAYOUT, 0));
}

void LayoutTransfer::FetchLayout(const QString& name)
{
    QByteArray bytes;
    if (name.isEmpty() || !nameBytes(name, bytes))
        return;
    setProgress(70);
    doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LAYOUT, 1), bytes);
}

void LayoutTransfer::DeleteLayout(const QString& name)
{
    if (name.isEmpty()) {
        doc_.showMessage(QStringLiteral("Please select the name of the Layout in the list"),
                         QStringLiteral("请选中列表中的布局名"), int(platform::MsgIcon::Information));
        return;
    }
    QByteArray bytes;
    if (!nameBytes(name, bytes))
        return;
    const QString question = doc_.language() == 4 ? QStringLiteral("【真的要删除<") + name + QStringLiteral(">吗?】")
                                                  : QStringLiteral("Do you really want to delete <") + name +
                                                        QStringLiteral(">?");
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question) !=
        platform::MsgResult::Yes)
        return;
    doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LAYOUT, 3), bytes);
}

bool LayoutTransfer::sendLayoutPath(const QString& path, uint8_t subCode, uint16_t count)
{
    QByteArray name;
    if (!nameBytes(QFileInfo(path).fileName(), name))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The layout travels in one packet: a bigger file would arrive cut short.
    if (uint64_t(f.size()) > proto::kChunkSize) {
        doc_.showMessage(QStringLiteral("The layout file is too large to send."), QStringLiteral("布局文件太大，无法发送。"),
                         int(platform::MsgIcon::Warning));
        return false;
    }
    const QByteArray payload = NameField(name) + f.readAll();
    return doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LAYOUT, subCode, count), payload);
}

bool LayoutTransfer::sendChunkPacket(const proto::PlayerPacketHeader& header, upload::Upload::Chunk&& chunk)
{
    auto request = upload::ChunkRequest(header, std::move(chunk));
    return request && SendToMainWindow(request.release());
}

void LayoutTransfer::PushCurrentLayout()
{
    // Until the player answers an upload of it, it does not have the edit.
    doc_.layoutUnsent_ = 1;
    // Linked to another player before its layout has come: the canvas still
    // holds the earlier player's, which must not go over this one's. The
    // fetch that follows settles the edit (keepUnsentEdits).
    if (!holdsCurrentPlayersLayout())
        return;
    // One upload at a time: edits made while one is on its way are merged
    // and go as soon as it is answered (pushIfChanged).
    if (doc_.layoutBusy_) {
        pushDeferred_ = true;
        return;
    }
    pushDeferred_ = false;
    doc_.layoutBusy_ = 1;
    layoutNames_.clear();
    QString path = doc_.currentLayoutPath_;
    if (path.isEmpty()) {
        platform::ensureFolder(doc_.tempFolder());
        path = doc_.tempFolder() + QStringLiteral("/Temp.GFD");
    }
    QString error;
    if (!doc_.imageManage().SaveLayout(path, &error)) {
        doc_.layoutBusy_ = 0;
        filecommit::showCannotWrite(doc_.language(), path, error);
        return;
    }
    lastPushed_ = doc_.imageManage().LayoutText();
    layoutNames_.push_back(path);
    setProgress(0);
    if (!sendLayoutPath(path, 2, uint16_t(layoutNames_.size()))) {
        layoutNames_.clear();
        stopWithProgressOff();
    }
}

bool LayoutTransfer::UploadLayouts(const QStringList& paths)
{
    if (paths.isEmpty())
        return false;
    doc_.layoutBusy_ = 1;
    layoutNames_.assign(paths.begin(), paths.end());
    batchSent_ = 0;
    materials_.clear();
    if (doc_.product() >= 1 && doc_.product() <= 3) {
        for (const MaterialEntry& e : CollectMaterial(paths, doc_.materialFolder()))
            materials_.push_back(e);
    }
    // A batch ends by listing the layouts again, so the new ones show.
    materialBatch_ = false;
    material_.Reset();
    const QString first = layoutNames_.front();
    const uint16_t count = uint16_t(std::min<std::size_t>(layoutNames_.size(), 0xFFFF));
    layoutNames_.pop_front();
    if (!sendLayoutPath(first, 4, count)) {
        layoutNames_.clear();
        materials_.clear();
        materialBatch_ = false;
        stopWithProgressOff();
        return false;
    }
    return true;
}

void LayoutTransfer::OnLayoutReply(const PlayerReply& r)
{
    if (!fromCurrentPlayer(r))
        return;
    if (r.header.arg != 0) {
        layoutNames_.clear();
        materials_.clear();
        materialBatch_ = false;
        stopWithProgressOff();
        doc_.showMessage(QStringLiteral("The layout is locked, please unlock it first!"),
                         QStringLiteral("布局已锁定，请先解锁！"), int(platform::MsgIcon::Warning));
        return;
    }
    switch (r.header.subCode) {
    case 0: {
        if (auto* w = doc_.findDialog(replies::kVideoControl)) {
            const QString names = text::DoubleByteTextToCString(r.bytes());
            platform::sendMessage(w, platform::WM_VIDEO_UPLOAD_REPLY, 0, platform::LPARAM(&names));
            return;
        }
        names_ = SplitLayoutList(r.bytes());
        currentIndex_ = r.header.param < names_.size() ? int(r.header.param) : -1;
        remembered_ = currentIndex_ >= 0 ? names_[currentIndex_] : QString();
        lastOpened.clear();
        selectedName = remembered_;
        if (listChanged)
            listChanged();
        if (names_.isEmpty()) {
            if (keepUnsentEdits())
                return;
            doc_.layoutPlayer_ = doc_.currentPlayerIdentity();
            doc_.imageManage().ClearWindows();
            if (doc_.layoutViewsChanged)
                doc_.layoutViewsChanged();
            stopWithProgressOff();
            return;
        }
        setProgress(50);
        if (remembered_.isEmpty())
            stopWithProgressOff();
        else
            FetchLayout(remembered_);
        return;
    }
    case 1: {
        doc_.layoutBusy_ = 0;
        // Shorter than its name field: nothing in it can be trusted.
        if (r.size < uint32_t(kNameFieldSize)) {
            setProgress(-1);
            return;
        }
        const QString name = text::DoubleByteFieldToCString(r.payload, kNameFieldSize);
        const QByteArray file(reinterpret_cast<const char*>(r.payload) + kNameFieldSize,
                              qsizetype(r.size - kNameFieldSize));
        if (!keepUnsentEdits()) {
            doc_.layoutPlayer_ = doc_.currentPlayerIdentity();
            LayoutReadReport report;
            if (IsPlainFileName(name))
                report = doc_.imageManage().LoadLayout(file);
            if (report.loaded) {
                doc_.currentLayoutPath_ = doc_.tempFolder() + QLatin1Char('/') + name;
                doc_.layoutDirty_ = 0;
                if (doc_.setStatusPaneText)
                    doc_.setStatusPaneText(kLayoutPathPane, doc_.currentLayoutPath_);
            } else {
                doc_.showMessage(QStringLiteral("Layout file is not standard. Please check it！"),
                                 QStringLiteral("布局文件不规范，请检查！"), int(platform::MsgIcon::Warning));
                doc_.imageManage().ClearWindows();
            }
            if (doc_.layoutViewsChanged)
                doc_.layoutViewsChanged();
            setProgress(-1);
        }
        if (doc_.loadStateOnFetch_) {
            doc_.loadStateOnFetch_ = 0;
            doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_LOAD_STATE, 0, 1));
        }
        return;
    }
    case 2: {
        // The player holds the layout as it was sent; an edit made since
        // (held back while this one was on its way) it still lacks.
        doc_.layoutUnsent_ = doc_.imageManage().LayoutText() != lastPushed_ ? 1 : 0;
        doc_.layoutPlayer_ = doc_.currentPlayerIdentity();
        materialBatch_ = true;
        materials_.clear();
        if (doc_.product() >= 1 && doc_.product() <= 3) {
            const QStringList paths(layoutNames_.begin(), layoutNames_.end());
            for (const MaterialEntry& e : CollectMaterial(paths, doc_.materialFolder()))
                materials_.push_back(e);
        }
        if (!layoutNames_.empty())
            layoutNames_.pop_front();
        announceNextMaterial();
        return;
    }
    case 3:
        RequestLayoutList();
        return;
    case 4:
        if (layoutNames_.empty()) {
            setProgress(0);
            announceNextMaterial();
            return;
        }
        {
            const QString next = layoutNames_.front();
            const uint16_t count = uint16_t(std::min<std::size_t>(layoutNames_.size(), 0xFFFF));
            layoutNames_.pop_front();
            ++batchSent_;
            setProgress(int(batchSent_));
            if (!sendLayoutPath(next, 4, count)) {
                layoutNames_.clear();
                materials_.clear();
                materialBatch_ = false;
                stopWithProgressOff();
            }
        }
        return;
    default:
        return;
    }
}

void LayoutTransfer::announceNextMaterial()
{
    materialMd5_.Cancel();
    while (!materials_.empty()) {
        const MaterialEntry& e = materials_.front();
        QByteArray name;
        if (!nameBytes(QFileInfo(e.path).fileName(), name)) {
            materials_.pop_front();
            continue;
        }
        // A gigabyte takes seconds to digest: the window keeps answering
        // meanwhile, and the announce, which carries the digest, waits.
        material_.Reset();
        materialRunning_ = true;
        const QString path = e.path;
        materialMd5_.Start(
            path, [this](int percent) { showDigestProgress(percent); },
            [this, path, name](const std::string& md5, const filestamp::FileStamp& stamp) {
                announceMaterial(path, name, md5, stamp);
            });
        return;
    }
    finishMaterial();
}

void LayoutTransfer::announceMaterial(const QString& path, const QByteArray& name, const std::string& md5,
                                      const filestamp::FileStamp& stamp)
{
    // The chain was ended or started again while the digest was worked out.
    if (materials_.empty() || materials_.front().path != path)
        return;
    if (md5.size() != 32) {
        // Reported, and the chain goes on with the next file.
        platform::messageBox(doc_.text("Cannot open the material file: ", "无法打开素材文件：") +
                             QDir::toNativeSeparators(path));
        materials_.pop_front();
        announceNextMaterial();
        return;
    }
    material_.Announced(path, stamp);
    doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_MATERIAL, 0, materials_.front().kind),
                             NameField(name) + QByteArray::fromStdString(md5));
}

void LayoutTransfer::finishMaterial()
{
    materialMd5_.Cancel();
    material_.Reset();
    materialRunning_ = false;
    if (materialBatch_) {
        materialBatch_ = false;
        stopWithProgressOff();
        pushIfChanged();
    } else {
        doc_.layoutBusy_ = 0;
        RequestLayoutList();
    }
}

void LayoutTransfer::pushIfChanged()
{
    // The player must end up holding what the screen shows: the newest
    // state goes whenever it differs from the one last sent.
    const bool deferred = pushDeferred_;
    pushDeferred_ = false;
    if (deferred && doc_.IsConnected() && doc_.imageManage().LayoutText() != lastPushed_)
        PushCurrentLayout();
}

bool LayoutTransfer::holdsCurrentPlayersLayout() const
{
    // A canvas that never held a player's layout is for whichever player comes.
    const PlayerIdentity& holder = doc_.layoutPlayer_;
    return !holder.known() || holder == doc_.currentPlayerIdentity();
}

bool LayoutTransfer::keepUnsentEdits()
{
    if (!doc_.layoutUnsent_)
        return false;
    const QString here = doc_.currentPlayerIdentity().ip;
    if (!holdsCurrentPlayersLayout()) {
        // Sending them here would put one player's layout over another's:
        // they are given up, and the operator learns it.
        doc_.layoutUnsent_ = 0;
        platform::messageBox(doc_.text("The changes to the layout made for the player %1 never reached it. They are "
                                       "given up: the layout of the player %2 replaces them.",
                                       "为播放器 %1 所做的布局修改没有发送到该播放器，已放弃：用播放器 %2 的布局替换。")
                                 .arg(doc_.layoutPlayer_.ip, here),
                             QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        return false;
    }
    // As before closing with unsaved changes: one Yes/No question.
    const QString question =
        doc_.text("The player %1 did not get the changes to the layout. Do you want to send them to the player? "
                  "(No: the player's layout replaces them)",
                  "播放器 %1 没有收到布局的修改，是否要发送到播放器？（否：用播放器的布局替换）")
            .arg(here);
    if (platform::messageBox(question, QString(), platform::MsgButtons::YesNo, platform::MsgIcon::Question) !=
        platform::MsgResult::Yes) {
        doc_.layoutUnsent_ = 0;
        return false;
    }
    PushCurrentLayout();
    return true;
}

void LayoutTransfer::sendMaterialChunk(upload::Upload::Chunk&& chunk)
{
    const bool last = chunk.last;
    setProgress(chunk.percent);
    if (last)
        materials_.pop_front();
    sendChunkPacket(doc_.MakeRequest(proto::CMD_MATERIAL, last ? 2 : 1, 0), std::move(chunk));
}

void LayoutTransfer::OnMaterialReply(const PlayerReply& r)
{
    // An answer nothing waits for (a late one after a reconnection) starts nothing.
    if (!fromCurrentPlayer(r) || !materialRunning_)
        return;
    using Stage = upload::Upload::Stage;
    if (material_.stage() != Stage::kLastSent && materials_.empty())
        return;
    if (material_.stage() == Stage::kAnnounced && r.header.arg != 0) {
        // The player has this file already: it is not even opened.
        material_.Reset();
        materials_.pop_front();
        announceNextMaterial();
        return;
    }
    // After its last chunk the file has left the list already.
    const bool lastTaken = material_.stage() == Stage::kLastSent;
    upload::Upload::Chunk chunk;
    switch (material_.Acknowledged(chunk)) {
    case upload::Upload::Step::kChunk:
        sendMaterialChunk(std::move(chunk));
        return;
    case upload::Upload::Step::kOpenFailed:
        platform::messageBox(doc_.text("Cannot open the material file: ", "无法打开素材文件：") +
                             QDir::toNativeSeparators(materials_.front().path));
        materials_.pop_front();
        announceNextMaterial();
        return;
    case upload::Upload::Step::kReadFailed:
        // Unreadable, or changed since it was announced: no part of the
        // chunk went out (or, after the last one, what went was not the
        // file), and the chain goes on with the next file.
        platform::messageBox(material_.FailureMessage(int(doc_.language())));
        if (!lastTaken)
            materials_.pop_front();
        announceNextMaterial();
        return;
    case upload::Upload::Step::kEnd:
        announceNextMaterial();
        return;
    case upload::Upload::Step::kNone:
        return;
    }
}

void LayoutTransfer::SendWatermark()
{
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Open;
    call.caption = doc_.text("Open WaterMark file", "打开水印文件");
    call.filter = doc_.text("WaterMark file(*.PNG)|*.PNG||", "水印文件(*.PNG)|*.PNG||");
    call.defaultSuffix = QStringLiteral("PNG");
    call.folder = platform::homePath(QString());
    const QString path = platform::fileDialog(call);
    if (!path.isEmpty())
        SendWatermarkFile(path);
}

bool LayoutTransfer::SendWatermarkFile(const QString& path)
{
    const QString fileName = QFileInfo(path).fileName();
    QByteArray checked;
    if (!nameBytes(fileName, checked))
        return false;
    // As with the material: the digest goes on a thread of its own and the
    // announce, which carries it, waits for it.
    watermark_.Reset();
    watermarkMd5_.Start(
        path, [this](int percent) { showDigestProgress(percent); },
        [this, path, fileName](const std::string& md5, const filestamp::FileStamp& stamp) {
            announceWatermark(path, fileName, md5, stamp);
        });
    return true;
}

void LayoutTransfer::announceWatermark(const QString& path, const QString& fileName, const std::string& md5,
                                       const filestamp::FileStamp& stamp)
{
    if (md5.size() != 32) {
        setProgress(-1);
        platform::messageBox(doc_.text("Cannot open the material file: ", "无法打开素材文件：") +
                             QDir::toNativeSeparators(path));
        return;
    }
    setProgress(0);
    watermark_.Announced(path, stamp);
    // The watermark's name field is in the system code page.
    doc_.SendToCurrentPlayer(doc_.MakeRequest(proto::CMD_PARAM_FILE, 0, 0),
                             NameField(text::stringToLocal(fileName)) + QByteArray::fromStdString(md5));
}

void LayoutTransfer::OnWatermarkReply(const PlayerReply& r)
{
    if (!fromCurrentPlayer(r))
        return;
    const QString path = watermark_.path();
    upload::Upload::Chunk chunk;
    switch (watermark_.Acknowledged(chunk)) {
    case upload::Upload::Step::kNone:
        return;
    case upload::Upload::Step::kEnd:
        setProgress(-1);
        if (r.header.arg != 0)
            doc_.showMessage(QStringLiteral("WaterMark picture saving error,Please resend！"),
                             QStringLiteral("水印图片保存失败，请重发！"), int(platform::MsgIcon::Warning));
        else
            doc_.showMessage(QStringLiteral("WaterMark picture saving completed！"), QStringLiteral("水印图片保存完成！"),
                             int(platform::MsgIcon::Information));
        return;
    case upload::Upload::Step::kOpenFailed:
        platform::messageBox(doc_.text("Cannot open the material file: ", "无法打开素材文件：") +
                             QDir::toNativeSeparators(path));
        return;
    case upload::Upload::Step::kReadFailed:
        // Never silent: the user learns the watermark did not go.
        setProgress(-1);
        platform::messageBox(watermark_.FailureMessage(int(doc_.language())));
        return;
    case upload::Upload::Step::kChunk: {
        const bool last = chunk.last;
        setProgress(chunk.percent);
        sendChunkPacket(doc_.MakeRequest(proto::CMD_PARAM_FILE, last ? 2 : 1, 0), std::move(chunk));
        return;
    }
    }
}

bool LayoutTransfer::OnLinkLost(bool tell)
{
    const bool running = doc_.layoutBusy_ || materialRunning_ || watermarkMd5_.Running() ||
                         watermark_.stage() != upload::Upload::Stage::kIdle || !layoutNames_.empty();
    layoutNames_.clear();
    materials_.clear();
    materialMd5_.Cancel();
    material_.Reset();
    materialRunning_ = false;
    materialBatch_ = false;
    watermarkMd5_.Cancel();
    watermark_.Reset();
    pushDeferred_ = false;
    if (!running)
        return false;
    // No answer can come on a closed link: the transfer ends here rather
    // than looking alive, and the next edit or upload starts afresh.
    stopWithProgressOff();
    if (tell)
        doc_.showMessage(QStringLiteral("The upload did not finish: the player closed the connection."),
                         QStringLiteral("上传未完成：播放器断开了连接。"), int(platform::MsgIcon::Warning));
    return true;
}

}  // namespace layout
