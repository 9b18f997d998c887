#include "HostSession.h"

#include "PluginStateWrapper.h"
#include "ScriptedPlayHead.h"
#include "SettingsBytes.h"
#include "StreamReport.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

namespace veltro
{

namespace
{
    // The host's view of a latency change arrives through two asynchronous
    // hops (the plug-in's message thread, then ours).
    constexpr int kLatencyWaitMs = 2000;
    constexpr int kPollMs = 5;

    constexpr double kDivideBy2Above = 50000.0;
    constexpr double kDivideBy4Above = 100000.0;

    // A DAW starts and stops its transport between blocks: move the script's
    // times to the next block boundary.
    double toBlockBoundary (double seconds, double rate, int block)
    {
        return std::ceil (seconds * rate / block - 1.0e-9) * block / rate;
    }

    // Host samples per sample of the sync stream at this rate.
    int rateDividerFor (double rate)
    {
        return rate > kDivideBy4Above ? 4 : (rate > kDivideBy2Above ? 2 : 1);
    }

    template <typename Fn>
    void onMessageThread (Fn&& fn)
    {
        auto* mm = juce::MessageManager::getInstance();
        if (mm->isThisTheMessageThread())
        {
            fn();
            return;
        }

        juce::WaitableEvent done;
        juce::MessageManager::callAsync ([&] { fn(); done.signal(); });
        done.wait();
    }

    const char* yesNo (bool b) { return b ? "1" : "0"; }
} // namespace

std::atomic<bool> HostSession::stopFlag { false };

void HostSession::requestStop() noexcept
{
    stopFlag.store (true, std::memory_order_relaxed);
}

HostSession::HostSession (HostOptions o, std::ostream& output, std::ostream& errors)
    : options (std::move (o)), out (output), err (errors)
{
}

HostSession::~HostSession()
{
    if (privateCopyDir.isDirectory())
        privateCopyDir.deleteRecursively();
}

bool HostSession::locateBundle()
{
    bundle = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String (options.bundlePath));

    if (! bundle.exists())
    {
        err << "no such bundle: " << bundle.getFullPathName() << '\n';
        return false;
    }

    if (! options.copyBundle)
        return true;

    // A rebuild rewrites the library in place; load a copy that no build touches.
    // The bundle keeps its name, from which the library's name is derived.
    privateCopyDir = juce::File::getSpecialLocation (juce::File::tempDirectory)
                         .getNonexistentChildFile ("veltro-host-", "", false);
    const auto copy = privateCopyDir.getChildFile (bundle.getFileName());

    if (! privateCopyDir.createDirectory() || ! bundle.copyDirectoryTo (copy))
    {
        err << "could not copy the bundle to " << copy.getFullPathName() << '\n';
        return false;
    }

    bundle = copy;
    return true;
}

bool HostSession::scan()
{
    juce::OwnedArray<juce::PluginDescription> found;
    onMessageThread ([&] { format.findAllTypesForFile (found, bundle.getFullPathName()); });

    if (found.isEmpty())
    {
        err << "no VST3 plug-in found in " << bundle.getFullPathName() << '\n';
        return false;
    }

    description = std::make_unique<juce::PluginDescription> (*found[0]);
    return true;
}

void HostSession::printDescription() const
{
    const auto& d = *description;
    out << "description.name=" << d.name << '\n'
        << "description.descriptiveName=" << d.descriptiveName << '\n'
        << "description.format=" << d.pluginFormatName << '\n'
        << "description.category=" << d.category << '\n'
        << "description.vendor=" << d.manufacturerName << '\n'
        << "description.version=" << d.version << '\n'
        << "description.isInstrument=" << yesNo (d.isInstrument) << '\n'
        << "description.inputs=" << d.numInputChannels << '\n'
        << "description.outputs=" << d.numOutputChannels << '\n';
}

