#pragma once
// Records that the document's reply handlers hand to the dialogs with their
// WM_USER+n messages, and the captions the dialogs are found by.
//
// Ownership: a record sent as a pointer in lParam ("heap record") is created
// with `new` by the document and becomes the receiving dialog's, which frees
// it with `delete` of the same type. The document sends a heap record only to
// a window that handles that message, so nothing is left unfreed. Call-scoped
// data (const QByteArray* / const QString* / const ReplyAssembler*) belongs to
// the document and is valid only during the synchronous sendMessage.

#include "platform/window.h"

#include <QString>

#include <array>
#include <cstdint>

namespace replies {

// WM_TEMPERATURE_REPLY: the player's address and its three temperatures.
struct TemperatureRecord {
    QString playerIp;
    uint8_t t1 = 0, t2 = 0, t3 = 0;
};

// WM_OUTPUT_MODE_REPLY: the 18-byte payload.
struct OutputModeRecord {
    std::array<uint8_t, 18> bytes{};
};

// WM_CASCADE_REPLY: 102 bytes.
struct CascadeRecord {
    uint8_t mode = 0;   // 1 or 2 from the reply's sub-code, else 0
    uint8_t count = 0;  // at most 20
    std::array<uint8_t, 100> addresses{};  // 4 bytes per address
};

// WM_TRACKBAR_VALUES_REPLY: three slider values.
struct TrackbarRecord {
    uint16_t subCode = 0, param = 0, arg = 0;
};

// WM_UPGRADE_REPLY: 6 bytes.
struct UpgradeRecord {
    uint8_t code = 0, subCode = 0;
    uint16_t param = 0, arg = 0;
};

// WM_USART_DATA_REPLY: 1,026 bytes.
struct UsartRecord {
    std::array<uint8_t, 1024> data{};
    uint16_t count = 0;
};

// WM_NETWORK_PARAM_REPLY: 26 bytes, in payload order; port widened.
struct NetworkParamRecord {
    std::array<uint8_t, 4> ip{}, mask{}, gateway{}, dns{};
    std::array<uint8_t, 6> mac{};
    uint32_t port = 0;
    static constexpr std::size_t kPayloadSize = 24;
};

// WM_POWER_REPLY: the payload zero-filled to 15 bytes.
struct PowerRecord {
    std::array<uint8_t, 15> bytes{};
};

// WM_BLEND_WIZARD_REPLY carries a heap uint16_t; WM_VIDEO_LIST_REPLY with
// wParam 0 a heap PlayerCatalog.

// A dialog's caption in both languages.
struct Caption {
    const char* english;
    const char* chinese;
};

inline constexpr Caption kBlendWizard{"Edge blending wizard", "融合带校正向导"};
inline constexpr Caption kTemperature{"Get Temperature", "查询温度"};
inline constexpr Caption kOutputMode{"Output Resolution Setting", "输出分辨率设置"};
inline constexpr Caption kVideoSource{"Video Source Settings", "视频源设置"};
inline constexpr Caption kVideoControl{"Video Control", "视频控制"};
inline constexpr Caption kProductInfo{"Get Product Information", "查询产品信息"};
inline constexpr Caption kCascade{"Cascading Settings", "级联设置"};
inline constexpr Caption kVideoPicWindow{"Video Picture Seting", "视频图片开窗设置"};
inline constexpr Caption kUpgrade{"Update App", "更新程序"};
inline constexpr Caption kUsart{"Get USART Commands", "查询串口命令"};
inline constexpr Caption kNetworkParam{"Player Network Parameter Configuration", "播放器网络参数配置"};
inline constexpr Caption kParamFile{"Parameter Import and Export", "参数备份、恢复"};
inline constexpr Caption kPower{"Power management", "电源管理"};
inline constexpr Caption kQrCode{"QR Code", "二维码"};
inline constexpr Caption kRotate{"Rotate Set", "拼接设置"};
inline constexpr Caption kGame{"Interactive Setup", "游戏设置"};
inline constexpr Caption kGallery{"Picture Manager", "图库管理"};
inline constexpr Caption kPicturePlay{"Picture Play Control", "图片播放控制"};
inline constexpr Caption kMobile{"Cloud Settings", "手机端设置"};
inline constexpr Caption kVideoPlay{"Video Play Control", "视频播放控制"};
// Lidar pages are found without the prefix.
inline constexpr Caption kLidarSelect{"Select Radar", "选择雷达"};
inline constexpr Caption kLidarParam{"Radar Param", "雷达参数"};
inline constexpr Caption kLidarCheck{"Radar Check", "雷达校验"};

// The lidar page that answers operation `param`.
Caption LidarPageFor(uint16_t param);

// The window whose caption is prefix + the caption in the language; null
// when none is open.
platform::MessageWindow* FindDialog(const QString& prefix, unsigned language, Caption caption);
// The same, ignoring letter case: the rotation editor's caption reads
// "Rotate set" while its replies look for "Rotate Set".
platform::MessageWindow* FindDialogNoCase(const QString& prefix, unsigned language, Caption caption);

}  // namespace replies
