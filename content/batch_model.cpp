#include "content/batch_model.h"

#include "common/json_coding.h"
#include "common/text_coding.h"
#include "transport/upload_chunks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace batch {

QString StatusText(uint32_t status, uint64_t done, uint64_t count, unsigned language)
{
    switch (status) {
    case kTimeOut:
        return Text(texts::kStTimeOut, language);
    case kSmallDisk:
        return Text(texts::kStSmallDisk, language);
    case kNetFailure:
        return Text(texts::kStNetFailure, language);
    case kInProgress:
        return QStringLiteral("%1/%2").arg(done).arg(count);
    case kDone:
        return Text(texts::kStOk, language);
    case kNotDelivered:
        return Text(texts::kStNotDelivered, language);
    default:
        return Text(texts::kStNoChoice, language);
    }
}

namespace {

// Files of `folder` whose suffix is `suffix` in any case, in name order.
QFileInfoList filesWithSuffix(const QString& folder, const QString& suffix)
{
    QFileInfoList out;
    const QFileInfoList all = QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& f : all)
        if (f.suffix().compare(suffix, Qt::CaseInsensitive) == 0)
            out.push_back(f);
    return out;
}

// A file name that may travel: encodable and at most 256 bytes. `unencodable`
// is set when code page 936 cannot hold it.
bool nameFits(const QString& name, QByteArray& bytes, bool& unencodable)
{
    unencodable = false;
    if (text::NameToDoubleByteText(name, bytes, 4096))
        return std::size_t(bytes.size()) < kNameBytes + 1;
    unencodable = true;
    return false;
}

}  // namespace

Collection Collect(const QString& firstAct, const QString& secondAct, const QString& layoutFolder,
                   const QString& materialFolder, unsigned language)
{
    Collection c;
    QString unencodable;  // the first name code page 936 cannot hold
    QString longCategory;
    const QString acts[2] = {firstAct, secondAct};
    for (uint16_t act = 0; act < 2; ++act) {
        if (acts[act].isEmpty())
            continue;
        const QFileInfoList folders =
            QDir(acts[act]).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& folder : folders) {
            ++c.categories;
            const QString category = folder.fileName();
            QByteArray categoryBytes;
            if (!text::NameToDoubleByteText(category, categoryBytes, 4096)) {
                if (unencodable.isEmpty())
                    unencodable = category;
                continue;
            }
            if (std::size_t(categoryBytes.size()) > kCategoryBytes && longCategory.isEmpty())
                longCategory = category;
            for (const QFileInfo& f : filesWithSuffix(folder.absoluteFilePath(), QStringLiteral("mp4"))) {
                VideoEntry v;
                bool bad = false;
                if (!nameFits(f.fileName(), v.nameBytes, bad)) {
                    if (bad && unencodable.isEmpty())
                        unencodable = f.fileName();
                    continue;
                }
                v.path = f.absoluteFilePath();
                v.category = category;
                v.categoryBytes = categoryBytes;
                v.act = act;
                v.size = uint64_t(std::max<qint64>(0, f.size()));
                c.neededBytes += v.size;
                c.videos.push_back(std::move(v));
            }
        }
    }
    if (!layoutFolder.isEmpty()) {
        for (const QFileInfo& f : filesWithSuffix(layoutFolder, QStringLiteral("gfd"))) {
            QByteArray bytes;
            bool bad = false;
            if (!nameFits(f.fileName(), bytes, bad)) {
                if (bad && unencodable.isEmpty())
                    unencodable = f.fileName();
                continue;
            }
            c.layouts.push_back(f.absoluteFilePath());
            c.neededBytes += uint64_t(std::max<qint64>(0, f.size()));
            ReadLayoutMaterials(f.absoluteFilePath(), materialFolder, c.material);
        }
    }
    for (const MaterialEntry& m : c.material) {
        QByteArray bytes;
        if (!text::NameToDoubleByteText(QFileInfo(m.path).fileName(), bytes) && unencodable.isEmpty())
            unencodable = QFileInfo(m.path).fileName();
        c.neededBytes += uint64_t(std::max<qint64>(0, QFileInfo(m.path).size()));
    }
    if (c.categories > kMaxCategories)
        c.error = Text(texts::kTooManyCategories, language);
    else if (c.videos.empty() && c.layouts.isEmpty() && unencodable.isEmpty())
        c.error = Text(texts::kNothingChosen, language);
    else if (!longCategory.isEmpty())
        c.error = QStringLiteral("<") + longCategory + Text(texts::kTypeNameTooLong, language);
    else if (!unencodable.isEmpty())
        c.error = text::unencodableNameMessage(unencodable, int(language));
    return c;
}

