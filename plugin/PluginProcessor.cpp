#include "PluginProcessor.h"

#include "HostIds.h"
#include "HostTypeMapping.h"
#include "MillisecondClock.h"
#include "PluginEditor.h"

#include <cmath>

using namespace veltro;

namespace
{
    // A block or bypass marks the plug-in as idle this long ago, so the editor
    // shows it disabled at once.
    constexpr int64_t kIdleMarkMs = 350;
    constexpr int64_t kProToolsGapMs = 71;
    constexpr int kAdoptBlockLengthAfter = 10;
    constexpr int kLogicLargeBlock = 511;
    constexpr float kBitwigKeepAliveLevel = 0.00001f;
} // namespace

PluginAudioProcessor::PluginAudioProcessor() : PluginAudioProcessor (ChannelNames {}) {}

PluginAudioProcessor::PluginAudioProcessor (ChannelNames channelNames)
    : juce::AudioProcessor (BusesProperties().withOutput ("Output", juce::AudioChannelSet::stereo(), true)),
      channel (std::move (channelNames))
{
    hostType = detectHostId();
    channel.setHostType (hostType);
    channel.tryToReenablePluginInstance();

    // Once the claim has published the host as it is, Nuendo is handled as Cubase.
    hostType = HostId::mapNuendoToCubase (hostType);
    channel.setHostType (hostType);

    // The timer runs for the instance's whole life: it retries while the
    // instance is disabled (every kRetryPeriodMs), so the audio thread never
    // has to start it, and passes latency changes found on the audio thread
    // on to the host.
    startTimer (kTimerPeriodMs);
}

PluginAudioProcessor::~PluginAudioProcessor()
{
    stopTimer();
    channel.releaseChannel();
}

void PluginAudioProcessor::setHostTypeForTesting (int hostId) noexcept
{
    hostType = hostId;
    channel.setHostType (hostId);
}

const juce::String PluginAudioProcessor::getName() const { return "Veltro"; }
double PluginAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool PluginAudioProcessor::acceptsMidi() const { return true; }
bool PluginAudioProcessor::producesMidi() const { return false; }
bool PluginAudioProcessor::isMidiEffect() const { return false; }
bool PluginAudioProcessor::hasEditor() const { return true; }
juce::AudioProcessorEditor* PluginAudioProcessor::createEditor() { return new PluginAudioProcessorEditor (*this); }
int PluginAudioProcessor::getNumPrograms() { return 1; }
int PluginAudioProcessor::getCurrentProgram() { return 0; }
void PluginAudioProcessor::setCurrentProgram (int) {}
const juce::String PluginAudioProcessor::getProgramName (int) { return {}; }
void PluginAudioProcessor::changeProgramName (int, const juce::String&) {}
void PluginAudioProcessor::releaseResources() {}

bool PluginAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto out = layouts.getMainOutputChannelSet();
    return out == juce::AudioChannelSet::mono() || out == juce::AudioChannelSet::stereo();
}

Announcement PluginAudioProcessor::makeAnnouncement() const noexcept
{
    return { currentSampleRate.load(), rateDivider.load(),
             computeAnnouncedBlockSize (hostType, maxBlockSize.load(), rateDivider.load()) };
}

void PluginAudioProcessor::prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock)
{
    if (! HostId::isProTools (hostType))
        warningCounter = warningCounter + 1;

    // A host that reports nonsense still gets a working, well-formed stream.
    const double rate = std::isfinite (sampleRate) && sampleRate > 0.0 ? sampleRate : 44100.0;
    const int preparedBlockSize = maximumExpectedSamplesPerBlock > 0 ? maximumExpectedSamplesPerBlock : 256;

    currentSampleRate = rate;
    maxBlockSize = preparedBlockSize;
    currentBlockSize = preparedBlockSize;
    rateDivider = rateDividerFor (rate);

    encoder.allocate (computeSyncBufferSize (hostType, rate, rateDivider, preparedBlockSize));
    updateDelaysFromLatency();
    encoder.resetForPrepare();
    sampleRemainder = 0;

    channel.announceFromPrepare (makeAnnouncement());
    bufferSizeSetting = limitBufferSizeSetting (hostType, rateDivider, bufferSizeSetting);
}

void PluginAudioProcessor::updateDelaysFromLatency()
{
    LatencyInputs in;
    in.hostType = hostType;
    in.currentSampleRate = currentSampleRate;
    in.rateDivider = rateDivider;
    in.currentBlockSize = currentBlockSize;
    in.maxBlockSize = maxBlockSize;
    in.bufferSizeSetting = bufferSizeSetting;
    in.latencyCompensationSeconds = latencyCompensationSeconds;
    in.usingLargeLatencyPlugins = usingLargeLatencyPlugins;

    const auto result = computeLatency (in);
    encoder.setSyncDelay (result.syncDelay);
    reportedLatencyMs = result.reportedLatencyMs;

    if (result.latencySamples != latencyComputed.load())
    {
        if (HostId::isCubase (hostType))
            warningCounter = -1;

        latencyComputed = result.latencySamples;

        // Hosts expect latency changes from the message thread; one found on
        // the audio thread (the block-length watch) goes out with the next
        // timer tick instead.
        if (juce::MessageManager::existsAndIsCurrentThread())
            setLatencySamples (result.latencySamples);
        else
            pendingLatencySamples = result.latencySamples;
    }
}

void PluginAudioProcessor::reportPendingLatency()
{
    const int pending = pendingLatencySamples.load();
    if (pending >= 0)
    {
        pendingLatencySamples = -1;
        setLatencySamples (pending);
    }
}