bool HostSession::startStandIn()
{
    ChannelNames names;

    // The plug-in only knows the real names. Refuse to wipe out a channel
    // that someone (a daemon, another stand-in) still runs.
    {
        SharedMemoryHandler probe (names);
        if (probe.openExisting())
        {
            const int state = probe.getMemory()->daemonState.load();
            probe.close (false);

            if (state != SharedMemory::daemonShutDown && ! options.replaceDaemon)
            {
                err << "the channel " << names.sharedMemory << " is in use (daemon state " << state
                    << "); run under tools/run-isolated.sh, or pass --replace-daemon\n";
                return false;
            }
        }
    }

    standIn = std::make_unique<DaemonStandIn> (names);
    standIn->setDeviceType (options.deviceType);
    standIn->setSamplesPerCallback (options.callbackSamples);

    if (! standIn->create())
    {
        err << "the stand-in could not create " << names.sharedMemory << " and " << names.semaphore << '\n';
        return false;
    }

    out << "standin.created=1\n";
    return true;
}

HostSession::Instance HostSession::createInstance()
{
    juce::String error;
    auto instance = format.createInstanceFromDescription (*description, options.transport.sampleRate,
                                                          options.blockSize, error);
    if (instance == nullptr)
        err << "could not create the plug-in: " << error << '\n';

    return instance;
}

void HostSession::destroyInstance (Instance& instance)
{
    if (instance == nullptr)
        return;

    onMessageThread ([&] {
        instance->releaseResources();
        instance.reset();
    });
}

void HostSession::printBuses (juce::AudioPluginInstance& instance)
{
    for (const bool isInput : { true, false })
    {
        const auto* dir = isInput ? "input" : "output";
        out << "buses." << dir << "s=" << instance.getBusCount (isInput) << '\n';

        for (int i = 0; i < instance.getBusCount (isInput); ++i)
        {
            const auto* bus = instance.getBus (isInput, i);
            const auto key = juce::String ("bus.") + dir + "." + juce::String (i);
            out << key << ".name=" << bus->getName() << '\n'
                << key << ".channels=" << bus->getNumberOfChannels() << '\n'
                << key << ".layout=" << bus->getCurrentLayout().getDescription() << '\n'
                << key << ".enabled=" << yesNo (bus->isEnabled()) << '\n';
        }
    }

    out << "midi.input=" << yesNo (instance.acceptsMidi()) << '\n'
        << "midi.output=" << yesNo (instance.producesMidi()) << '\n';

    // Layouts the plug-in accepts for its output, asked through the wrapper.
    if (instance.getBusCount (false) == 1 && instance.getBusCount (true) == 0)
    {
        const std::pair<const char*, juce::AudioChannelSet> layouts[] = {
            { "mono", juce::AudioChannelSet::mono() },
            { "stereo", juce::AudioChannelSet::stereo() },
            { "5.1", juce::AudioChannelSet::create5point1() },
        };

        for (const auto& [name, set] : layouts)
        {
            juce::AudioProcessor::BusesLayout layout;
            layout.outputBuses.add (set);
            bool supported = false;
            onMessageThread ([&] { supported = instance.checkBusesLayoutSupported (layout); });
            out << "layout.output." << name << '=' << yesNo (supported) << '\n';
        }
    }
}

void HostSession::prepare (juce::AudioPluginInstance& instance)
{
    const int before = instance.getLatencySamples();

    onMessageThread ([&] {
        instance.setNonRealtime (false);
        instance.prepareToPlay (options.transport.sampleRate, options.blockSize);
    });

    // The host asks for the latency before activating the plug-in, which
    // prepares itself on activation and then reports its latency as a change.
    if (options.reportLatency || options.stateRoundTrip)
    {
        bool changed = false;
        waitForLatencyChange (instance, before, changed);
    }
}

int HostSession::waitForLatencyChange (juce::AudioPluginInstance& instance, int before, bool& changed)
{
    const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (kLatencyWaitMs);

    while (juce::Time::getMillisecondCounter() < deadline)
    {
        if (instance.getLatencySamples() != before)
            break;
        std::this_thread::sleep_for (std::chrono::milliseconds (kPollMs));
    }

    changed = instance.getLatencySamples() != before;
    return instance.getLatencySamples();
}

