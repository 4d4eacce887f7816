#include "content/gallery_model.h"

#include "common/file_commit.h"
#include "common/json_coding.h"
#include "common/text_coding.h"
#include "core/devices/update_check.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace gallery {

QString BaseUrl(const QString& ip)
{
    return QStringLiteral("http://%1:%2").arg(ip).arg(kHttpPort);
}

QString JoinUrl(const QString& base, const QString& path)
{
    if (path.startsWith(QLatin1Char('/')))
        return base + path;
    return base + QLatin1Char('/') + path;
}

QString ListUrl(const QString& ip)
{
    return BaseUrl(ip) + QStringLiteral("/image/names");
}

namespace {

QString decoded(const Json::Value& v)
{
    return text::DecodeUtf8OrCodePage(QByteArray::fromStdString(v.asString()));
}

bool stringArray(const Json::Value& v)
{
    if (!v.isArray())
        return false;
    for (const Json::Value& e : v)
        if (!e.isString())
            return false;
    return true;
}

}  // namespace

std::optional<GalleryList> ParseList(const QByteArray& text, const QString& ip)
{
    Json::Value root;
    if (text.isEmpty() || !jsonio::parsePlayerDocument(text, root) || !root.isObject())
        return std::nullopt;
    GalleryList list;
    const Json::Value& free = root["freeSpace"];
    if (free.isUInt64())
        list.freeSpace = free.asUInt64();
    const Json::Value& infos = root["httpImageInfos"];
    if (!infos.isArray() || infos.empty())
        return std::nullopt;
    const QString base = BaseUrl(ip);
    for (const Json::Value& info : infos) {
        if (!info.isObject())
            continue;
        const Json::Value& type = info["type"];
        const Json::Value& thumbs = info["imagePath"];
        const Json::Value& fulls = info["originalImage"];
        if (!type.isString() || !stringArray(thumbs) || !stringArray(fulls) || thumbs.size() != fulls.size())
            continue;
        GalleryFolder folder;
        folder.name = decoded(type);
        for (Json::ArrayIndex j = 0; j < thumbs.size(); ++j)
            folder.pictures.push_back({JoinUrl(base, decoded(thumbs[j])), JoinUrl(base, decoded(fulls[j]))});
        list.folders.push_back(std::move(folder));
    }
    return list;
}

QString FolderItemText(const GalleryFolder& folder)
{
    return folder.name + QString::asprintf(" (%d)", int(folder.pictures.size()));
}

int FolderToSelect(const std::vector<GalleryFolder>& folders, const QString& current)
{
    if (folders.empty())
        return -1;
    int chosen = 0;
    if (!current.isEmpty())
        for (std::size_t i = 0; i < folders.size(); ++i)
            if (folders[i].name == current)
                chosen = int(i);
    return chosen;
}

QString UrlFileName(const QString& url)
{
    return update::LastComponent(url);
}

bool IsSafeLocalName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 32)
            return false;
    return true;
}

