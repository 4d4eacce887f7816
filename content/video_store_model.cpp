#include "content/video_store_model.h"

#include "transport/upload_chunks.h"

#include "common/text_coding.h"
#include "content/store_texts.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace store {

// ------------------------------------------------------------ catalogue

bool CategoryUsed(const CatalogCategory& c)
{
    return c.name[0] != 0;
}

QString CategoryName(const CatalogCategory& c)
{
    return text::DoubleByteFieldToCString(c.name.data(), c.name.size());
}

QStringList CategoryNames(const PlayerCatalog& catalog)
{
    QStringList names;
    for (const CatalogCategory& c : catalog.categories)
        if (CategoryUsed(c))
            names << CategoryName(c);
    return names;
}

std::vector<TreeCategory> BuildTree(const PlayerCatalog& catalog)
{
    std::vector<TreeCategory> tree;
    for (std::size_t i = 0; i < catalog.categories.size(); ++i) {
        const CatalogCategory& c = catalog.categories[i];
        if (!CategoryUsed(c))
            continue;
        TreeCategory node;
        node.name = CategoryName(c);
        node.entry = int(i);
        const std::size_t count = std::min<std::size_t>(c.count, PlayerCatalog::kVideoCount);
        for (std::size_t k = 0; k < count; ++k) {
            const uint16_t index = c.videoIndex[k];
            if (index >= PlayerCatalog::kVideoCount)
                continue;
            const CatalogVideo& v = catalog.videos[index];
            node.videos.push_back({text::DoubleByteFieldToCString(v.name.data(), v.name.size()), index});
        }
        tree.push_back(std::move(node));
    }
    return tree;
}


bool IsOnPlayer(const PlayerCatalog& catalog, const QString& category, const QString& fileName, uint64_t size)
{
    return upload::IsOnPlayer(catalog, category, fileName, size);
}

// ------------------------------------------------------------ selection

Selection MakeSelection(Level level, const QString& rootLabel, const QStringList& categories,
                        const QString& categoryText, const QString& videoText)
{
    Selection s;
    s.level = level;
    switch (level) {
    case Level::None:
        break;
    case Level::Root:
        s.categoryFlag = 1;
        s.names = categories;
        s.firstName = rootLabel;
        break;
    case Level::Category:
        s.categoryFlag = 1;
        s.names = QStringList{categoryText};
        s.firstName = categoryText;
        s.category = categoryText;
        break;
    case Level::Video:
        s.categoryFlag = 0;
        s.names = QStringList{categoryText + QLatin1Char(':') + videoText};
        s.firstName = s.names.first();
        s.category = categoryText;
        s.videoName = videoText;
        break;
    }
    return s;
}

// ------------------------------------------------------------ checks

Encoded EncodeName(const QString& name, unsigned language)
{
    Encoded e;
    if (!text::NameToDoubleByteText(name, e.bytes))
        e.error = text::unencodableNameMessage(name, int(language));
    return e;
}

