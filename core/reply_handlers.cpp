// The document's reply handlers: each reply is parsed, checked and handed to
// the open dialog that asked for it, found by its caption.

#include "core/reply_handlers.h"

#include "common/file_commit.h"
#include "common/text_coding.h"
#include "core/document.h"
#include "core/layout/layout_transfer.h"
#include "core/player_info.h"
#include "platform/dialogs.h"
#include "platform/home.h"
#include "platform/messages.h"

#include <QDir>

#include <algorithm>

namespace replies {

Caption LidarPageFor(uint16_t param)
{
    if (param == 9 || param == 10)
        return kLidarSelect;
    if (param == 3 || param == 11)
        return kLidarParam;
    return kLidarCheck;
}

platform::MessageWindow* FindDialog(const QString& prefix, unsigned language, Caption caption)
{
    return platform::findWindow(prefix + platform::pickText(language, caption.english, caption.chinese));
}

platform::MessageWindow* FindDialogNoCase(const QString& prefix, unsigned language, Caption caption)
{
    return platform::findWindowNoCase(prefix + platform::pickText(language, caption.english, caption.chinese));
}

}  // namespace replies

namespace {

using platform::LPARAM;
using platform::MsgIcon;
using platform::WPARAM;

// Hands a heap record to `window` when it takes the message; the window then
// owns it. Otherwise the record is freed here.
template <class T>
bool sendHeapRecord(platform::MessageWindow* window, unsigned message, WPARAM wParam, std::unique_ptr<T> record)
{
    if (!window || !window->handles(message))
        return false;
    platform::sendMessage(window, message, wParam, LPARAM(record.release()));
    return true;
}

}  // namespace

void CvelunaDoc::sendPayloadTo(replies::Caption caption, unsigned message, const PlayerReply& r, bool withPrefix)
{
    platform::MessageWindow* window = findDialog(caption, withPrefix);
    if (!window)
        return;
    const QByteArray payload = r.bytes();
    platform::sendMessage(window, message, r.header.param, LPARAM(&payload));
}

void CvelunaDoc::sendTrackbarValues(uint16_t wParam, uint16_t subCode, uint16_t param, uint16_t arg)
{
    platform::MessageWindow* window = findDialog(replies::kVideoSource);
    if (!window)
        window = findDialog(replies::kVideoControl);
    auto record = std::make_unique<replies::TrackbarRecord>();
    record->subCode = subCode;
    record->param = param;
    record->arg = arg;
    sendHeapRecord(window, platform::WM_TRACKBAR_VALUES_REPLY, wParam, std::move(record));
}

