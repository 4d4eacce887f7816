#include "core/config_exchange.h"

#include "common/digest.h"
#include "common/file_commit.h"
#include "core/output_config.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace cfgx {

namespace {

struct FileInfo {
    uint8_t file;
    const char* name;
};

constexpr FileInfo kFiles[] = {
    {kWarpFile, "Warp.QVE"},
    {kJunctionPointFile, "JunctionPoint.QVE"},
    {kProjectorGraphFile, "ProjectorGraph.QVE"},
    {kCustomShapesFile, "CustomShapesPoint.QVE"},
    {kVideoPicWindowFile, "VideoPicWindow.QVE"},
    {kGammaFile, "Gamma.QVE"},
    {kCustomShapesNewFile, "CustomShapesPointNew.QVE"},
    {kRotateFile, "Rotate.QVE"},
    {kGridFile, "Grid.QVE"},
};

// Progress shown while each file of the blending chain is fetched.
int fetchProgressFor(uint8_t file)
{
    switch (file) {
    case kJunctionPointFile: return 20;
    case kProjectorGraphFile: return 40;
    case kCustomShapesFile: return 60;
    case kGammaFile: return 80;
    case kCustomShapesNewFile: return 90;
    default: return 0;
    }
}

bool trailerOk(const uint8_t* data, std::size_t size)
{
    return size >= 2 && digest::CheckCrcTrailer(data, size);
}

}  // namespace

QString configFileName(uint8_t file)
{
    for (const FileInfo& f : kFiles)
        if (f.file == file)
            return QString::fromLatin1(f.name);
    return QString();
}

QString configFilePath(const QString& playerFolder, uint8_t file)
{
    const QString name = configFileName(file);
    // Without a player folder the path would lead into the working folder.
    if (name.isEmpty() || playerFolder.isEmpty())
        return QString();
    return QDir(playerFolder).filePath(QStringLiteral("config/") + name);
}

bool WriteFileAtomically(const QString& path, const uint8_t* data, std::size_t size, QString* error)
{
    // A folder that cannot be made shows as the file that cannot be
    // opened, with the system's reason for it.
    platform::ensureFolder(QFileInfo(path).absolutePath());
    return filecommit::replaceFile(path, reinterpret_cast<const char*>(data), qint64(size), error);
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, filecommit::WriteFailure* failure)
{
    QString reason;
    if (WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()), &reason))
        return true;
    if (failure)
        *failure = {path, reason};
    return false;
}

// ---------------------------------------------------------------------------
// Conversions of the older file forms

