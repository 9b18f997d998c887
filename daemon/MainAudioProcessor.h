#pragma once

// The daemon's audio engine: creates the shared block, opens the device's
// output when a plug-in announces itself, plays the FIFO from the audio
// callback and closes the output when no plug-in is left. The playout logic
// itself is PlayoutEngine; this class is the framework glue around it.

#include "AudioAndMIDIHandler.h"
#include "DaemonTimerLogic.h"
#include "PlayoutEngine.h"
#include "SharedMemoryHandler.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_events/juce_events.h>

#include <functional>

namespace veltro::daemon
{

class MainAudioProcessor : public juce::AudioSource, private juce::Timer
{
public:
    static constexpr int kTimerMs = 300;

    struct Options
    {
        ChannelNames names;                                   // tests use their own
        AudioAndMIDIHandler::SystemSeams system;              // tests: virtual devices of their own
        std::function<void()> requestQuit;                    // default: the application's systemRequestedQuit
        bool ticksDrivenByCaller = false;                     // tests: only runTimerOnce ticks
    };

    MainAudioProcessor (DesktopNotifier& notifier, Options options);
    ~MainAudioProcessor() override;

    void prepareToPlay (int, double) override {}
    // The output stopped. When we did not close it ourselves it was lost:
    // playout stops at once, and the next tick handles the loss even if the
    // output is already open again: a device that went away and came back
    // between two ticks must be identified anew.
    void releaseResources() override;
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    // Runs one timer tick now (tests).
    void runTimerOnce() { timerCallback(); }

    SharedMemoryHandler sharedMemory;
    AudioAndMIDIHandler deviceHandler;
    PlayoutEngine playout;
    RelaxedValue<bool> dawConnected { false };

private:
    void timerCallback() override;
    void setUpOutput (SharedMemory& m);
    void closeOutput (SharedMemory& m);
    void quitOnLockError();
    void scheduleNextTick();

    std::function<void()> requestQuit;
    bool ticksDrivenByCaller = false;
    bool hadAudioDevice = false;
    RelaxedValue<bool> closingOutputOurselves { false };
    RelaxedValue<bool> outputLostSinceLastTick { false };
};

} // namespace veltro::daemon