bool HostSession::sendState (juce::AudioPluginInstance& instance, const juce::MemoryBlock& hostState, const char* label)
{
    const int before = instance.getLatencySamples();
    onMessageThread ([&] { instance.setStateInformation (hostState.getData(), static_cast<int> (hostState.getSize())); });

    if (options.reportLatency || options.stateRoundTrip)
    {
        bool changed = false;
        const int after = waitForLatencyChange (instance, before, changed);
        out << label << ".latency=" << after << '\n'
            << label << ".latencyChanged=" << yesNo (changed) << '\n';
    }

    return true;
}

std::optional<std::vector<uint8_t>> HostSession::readOwnState (juce::AudioPluginInstance& instance, juce::MemoryBlock& hostState)
{
    onMessageThread ([&] { instance.getStateInformation (hostState); });

    const auto component = unwrapComponentState (hostState);
    if (! component)
        return std::nullopt;

    return withoutFrameworkTrailer (*component);
}

bool HostSession::runStateRoundTrip (juce::AudioPluginInstance& first)
{
    juce::MemoryBlock saved;
    const auto own = readOwnState (first, saved);

    if (! own)
    {
        err << "the saved state is not a VST3 host state\n";
        return false;
    }

    out << "state.saved.bytes=" << own->size() << '\n'
        << "state.saved.hex=" << toHex (*own) << '\n'
        << "state.saved.hostBytes=" << saved.getSize() << '\n'
        << "state.saved.latency=" << first.getLatencySamples() << '\n';

    if (const auto s = decodeSettings (*own))
        out << describeSettings ("state.saved", *s);

    // What a DAW does when it reopens the project: a new instance, prepared,
    // given back exactly what it saved.
    auto second = createInstance();
    if (second == nullptr)
        return false;

    prepare (*second);
    out << "state.fresh.latency=" << second->getLatencySamples() << '\n';
    sendState (*second, saved, "state.restored");

    juce::MemoryBlock resaved;
    const auto restored = readOwnState (*second, resaved);
    destroyInstance (second);

    if (! restored)
    {
        err << "the restored instance gave no VST3 host state\n";
        return false;
    }

    out << "state.restored.bytes=" << restored->size() << '\n'
        << "state.restored.hex=" << toHex (*restored) << '\n';

    if (const auto s = decodeSettings (*restored))
        out << describeSettings ("state.restored", *s);

    return true;
}

void HostSession::printChannel (const char* prefix) const
{
    const auto* m = standIn != nullptr ? standIn->getMemory() : nullptr;
    if (m == nullptr)
        return;

    out << prefix << ".daemonState=" << m->daemonState.load() << '\n'
        << prefix << ".pluginEnabled=" << m->pluginEnabled.load() << '\n'
        << prefix << ".instanceCounter=" << m->instanceCounter.load() << '\n'
        << prefix << ".hostType=" << m->hostType.load() << '\n'
        << prefix << ".sampleRateIs44100=" << static_cast<int> (m->sampleRateIs44100.load()) << '\n'
        << prefix << ".nominalBlockSize=" << m->nominalBlockSize.load() << '\n'
        << prefix << ".actualBlockSize=" << m->actualBlockSize.load() << '\n';
}