void ReadLayoutMaterials(const QString& layoutPath, const QString& materialFolder,
                         std::vector<MaterialEntry>& material)
{
    QFile file(layoutPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    Json::Value root;
    if (!jsonio::parse(file.readAll(), root) || !root.isObject())
        return;
    const Json::Value& msg = root["msg"];
    if (!msg.isString() || msg.asString() != "windows config")
        return;
    const Json::Value& data = root["data"];
    if (!data.isObject())
        return;
    const char* arrays[2] = {"image", "video"};
    const char* folders[2] = {"Image", "Video"};
    for (uint16_t kind = 0; kind < 2; ++kind) {
        const Json::Value& list = data[arrays[kind]];
        if (!list.isArray())
            continue;
        for (const Json::Value& element : list) {
            if (!element.isObject() || !element["name"].isString())
                break;
            const QString name = QString::fromStdString(element["name"].asString());
            // A name is a file of the material folder, never a path out of it.
            if (name.isEmpty() || name.contains(u'/') || name.contains(u'\\') || name == u".." || name == u".")
                continue;
            const QString path = QDir(materialFolder).filePath(QString::fromLatin1(folders[kind]) + u'/' + name);
            if (!QFileInfo(path).isFile())
                continue;
            const bool listed = std::any_of(material.begin(), material.end(), [&](const MaterialEntry& m) {
                return m.path == path && m.kind == kind;
            });
            if (!listed)
                material.push_back({path, kind});
        }
    }
}

bool HasSecondAct(const QByteArray& status)
{
    if (status.size() < 40)
        return false;
    const auto* p = reinterpret_cast<const uint8_t*>(status.constData());
    return proto::getU16(p + 16) != 0 || proto::getU16(p + 38) != 0;
}

namespace {

proto::PlayerPacketHeader header(uint8_t command, uint8_t sub, uint16_t sequence, uint16_t param, uint16_t arg)
{
    proto::PlayerPacketHeader h;
    h.command = command;
    h.subCode = sub;
    h.sequence = sequence;
    h.param = param;
    h.arg = arg;
    return h;
}

QByteArray packet(uint8_t command, uint8_t sub, uint16_t sequence, uint16_t param, uint16_t arg,
                  const QByteArray& payload = QByteArray())
{
    return proto::buildPacket(header(command, sub, sequence, param, arg), payload);
}

}  // namespace

QByteArray CatalogQuery(uint16_t sequence, uint16_t act)
{
    return packet(proto::CMD_VIDEO_LIST, 0, sequence, 0, act);
}

QByteArray StatusQuery(uint16_t sequence)
{
    return packet(proto::CMD_STATUS, 0, sequence, 0, 0);
}

QByteArray VideoBegin(uint16_t sequence, const VideoEntry& video)
{
    return packet(proto::CMD_VIDEO_UPLOAD, 0, sequence, 0, video.act,
                  upload::Field(video.categoryBytes, kCategoryBytes) + video.nameBytes);
}

proto::PlayerPacketHeader VideoChunkHeader(uint16_t sequence, uint16_t ordinal, bool last, uint16_t act)
{
    return header(proto::CMD_VIDEO_UPLOAD, last ? 2 : 1, sequence, ordinal, act);
}

QByteArray LayoutPacket(uint16_t sequence, uint16_t remaining, const QByteArray& nameBytes, const QByteArray& file)
{
    return packet(proto::CMD_LAYOUT, 4, sequence, remaining, 0, upload::Field(nameBytes, proto::kNameFieldSize) + file);
}

QByteArray MaterialAnnounce(uint16_t sequence, uint16_t kind, const QByteArray& nameBytes, const QByteArray& md5)
{
    return packet(proto::CMD_MATERIAL, 0, sequence, kind, 0,
                  upload::Field(nameBytes, proto::kNameFieldSize) + md5.left(32));
}

proto::PlayerPacketHeader MaterialChunkHeader(uint16_t sequence, bool last)
{
    return header(proto::CMD_MATERIAL, last ? 2 : 1, sequence, 0, 0);
}

}  // namespace batch
