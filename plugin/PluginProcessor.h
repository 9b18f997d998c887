#pragma once

// The plug-in's audio processor: reads the host's playhead every block, lets
// the encoder write sync codes and hands them to the daemon's FIFO. It makes no
// sound of its own. Thin glue: the logic lives in SyncEncoder, ChannelClient
// and LatencyModel.

#include "ChannelClient.h"
#include "LatencyModel.h"
#include "PluginState.h"
#include "SyncEncoder.h"

#include <juce_audio_processors/juce_audio_processors.h>

class PluginAudioProcessor : public juce::AudioProcessor, private juce::Timer
{
public:
    static constexpr int kRetryPeriodMs = 500;
    static constexpr int kTimerPeriodMs = 100;
    static constexpr int kTicksPerRetry = kRetryPeriodMs / kTimerPeriodMs;

    PluginAudioProcessor();
    // Tests open their own channel so they never disturb a running daemon.
    explicit PluginAudioProcessor (veltro::ChannelNames channelNames);
    ~PluginAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    void processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;
    using juce::AudioProcessor::processBlockBypassed;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int) override;
    const juce::String getProgramName (int) override;
    void changeProgramName (int, const juce::String&) override;
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    // Recomputes syncDelay and the reported latency from the settings.
    void updateDelaysFromLatency();

    // ---- read by the editor (relaxed values; no lock) ----
    int getPluginStatus() const noexcept { return shownOr (statusForTesting, channel.getPluginStatus()); }
    int getDeviceType() const noexcept { return shownOr (deviceTypeForTesting, channel.getDeviceType()); }
    bool getIsPlaying() const noexcept { return shownOr (playingForTesting, encoder.getIsPlaying() ? 1 : 0) != 0; }
    int getDisplayTempo() const noexcept { return shownOr (tempoForTesting, encoder.getDisplayTempo()); }
    int getHostType() const noexcept { return hostType; }

    veltro::RelaxedValue<int64_t> lastProcessBlockTimeMs { 0 };
    veltro::RelaxedValue<double> currentSampleRate { 44100.0 };
    veltro::RelaxedValue<int> maxBlockSize { 256 };
    veltro::RelaxedValue<int> currentBlockSize { 256 };
    veltro::RelaxedValue<int> rateDivider { 1 };
    veltro::RelaxedValue<int> reportedLatencyMs { 20 };
    veltro::RelaxedValue<int> warningCounter { 0 };

    // The four persistent settings.
    veltro::RelaxedValue<double> latencyCompensationSeconds { 0.0 };
    veltro::RelaxedValue<int> bufferSizeSetting { 256 };
    veltro::RelaxedValue<bool> usingLargeLatencyPlugins { false };
    veltro::RelaxedValue<bool> settingsVisible { false };

    // ---- for tests and benchmarks ----
    const veltro::SyncEncoder& getEncoder() const noexcept { return encoder; }
    veltro::ChannelClient& getChannel() noexcept { return channel; }
    int getSampleRemainder() const noexcept { return sampleRemainder; }
    void setHostTypeForTesting (int hostId) noexcept;

    // Editor tests and benchmarks show any link state (values the channel never
    // reports included) without a daemon. kNotForced hands back to the channel.
    static constexpr int kNotForced = INT32_MIN;
    void forceLinkStateForTesting (int status, int deviceType, bool playing, int tempo) noexcept
    {
        statusForTesting = status;
        deviceTypeForTesting = deviceType;
        playingForTesting = playing ? 1 : 0;
        tempoForTesting = tempo;
    }
    // One retry period's worth of timer ticks.
    void runTimerTickForTesting()
    {
        for (int i = 0; i < kTicksPerRetry; ++i)
            timerCallback();
    }

private:
    void timerCallback() override;
    void reportPendingLatency();
    void clearOutput (juce::AudioBuffer<float>& buffer) const noexcept;
    void watchBlockLength (int hostSamples) noexcept;
    veltro::Announcement makeAnnouncement() const noexcept;
    static veltro::HostTimeline readTimeline (const juce::AudioPlayHead::PositionInfo& info) noexcept;
    void applySettings (const veltro::PluginSettings& settings);

    static int shownOr (const veltro::RelaxedValue<int>& forced, int actual) noexcept
    {
        const int f = forced.load();
        return f == kNotForced ? actual : f;
    }

    veltro::RelaxedValue<int> statusForTesting { kNotForced };
    veltro::RelaxedValue<int> deviceTypeForTesting { kNotForced };
    veltro::RelaxedValue<int> playingForTesting { kNotForced };
    veltro::RelaxedValue<int> tempoForTesting { kNotForced };

    veltro::ChannelClient channel;
    veltro::SyncEncoder encoder;
    int hostType = 0;
    int sampleRemainder = 0;
    int timerTicks = 0;
    veltro::RelaxedValue<int> latencyComputed { 0 };
    veltro::RelaxedValue<int> pendingLatencySamples { -1 };
    int blockSizeMismatchCount = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginAudioProcessor)
};