void HostSession::runTransport (juce::AudioPluginInstance& instance)
{
    auto settings = options.transport;
    settings.startAfterSeconds = toBlockBoundary (settings.startAfterSeconds, settings.sampleRate, options.blockSize);
    if (settings.stopAfterSeconds)
        settings.stopAfterSeconds = toBlockBoundary (*settings.stopAfterSeconds, settings.sampleRate, options.blockSize);

    const TransportScript script (settings);
    ScriptedPlayHead playHead (script);
    instance.setPlayHead (&playHead);

    const double rate = options.transport.sampleRate;
    const int block = options.blockSize;
    const int divider = rateDividerFor (rate);

    std::ofstream eventsFile;
    if (! options.eventsFile.empty())
    {
        eventsFile.open (options.eventsFile, std::ios::out | std::ios::trunc);
        if (! eventsFile)
            err << "cannot write " << options.eventsFile << '\n';
    }

    StreamReport report (out, eventsFile.is_open() ? &eventsFile : nullptr, options.verbose, rate / divider);

    const int channels = juce::jmax (instance.getTotalNumInputChannels(), instance.getTotalNumOutputChannels(), 1);
    juce::AudioBuffer<float> buffer (channels, block);
    juce::MidiBuffer midi;

    const auto totalSamples = static_cast<int64_t> (options.runSeconds() * rate);
    const auto started = std::chrono::steady_clock::now();
    int64_t position = 0;
    int64_t blocks = 0;
    int64_t nonSilent = 0;
    int syncRemainder = 0;
    bool wasPlaying = false;

    while (! stopFlag.load (std::memory_order_relaxed) && (options.hold || position < totalSamples))
    {
        playHead.setBlockStart (position);
        const bool playing = playHead.currentFrame().playing;

        if (playing != wasPlaying)
            out << "transport." << (playing ? "play" : "stop") << "=" << position << '\n';
        wasPlaying = playing;

        buffer.clear();
        midi.clear();
        instance.processBlock (buffer, midi);

        for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
            for (int i = 0; i < block; ++i)
                nonSilent += buffer.getSample (ch, i) != 0.0f ? 1 : 0;

        // The device consumes the stream at the sync rate; keep the stand-in
        // in step with the host so the FIFO neither fills nor starves.
        if (standIn != nullptr)
        {
            const int total = block + syncRemainder;
            standIn->pump (total / divider, &report);
            syncRemainder = total % divider;
        }

        position += block;
        ++blocks;

        if (options.realtime)
            std::this_thread::sleep_until (started + std::chrono::duration<double> (static_cast<double> (position) / rate));
    }

    instance.setPlayHead (nullptr);
    report.finish();

    out << "run.blocks=" << blocks << '\n'
        << "run.samples=" << position << '\n'
        << "run.nonSilentOutputSamples=" << nonSilent << '\n';

    if (standIn != nullptr)
    {
        report.printSummary (out);
        out << "standin.codesRead=" << standIn->getTotalCodesRead() << '\n'
            << "standin.setUps=" << standIn->getSetUpCount() << '\n'
            << "standin.identifications=" << standIn->getIdentificationCount() << '\n'
            << "standin.giveUps=" << standIn->getGiveUpCount() << '\n'
            << "standin.outputRate=" << static_cast<int> (standIn->getOutputSampleRate()) << '\n';
        printChannel ("channel");
    }
}

int HostSession::run()
{
    if (! locateBundle() || ! scan())
        return pluginNotLoaded;

    if (options.printDescription)
        printDescription();

    if (options.runStandIn && ! startStandIn())
        return standInFailed;

    auto instance = createInstance();
    if (instance == nullptr)
        return pluginNotLoaded;

    if (options.printDescription)
        printBuses (*instance);

    if (standIn != nullptr)
        printChannel ("claim");

    prepare (*instance);

    if (options.reportLatency)
        out << "latency.prepared=" << instance->getLatencySamples() << '\n';

    if (options.stateBytes)
    {
        out << "state.sent.hex=" << toHex (*options.stateBytes) << '\n';
        sendState (*instance, wrapComponentState (*options.stateBytes), "state.sent");
    }

    bool ok = true;

    if (options.stateRoundTrip)
        ok = runStateRoundTrip (*instance);

    if (options.processesAudio())
        runTransport (*instance);

    destroyInstance (instance);

    if (standIn != nullptr)
    {
        printChannel ("released");
        standIn->shutDown();
    }

    out.flush();
    return ok ? succeeded : checkFailed;
}

} // namespace veltro
