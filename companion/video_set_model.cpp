#include "companion/video_set_model.h"

#include "common/text_coding.h"
#include "platform/home.h"
#include "transport/upload_chunks.h"

#include <QDir>
#include <QFileInfo>


namespace videoset {

namespace {

QString pick(unsigned language, const char* english, const char* chinese)
{
    return platform::pickText(language, english, chinese);
}

}  // namespace

QString CheckName(const QString& name, const QString& path, bool category, unsigned language)
{
    QByteArray encoded;
    if (text::NameToDoubleByteText(name, encoded, std::size_t(category ? kCategoryBytes : kFileNameBytes)))
        return QString();
    if (!text::NameToDoubleByteText(name, encoded))
        return text::unencodableNameMessage(name, int(language));
    return category ? pick(language, "<< %1 >> Typename is too long", "<< %1 >> 类别名称太长").arg(path)
                    : pick(language, "<< %1 >> File name is too long", "<< %1 >> 文件名太长").arg(path);
}

QString StripAlias(const QString& name, const QString& alias)
{
    if (alias.isEmpty())
        return name;
    QString stripped = name;
    return stripped.remove(alias);
}

QStringList SortedSubFolders(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

void RebuildCategories(ActSetup& act)
{
    act.categories.clear();
    for (const QString& name : SortedSubFolders(act.folder))
        act.categories.push_back({name, {}});
}

int ReferenceIndex(const std::vector<DeviceSetup>& devices)
{
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].mode == 1)
            return int(i);
    return devices.empty() ? -1 : 0;
}

QString ListVideos(std::vector<DeviceSetup>& devices, unsigned language)
{
    for (DeviceSetup& device : devices) {
        for (ActSetup& act : device.acts) {
            if (act.folder.isEmpty())
                continue;
            if (act.aliasFilter && act.alias.isEmpty())
                return pick(language, "<< %1 >> Didn't you fill in the alias!", "<< %1 >> 没有填写别名！").arg(device.ip);
            for (CategoryFiles& category : act.categories) {
                const QString path = QDir(act.folder).filePath(category.name);
                const QString refusal = CheckName(category.name, path, true, language);
                if (!refusal.isEmpty())
                    return refusal;
                category.files.clear();
                const QFileInfoList entries =
                    QDir(path).entryInfoList(QDir::Files, QDir::Name);
                for (const QFileInfo& entry : entries) {
                    if (entry.suffix().compare(QStringLiteral("mp4"), Qt::CaseInsensitive) != 0)
                        continue;
                    const QString name = entry.fileName();
                    const QString refused = CheckName(name, entry.filePath(), false, language);
                    if (!refused.isEmpty())
                        return refused;
                    if (!act.alias.isEmpty() && !name.contains(act.alias))
                        continue;
                    category.files.append(name);
                }
            }
        }
    }
    return QString();
}

bool MasterAndSlavesMatch(const std::vector<DeviceSetup>& devices)
{
    const DeviceSetup* master = nullptr;
    for (const DeviceSetup& device : devices)
        if (device.mode == 1) {
            master = &device;
            break;
        }
    if (!master)
        return true;
    for (const ActSetup& masterAct : master->acts) {
        for (const CategoryFiles& category : masterAct.categories) {
            for (const QString& file : category.files) {
                const QString wanted = masterAct.aliasFilter ? StripAlias(file, masterAct.alias) : file;
                for (const DeviceSetup& slave : devices) {
                    if (slave.mode != 2)
                        continue;
                    for (const ActSetup& act : slave.acts) {
                        if (act.folder.isEmpty())
                            continue;
                        int found = 0;
                        for (const CategoryFiles& theirs : act.categories) {
                            if (theirs.name != category.name)
                                continue;
                            for (const QString& name : theirs.files)
                                if ((act.aliasFilter ? StripAlias(name, act.alias) : name) == wanted)
                                    ++found;
                        }
                        if (found != 1)
                            return false;
                    }
                }
            }
        }
    }
    return true;
}

QString BatchFile::SentName() const
{
    const QString name = QFileInfo(path).fileName();
    return aliasFilter ? StripAlias(name, alias) : name;
}

std::vector<BatchFile> BatchFilesOf(const DeviceSetup& device)
{
    std::vector<BatchFile> files;
    for (int a = 0; a < kActs; ++a) {
        const ActSetup& act = device.acts[std::size_t(a)];
        if (act.folder.isEmpty())
            continue;
        for (const CategoryFiles& category : act.categories) {
            for (const QString& file : category.files) {
                BatchFile f;
                f.alias = act.alias;
                f.aliasFilter = act.aliasFilter;
                f.category = category.name;
                f.path = QDir(QDir(act.folder).filePath(category.name)).filePath(file);
                f.act = uint16_t(a);
                f.stamp = filestamp::StampOf(f.path);
                f.size = f.stamp ? f.stamp->size : 0;
                files.push_back(std::move(f));
            }
        }
    }
    return files;
}

std::vector<BatchFile> WithoutHeld(const std::vector<BatchFile>& files, const PlayerCatalog& act0,
                                   const PlayerCatalog& act1)
{
    std::vector<BatchFile> kept;
    for (const BatchFile& f : files) {
        const bool held = f.act < 2 && upload::IsOnPlayer(f.act == 0 ? act0 : act1, f.category, f.SentName(), f.size);
        if (!held)
            kept.push_back(f);
    }
    return kept;
}

bool FitsFreeSpace(uint64_t neededBytes, uint32_t freeMB)
{
    return neededBytes < uint64_t(freeMB) * 1048576u;
}

}  // namespace videoset
