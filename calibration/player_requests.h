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

}  // namespace calib