namespace {

bool readExactly(QFile& in, qint64 offset, uint8_t* out, std::size_t size)
{
    if (!in.seek(offset))
        return false;
    std::size_t got = 0;
    while (got < size) {
        const qint64 n = in.read(reinterpret_cast<char*>(out) + got, qint64(size - got));
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

void copyPoint(const uint8_t* from, uint8_t* to)
{
    grid::GridPoint::unpack(from).pack(to);
}

}  // namespace

bool ConvertLegacyJunctionPoint(const QString& path)
{
    using grid::GridPoint;
    using grid::LegacyWarpGrid;
    using grid::OutputConfig;
    using grid::WarpGrid;

    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || std::size_t(in.size()) != kLegacyJunctionPointSize)
        return false;

    uint8_t head[OutputConfig::kSize];
    OutputConfig config;
    if (!readExactly(in, 0, head, sizeof head) || !config.unpack(head, sizeof head))
        return false;
    // The file holds nine grids whatever the count says; a count above nine
    // means the head itself is damaged, so the file is not trusted.
    if (config.outputCount > OutputConfig::kOutputs)
        return false;

    std::vector<uint8_t> out(kJunctionPointSize, 0);
    std::copy(head, head + OutputConfig::kSize, out.begin());

    constexpr std::size_t kKeptColumnsBytes = std::size_t(WarpGrid::kColumns) * LegacyWarpGrid::kColumnBytes;
    std::vector<uint8_t> columns(kKeptColumnsBytes);
    for (int o = 0; o < OutputConfig::kOutputs; ++o) {
        uint8_t* grid = out.data() + OutputConfig::kSize + std::size_t(o) * WarpGrid::kPackedSize;
        uint16_t spacing = WarpGrid::kDefaultSpacing;
        if (o < config.outputCount) {
            const qint64 base = qint64(OutputConfig::kSize) + qint64(o) * qint64(LegacyWarpGrid::kPackedSize);
            uint8_t spacingBytes[2];
            if (!readExactly(in, base, columns.data(), columns.size())
                || !readExactly(in, base + qint64(LegacyWarpGrid::kPoints * GridPoint::kSize), spacingBytes, 2))
                return false;
            for (int c = 0; c < WarpGrid::kColumns; ++c)
                for (int r = 0; r < WarpGrid::kRows; ++r)
                    copyPoint(columns.data() + std::size_t(c) * LegacyWarpGrid::kColumnBytes + std::size_t(r) * GridPoint::kSize,
                              grid + WarpGrid::index(c, r) * GridPoint::kSize);
            spacing = proto::getU16(spacingBytes);
        }
        proto::putU16(grid + WarpGrid::kPoints * GridPoint::kSize, spacing);
    }
    in.close();
    return WriteFileAtomically(path, out.data(), out.size());
}

bool ConvertLegacyCustomShapes(const QString& path)
{
    using grid::GridPoint;
    using grid::PixelMap;

    constexpr std::size_t kColumnBytes = std::size_t(PixelMap::kRows) * GridPoint::kSize;  // 10,800
    constexpr std::size_t kBlockPoints = PixelMap::kPoints * GridPoint::kSize;
    constexpr std::size_t kBlockSize = kBlockPoints + 6;  // then spacing, width, height
    constexpr std::size_t kEdgePoints = PixelMap::kColumns;  // 1,920 entries per edge
    constexpr std::size_t kRecordSize = 6 + 4 * kEdgePoints * GridPoint::kSize;  // 76,806
    static_assert(4 * kBlockSize == kLegacyCustomShapesSize);
    static_assert(4 * kRecordSize == kCustomShapesSize);

    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || std::size_t(in.size()) != kLegacyCustomShapesSize)
        return false;

    std::vector<uint8_t> out(kCustomShapesSize, 0);
    std::vector<uint8_t> block(kBlockSize);
    for (int b = 0; b < 4; ++b) {
        if (!readExactly(in, qint64(b) * qint64(kBlockSize), block.data(), block.size()))
            return false;
        const uint8_t* tail = block.data() + kBlockPoints;
        const uint16_t width = proto::getU16(tail + 2);
        const uint16_t height = proto::getU16(tail + 4);
        // Width and height pick a column and a row below; beyond the canvas
        // they would point outside the block.
        if (width > PixelMap::kColumns || height > PixelMap::kRows)
            return false;
        const int bottomRow = height == 0 ? 0 : height - 1;
        const int rightColumn = width == 0 ? 0 : width - 1;

        uint8_t* rec = out.data() + std::size_t(b) * kRecordSize;
        std::copy(tail, tail + 6, rec);
        uint8_t* top = rec + 6;
        uint8_t* bottom = top + kEdgePoints * GridPoint::kSize;
        uint8_t* left = bottom + kEdgePoints * GridPoint::kSize;
        uint8_t* right = left + kEdgePoints * GridPoint::kSize;
        auto point = [&](int column, int row) {
            return block.data() + std::size_t(column) * kColumnBytes + std::size_t(row) * GridPoint::kSize;
        };
        for (int c = 0; c < PixelMap::kColumns; ++c) {
            copyPoint(point(c, 0), top + std::size_t(c) * GridPoint::kSize);
            copyPoint(point(c, bottomRow), bottom + std::size_t(c) * GridPoint::kSize);
        }
        for (int r = 0; r < PixelMap::kRows; ++r) {
            copyPoint(point(0, r), left + std::size_t(r) * GridPoint::kSize);
            copyPoint(point(rightColumn, r), right + std::size_t(r) * GridPoint::kSize);
        }
        // The remaining 840 entries of the left and right edges stay zero.
    }
    in.close();
    return WriteFileAtomically(path, out.data(), out.size());
}

// ---------------------------------------------------------------------------
// The exchange

ConfigExchange::ConfigExchange(ConfigExchangeHost& host) : host_(host) {}

QString ConfigExchange::text(const char* english, const char* chinese) const
{
    return platform::pickText(host_.language(), english, chinese);
}

void ConfigExchange::SetActive(bool active)
{
    active_ = active ? 1 : 0;
    if (active)
        ticks_ = 0;
}