void CvelunaDoc::handleReply(const PlayerReply& r)
{
    const uint8_t code = r.header.command;
    const uint8_t sub = r.header.subCode;
    const int info = int(MsgIcon::Information);
    switch (code) {
    case 0:
        if (onNotSupportedReply && IsFromCurrentPlayer(r))
            onNotSupportedReply(r.peerIp, r.rawCommand);
        showMessage(QStringLiteral("This function is not supported in the current version!"),
                    QStringLiteral("当前版本不支持此功能,请及时更新！"), int(MsgIcon::Question));
        NotifyBlendWizard(0);
        return;
    case proto::CMD_PLAYER_INFO:
        onHandshakeReply(r);
        return;
    case proto::CMD_CHANNEL_MAP_DATA:
    case proto::CMD_PROJECTOR_DATA:
    case proto::CMD_WARP_POINTS:
        NotifyBlendWizard(uint16_t(code * 256 + sub));
        return;
    case proto::CMD_PARAM_FILE:
        onParamFileReply(r);
        return;
    case proto::CMD_OUTPUT_RESOLUTION:
        showMessage(QStringLiteral("Output resolution setup completed"), QStringLiteral("输出分辨率设置完成"), info);
        return;
    case proto::CMD_VIDEO_CHANNEL_SETUP:
        if (!NotifyBlendWizard(uint16_t(0x0600 + sub)))
            showMessage(QStringLiteral("Video channel setup completed"), QStringLiteral("视频通道设置完成"), info);
        return;
    case proto::CMD_NETWORK_PARAM:
        onNetworkParamReply(r);
        return;
    case proto::CMD_ADJUST_MODE:
        if (onAdjustModeReply)
            onAdjustModeReply(r);
        else
            NotifyBlendWizard(uint16_t(0x0C00 + sub));
        return;
    case proto::CMD_BLEND_SWITCH:
        if (!NotifyBlendWizard(uint16_t(0x0D00 + sub))) {
            if (sub == 1)
                showMessage(QStringLiteral("Edge Blending ON"), QStringLiteral("融合带开启"), info);
            else
                showMessage(QStringLiteral("Edge Blending OFF"), QStringLiteral("融合带关闭"), info);
        }
        return;
    case proto::CMD_PROGRAM_UPGRADE: {
        auto record = std::make_unique<replies::UpgradeRecord>();
        record->code = code;
        record->subCode = sub;
        record->param = r.header.param;
        record->arg = r.header.arg;
        sendHeapRecord(findDialog(replies::kUpgrade), platform::WM_UPGRADE_REPLY, 0, std::move(record));
        return;
    }
    case proto::CMD_TEMPERATURE: {
        // Header bytes 8, 11 and 10.
        auto record = std::make_unique<replies::TemperatureRecord>();
        record->playerIp = currentPlayer_.ip;
        record->t1 = uint8_t(r.header.param & 0xFF);
        record->t2 = uint8_t(r.header.arg >> 8);
        record->t3 = uint8_t(r.header.arg & 0xFF);
        sendHeapRecord(findDialog(replies::kTemperature), platform::WM_TEMPERATURE_REPLY, 0, std::move(record));
        return;
    }
    case proto::CMD_OUTPUT_MODE: {
        if (r.size != 18)
            return;
        auto record = std::make_unique<replies::OutputModeRecord>();
        std::copy_n(r.payload, 18, record->bytes.begin());
        sendHeapRecord(findDialog(replies::kOutputMode), platform::WM_OUTPUT_MODE_REPLY, sub, std::move(record));
        return;
    }
    case proto::CMD_STATUS:
        onStatusReply(r);
        return;
    case proto::CMD_VIDEO_LIST:
        onVideoListReply(r);
        return;
    case proto::CMD_VIDEO_UPLOAD:
    case proto::CMD_VIDEO_DELETE:
    case proto::CMD_VIDEO_SELECT:
    case proto::CMD_VIDEO_RENAME: {
        static constexpr unsigned kMessages[] = {platform::WM_VIDEO_UPLOAD_REPLY, platform::WM_VIDEO_DELETE_REPLY,
                                                 platform::WM_VIDEO_SELECT_REPLY, platform::WM_VIDEO_RENAME_REPLY};
        if (auto* w = findDialog(replies::kVideoSource))
            platform::sendMessage(w, kMessages[code - proto::CMD_VIDEO_UPLOAD], r.header.param, r.header.arg);
        return;
    }
    case proto::CMD_PROTOCOL_FILE:
        if (sub == 0)
            showMessage(QStringLiteral("Serial communication protocol configuration file transmission completed"),
                        QStringLiteral("串口通讯协议配置文件发送完成"), info);
        else if (sub == 1)
            showMessage(QStringLiteral("JukeBox protocol configuration file transmission completed"),
                        QStringLiteral("点唱机协议配置文件发送完成"), info);
        else if (sub == 2)
            showMessage(QStringLiteral("Data file transmission completed"), QStringLiteral("数据库文件发送完成"), info);
        return;
    case proto::CMD_PRODUCT_INFO: {
        if (r.size == 0)
            return;
        if (auto* w = findDialog(replies::kProductInfo)) {
            const QString textOfPlayer = text::localToString(r.bytes());
            platform::sendMessage(w, platform::WM_PRODUCT_INFO_REPLY, 0, LPARAM(&textOfPlayer));
        }
        return;
    }
    case proto::CMD_REBOOT:
        showMessage(QStringLiteral("Reboot the player"), QStringLiteral("播放器重启"), info);
        return;
    case proto::CMD_CASCADE_SET:
        showMessage(QStringLiteral("Player cascade setup completed"), QStringLiteral("播放器级联设置完成"), info);
        return;
    case proto::CMD_CASCADE_QUERY:
        onCascadeQueryReply(r);
        return;
    case proto::CMD_VIDEO_PIC_WINDOW:
        onVideoPicWindowReply(r);
        return;
    case proto::CMD_TRACKBAR_VALUES:
        sendTrackbarValues(0, 0, 0, 0);
        return;
    case proto::CMD_VIDEO_LIST_CHANGED:
    case proto::CMD_VIDEO_NEW_FOLDER:
        if (auto* w = findDialog(replies::kVideoSource))
            platform::sendMessage(w, platform::WM_VIDEO_LIST_REPLY, 1, 0);
        return;
    case proto::CMD_POWER:
        onPowerReply(r);
        return;
    case proto::CMD_USART_DATA: {
        if (r.size < 1 || r.size > 1023)
            return;
        auto record = std::make_unique<replies::UsartRecord>();
        std::copy_n(r.payload, r.size, record->data.begin());
        record->count = uint16_t(r.size);
        sendHeapRecord(findDialog(replies::kUsart), platform::WM_USART_DATA_REPLY, 0, std::move(record));
        return;
    }
    case proto::CMD_LAYOUT:
        if (onLayoutReply)
            onLayoutReply(r);
        return;
    case proto::CMD_MATERIAL:
        if (onMaterialReply)
            onMaterialReply(r);
        return;
    case proto::CMD_CONFIG_FILE:
        if (onConfigFileReply)
            onConfigFileReply(r);
        return;
    case proto::CMD_QRCODE:
        onQrCodeReply(r);
        return;
    case proto::CMD_ROTATE_CONFIG:
        if (auto* w = replies::FindDialogNoCase(titlePrefix_, language_, replies::kRotate))
            platform::sendMessage(w, platform::WM_ROTATE_REPLY, 0, 0);
        return;
    case proto::CMD_GAME:
        sendPayloadTo(replies::kGame, platform::WM_GAME_REPLY, r);
        return;
    case proto::CMD_VIDEO_CONTROL:
        sendPayloadTo(replies::kVideoControl, platform::WM_VIDEO_CONTROL_REPLY, r);
        return;
    case proto::CMD_LIDAR:
        sendPayloadTo(replies::LidarPageFor(r.header.param), platform::WM_LIDAR_REPLY, r, false);
        return;
    case proto::CMD_GALLERY:
        sendPayloadTo(replies::kGallery, platform::WM_GALLERY_REPLY, r);
        return;
    case proto::CMD_MOBILE_SETTINGS:
        sendPayloadTo(replies::kMobile, platform::WM_MOBILE_SETTINGS_REPLY, r);
        return;
    case proto::CMD_PICTURE_PLAY:
        // The video play modes are uploaded with 6 at 8 and 2 at 10: their
        // confirmation goes to the video editor as operation 2 (the u16 at 10).
        if (r.header.param == 6) {
            if (auto* w = findDialog(replies::kVideoPlay)) {
                const QByteArray payload = r.bytes();
                platform::sendMessage(w, platform::WM_VIDEO_PLAY_REPLY, r.header.arg, LPARAM(&payload));
            }
            return;
        }
        sendPayloadTo(replies::kPicturePlay, platform::WM_PICTURE_PLAY_REPLY, r);
        return;
    default:
        // 7, 8, 9, 10, 14, 24..27, 32, 37, 39, 40, 43..46, 48, 49, 55: no handler.
        return;
    }
}

