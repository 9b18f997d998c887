#pragma once

// One run of veltro-host: load the bundle, inspect it, send settings, play the
// scripted transport through it with an optional daemon stand-in, report.
// run() works on its own thread, which acts as the host's audio thread; calls
// the VST3 rules keep on the UI thread are handed to the message thread,
// which the caller keeps dispatching.

#include "DaemonStandIn.h"
#include "HostOptions.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <memory>
#include <ostream>

namespace veltro
{

class HostSession
{
public:
    enum exit_code_enum : int
    {
        succeeded = 0,
        badCommandLine = 1,
        pluginNotLoaded = 2,
        standInFailed = 3,
        checkFailed = 4,
    };

    HostSession (HostOptions options, std::ostream& out, std::ostream& err);
    ~HostSession();

    int run();

    // Async-signal-safe: ends a --hold run (or any run) after the current block.
    static void requestStop() noexcept;

private:
    using Instance = std::unique_ptr<juce::AudioPluginInstance>;

    bool locateBundle();
    bool scan();
    void printDescription() const;
    bool startStandIn();
    Instance createInstance();
    void destroyInstance (Instance& instance);
    void printBuses (juce::AudioPluginInstance& instance);
    void prepare (juce::AudioPluginInstance& instance);
    bool sendState (juce::AudioPluginInstance& instance, const juce::MemoryBlock& hostState, const char* label);
    std::optional<std::vector<uint8_t>> readOwnState (juce::AudioPluginInstance& instance, juce::MemoryBlock& hostState);
    int waitForLatencyChange (juce::AudioPluginInstance& instance, int before, bool& changed);
    bool runStateRoundTrip (juce::AudioPluginInstance& instance);
    void runTransport (juce::AudioPluginInstance& instance);
    void printChannel (const char* prefix) const;

    HostOptions options;
    std::ostream& out;
    std::ostream& err;

    juce::File bundle;
    juce::File privateCopyDir;
    juce::VST3PluginFormat format;
    std::unique_ptr<juce::PluginDescription> description;
    std::unique_ptr<DaemonStandIn> standIn;

    static std::atomic<bool> stopFlag;
};

} // namespace veltro
