// JunctionPoint.QVE and the custom edge-shape files. Every file is untrusted:
// its length, counts, spacings and every point are checked before anything
// is taken, and a file that fails a check changes nothing.
#include "calibration/geometric_correction.h"

#include "core/config_exchange.h"
#include "platform/home.h"
#include "transport/protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace calib {

using grid::GridPoint;
using grid::WarpGrid;

namespace {

constexpr std::size_t kEdgeBlock = 19200;          // 1,920 points of 10 bytes
constexpr std::size_t kOldRecord = 6 + 4 * kEdgeBlock;  // 76,806
constexpr std::size_t kNewRecord = kOldRecord + 1;      // 76,807
constexpr std::size_t kOldFile = 4 * kOldRecord;        // 307,224
constexpr std::size_t kNewFile = 60 * kNewRecord;       // 4,608,420
constexpr std::size_t kNewSmallFile = 20 * kNewRecord;  // 1,536,140
// Coordinates the payload words can carry.
constexpr int32_t kCoordinateLimit = 4096;

static_assert(kOldFile == cfgx::kCustomShapesSize);
static_assert(kNewFile == cfgx::kCustomShapesNewSize);
static_assert(kNewSmallFile == cfgx::kCustomShapesNewSmallSize);

const uint8_t* bytesOf(const QByteArray& a) { return reinterpret_cast<const uint8_t*>(a.constData()); }

bool readWhole(const QString& path, QByteArray& out, bool& missing)
{
    QFile f(path);
    missing = !f.exists();
    if (missing || !f.open(QIODevice::ReadOnly))
        return false;
    out = f.readAll();
    return true;
}

QString configPath(const QString& base, uint8_t file)
{
    const QString path = cfgx::configFilePath(base, file);
    platform::ensureFolder(QFileInfo(path).absolutePath());
    return path;
}

}  // namespace

FileLoad CGeometricCorrection::ApplyJunctionBytes(const QByteArray& bytes)
{
    if (std::size_t(bytes.size()) != grid::kJunctionFileSize)
        return FileLoad::Refused;
    const uint8_t* in = bytesOf(bytes);
    grid::OutputConfig local;
    local.unpack(in, grid::OutputConfig::kSize);
    // Only nine grids are stored: a larger count is a damaged file.
    if (local.outputCount > kOutputs)
        return FileLoad::Refused;
    if (local.layoutCode != config.layoutCode) {
        currentOutput = 0;
        return FileLoad::Refused;
    }
    const int count = local.outputCount;
    for (int i = 0; i < count; ++i) {
        const grid::OutputEntry& e = local.outputs[std::size_t(i)];
        const uint8_t* block = in + grid::OutputConfig::kSize + std::size_t(i) * WarpGrid::kPackedSize;
        for (std::size_t k = 0; k < WarpGrid::kPoints; ++k) {
            const GridPoint p = GridPoint::unpack(block + k * GridPoint::kSize);
            if (p.x < 0 || p.y < 0 || p.x > e.maxX || p.y > e.maxY || p.x >= kCoordinateLimit ||
                p.y >= kCoordinateLimit)
                return FileLoad::Refused;
        }
        const uint16_t spacing = proto::getU16(block + WarpGrid::kPoints * GridPoint::kSize);
        if (spacing < 1 || spacing > 64)
            return FileLoad::Refused;
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t* block = in + grid::OutputConfig::kSize + std::size_t(i) * WarpGrid::kPackedSize;
        corrected(i).unpack(block, WarpGrid::kPackedSize);  // clears the selected flags
    }
    currentOutput = 0;
    RefreshViewGrid();
    return FileLoad::Loaded;
}