bool ConfigExchange::RequestConfigFile(uint8_t file)
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_CONFIG_FILE;
    h.subCode = file;
    h.sequence = host_.sequence();
    h.param = 0;
    h.arg = 0;
    return host_.sendToCurrentPlayer(h, QByteArray());
}

void ConfigExchange::StartFetch(uint8_t file)
{
    if (mode_ != Fetch || file_ != file)
        windowFileTicks_ = 0;  // a repeat of the same fetch keeps its count
    mode_ = Fetch;
    file_ = file;
    repeats_ = 0;
    host_.setProgress(0);
    RequestConfigFile(file);
}

void ConfigExchange::fetchNext(uint8_t file, int progress)
{
    file_ = file;
    repeats_ = 0;
    host_.setProgress(progress);
    RequestConfigFile(file);
}

bool ConfigExchange::UploadConfigFile(uint8_t file)
{
    mode_ = Upload;
    if (file_ != file)
        repeats_ = 0;
    file_ = file;
    if (file == kWarpFile || file == kVideoPicWindowFile || file == kRotateFile || file == kGridFile)
        host_.setProgress(0);

    const QString path = configFilePath(host_.playerFolder(), file);
    if (path.isEmpty())
        return false;
    QFile in(path);
    if (!in.exists() || !in.open(QIODevice::ReadOnly))
        return false;
    if (std::size_t(in.size()) > kMaxUploadFileSize) {
        // One packet carries one file; cutting it would leave the player with
        // a damaged copy that still passes its trailer check.
        platform::messageBox(
            text("%1 is larger than 8,192,000 bytes and cannot be sent to the player.",
                 "%1 超过8,192,000字节，无法发送到播放器。")
                .arg(QDir::toNativeSeparators(path)),
            QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        return false;
    }
    QByteArray payload = in.readAll();
    if (qint64(payload.size()) != in.size())
        return false;
    in.close();
    digest::AppendCrcTrailer(payload);

    proto::PlayerPacketHeader h;
    h.command = proto::CMD_CONFIG_FILE;
    h.subCode = file;
    h.sequence = host_.sequence();
    h.param = 0;
    h.arg = std::size_t(payload.size()) < proto::kChunkSize ? 2 : 1;
    return host_.sendToCurrentPlayer(h, payload);
}

bool ConfigExchange::PushConfigFile(uint8_t file)
{
    active_ = 1;
    ticks_ = 0;
    repeats_ = 0;
    host_.showWaitBox(text("Save Param Wait...", "正在保存参数..."));
    if (UploadConfigFile(file))
        return true;
    closeWaitBox();
    return false;
}

void ConfigExchange::OnConfigFileReply(const QString& peerIp, const proto::PlayerPacketHeader& header,
                                       const QByteArray& payload)
{
    OnConfigFileReply(peerIp, header, reinterpret_cast<const uint8_t*>(payload.constData()),
                      std::size_t(payload.size()));
}

void ConfigExchange::OnConfigFileReply(const QString& peerIp, const proto::PlayerPacketHeader& header,
                                       const uint8_t* payload, std::size_t size)
{
    if (peerIp != host_.currentPlayerIp())
        return;
    // A reply for another file is a late answer to a request that was
    // already repeated or given up: taking it for the file in flight would
    // write the wrong bytes under the wrong name.
    if (mode_ == Idle || header.subCode != file_)
        return;
    ticks_ = 0;
    if (!payload)
        size = 0;
    if (mode_ == Fetch)
        handleFetchReply(payload, size);
    else
        handleUploadAck();
}

bool ConfigExchange::writeConfigFile(uint8_t file, const uint8_t* data, std::size_t size)
{
    const QString path = configFilePath(host_.playerFolder(), file);
    if (path.isEmpty())
        return false;
    QString error;
    if (WriteFileAtomically(path, data, size, &error))
        return true;
    // The old file stays. Said once per fetch: on a full disk every file of
    // the chain would fail in turn.
    if (writeFailureShown_)
        return false;
    writeFailureShown_ = true;
    filecommit::showCannotWrite(host_.language(), path, error);
    return false;
}

void ConfigExchange::handleFetchReply(const uint8_t* payload, std::size_t size)
{
    const bool crcOk = trailerOk(payload, size);
    const uint8_t file = uint8_t(file_);
    switch (file) {
    case kWarpFile:
    case kJunctionPointFile:
    case kProjectorGraphFile:
    case kCustomShapesFile:
    case kGammaFile: {
        // The fixed-size files of the parameter fetch, in the order the
        // player is asked for them, with the progress shown after each.
        struct ChainStep {
            uint8_t file;
            std::size_t size;
            bool (*convertLegacy)(const QString&);
            uint8_t next;
            int progress;
        };
        static constexpr ChainStep kChain[] = {
            {kWarpFile, kWarpSize, nullptr, kJunctionPointFile, 20},
            {kJunctionPointFile, kJunctionPointSize, ConvertLegacyJunctionPoint, kProjectorGraphFile, 40},
            {kProjectorGraphFile, kProjectorGraphSize, nullptr, kCustomShapesFile, 60},
            {kCustomShapesFile, kCustomShapesSize, ConvertLegacyCustomShapes, kGammaFile, 80},
            {kGammaFile, kGammaSize, nullptr, kCustomShapesNewFile, 90},
        };
        const ChainStep& step = *std::find_if(std::begin(kChain), std::end(kChain),
                                              [file](const ChainStep& c) { return c.file == file; });
        if (size == step.size + 2 && crcOk)
            writeConfigFile(file, payload, step.size);
        else if (step.convertLegacy && size > step.size)
            step.convertLegacy(configFilePath(host_.playerFolder(), file));
        fetchNext(step.next, step.progress);
        break;
    }
    case kCustomShapesNewFile:
        // Both sizes are checked against the trailer: the larger one is the
        // one most likely to arrive damaged.
        if ((size == kCustomShapesNewSize + 2 || size == kCustomShapesNewSmallSize + 2) && crcOk)
            writeConfigFile(file, payload, size - 2);
        endFetch();
        break;
    case kVideoPicWindowFile:
        if (size == kVideoPicWindowSize + 2 && crcOk)
            writeConfigFile(file, payload, kVideoPicWindowSize);
        finishVideoPicFetch();
        break;
    case kRotateFile:
        if (crcOk)
            writeConfigFile(file, payload, size - 2);
        endFetch();
        break;
    case kGridFile: {
        if (crcOk && writeConfigFile(file, payload, size - 2))
            host_.onGridFileFetched(configFilePath(host_.playerFolder(), file));
        finishGridFetch();
        break;
    }
    default:
        break;
    }
}

void ConfigExchange::goIdle(bool stopExchange)
{
    writeFailureShown_ = false;  // the next exchange may say it again
    if (stopExchange)
        active_ = 0;
    mode_ = Idle;
    repeats_ = 0;
    host_.setProgress(-1);
}

void ConfigExchange::endFetch()
{
    goIdle(true);
    host_.onFetchEnded();
}

void ConfigExchange::finishVideoPicFetch()
{
    goIdle(true);
    host_.postToMainWindow(platform::WM_OPEN_VIDEO_PIC_WINDOW);
}

void ConfigExchange::finishGridFetch()
{
    // The handshake's fetch ends here; the status request leads on to the
    // layout list.
    goIdle(false);
    requestStatus();
}

void ConfigExchange::closeWaitBox()
{
    goIdle(true);
    host_.hideWaitBox();
}

void ConfigExchange::requestStatus()
{
    proto::PlayerPacketHeader h;
    h.command = proto::CMD_STATUS;
    h.sequence = host_.sequence();
    host_.sendToCurrentPlayer(h, QByteArray());
}

void ConfigExchange::handleUploadAck()
{
    const uint8_t file = uint8_t(file_);
    switch (file) {
    case kVideoPicWindowFile:
        goIdle(true);
        platform::messageBox(text("Video Picture setup completed", "视频图片开窗设置完成"), QString(),
                             platform::MsgButtons::Ok, platform::MsgIcon::Information);
        break;
    case kGridFile:
        closeWaitBox();
        break;
    default:
        uploadAfter(file);
        break;
    }
}

void ConfigExchange::uploadAfter(uint8_t acknowledged)
{
    static constexpr uint8_t kChain[] = {kWarpFile, kJunctionPointFile, kProjectorGraphFile, kCustomShapesFile,
                                         kGammaFile, kCustomShapesNewFile};
    bool after = false;
    for (uint8_t next : kChain) {
        if (after && UploadConfigFile(next)) {
            ticks_ = 0;  // the new file gets its own time to be acknowledged
            return;
        }
        if (next == acknowledged)
            after = true;
    }
    // Nothing (more) to send: 7 and 17 end here too.
    closeWaitBox();
    requestStatus();
}

void ConfigExchange::OnAdjustModeReply(const QString& peerIp, const proto::PlayerPacketHeader& header)
{
    if (header.subCode == 1 && peerIp == host_.currentPlayerIp()) {
        if (SupportsConfigExchange(host_.playerVersion())) {
            active_ = 1;
            ticks_ = 0;
            host_.showWaitBox(text("Save Param Wait...", "正在保存参数..."));
            repeats_ = 0;
            if (!UploadConfigFile(kWarpFile)) {
                closeWaitBox();
                requestStatus();
            }
        } else {
            requestStatus();
        }
    }
    host_.notifyBlendWizard(uint16_t(0x0C00 + header.subCode));
}

bool ConfigExchange::OnNotSupportedReply(const QString& peerIp, uint8_t rawCommand)
{
    if (peerIp != host_.currentPlayerIp() || mode_ == Idle)
        return false;
    // Both forms of "not supported": the reply bit clear, or bit 6 set.
    if (proto::decodeReplyCode(rawCommand) != 0 || (rawCommand & 0x3F) != proto::CMD_CONFIG_FILE)
        return false;
    giveUp();
    return true;
}

void ConfigExchange::giveUp()
{
    const uint8_t file = uint8_t(file_);
    if (mode_ == Fetch) {
        if (file == kVideoPicWindowFile)
            finishVideoPicFetch();
        else if (file == kGridFile)
            finishGridFetch();
        else
            endFetch();
    } else if (mode_ == Upload) {
        if (file == kVideoPicWindowFile) {
            goIdle(true);
        } else if (file == kGridFile) {
            closeWaitBox();
        } else {
            closeWaitBox();
            requestStatus();
        }
    }
}

void ConfigExchange::FetchParamsStep()
{
    // The window file is asked for by its menu command, often outside a
    // running exchange: a silent player is named, and the fetch ends so that
    // the command can be given again (a late answer then opens nothing).
    if (mode_ == Fetch && file_ == kVideoPicWindowFile && ++windowFileTicks_ >= kWindowFileNoAnswerTicks) {
        goIdle(true);
        platform::messageBox(text("The player did not answer; the video and picture windows could not be read.",
                                  "播放器无应答，无法读取视频图片开窗设置。"),
                             QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        return;
    }
    if (!active_)
        return;
    if (ticks_ < 0xFFFF)
        ++ticks_;
    if (ticks_ < kRepeatAfterTicks || mode_ == Idle)
        return;
    repeatStep();
}

void ConfigExchange::repeatStep()
{
    const uint8_t file = uint8_t(file_);
    const bool resend = mode_ == Fetch || file == kVideoPicWindowFile || file == kRotateFile || file == kGridFile;
    if (resend && ++repeats_ > kMaxRepeats) {
        platform::messageBox(text("The player did not answer; the configuration files were not all transferred.",
                                  "播放器无应答，配置文件未全部传输。"),
                             QString(), platform::MsgButtons::Ok, platform::MsgIcon::Warning);
        giveUp();
        return;
    }
    if (mode_ == Fetch) {
        const int repeats = repeats_;
        switch (file) {
        case kWarpFile:
        case kVideoPicWindowFile:
        case kRotateFile:
        case kGridFile:
            StartFetch(file);
            break;
        case kJunctionPointFile:
        case kProjectorGraphFile:
        case kCustomShapesFile:
        case kGammaFile:
        case kCustomShapesNewFile:
            host_.setProgress(fetchProgressFor(file));
            RequestConfigFile(file);
            break;
        default:
            giveUp();
            break;
        }
        repeats_ = repeats;
        return;
    }
    // Upload.
    switch (file) {
    case kVideoPicWindowFile:
    case kRotateFile:
    case kGridFile:
        if (!UploadConfigFile(file))
            giveUp();
        break;
    case kCustomShapesNewFile:
        closeWaitBox();
        requestStatus();
        break;
    default:
        uploadAfter(file);
        break;
    }
}

}  // namespace cfgx