QString Text(Msg m, int language)
{
    const bool zh = language == 4;
    auto t = [zh](const char* en, const char* cn) { return zh ? QString::fromUtf8(cn) : QString::fromUtf8(en); };
    switch (m) {
    case Msg::Title: return t("Picture Manager", "图库管理");
    case Msg::ConnectFailed: return t("Failed to connect gallery, please check the http server？", "连接图库失败，请检查http服务器？");
    case Msg::FolderExists: return t("The folder name already exists", "文件夹名称已存在");
    case Msg::FolderTooLong: return t("The folder name is too long", "文件夹名称太长");
    case Msg::EnterFolder: return t("Enter folder name", "请输入文件夹名称");
    case Msg::ConfirmDelete: return t("Do you really want to delete it?", "确定要删除吗？");
    case Msg::SelectFile: return t("Please select the name of the file in the list", "请在列表中选择文件");
    case Msg::FileTooLong: return t("File name is too long", "文件名太长");
    case Msg::BatchFolderTooLong: return t("The folder is too long", "文件夹名称太长");
    case Msg::NoSpace:
        return t("There is not enough storage space for the player, please reduce the send file",
                 "播放器存储空间不足，请减少发送的文件");
    case Msg::NoPictures:
        return t("No Picture files or duplicate Picture files for the selected category", "所选类别没有图片文件或图片文件重复");
    case Msg::ConfirmExit: return t("Do you really want to exit?", "确定要退出吗？");
    case Msg::ColonInName: return t("A name must not contain \":\": ", "名称不能包含\":\"：");
    case Msg::OpenFailed: return t("The picture cannot be opened: ", "无法打开图片：");
    case Msg::SelectPicTitle: return t("Select the Pic file", "选择图片文件");
    case Msg::NewFolder: return t("New Folder", "新建文件夹");
    case Msg::DelFolder: return t("Del Folder", "删除文件夹");
    case Msg::AddPic: return t("Add Pic", "添加图片");
    case Msg::Del: return t("Del", "删除");
    case Msg::BatchAdd: return t("Batch Add Pic", "批量添加图片");
    case Msg::Exit: return t("Exit", "退出");
    }
    return {};
}

namespace {

QString checkName(const QString& name, int maxBytes, bool folder, int language, QByteArray* encoded)
{
    if (name.contains(QLatin1Char(':')))
        return Text(Msg::ColonInName, language) + name;
    QByteArray bytes;
    // Encode without the cap first, so that a long name is reported as long.
    if (!text::NameToDoubleByteText(name, bytes, std::size_t(1) << 20))
        return text::unencodableNameMessage(name, language);
    if (bytes.size() > maxBytes)
        return folder ? Text(Msg::FolderTooLong, language) : name + Text(Msg::FileTooLong, language);
    if (folder && bytes.isEmpty())
        return Text(Msg::EnterFolder, language);
    if (encoded)
        *encoded = bytes;
    return {};
}

}  // namespace

QString CheckFolderName(const QString& name, int language, QByteArray* encoded)
{
    return checkName(name, kMaxFolderBytes, true, language, encoded);
}

QString CheckFileName(const QString& name, int language, QByteArray* encoded)
{
    return checkName(name, kMaxFileBytes, false, language, encoded);
}

QString CheckNewFolder(const QString& typed, const std::vector<GalleryFolder>& folders, int language,
                       QByteArray* encoded)
{
    qsizetype start = 0;
    while (start < typed.size() && typed.at(start).isSpace())
        ++start;
    const QString name = typed.mid(start);
    for (std::size_t i = 0; i < folders.size() && i < 128; ++i)
        if (folders[i].name == name)
            return Text(Msg::FolderExists, language);
    return CheckFolderName(name, language, encoded);
}

QByteArray Packet(uint16_t operation, uint16_t argument, const QByteArray& payload)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_GALLERY;
    h.param = operation;
    h.arg = argument;
    h.payloadLength = uint32_t(payload.size());
    return proto::buildPacket(h, payload);
}

QByteArray DeletePayload(const QString& folder, const QStringList& names, int language, QString* message)
{
    QByteArray payload;
    QString why = CheckFolderName(folder, language, &payload);
    for (const QString& name : names) {
        if (!why.isEmpty())
            break;
        QByteArray bytes;
        why = CheckFileName(name, language, &bytes);
        payload += ':' + bytes;
    }
    if (!why.isEmpty()) {
        if (message)
            *message = why;
        return {};
    }
    return payload;
}

bool QueueFiles(const QStringList& paths, const QString& folder, int language, std::vector<GalleryUpload>& queue,
                QString* message)
{
    queue.clear();
    for (const QString& path : paths) {
        const QString why = CheckFileName(QFileInfo(path).fileName(), language);
        if (!why.isEmpty()) {
            if (message)
                *message = why;
            return false;
        }
    }
    if (!paths.isEmpty())
        queue.push_back({paths, folder});
    return true;
}

