#pragma once
// A stand-in for the warp wizard around the blending and colour pages: the
// window the document tells of replies to commands 4 and 12, routing each
// to whichever page has a request outstanding.

#include "calibration/bland_color.h"
#include "calibration/blanding.h"
#include "core/reply_handlers.h"
#include "platform/messages.h"
#include "platform/window.h"

#include <memory>

namespace blendtest {

struct WizardStandIn {
    WizardStandIn(const QString& prefix, CBlanding* blend, CBlandColor* colour)
        : window(prefix + QString::fromUtf8(replies::kBlendWizard.english))
    {
        window.onMessage(platform::WM_BLEND_WIZARD_REPLY, [this, blend, colour](platform::WPARAM, platform::LPARAM l) {
            const std::unique_ptr<uint16_t> value(reinterpret_cast<uint16_t*>(l));
            values.push_back(*value);
            const uint8_t code = uint8_t(*value >> 8), status = uint8_t(*value & 0xFF);
            if (blend && (blend->HasRequestOutstanding() || code == 0))
                blend->OnBlendReply(code, status);
            else if (colour && colour->HasRequestOutstanding())
                colour->OnColourReply();
            return platform::LRESULT(0);
        });
    }
    platform::MessageWindow window;
    std::vector<uint16_t> values;
};

}  // namespace blendtest