void PluginAudioProcessor::clearOutput (juce::AudioBuffer<float>& buffer) const noexcept
{
    if (! buffer.hasBeenCleared())
        buffer.clear();
}

HostTimeline PluginAudioProcessor::readTimeline (const juce::AudioPlayHead::PositionInfo& info) noexcept
{
    HostTimeline t;
    t.isPlaying = info.getIsPlaying();
    t.bpm = info.getBpm().orFallback (0.0);
    t.ppq = info.getPpqPosition().orFallback (0.0);

    if (const auto barStart = info.getPpqPositionOfLastBarStart())
    {
        t.hasBarStart = true;
        t.barStartPpq = *barStart;
    }

    if (const auto sig = info.getTimeSignature())
    {
        t.hasTimeSignature = true;
        t.numerator = sig->numerator;
        t.denominator = sig->denominator;
    }

    t.timeInSamples = info.getTimeInSamples().orFallback (0);
    return t;
}

void PluginAudioProcessor::watchBlockLength (int hostSamples) noexcept
{
    if (HostId::isFLStudio (hostType))
        return;

    if (hostSamples == currentBlockSize)
    {
        blockSizeMismatchCount = 0;
    }
    else if ((HostId::isLogic (hostType) && hostSamples > kLogicLargeBlock) || blockSizeMismatchCount >= kAdoptBlockLengthAfter)
    {
        currentBlockSize = hostSamples;
        updateDelaysFromLatency();
    }
    else
    {
        ++blockSizeMismatchCount;
    }
}

void PluginAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;

    const auto now = millisecondClock();
    if (HostId::isProTools (hostType))
    {
        if (warningCounter < 0)
            warningCounter = 0;
        else if (now - lastProcessBlockTimeMs >= kProToolsGapMs)
            warningCounter = warningCounter + 1;
    }
    lastProcessBlockTimeMs = now;

    const int hostSamples = buffer.getNumSamples();
    const int divider = rateDivider;
    const int total = juce::jmin (hostSamples, maxBlockSize.load()) + sampleRemainder;
    const int n = total / divider;
    sampleRemainder = total % divider;

    juce::Optional<juce::AudioPlayHead::PositionInfo> info;
    if (auto* head = getPlayHead())
        info = head->getPosition();

    clearOutput (buffer);

    if (channel.isInstanceDisabled())
        return;

    watchBlockLength (hostSamples);

    if (! channel.processHandshake (encoder, currentBlockSize / divider, makeAnnouncement()))
        return;

    const bool usable = info.hasValue() && info->getBpm().hasValue() && info->getPpqPosition().hasValue()
                        && info->getTimeInSamples().hasValue();

    encoder.trackHostPosition (info.hasValue() ? info->getTimeInSamples().orFallback (0) : 0, hostSamples);

    if (! usable)
    {
        lastProcessBlockTimeMs = juce::Time::currentTimeMillis() - kIdleMarkMs;
        if (HostId::isProTools (hostType) && warningCounter == 0)
            warningCounter = -1;
        return;
    }

    encoder.generateBlock (readTimeline (*info), n, currentSampleRate / divider);

    if (HostId::isBitwig (hostType) && buffer.getNumChannels() > 0)
    {
        // This host stops calling plug-ins whose output stays silent.
        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        {
            auto* samples = buffer.getWritePointer (ch);
            for (int i = 0; i < hostSamples; ++i)
                samples[i] = (i % 2 == 0) ? kBitwigKeepAliveLevel : -kBitwigKeepAliveLevel;
        }
    }

    encoder.advanceWriteIndex (n);
    channel.sendDataToSharedMemory (encoder, n);
}

void PluginAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    clearOutput (buffer);
    encoder.forceTempoAndTimeSignature();

    lastProcessBlockTimeMs = millisecondClock() - kIdleMarkMs;
    if (HostId::isProTools (hostType) && warningCounter == 0)
        warningCounter = -1;

    // The channel is kept while bypassed, unless the daemon has already freed it.
    if (! channel.isInstanceDisabled() && channel.channelLooksFree())
        channel.setInstanceDisabled (true);
}

void PluginAudioProcessor::timerCallback()
{
    reportPendingLatency();

    if (++timerTicks % kTicksPerRetry != 0)
        return;

    channel.checkChannelHealth (millisecondClock());
    channel.retryWhileDisabled (lastProcessBlockTimeMs, makeAnnouncement());
}

void PluginAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    PluginSettings s;
    s.latencyCompensationSeconds = latencyCompensationSeconds;
    s.bufferSizeSetting = bufferSizeSetting;
    s.usingLargeLatencyPlugins = usingLargeLatencyPlugins;
    s.settingsVisible = settingsVisible;

    const auto bytes = serialiseSettings (s);
    destData.replaceAll (bytes.data(), bytes.size());
}

void PluginAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    applySettings (deserialiseSettings (data, sizeInBytes > 0 ? static_cast<std::size_t> (sizeInBytes) : 0));
}

void PluginAudioProcessor::applySettings (const PluginSettings& s)
{
    latencyCompensationSeconds = s.latencyCompensationSeconds;
    bufferSizeSetting = limitBufferSizeSetting (hostType, rateDivider, s.bufferSizeSetting);
    usingLargeLatencyPlugins = s.usingLargeLatencyPlugins;
    settingsVisible = s.settingsVisible;

    updateDelaysFromLatency();

    if (HostId::isCubase (hostType))
        warningCounter = 0;
    else if (HostId::isProTools (hostType) && warningCounter == 0)
        warningCounter = -1;
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PluginAudioProcessor();
}
