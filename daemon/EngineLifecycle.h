#pragma once

// The application's hold on its audio engine: the first start, a restart
// that carries the selected output over to a fresh engine, and shutdown. The
// application class only forwards here, so tests run restarts directly.

#include "MainAudioProcessor.h"

#include <functional>
#include <memory>

namespace veltro::daemon
{

class EngineLifecycle
{
public:
    static constexpr int kRestartPauseMs = 100;

    using EngineFactory = std::function<std::unique_ptr<MainAudioProcessor>()>;
    explicit EngineLifecycle (EngineFactory factory);

    // First start: an engine, and with nothing remembered yet the first known
    // device, so the first plug-in is heard without waiting for a device change.
    void start();

    // The old engine goes (its destructor stops audio and timer and releases
    // the block), 100 ms pass on this thread, a new engine comes and is asked
    // for the device the old one had selected. A name it does not list
    // leaves the new engine's own choice.
    void restart();

    void shutdown() { engine = nullptr; }

    MainAudioProcessor* getEngine() const noexcept { return engine.get(); }

private:
    EngineFactory makeEngine;
    std::unique_ptr<MainAudioProcessor> engine;
};

} // namespace veltro::daemon