namespace {

std::size_t localLength(const QString& s)
{
    return std::size_t(text::stringToLocal(s).size());
}

QString leftTrimmed(const QString& s)
{
    qsizetype i = 0;
    while (i < s.size() && s.at(i).isSpace())
        ++i;
    return s.mid(i);
}

QString stem(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

}  // namespace

Encoded CheckNewFolder(const QString& editText, const QStringList& categories, unsigned language)
{
    Encoded e;
    const QString name = leftTrimmed(editText);
    if (name.contains(QLatin1Char('?')))
        e.error = Text(texts::kFolderQuestionMark, language);
    else if (name.contains(QLatin1Char(':')))
        e.error = Text(texts::kFolderColon, language);
    else if (categories.contains(name))
        e.error = Text(texts::kFolderExists, language);
    else if (localLength(name) >= kFolderNameLimit)
        e.error = Text(texts::kFolderTooLong, language);
    else if (name.isEmpty())
        e.error = Text(texts::kFolderNotEntered, language);
    else
        e = EncodeName(name, language);
    return e;
}

QByteArray CutAtCharacter(const QByteArray& bytes, std::size_t limit)
{
    return upload::CutAtCharacter(bytes, limit);
}

RenamePlan PlanRename(const Selection& selection, const QString& editText, const QStringList& categories,
                      const QStringList& siblings, unsigned language)
{
    RenamePlan plan;
    auto refuse = [&](Message m) {
        plan.error = Text(m, language);
        return plan;
    };
    if (!selection.valid())
        return refuse(texts::kRenameSelectFirst);
    if (selection.names.size() > 1)
        return refuse(texts::kRenameOnlyOne);
    const QString wanted = leftTrimmed(editText);
    if (wanted.contains(QLatin1Char('?')))
        return refuse(texts::kRenameQuestionMark);
    if (wanted.contains(QLatin1Char(':')))
        return refuse(texts::kRenameColon);
    if (localLength(wanted) >= kRenameLimit)
        return refuse(texts::kRenameTooLong);
    if (wanted.isEmpty())
        return refuse(texts::kRenameNotEntered);

    plan.oldName = selection.names.first();
    const Encoded oldBytes = EncodeName(plan.oldName, language);
    if (!oldBytes.ok()) {
        plan.error = oldBytes.error;
        return plan;
    }
    Encoded newBytes = EncodeName(wanted, language);
    if (!newBytes.ok()) {
        plan.error = newBytes.error;
        return plan;
    }
    if (selection.categoryFlag == 0) {
        const QString wantedStem = stem(wanted);
        for (const QString& sibling : siblings)
            if (stem(sibling) == wantedStem)
                return refuse(texts::kFolderExists);
        plan.newName = wanted;
    } else {
        const QString oldName = plan.oldName;
        if (wanted != oldName && categories.contains(wanted))
            return refuse(texts::kFolderExists);
        // The player keeps 8 bytes of a category name: the name that arrives
        // is the cut one, and it must not collide either.
        newBytes.bytes = CutAtCharacter(newBytes.bytes, kCategoryBytes);
        plan.newName = text::DoubleByteTextToCString(newBytes.bytes);
        if (plan.newName != oldName && categories.contains(plan.newName))
            return refuse(texts::kFolderExists);
    }
    plan.payload = oldBytes.bytes + '?' + newBytes.bytes;
    return plan;
}

PlayTime ParsePlayTime(const QString& editText, unsigned language)
{
    PlayTime t;
    bool ok = false;
    double minutes = editText.trimmed().toDouble(&ok);
    if (!ok)
        minutes = 0;  // an empty edit asks for the video's own length
    if (!std::isfinite(minutes) || minutes > kMaxPlayMinutes) {
        t.error = Text(texts::kPlayTimeTooLarge, language);
        return t;
    }
    // Refused before the truncation: -0.01 minutes would otherwise become 0.
    if (minutes < 0) {
        t.error = Text(texts::kPlayTimeNegative, language);
        return t;
    }
    t.seconds = int32_t(minutes * 60.0);
    return t;
}

QString PlayTimeText(uint32_t seconds)
{
    return QString::asprintf("%.02f", double(seconds) / 60.0);
}

QString FileNameOf(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

QString CheckLocalName(const QString& name, std::size_t limit, Message tooLong, unsigned language)
{
    if (name.contains(QLatin1Char('?')) || name.contains(QLatin1Char(':')))
        return name + Text(texts::kNameSeparator, language);
    if (localLength(name) > limit)
        return name + Text(tooLong, language);
    QByteArray bytes;
    if (!text::NameToDoubleByteText(name, bytes))
        return text::unencodableNameMessage(name, int(language));
    return QString();
}

// ------------------------------------------------------------ packets

namespace {

Packet packet(uint8_t command, uint8_t sub, uint16_t sequence, uint16_t param, uint16_t arg,
              const QByteArray& payload = QByteArray())
{
    Packet p;
    p.header.command = command;
    p.header.subCode = sub;
    p.header.sequence = sequence;
    p.header.param = param;
    p.header.arg = arg;
    p.header.payloadLength = uint32_t(payload.size());
    p.payload = payload;
    return p;
}

}  // namespace

Packet RefreshPacket(uint16_t counter, uint16_t act)
{
    return packet(proto::CMD_VIDEO_LIST, 0, counter, 0, act);
}

std::optional<Packet> DeletePacket(const Selection& selection, uint16_t act, unsigned language, QString* error)
{
    QByteArray payload;
    for (const QString& name : selection.names) {
        const Encoded e = EncodeName(name, language);
        if (!e.ok()) {
            if (error)
                *error = e.error;
            return std::nullopt;
        }
        payload += e.bytes + '?';
    }
    return packet(proto::CMD_VIDEO_DELETE, 0, 0, selection.categoryFlag, act, payload);
}

std::optional<Packet> PlayPacket(const Selection& selection, uint16_t act, unsigned language, QString* error)
{
    if (selection.names.size() != 1) {
        if (error)
            *error = Text(texts::kOnlyOneToPlay, language);
        return std::nullopt;
    }
    const Encoded e = EncodeName(selection.names.first(), language);
    if (!e.ok()) {
        if (error)
            *error = e.error;
        return std::nullopt;
    }
    return packet(proto::CMD_VIDEO_SELECT, 0, 0, selection.categoryFlag, act, e.bytes);
}

Packet NewFolderPacket(const QByteArray& name, uint16_t act)
{
    return packet(proto::CMD_VIDEO_NEW_FOLDER, 0, 0, 0, act, name);
}

Packet RenamePacket(const RenamePlan& plan, uint16_t categoryFlag, uint16_t act)
{
    return packet(proto::CMD_VIDEO_RENAME, 0, 0, categoryFlag, act, plan.payload);
}

Packet VolumePacket(uint16_t a, uint16_t b, uint16_t c)
{
    return packet(proto::CMD_TRACKBAR_VALUES, uint8_t(a), 0, b, c);
}

Packet AskPlayTimePacket()
{
    return ParamFilePacket(ParamKind::PlayTime, 0);
}

Packet SetPlayTimePacket(int32_t seconds)
{
    QByteArray payload(4, '\0');
    proto::putI32(reinterpret_cast<uint8_t*>(payload.data()), seconds);
    return ParamFilePacket(ParamKind::PlayTime, 0, payload);
}

bool UploadBeginPacket(const QString& category, const QString& fileName, uint16_t counter, uint16_t act,
                       Packet& out)
{
    QByteArray payload;
    if (!upload::VideoBeginPayload(category, fileName, payload))
        return false;
    out = packet(proto::CMD_VIDEO_UPLOAD, 0, counter, 0, act, payload);
    return true;
}

Packet UploadChunkPacket(bool first, bool last, const QByteArray& data, uint16_t counter, uint16_t act)
{
    return packet(proto::CMD_VIDEO_UPLOAD, last ? 2 : 1, counter, first ? 1 : 0, act, data);
}

// ------------------------------------------------------------ backup

Packet ParamFilePacket(ParamKind kind, uint16_t state, const QByteArray& payload)
{
    return packet(proto::CMD_PARAM_FILE, 0, 0, uint16_t(kind), state, payload);
}

uint64_t BackupTotalBytes(const QByteArray& payload)
{
    uint64_t kib = 0;
    const int n = int(std::min<qsizetype>(payload.size(), 8));
    for (int i = n - 1; i >= 0; --i)
        kib = (kib << 8) | uint8_t(payload[i]);
    if (kib > std::numeric_limits<uint64_t>::max() / 1024)
        return std::numeric_limits<uint64_t>::max();
    return kib * 1024;
}

int Percent(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    const long double p = static_cast<long double>(done) * 100.0L / static_cast<long double>(total);
    return int(std::min<long double>(p, 100.0L));
}

}  // namespace store
