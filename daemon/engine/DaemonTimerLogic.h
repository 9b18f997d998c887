#pragma once

// The 300 ms timer's decision, from the daemon state, whether an output is
// open and the plug-in's channel state. Values outside the protocol (a rogue
// writer) fall through to "nothing".

#include "SharedMemory.h"

#include <cstdint>

namespace veltro::daemon
{

enum class TimerAction
{
    nothing,
    setUpOutput,
    closeOutput,
    markOutputLost, // daemonState 2: playout stops until the output is set up again
    resumePlayout,
};

inline constexpr TimerAction decideTimerAction (int32_t daemonState, bool outputOpen, int32_t pluginEnabled) noexcept
{
    using M = SharedMemory;
    const bool announced = pluginEnabled == M::channelAnnounced;
    const bool free = pluginEnabled == M::channelFree;

    switch (daemonState)
    {
        case M::daemonIdle:
            if (announced) return TimerAction::setUpOutput;
            if (outputOpen && free) return TimerAction::closeOutput;
            return TimerAction::nothing;

        case M::daemonRunning:
            if (! outputOpen) return TimerAction::markOutputLost;
            if (announced) return TimerAction::setUpOutput;
            if (free) return TimerAction::closeOutput;
            return TimerAction::nothing;

        case M::daemonSettingUp:
            if (outputOpen) return TimerAction::resumePlayout;
            if (free) return TimerAction::closeOutput;
            return TimerAction::nothing;

        case M::daemonShutDown:
            if (outputOpen && free) return TimerAction::closeOutput;
            return TimerAction::nothing;

        default:
            return TimerAction::nothing;
    }
}

} // namespace veltro::daemon
