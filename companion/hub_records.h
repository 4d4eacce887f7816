#pragma once
// What Tollivar's reply dispatcher hands to its feature windows, and the
// captions by which it finds them. Heap records belong to the receiving
// window from the moment the message is sent; it deletes them.

#include "platform/home.h"

#include <array>
#include <cstdint>

namespace tollivar {

// WM_TRACKBAR_VALUES_REPLY: the reply's sub-code and its two parameters.
struct ReplyStatusRecord {
    uint16_t subCode = 0;
    uint16_t param = 0;  // header offset 8
    uint16_t arg = 0;    // header offset 10
};

// WM_CASCADE_REPLY: the cascade role and the addresses of the other players.
struct CascadeListRecord {
    static constexpr int kMaxItems = 20;
    uint8_t mode = 0;   // 1 or 2 from the reply's sub-code, else 0 (independent)
    uint8_t count = 0;  // at most kMaxItems
    std::array<uint8_t, 100> items{};  // count items of 4 bytes
};

// WM_USART_DATA_REPLY: bytes the player read on its serial port.
struct UsartDataRecord {
    static constexpr int kCapacity = 1024;
    std::array<uint8_t, kCapacity> data{};
    uint16_t count = 0;
};

// A caption windows are found by, in both languages.
struct Caption {
    const char* english;
    const char* chinese;
    QString text(unsigned language) const { return platform::pickText(language, english, chinese); }
};
inline constexpr Caption kSetParamCaption{"Set Param", "设置参数"};
inline constexpr Caption kBatchSendCaption{"Batch Send", "批量发送"};
inline constexpr Caption kSetupUartCaption{"Setup UART", "串口设置"};
// Found with the caption prefix in front.
inline constexpr Caption kVideoControlCaption{"Video Control", "视频控制"};
// The same in both languages.
inline constexpr Caption kOsdCaption{"OSD", "OSD"};

}  // namespace tollivar
