#pragma once
// The record that comes with WM_USART_DATA_REPLY: the bytes the player read
// from its serial port (a CMD_USART_DATA reply's payload, 1 to 1,023 bytes,
// the rest zero). Made on the heap by the dispatcher, freed by the window
// that receives it.

#include <array>
#include <cstdint>

namespace tollivar {

struct UsartDataRecord {
    static constexpr int kCapacity = 1024;
    std::array<uint8_t, kCapacity> data{};
    uint16_t count = 0;
};

}  // namespace tollivar