bool ScanBatchFolder(const QString& root, const std::vector<GalleryFolder>& folders, int language,
                     std::vector<GalleryUpload>& queue, QString* message)
{
    queue.clear();
    auto fail = [&](const QString& why) {
        queue.clear();
        if (message)
            *message = why;
        return false;
    };
    const QFileInfoList subs = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& sub : subs) {
        const QString folderName = sub.fileName();
        QByteArray bytes;
        if (!CheckFolderName(folderName, language, &bytes).isEmpty() || bytes.size() > kMaxFolderBytes) {
            if (folderName.contains(QLatin1Char(':')))
                return fail(Text(Msg::ColonInName, language) + sub.filePath());
            return fail(sub.filePath() + Text(Msg::BatchFolderTooLong, language));
        }
        GalleryUpload entry{{}, folderName};
        const QFileInfoList files = QDir(sub.filePath()).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            const QString name = file.fileName();
            const QString why = CheckFileName(name, language);
            if (!why.isEmpty()) {
                if (name.contains(QLatin1Char(':')))
                    return fail(why);
                return fail(file.filePath() + Text(Msg::FileTooLong, language));
            }
            bool listed = false;
            for (const GalleryFolder& f : folders) {
                if (f.name != folderName)
                    continue;
                for (const GalleryPicture& p : f.pictures)
                    listed = listed || UrlFileName(p.thumbUrl) == name;
            }
            if (listed)
                continue;
            const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
            const QString ext = dot < 0 ? QString() : name.mid(dot).toUpper();
            if (ext == QLatin1String(".JPG") || ext == QLatin1String(".BMP") || ext == QLatin1String(".PNG"))
                entry.files.append(file.filePath());
        }
        if (!entry.files.isEmpty())
            queue.push_back(std::move(entry));
    }
    return true;
}

uint64_t QueueBytes(const std::vector<GalleryUpload>& queue)
{
    uint64_t total = 0;
    for (const GalleryUpload& entry : queue)
        for (const QString& file : entry.files)
            total += uint64_t(std::max<qint64>(0, QFileInfo(file).size()));
    return total;
}

QString CheckUploadSize(uint64_t total, uint64_t freeSpace, int language)
{
    if (total > freeSpace)
        return Text(Msg::NoSpace, language);
    if (total == 0)
        return Text(Msg::NoPictures, language);
    return {};
}

QRect FitRect(int width, int height, const QRect& target)
{
    if (width <= 0 || height <= 0)
        return {};
    const int tw = target.width();
    const int th = target.height();
    // Compared with the target's own proportions (not only taller than
    // wide), so a square picture is not cut off in a wide target.
    if (int64_t(height) * tw > int64_t(width) * th) {
        const int w = int(int64_t(th) * width / height);
        return QRect(target.left() + (tw - w) / 2, target.top(), w, th);
    }
    const int h = int(int64_t(tw) * height / width);
    return QRect(target.left(), target.top() + (th - h) / 2, tw, h);
}

QImage Thumbnail(const QImage& picture)
{
    QImage out(kThumbWidth, kThumbHeight, QImage::Format_ARGB32);
    out.fill(Qt::white);
    if (!picture.isNull()) {
        QPainter painter(&out);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(FitRect(picture.width(), picture.height(), out.rect()), picture);
    }
    return out;
}

bool RescaleFileInPlace(const QString& path, QString* error)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        return false;
    const QString ext = QFileInfo(path).suffix().toLower();
    const QImage thumb = Thumbnail(picture);
    const char* format = ext == QLatin1String("png")   ? "PNG"
                         : ext == QLatin1String("bmp") ? "BMP"
                                                       : "JPG";
    const QImage toSave = std::string_view(format) == "JPG" ? thumb.convertToFormat(QImage::Format_RGB32) : thumb;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !toSave.save(&buffer, format))
        return false;
    return filecommit::replaceFile(path, bytes, error);
}

}  // namespace gallery
