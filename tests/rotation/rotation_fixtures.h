#pragma once
// Walls built the way the operator builds them, for the rotation tests.

#include "rotation/rotate_model.h"

#include <vector>

namespace rotest {

inline rotation::OutputDevice device(const char* maker, const char* model, double w, double h, double bezel = 10)
{
    rotation::OutputDevice d;
    d.Manufacturer = QString::fromUtf8(maker);
    d.Model = QString::fromUtf8(model);
    d.ScreenWidth = w;
    d.ScreenHeight = h;
    d.BezelLeft = d.BezelRight = d.BezelTop = d.BezelBottom = bezel;
    d.ResolutionWidth = 1920;
    d.ResolutionHeight = 1080;
    d.RefreshRate = 60;
    return d;
}

// A model whose clock the test moves (microseconds), with every transmitted
// document recorded as (channel, click).
struct Bench {
    rotation::RotateModel m;
    int64_t clock = 1'000'000;
    std::vector<std::pair<uint16_t, bool>> sent;
    bool sendOk = true;

    explicit Bench(uint16_t channelCode = 9)
    {
        m.clockMicros = [this] { return clock; };
        m.transmit = [this](uint16_t ch, bool click) {
            if (!sendOk)
                return false;
            sent.emplace_back(ch, click);
            return true;
        };
        m.ChannelCode = channelCode;
        m.UpdateChannelCount();
        m.CanvasRect = {0, 0, 1000, 800};
    }
    // Puts `d` into slot `slot` of screen `screen` and lays the wall out.
    void place(const std::vector<int>& slot, const rotation::OutputDevice& d, int screen = 0)
    {
        m.CurrentMonitor = d;
        for (int k : slot)
            m.ToggleSlot(screen, k);
    }
    rotation::WallOutput& out(int k) { return m.walls[0].outputs[std::size_t(k)]; }
    void reply() { m.OnRotateReply(); }
};

}  // namespace rotest
