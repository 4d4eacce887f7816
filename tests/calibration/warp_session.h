#pragma once
// What every end-to-end warp wizard test starts from: a fresh home folder,
// message boxes answered Yes, the English interface, veluna's title and the
// calibration feature installed, and players that report a warp product.

#include "calibration/calibration_feature.h"
#include "platform/app_identity.h"
#include "player/player_sim.h"
#include "tests/support/test_support.h"

namespace warptest {

inline const QString kTitle = QStringLiteral("veluna V9.1.5");

struct Session {
    testsupport::TempHome home;
    testsupport::MessageBoxRecorder boxes{platform::MsgResult::Yes};
    testsupport::ScopedLanguage language{9};

    Session()
    {
        platform::setAppTitle(kTitle);
        InstallCalibrationFeature();
    }
};

// A player at `address` reporting version 0x2600 (low nibble 0: product 1)
// and the given channel-layout code.
inline sim::SimOptions WarpPlayer(const QString& address, uint8_t channelCode)
{
    sim::SimOptions o;
    o.address = address;
    o.version = 0x2600;
    o.channelCode = channelCode;
    return o;
}

}  // namespace warptest