void CvelunaDoc::onHandshakeReply(const PlayerReply& r)
{
    // Only the current player's link answers for the current player; another
    // player's answer (a batch target, a late reply of an earlier choice)
    // must not connect it or take its folder.
    if (!IsFromCurrentPlayer(r))
        return;
    currentPlayer_.version = r.header.param;
    currentPlayer_.channelCode = r.header.subCode;
    currentPlayer_.fpgaVersion = uint16_t(r.header.arg & 0xFF);
    product_ = uint8_t((r.header.param & 15) + 1);

    if ((r.header.arg >> 8) != 1) {
        showMessage(QStringLiteral("Please confirm that the player is Android version"),
                    QStringLiteral("请确认播放器是否为安卓版本"), int(MsgIcon::Information));
        return;
    }
    if (!playerinfo::IsKnownChannelCode(currentPlayer_.channelCode)) {
        connected_ = {0, 0, 0};
        return;
    }
    connected_ = {1, 1, 1};
    layoutBusy_ = 0;
    loadStateOnFetch_ = 0;
    if (r.size != 5 && r.size != 25) {
        connected_ = {0, 0, 0};
        showMessage(QStringLiteral("Please check the player version number"), QStringLiteral("请检查播放器协议版本号"),
                    int(MsgIcon::Information));
        return;
    }
    QString buildText;
    if (r.size == 25) {
        // Bytes 6..24: the build date as plain characters.
        buildText = QStringLiteral("Built: ");
        for (uint32_t i = 6; i < 25; ++i)
            buildText += QChar(ushort(r.payload[i]));
    }
    const playerinfo::PlayerInfoText info =
        playerinfo::BuildPlayerInfoText(language_, currentPlayer_.ip, currentPlayer_.version, buildText,
                                        currentPlayer_.fpgaVersion, currentPlayer_.channelCode, product_);
    if (info.titlePrefix != 0)
        SetTitlePrefix(info.titlePrefix > 0);
    playerInfoText_ = info.text;
    if (setStatusPaneText)
        setStatusPaneText(kPlayerInfoPane, info.text);
    showMessage(QStringLiteral("Connected\t\t"), QStringLiteral("连接正常\t\t\t"), int(MsgIcon::Information));

    // The parts become one folder name: nothing in them may lead elsewhere.
    auto safe = [](const QString& part) {
        QString out;
        for (QChar ch : part) {
            const bool ok = (ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) ||
                            (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z')) ||
                            (ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) || ch == QLatin1Char('.');
            out += ok ? ch : QLatin1Char('_');
        }
        return out == QLatin1String("..") || out == QLatin1String(".") ? QStringLiteral("_") : out;
    };
    playerFolder_ = platform::homePath(safe(currentPlayer_.ip) + QLatin1Char('-') + safe(currentPlayer_.mac) +
                                       QLatin1Char('-') + safe(currentPlayer_.portText));
    platform::ensureFolder(playerFolder_);
    if (startGridFetch)
        startGridFetch();
}

void CvelunaDoc::onParamFileReply(const PlayerReply& r)
{
    switch (r.header.param) {
    case 0:
        if (onWatermarkReply)
            onWatermarkReply(r);
        return;
    case 2:
    case 3:
        if (auto* w = findDialog(replies::kParamFile))
            platform::sendMessage(w, platform::WM_PARAM_FILE_REPLY, 0, LPARAM(r.assembler));
        return;
    case 5:
        if (r.size == 0) {
            platform::messageBox(text("Play time has been set！", "播放时间设置完成！"));
        } else if (r.size >= 4) {
            if (auto* w = findDialog(replies::kVideoSource))
                platform::sendMessage(w, platform::WM_VIDEO_LIST_REPLY, 2, LPARAM(proto::getU32(r.payload)));
        }
        return;
    case 6:
        // wParam: the operation the dialog acts on (0 effect catalogue,
        // 1 configured modes, 2 upload confirmed), the u16 at 10; the kind
        // at 8 is always 6 here.
        if (auto* w = findDialog(replies::kVideoPlay)) {
            const QByteArray payload = r.bytes();
            platform::sendMessage(w, platform::WM_VIDEO_PLAY_REPLY, r.header.arg, LPARAM(&payload));
        }
        return;
    default:
        return;
    }
}

void CvelunaDoc::onStatusReply(const PlayerReply& r)
{
    if (r.size != kOutputBlockSize)
        return;
    std::copy_n(r.payload, kOutputBlockSize, outputBlock_.begin());
    if (onScreensChanged)
        onScreensChanged(outputBlock_);
    layoutTransfer_->RequestLayoutList();
}

void CvelunaDoc::onVideoListReply(const PlayerReply& r)
{
    if (r.size != PlayerCatalog::kSize)
        return;
    platform::MessageWindow* window = findDialog(replies::kVideoSource);
    if (!window)
        window = findDialog(replies::kVideoControl);
    if (window && window->handles(platform::WM_VIDEO_LIST_REPLY)) {
        auto catalog = std::make_unique<PlayerCatalog>();
        if (catalog->unpack(r.payload, r.size))
            sendHeapRecord(window, platform::WM_VIDEO_LIST_REPLY, 0, std::move(catalog));
    }
    sendTrackbarValues(1, r.header.subCode, r.header.param, r.header.arg);
}

void CvelunaDoc::onCascadeQueryReply(const PlayerReply& r)
{
    if (r.size != 4u * r.header.param)
        return;
    auto record = std::make_unique<replies::CascadeRecord>();
    record->mode = r.header.subCode == 1 ? 1 : r.header.subCode == 2 ? 2 : 0;
    record->count = uint8_t(std::min<unsigned>(r.header.param & 0xFF, 20));
    std::copy_n(r.payload, 4u * record->count, record->addresses.begin());
    sendHeapRecord(findDialog(replies::kCascade), platform::WM_CASCADE_REPLY, 0, std::move(record));
}

void CvelunaDoc::onVideoPicWindowReply(const PlayerReply& r)
{
    const uint8_t sub = r.header.subCode;
    if (sub & 0x80) {
        if (auto* w = findDialog(replies::kVideoPicWindow))
            platform::sendMessage(w, platform::WM_VIDEO_PIC_WINDOW_REPLY, 0, 0);
    } else if (sub & 0x40) {
        if (currentPlayer_.version < 0x1500)
            showMessage(QStringLiteral("Video Picture setup completed"), QStringLiteral("视频图片开窗设置完成"),
                        int(MsgIcon::Information));
        // The upload reads the player's folder: only for the connected
        // current player.
        else if (uploadConfigFile && IsConnected() && IsFromCurrentPlayer(r) && !playerFolder_.isEmpty())
            uploadConfigFile(5);
    }
}

void CvelunaDoc::onPowerReply(const PlayerReply& r)
{
    if (r.header.arg == 1) {
        if (r.size == 11 || r.size == 15) {
            auto record = std::make_unique<replies::PowerRecord>();
            std::copy_n(r.payload, r.size, record->bytes.begin());
            sendHeapRecord(findDialog(replies::kPower), platform::WM_POWER_REPLY, 0, std::move(record));
        } else {
            showMessage(QStringLiteral("Timing on / off parameter setting completed"),
                        QStringLiteral("定时开、关机参数设置完成"), int(MsgIcon::Information));
        }
        return;
    }
    if (r.header.param == 1)
        showMessage(QStringLiteral("PowerOn"), QStringLiteral("开机"), int(MsgIcon::Information));
    else if (r.header.param == 0)
        showMessage(QStringLiteral("PowerOff"), QStringLiteral("关机"), int(MsgIcon::Information));
}

void CvelunaDoc::onQrCodeReply(const PlayerReply& r)
{
    if (r.header.param == 0) {
        if (auto* w = findDialog(replies::kQrCode)) {
            const QByteArray payload = r.bytes();
            platform::sendMessage(w, platform::WM_QRCODE_REPLY, 0, LPARAM(&payload));
        }
        return;
    }
    if (r.header.param != 1)
        return;
    if (r.size == 0) {
        platform::messageBox(text("‘Please check the network connection!", "播放器联网，再试！"));
        return;
    }
    platform::FileDialogCall call;
    call.kind = platform::FileDialogKind::Save;
    call.caption = text("Save As QR Code file", "另存二维码图片");
    call.folder = platform::homeFolder();
    call.fileName = text("QR Code", "二维码");
    call.filter = text("QR Code file(*.JPG)|*.JPG||", "二维码图片文件(*.JPG)|*.JPG||");
    call.defaultSuffix = QStringLiteral("JPG");
    const QString path = platform::fileDialog(call);
    if (path.isEmpty())
        return;
    const QByteArray picture = r.bytes();
    QString error;
    if (!filecommit::replaceFile(path, picture, &error)) {
        filecommit::showCannotWrite(language_, path, error);
        return;
    }
    platform::messageBox(text("QR Code picture saving completed！", "二维码图片保存完成！"));
}

void CvelunaDoc::onNetworkParamReply(const PlayerReply& r)
{
    if (r.size == 0) {
        showMessage(QStringLiteral("System network changes completed"), QStringLiteral("播放器网络参数设置完成"),
                    int(MsgIcon::Information));
        return;
    }
    if (r.size < replies::NetworkParamRecord::kPayloadSize)
        return;
    auto record = std::make_unique<replies::NetworkParamRecord>();
    const uint8_t* p = r.payload;
    std::copy_n(p, 4, record->ip.begin());
    std::copy_n(p + 4, 4, record->mask.begin());
    std::copy_n(p + 8, 4, record->gateway.begin());
    std::copy_n(p + 12, 4, record->dns.begin());
    std::copy_n(p + 16, 6, record->mac.begin());
    record->port = proto::getU16(p + 22);
    sendHeapRecord(findDialog(replies::kNetworkParam), platform::WM_NETWORK_PARAM_REPLY, 0, std::move(record));
}
