#pragma once
// Hands a built packet to the main window (WM_SEND_TO_PLAYER), addressed to
// the given players or, with none, to the current player.

#include "transport/records.h"

#include <QByteArray>

#include <vector>

namespace calib {

// False when the packet is too big, no main window took it, or targets
// were given and none of them is a usable address.
bool SendPacket(const QByteArray& packet, const std::vector<SendTarget>& targets = {});

// The players of a list kept one entry per cell, where a cell without a
// device has an entry with no address.
std::vector<SendTarget> DevicesOf(const std::vector<SendTarget>& byCell);

}  // namespace calib