QByteArray CGeometricCorrection::JunctionBytes() const
{
    QByteArray out(qsizetype(grid::kJunctionFileSize), '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    config.pack(p);
    for (int i = 0; i < kOutputs; ++i)
        corrected(i).pack(p + grid::OutputConfig::kSize + std::size_t(i) * WarpGrid::kPackedSize);
    return out;
}

FileLoad CGeometricCorrection::LoadJunctionPoints()
{
    QByteArray bytes;
    bool missing = false;
    if (!readWhole(configPath(baseFolder, cfgx::kJunctionPointFile), bytes, missing))
        return missing ? FileLoad::Missing : FileLoad::Refused;
    return ApplyJunctionBytes(bytes);
}

bool CGeometricCorrection::SaveJunctionPoints(filecommit::WriteFailure* failure) const
{
    return cfgx::WriteFileAtomically(configPath(baseFolder, cfgx::kJunctionPointFile), JunctionBytes(), failure);
}

FileLoad CGeometricCorrection::ApplyShapeBytes(const QByteArray& bytes)
{
    const std::size_t size = std::size_t(bytes.size());
    int perSet = 0;
    if (size == kOldFile && !newShapeFormat)
        perSet = 1;
    else if (size == kNewFile)
        perSet = 30;
    else if (size == kNewSmallFile)
        perSet = 10;
    if (perSet == 0) {
        LoadShape(0, 0);
        return FileLoad::Refused;
    }
    // The record size follows the file's length, so that a file is never
    // read with the wrong stride.
    const std::size_t record = size == kOldFile ? kOldRecord : kNewRecord;
    const uint8_t* in = bytesOf(bytes);
    for (int s = 0; s < kSets; ++s) {
        for (int i = 0; i < perSet; ++i) {
            const uint8_t* r = in + (std::size_t(s) * std::size_t(perSet) + std::size_t(i)) * record;
            const uint16_t spacing = proto::getU16(r), width = proto::getU16(r + 2), height = proto::getU16(r + 4);
            const CustomShape& have = sets_[std::size_t(s)].shapes[std::size_t(i)];
            if (width < 1 || height < 1 || width != have.width || height != have.height || spacing < 1 ||
                spacing > 1024) {
                LoadShape(0, 0);
                return FileLoad::Refused;
            }
            for (int e = 0; e < 4; ++e) {
                const int points = e < 2 ? CustomShape::kGroups : 1080;
                const uint8_t* block = r + 6 + std::size_t(e) * kEdgeBlock;
                for (int k = 0; k < points; ++k) {
                    const GridPoint p = GridPoint::unpack(block + std::size_t(k) * GridPoint::kSize);
                    if (p.x < 0 || p.y < 0 || p.x > width || p.y > height) {
                        LoadShape(0, 0);
                        return FileLoad::Refused;
                    }
                }
            }
        }
    }
    for (int s = 0; s < kSets; ++s) {
        for (int i = 0; i < perSet; ++i) {
            const uint8_t* r = in + (std::size_t(s) * std::size_t(perSet) + std::size_t(i)) * record;
            CustomShape& shape = sets_[std::size_t(s)].shapes[std::size_t(i)];
            shape.spacing = proto::getU16(r);
            shape.width = proto::getU16(r + 2);
            shape.height = proto::getU16(r + 4);
            for (int e = 0; e < 4; ++e) {
                const int points = e < 2 ? CustomShape::kGroups : 1080;
                const uint8_t* block = r + 6 + std::size_t(e) * kEdgeBlock;
                for (int k = 0; k < points; ++k)
                    shape.edge(e, k) = GridPoint::unpack(block + std::size_t(k) * GridPoint::kSize);
            }
            if (record == kNewRecord)
                shape.flag = r[kOldRecord];
        }
        sets_[std::size_t(s)].current = 0;
    }
    LoadShape(0, 0);
    currentSet = 0;
    return FileLoad::Loaded;
}

QByteArray CGeometricCorrection::ShapeBytes() const
{
    const int perSet = newShapeFormat ? ShapeSet::kShapes : 1;
    const std::size_t record = newShapeFormat ? kNewRecord : kOldRecord;
    QByteArray out(qsizetype(newShapeFormat ? kNewFile : kOldFile), '\0');
    uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
    for (int s = 0; s < kSets; ++s) {
        for (int i = 0; i < perSet; ++i) {
            uint8_t* r = p + (std::size_t(s) * std::size_t(perSet) + std::size_t(i)) * record;
            const CustomShape& shape = sets_[std::size_t(s)].shapes[std::size_t(i)];
            proto::putU16(r, shape.spacing);
            proto::putU16(r + 2, shape.width);
            proto::putU16(r + 4, shape.height);
            for (int e = 0; e < 4; ++e) {
                const int points = e < 2 ? CustomShape::kGroups : 1080;
                uint8_t* block = r + 6 + std::size_t(e) * kEdgeBlock;
                for (int k = 0; k < points; ++k)
                    shape.edge(e, k).pack(block + std::size_t(k) * GridPoint::kSize);
            }
            if (newShapeFormat)
                r[kOldRecord] = shape.flag;
        }
    }
    if (!newShapeFormat)  // the old form holds its two records twice
        std::copy(p, p + 2 * kOldRecord, p + 2 * kOldRecord);
    return out;
}

uint8_t CGeometricCorrection::shapeFile() const
{
    return newShapeFormat ? cfgx::kCustomShapesNewFile : cfgx::kCustomShapesFile;
}

void CGeometricCorrection::MarkFilesUnedited()
{
    junctionAsRead_ = JunctionBytes();
    shapesAsRead_ = ShapeBytes();
}

FileLoad CGeometricCorrection::LoadCustomShapes()
{
    const uint8_t file = shapeFile();
    QByteArray bytes;
    bool missing = false;
    if (!readWhole(configPath(baseFolder, file), bytes, missing)) {
        LoadShape(0, 0);
        return missing ? FileLoad::Missing : FileLoad::Refused;
    }
    return ApplyShapeBytes(bytes);
}

bool CGeometricCorrection::SaveCustomShapes(filecommit::WriteFailure* failure) const
{
    return cfgx::WriteFileAtomically(configPath(baseFolder, shapeFile()), ShapeBytes(), failure);
}

}  // namespace calib
