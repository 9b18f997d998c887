// Message-thread cost of the editor: the 10 ms timer tick (which refreshes on
// every tenth tick), a refresh on its own, a forced rebuild of the face, and
// painting the whole window.

#include "HostIds.h"
#include "MillisecondClock.h"
#include "PluginEditor.h"
#include "PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <memory>
#include <unistd.h>

// The editor's friend: reaches the private timer callback.
struct EditorTestAccess
{
    static void tick (PluginAudioProcessorEditor& e) { e.timerCallback(); }
};

namespace
{

using namespace veltro;

struct Rig
{
    explicit Rig (int hostId, bool settings)
    {
        static int counter = 0;
        const auto suffix = std::to_string (getpid()) + "_b" + std::to_string (++counter);
        processor = std::make_unique<PluginAudioProcessor> (ChannelNames { "/VeltroBench_SHM_" + suffix, "/VeltroBench_SEM_" + suffix });
        processor->setHostTypeForTesting (hostId);
        processor->prepareToPlay (48000.0, 512);
        processor->settingsVisible = settings;
        processor->warningCounter = 1;
        processor->forceLinkStateForTesting (plugin_status_enum::active, SharedMemory::tactora, true, 120);
        stamp();
        editor = std::make_unique<PluginAudioProcessorEditor> (*processor);
    }

    void stamp() { processor->lastProcessBlockTimeMs = millisecondClock(); }

    std::unique_ptr<PluginAudioProcessor> processor;
    std::unique_ptr<PluginAudioProcessorEditor> editor;
};

const int kHosts[] = { HostId::UnknownHost, HostId::AbletonLive11, HostId::AppleLogic };

// Ten ticks as the timer runs them: nine tempo updates and one refresh.
void TimerTick (benchmark::State& state)
{
    Rig rig (kHosts[state.range (0)], state.range (1) != 0);
    const bool tempoMoves = state.range (2) != 0;
    int tempo = 120;
    for (auto _ : state)
    {
        if (tempoMoves)
            rig.processor->forceLinkStateForTesting (plugin_status_enum::active, SharedMemory::tactora, true, tempo = (tempo == 120 ? 121 : 120));
        EditorTestAccess::tick (*rig.editor);
    }
    state.SetLabel (std::string (state.range (1) ? "settings" : "normal") + (tempoMoves ? ", tempo changing" : ", tempo steady"));
}
BENCHMARK (TimerTick)->ArgsProduct ({ { 0, 1, 2 }, { 0, 1 }, { 0, 1 } })->Unit (benchmark::kMicrosecond);

// The refresh alone, with nothing changed (the usual case) and with the play light toggling.
void FullRefresh (benchmark::State& state)
{
    Rig rig (kHosts[state.range (0)], state.range (1) != 0);
    const bool lightToggles = state.range (2) != 0;
    bool playing = true;
    for (auto _ : state)
    {
        if (lightToggles)
            rig.processor->forceLinkStateForTesting (plugin_status_enum::active, SharedMemory::tactora, playing = ! playing, 120);
        rig.editor->updateUI (false);
    }
    state.SetLabel (std::string (state.range (1) ? "settings" : "normal") + (lightToggles ? ", light toggling" : ", steady"));
}
BENCHMARK (FullRefresh)->ArgsProduct ({ { 0, 1, 2 }, { 0, 1 }, { 0, 1 } })->Unit (benchmark::kMicrosecond);

// A face change on every refresh: connected and "no device" in turn.
void FaceRebuild (benchmark::State& state)
{
    Rig rig (kHosts[state.range (0)], true);
    bool connected = true;
    for (auto _ : state)
    {
        connected = ! connected;
        rig.processor->forceLinkStateForTesting (connected ? plugin_status_enum::active : plugin_status_enum::noDevice,
                                                 SharedMemory::tactora, true, 120);
        rig.editor->updateUI (false);
    }
}
BENCHMARK (FaceRebuild)->DenseRange (0, 2)->Unit (benchmark::kMicrosecond);

// Drawing the whole window (what a repaint costs when a face changes).
void PaintWholeWindow (benchmark::State& state)
{
    Rig rig (HostId::AppleLogic, state.range (0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize (rig.editor->createComponentSnapshot (rig.editor->getLocalBounds()));
    state.SetLabel (state.range (0) ? "settings" : "normal");
}
BENCHMARK (PaintWholeWindow)->DenseRange (0, 1)->Unit (benchmark::kMicrosecond);

} // namespace
