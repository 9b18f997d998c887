// The daemon's engine and device handler as the application builds them,
// with a virtual output device type in the device manager: the test plays
// the plug-in (through its own handle on a private shared block), the sound
// card (one callback per process() call, on this thread) and the message
// loop (timer ticks on demand, the handler's debounce timer for real).

#include "TestChannelNames.h"
#include "DefaultDeviceChoice.h"
#include "EngineLifecycle.h"
#include "MainAudioProcessor.h"

#include "AllocationCounter.h"
#include "IdentificationBurst.h"
#include "SemaphoreFault.h"
#include "SyncCodes.h"
#include "VirtualOutputDevice.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace veltro::daemon
{
namespace
{

using M = SharedMemory;
using fakes::VirtualOutputDevice;
using fakes::VirtualOutputDeviceType;
using Codes = std::vector<uint16_t>;

constexpr uint16_t kMarker = 0x50F0;
constexpr uint16_t kLinuxSystemCode = 0x5A03;

uint16_t codeOf (float sample)
{
    return static_cast<uint16_t> (static_cast<int16_t> (std::lround (sample * 32768.0f)));
}

Codes codesOf (const float* out, int n)
{
    Codes codes;
    for (int i = 0; i < n; ++i)
        codes.push_back (codeOf (out[i]));
    return codes;
}

// Codes of the stream proper: silence and markers taken out.
Codes streamCodesOf (const float* out, int n)
{
    Codes codes;
    for (int i = 0; i < n; ++i)
        if (const auto c = codeOf (out[i]); c != 0 && c != kMarker)
            codes.push_back (c);
    return codes;
}

Codes rampOfCodes (int count, uint16_t first)
{
    Codes codes;
    for (int i = 0; i < count; ++i)
        codes.push_back (static_cast<uint16_t> (first + 3 * i));
    return codes;
}

class RecordingNotifier : public DesktopNotifier
{
public:
    void show (const juce::String& title) override { titles.push_back (title.toStdString()); }
    std::vector<std::string> titles;
};

// The plug-in's side of the channel, through its own handle on the block.
class PluginSide
{
public:
    explicit PluginSide (const ChannelNames& names) : handle (names) {}

    bool open() { return handle.openExisting(); }

    template <typename Fn>
    void locked (Fn&& fn)
    {
        ASSERT_TRUE (handle.tryLock());
        fn (*handle.getMemory());
        handle.unlock();
    }

    void claimAndAnnounce (bool is44100, int blockSize, uint16_t hostType)
    {
        locked ([&] (M& m) {
            if (m.pluginEnabled.load() == M::channelFree)
            {
                m.hostType.store (hostType);
                m.instanceCounter.store (m.instanceCounter.load() + 1);
            }
            m.sampleRateIs44100.store (is44100 ? 1 : 0);
            m.nominalBlockSize.store (blockSize);
            m.actualBlockSize.store (blockSize);
            m.sampleRateChanged.store (1);
            m.pluginEnabled.store (M::channelAnnounced);
        });
    }

    void confirm()
    {
        locked ([] (M& m) {
            ASSERT_EQ (m.daemonState.load(), M::daemonRunning);
            m.pluginEnabled.store (M::channelStreaming);
        });
    }

    void release()
    {
        locked ([] (M& m) { m.pluginEnabled.store (M::channelFree); });
    }

    uint32_t write (const Codes& codes)
    {
        uint32_t stored = 0;
        locked ([&] (M& m) { stored = fifo::write (m, codes.data(), static_cast<uint32_t> (codes.size())); });
        return stored;
    }

private:
    SharedMemoryHandler handle;
};

class DaemonGlue : public ::testing::Test
{
protected:
    void TearDown() override
    {
        stop();
        deviceNodes.deleteRecursively();
    }

    void start (const juce::StringArray& outputs)
    {
        stop();
        quitRequests = 0;
        names = veltro::testing::uniqueChannelNames ("Glue");
        processor = makeEngine (outputs);

        plugin = std::make_unique<PluginSide> (names);
        ASSERT_TRUE (plugin->open());
    }

    // An engine on this test's names, listing `outputs` on a virtual device type.
    std::unique_ptr<MainAudioProcessor> makeEngine (const juce::StringArray& outputs)
    {
        auto type = std::make_unique<VirtualOutputDeviceType>();
        type->setOutputs (outputs);
        deviceType = type.get();

        MainAudioProcessor::Options options;
        options.names = names;
        options.system.extraDeviceType = std::move (type);
        options.requestQuit = [this] { ++quitRequests; };
        options.ticksDrivenByCaller = true; // every tick is the test's own
        options.system.midiOutputs = [this] { return midiOutputs; };
        options.system.alsaDeviceDirectory = deviceNodes.getFullPathName().toStdString();
        return std::make_unique<MainAudioProcessor> (notifier, std::move (options));
    }

    void stop()
    {
        plugin = nullptr;
        processor = nullptr;
        deviceType = nullptr;
        settle(); // notifications still queued refer to this test's notifier
        notifier.titles.clear();
    }

    // Runs the message loop until every message queued so far, and the
    // messages those post, have been delivered.
    static void settle()
    {
        for (int round = 0; round < 2; ++round)
        {
            auto done = std::make_shared<bool> (false);
            juce::MessageManager::callAsync ([done] { *done = true; });
            ASSERT_TRUE (runUntil ([&] { return *done; }));
        }
    }

    // Runs the message loop (timers included) until the condition holds. The
    // bound only keeps a broken build from hanging; nothing is timed.
    template <typename Condition>
    static bool runUntil (Condition&& condition)
    {
        const auto giveUpAt = juce::Time::getMillisecondCounter() + 30000u;
        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > giveUpAt)
                return false;
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        }
        return true;
    }

    AudioAndMIDIHandler& handler() { return processor->deviceHandler; }
    M& block() { return *processor->sharedMemory.getMemory(); }

    // Changes the listed outputs and runs the message loop until the handler
    // has told the user about it (after its debounce).
    void changeOutputsAndWaitForNotice (const juce::StringArray& outputs)
    {
        notifier.titles.clear();
        deviceType->setOutputs (outputs);
        ASSERT_TRUE (runUntil ([&] { return ! notifier.titles.empty(); }));
        settle();
    }

    // After the output came back: one tick, a burst, then the stream plays on.
    void expectIdentifiedAndStreaming()
    {
        processor->runTimerOnce();
        expectBurst (pump (32), 32, 17, 0x5904);
        EXPECT_EQ (block().daemonState.load(), M::daemonRunning);
        const auto codes = rampOfCodes (64, 0x5000);
        plugin->write (codes);
        EXPECT_EQ (playStream (64), codes);
    }

    VirtualOutputDevice* device()
    {
        return dynamic_cast<VirtualOutputDevice*> (handler().deviceManager.getCurrentAudioDevice());
    }

    // One device callback of n samples; returns what the device received.
    const float* pump (int n)
    {
        if (auto* d = device())
            return d->process (n);
        ADD_FAILURE() << "no output is open";
        return silence.data();
    }

    uint32_t fifoAvailable() { return fifo::available (fifo::loadWriteIndex (block()), fifo::loadReadIndex (block())); }

    void expectBurst (const float* out, int n, uint16_t hostType, uint16_t dawCode)
    {
        const auto expected = identificationBurst (hostType, SyncCode::System::onLinux);
        const auto got = codesOf (out, n);
        ASSERT_GE (n, kBurstLength);
        EXPECT_EQ (Codes (got.begin(), got.begin() + kBurstLength), Codes (expected.begin(), expected.end()));
        EXPECT_EQ (got[0], kMarker);
        EXPECT_EQ (got[17], dawCode);
        EXPECT_EQ (got[18], kLinuxSystemCode);
        EXPECT_EQ (std::count (got.begin() + kBurstLength, got.end(), uint16_t { 0 }), n - kBurstLength)
            << "a burst callback plays nothing else";
    }

    // The whole handshake up to a confirmed, streaming plug-in on `name`.
    void streamOn (const juce::String& name, bool is44100, uint16_t hostType, int callback = 32)
    {
        ASSERT_TRUE (handler().selectDeviceByName (name));
        plugin->claimAndAnnounce (is44100, 64, hostType);
        processor->runTimerOnce();
        ASSERT_NE (device(), nullptr);
        pump (callback);
        ASSERT_EQ (block().daemonState.load(), M::daemonRunning);
        plugin->confirm();
    }

    // Pumps callbacks of n samples until `count` stream codes came out.
    Codes playStream (int count, int n = 32)
    {
        Codes played;
        for (int i = 0; i < 4 * (count / n + 2) && static_cast<int> (played.size()) < count; ++i)
        {
            const auto codes = streamCodesOf (pump (n), n);
            played.insert (played.end(), codes.begin(), codes.end());
        }
        return played;
    }

    RecordingNotifier notifier;
    ChannelNames names;
    VirtualOutputDeviceType* deviceType = nullptr; // owned by the device manager
    std::unique_ptr<MainAudioProcessor> processor;
    std::unique_ptr<PluginSide> plugin;
    int quitRequests = 0;
    juce::StringArray midiOutputs; // what the system lists as MIDI outputs

    // Where the device handler's watch looks for device nodes (not created yet).
    juce::File deviceNodes = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                 .getNonexistentChildFile ("veltro-glue-snd", {}, false);
    std::array<float, VirtualOutputDevice::kMaxSamples> silence {};
};

// ---------------------------------------------------------------------------
// The timer's decisions end to end: idle, set up (rate by the plug-in's rate
// family), burst, waiting, playout, channel freed, output closed.

TEST_F (DaemonGlue, TimerOpensPlaysAndClosesTheOutput)
{
    struct Row
    {
        bool is44100;
        uint16_t hostType;
        int callback; // device callback length: ALSA-like, then JACK periods
        double rate;
        uint16_t dawCode;
    };
    const Row rows[] = {
        { true, 17, 32, 44100.0, 0x5904 },
        { false, 50, 32, 48000.0, 0x5900 },
        { false, 17, 256, 48000.0, 0x5904 },
        { true, 50, 1024, 44100.0, 0x5900 },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE ("44100 family " + std::to_string (row.is44100) + ", callback " + std::to_string (row.callback));
        start ({ "Built-in Output", "Do-not-use-001" });

        EXPECT_EQ (block().daemonState.load(), M::daemonIdle);
        EXPECT_EQ (handler().detectedDeviceNames, juce::StringArray ({ "Do-not-use-001" }));
        EXPECT_TRUE (handler().selectDeviceByName ("Do-not-use-001")); // the tray's saved choice

        // Idle, nobody announced: the model is published, nothing opens.
        processor->runTimerOnce();
        EXPECT_EQ (block().deviceType.load(), M::tactora);
        EXPECT_EQ (device(), nullptr);
        EXPECT_EQ (block().daemonState.load(), M::daemonIdle);

        // Announce: set up at the rate of the plug-in's family.
        plugin->claimAndAnnounce (row.is44100, 64, row.hostType);
        processor->runTimerOnce();
        ASSERT_NE (device(), nullptr);
        EXPECT_EQ (device()->getName(), "Do-not-use-001");
        EXPECT_EQ (device()->getCurrentSampleRate(), row.rate);
        EXPECT_EQ (device()->getCurrentBufferSizeSamples(), 32);
        EXPECT_EQ (device()->getActiveOutputChannels().toInteger(), 1) << "only the first output is opened";
        EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);
        EXPECT_EQ (block().sampleRateChanged.load(), 0);
        EXPECT_EQ (block().blockSizeChanged.load(), 0);
        EXPECT_EQ (block().readIndex.load(), fifo::kResetReadIndex);
        EXPECT_TRUE (processor->dawConnected.load());
        EXPECT_TRUE (handler().audioActive.load());

        // A second tick while setting up changes nothing.
        processor->runTimerOnce();
        EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);

        // First callback: the burst, and the daemon is running.
        expectBurst (pump (row.callback), row.callback, row.hostType, row.dawCode);
        EXPECT_EQ (block().daemonState.load(), M::daemonRunning);

        // Not confirmed yet: silence, the FIFO untouched.
        EXPECT_EQ (streamCodesOf (pump (row.callback), row.callback), Codes {});
        EXPECT_EQ (block().readIndex.load(), fifo::kResetReadIndex);

        plugin->confirm();
        const auto codes = rampOfCodes (64, 0x1000);
        ASSERT_EQ (plugin->write (codes), codes.size());
        EXPECT_EQ (playStream (64, row.callback), codes);
        EXPECT_EQ (fifoAvailable(), 0u);
        EXPECT_EQ (block().daemonState.load(), M::daemonRunning);

        // The plug-in frees the channel: the callback goes silent, the next
        // tick closes the output.
        plugin->release();
        EXPECT_EQ (streamCodesOf (pump (row.callback), row.callback), Codes {});
        processor->runTimerOnce();
        EXPECT_EQ (device(), nullptr);
        EXPECT_EQ (block().daemonState.load(), M::daemonIdle);
        EXPECT_FALSE (processor->dawConnected.load());
        EXPECT_FALSE (handler().audioActive.load());

        processor->runTimerOnce();
        EXPECT_EQ (device(), nullptr);
        EXPECT_EQ (quitRequests, 0);
    }
}

TEST_F (DaemonGlue, AnnouncingAnotherRateReopensTheOutputAndStartsAFreshStream)
{
    start ({ "Do-not-use-001" });
    streamOn ("Do-not-use-001", true, 17);
    ASSERT_EQ (device()->getCurrentSampleRate(), 44100.0);
    const int serial = device()->serial;

    plugin->write (rampOfCodes (40, 0x2000));
    plugin->claimAndAnnounce (false, 128, 17); // the host switched to 48000

    // Playout stops at once; the next tick reopens the same output at 48000.
    EXPECT_EQ (codesOf (pump (32), 32), Codes (32, 0));
    processor->runTimerOnce();
    ASSERT_NE (device(), nullptr);
    EXPECT_EQ (device()->serial, serial);
    EXPECT_EQ (device()->getCurrentSampleRate(), 48000.0);
    EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);
    EXPECT_EQ (fifoAvailable(), 0u) << "codes of the old rate are not played";

    expectBurst (pump (32), 32, 17, 0x5904);
    EXPECT_EQ (block().daemonState.load(), M::daemonRunning);
    plugin->confirm();
    const auto codes = rampOfCodes (64, 0x3000);
    plugin->write (codes);
    EXPECT_EQ (playStream (64), codes);
}

// A plug-in that announces and never confirms is given up after the same
// stretch of audio whatever the callback length; the output then closes.
TEST_F (DaemonGlue, PatienceWithAnAnnouncingPluginThenTheOutputCloses)
{
    struct Row
    {
        int callback;
        int givesUpInCallback; // counted after the burst
    };
    const Row rows[] = { { 32, 1025 }, { 256, 129 }, { 1024, 33 } };

    for (const auto& row : rows)
    {
        SCOPED_TRACE ("callback " + std::to_string (row.callback));
        start ({ "Do-not-use-001" });
        ASSERT_TRUE (handler().selectDeviceByName ("Do-not-use-001"));
        plugin->claimAndAnnounce (false, 64, 17);
        processor->runTimerOnce();
        ASSERT_NE (device(), nullptr);
        pump (row.callback); // burst

        int gaveUpIn = 0;
        for (int i = 1; i <= 4096 && gaveUpIn == 0; ++i)
        {
            pump (row.callback);
            if (block().pluginEnabled.load() == M::channelFree)
                gaveUpIn = i;
        }
        EXPECT_EQ (gaveUpIn, row.givesUpInCallback);

        EXPECT_EQ (codesOf (pump (row.callback), 19), Codes (19, 0));
        processor->runTimerOnce();
        EXPECT_EQ (device(), nullptr);
        EXPECT_EQ (block().daemonState.load(), M::daemonIdle);
        EXPECT_FALSE (processor->dawConnected.load());
    }
}

// ---------------------------------------------------------------------------
// Another model selected while streaming: the new output opens, the next
// callback publishes its model, resets the FIFO and sends a new burst.

TEST_F (DaemonGlue, SelectingAnotherModelMidStreamSendsANewBurst)
{
    start ({ "Do-not-use-001", "Do-not-use-010" });
    streamOn ("Do-not-use-001", false, 17);
    EXPECT_EQ (block().deviceType.load(), M::tactora);

    plugin->write (rampOfCodes (100, 0x1000));
    EXPECT_EQ (playStream (32), rampOfCodes (32, 0x1000));
    const int serial = device()->serial;

    ASSERT_TRUE (handler().selectDeviceByName ("Do-not-use-010"));
    ASSERT_NE (device(), nullptr);
    EXPECT_EQ (device()->getName(), "Do-not-use-010");
    EXPECT_NE (device()->serial, serial);
    EXPECT_EQ (device()->getCurrentSampleRate(), 48000.0);
    EXPECT_TRUE (handler().deviceTypeUpdateNeeded.load());

    expectBurst (pump (32), 32, 17, 0x5904);
    EXPECT_FALSE (handler().deviceTypeUpdateNeeded.load());
    EXPECT_EQ (block().deviceType.load(), M::klavo2);
    EXPECT_EQ (block().writeIndex.load(), fifo::kResetWriteIndex) << "the rest of the old stream is dropped";
    EXPECT_EQ (block().readIndex.load(), fifo::kResetReadIndex);
    EXPECT_EQ (block().pluginEnabled.load(), M::channelStreaming);

    // The plug-in simply keeps writing; the new device gets the stream.
    const auto codes = rampOfCodes (64, 0x4000);
    plugin->write (codes);
    EXPECT_EQ (playStream (64), codes);
}

// A device whose callbacks are too short for the burst (16 samples) is never
// identified, so it hears nothing of the stream; once its callbacks grow the
// burst goes out first.
TEST_F (DaemonGlue, CallbacksTooShortForTheBurstStaySilent)
{
    start ({ "Do-not-use-001" });
    ASSERT_TRUE (handler().selectDeviceByName ("Do-not-use-001"));
    plugin->claimAndAnnounce (false, 64, 17);
    processor->runTimerOnce();
    ASSERT_NE (device(), nullptr);
    plugin->write (rampOfCodes (64, 0x1000));

    int loudCallbacks = 0;
    for (int i = 0; i < 200; ++i)
    {
        const float* out = pump (16);
        loudCallbacks += std::any_of (out, out + 16, [] (float s) { return s != 0.0f; }) ? 1 : 0;
        if (i % 50 == 49)
            processor->runTimerOnce();
    }
    EXPECT_EQ (loudCallbacks, 0);
    EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);
    EXPECT_EQ (fifoAvailable(), 64u) << "the FIFO is not read before the burst";

    expectBurst (pump (32), 32, 17, 0x5904);
    EXPECT_EQ (block().daemonState.load(), M::daemonRunning);
}

// ---------------------------------------------------------------------------
// A semaphore error ends the daemon: handle closed and names removed where
// it happens; from the callback, the quit is asked for by the next tick, so
// the audio thread posts no message.

bool channelNamesExist (const ChannelNames& n)
{
    const int fd = shm_open (n.sharedMemory.c_str(), O_RDONLY, 0);
    if (fd >= 0)
        close (fd);
    sem_t* sem = sem_open (n.semaphore.c_str(), 0);
    if (sem != SEM_FAILED)
        sem_close (sem);
    return fd >= 0 || sem != SEM_FAILED;
}

TEST_F (DaemonGlue, SemaphoreErrorEndsTheDaemon)
{
    start ({ "Do-not-use-001" });
    streamOn ("Do-not-use-001", false, 17);
    plugin->write (rampOfCodes (64, 0x1000));

    veltro::testing::failSemaphoreCalls (true);
    veltro::testing::startCountingAllocations();
    const float* out = pump (32);
    const long allocations = veltro::testing::stopCountingAllocations();
    veltro::testing::failSemaphoreCalls (false);

    EXPECT_TRUE (std::all_of (out, out + 32, [] (float s) { return s == 0.0f; }));
    EXPECT_EQ (allocations, 0);
    EXPECT_FALSE (processor->sharedMemory.isReady());
    EXPECT_FALSE (channelNamesExist (names));
    EXPECT_TRUE (streamCodesOf (pump (32), 32).empty());
    settle();
    EXPECT_EQ (quitRequests, 0);

    processor->runTimerOnce();
    settle();
    EXPECT_EQ (quitRequests, 1);

    // The same error met by the timer while idle.
    start ({ "Do-not-use-001" });
    veltro::testing::failSemaphoreCalls (true);
    processor->runTimerOnce();
    veltro::testing::failSemaphoreCalls (false);
    settle();
    EXPECT_EQ (quitRequests, 1) << "counted anew for the new engine";
    EXPECT_FALSE (channelNamesExist (names));
}

// ---------------------------------------------------------------------------
// The device is unplugged while streaming and plugged in again.

TEST_F (DaemonGlue, OutputLostAndBack)
{
    start ({ "Built-in Output", "Do-not-use-001" });
    streamOn ("Do-not-use-001", false, 17);
    plugin->write (rampOfCodes (64, 0x1000));
    EXPECT_EQ (playStream (64), rampOfCodes (64, 0x1000));
    processor->runTimerOnce(); // a regular tick while playing: nothing to do

    deviceType->setOutputs ({ "Built-in Output" });
    EXPECT_EQ (device(), nullptr) << "the framework closes a vanished device at once";

    // The tick after the loss stops playout and sets the daemon back to 2.
    processor->runTimerOnce();
    EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);
    EXPECT_EQ (block().pluginEnabled.load(), M::channelStreaming);

    // The handler applies the scan after the debounce.
    ASSERT_TRUE (runUntil ([&] { return ! notifier.titles.empty(); }));
    settle();
    EXPECT_EQ (notifier.titles, std::vector<std::string> { "Tactora disconnected." });
    EXPECT_TRUE (handler().detectedDeviceNames.isEmpty());
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-001") << "the selection survives";
    EXPECT_EQ (device(), nullptr) << "no other output is opened in its place";

    changeOutputsAndWaitForNotice ({ "Built-in Output", "Do-not-use-001" });
    EXPECT_EQ (notifier.titles, std::vector<std::string> { "Tactora connected." });
    ASSERT_NE (device(), nullptr) << "the output is reopened";
    EXPECT_EQ (device()->getName(), "Do-not-use-001");
    EXPECT_EQ (device()->getCurrentSampleRate(), 48000.0);

    expectIdentifiedAndStreaming();
}

// The device goes and comes back between two timer ticks: the engine never
// sees it missing at a tick, yet the returning device must be identified.
TEST_F (DaemonGlue, OutputLostAndBackBetweenTwoTicks)
{
    start ({ "Built-in Output", "Do-not-use-001" });
    streamOn ("Do-not-use-001", false, 17);
    plugin->write (rampOfCodes (64, 0x1000));
    EXPECT_EQ (playStream (64), rampOfCodes (64, 0x1000));

    changeOutputsAndWaitForNotice ({ "Built-in Output" });
    changeOutputsAndWaitForNotice ({ "Built-in Output", "Do-not-use-001" });
    ASSERT_NE (device(), nullptr) << "the output is reopened";

    // Until the device is identified anew it hears nothing of the stream:
    // what the plug-in sends meanwhile waits in the FIFO.
    const auto waiting = rampOfCodes (64, 0x1000);
    plugin->write (waiting);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE (streamCodesOf (pump (32), 32).empty()) << "playout reached the returning device before its burst";
    EXPECT_EQ (fifoAvailable(), waiting.size());

    processor->runTimerOnce(); // notices the loss it never saw
    processor->runTimerOnce();
    expectBurst (pump (32), 32, 17, 0x5904);
    EXPECT_EQ (playStream (64), waiting);
}

// ---------------------------------------------------------------------------
// selectDeviceByName: only names in the detected list, exactly as listed.

TEST_F (DaemonGlue, SelectDeviceByName)
{
    start ({ "Built-in Output", "Do-not-use-001", "Do-not-use-101", "Tactora-do-not-use" });

    struct Row
    {
        const char* name;
        bool accepted;
        int32_t model; // of the selection afterwards
    };
    const Row rows[] = {
        { "Do-not-use-101", true, M::vantel },
        { "Do-not-use-011", false, M::vantel },
        { "Built-in Output", false, M::vantel },
        { "do-not-use-001", false, M::vantel },
        { "", false, M::vantel },
        { "Do-not-use-001", true, M::tactora },
        { "Tactora-do-not-use", true, M::invalid }, // listed, so the user may pick it
        { "Do-not-use-001", true, M::tactora },
    };

    juce::String selected;
    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        EXPECT_EQ (handler().selectDeviceByName (row.name), row.accepted);
        if (row.accepted)
            selected = row.name;
        EXPECT_EQ (handler().audioSetup.outputDeviceName, selected);
        EXPECT_EQ (handler().selectedOutputModel.load(), row.model);
        EXPECT_EQ (device(), nullptr) << "no plug-in: selecting opens nothing";
        processor->runTimerOnce();
        EXPECT_EQ (block().deviceType.load(), row.model);
    }

    // With a plug-in streaming, a refused name leaves the output alone.
    streamOn ("Do-not-use-001", false, 17);
    const int serial = device()->serial;
    EXPECT_FALSE (handler().selectDeviceByName ("Do-not-use-010"));
    EXPECT_EQ (device()->serial, serial);
    EXPECT_FALSE (handler().deviceTypeUpdateNeeded.load());
    const auto codes = rampOfCodes (32, 0x1000);
    plugin->write (codes);
    EXPECT_EQ (codesOf (pump (32), 32), codes) << "no new burst";

    // Selecting the open device again does not reopen it.
    EXPECT_TRUE (handler().selectDeviceByName ("Do-not-use-001"));
    EXPECT_EQ (device()->serial, serial);
}

// ---------------------------------------------------------------------------
// Device list changes through the framework's change broadcast, the debounce
// and updateDetectedDevices.

TEST_F (DaemonGlue, ListChangesNotifyAndSelectAfterTheDebounce)
{
    struct Row
    {
        const char* what;
        juce::StringArray before;
        juce::String preselected;
        bool streaming;
        juce::StringArray after;
        std::vector<std::string> notifications;
        juce::String selectedAfter;
    };
    const Row rows[] = {
        { "a Klavo II plugged in", {}, {}, false, { "Do-not-use-010" }, { "Klavo II connected." }, "Do-not-use-010" },
        { "plugged in while a plug-in waits", {}, {}, true, { "Do-not-use-010" }, { "Klavo II connected." }, "Do-not-use-010" },
        { "one model swapped for another", { "Do-not-use-001" }, {}, false, { "Do-not-use-101" }, {}, "Do-not-use-101" },
        { "a second Tactora", { "Do-not-use-001" }, "Do-not-use-001", false, { "Do-not-use-001", "Do-not-use-001 B" },
          { "Tactora connected." }, "Do-not-use-001" },
        { "an old Tactora", { "Built-in Output" }, {}, false, { "Built-in Output", "Tactora-do-not-use" },
          { "An old Tactora was connected, please update its firmware" }, {} },
        { "the selected one unplugged", { "Do-not-use-001", "Do-not-use-101" }, "Do-not-use-001", false,
          { "Do-not-use-101" }, { "Tactora disconnected." }, "Do-not-use-101" },
        { "several models at once", { "Do-not-use-001" }, "Do-not-use-001", false,
          { "Do-not-use-101", "Do-not-use-010", "Do-not-use-010 B" },
          { "Tactora disconnected.", "Klavo II connected.", "Vantel connected." }, "Do-not-use-101" },
        { "a non-device output", { "Do-not-use-001" }, {}, false, { "Do-not-use-001", "USB Headset" }, {}, "Do-not-use-001" },
    };

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.what);
        start (row.before);
        if (row.preselected.isNotEmpty())
            ASSERT_TRUE (handler().selectDeviceByName (row.preselected));
        if (row.streaming)
        {
            plugin->claimAndAnnounce (true, 64, 17);
            processor->runTimerOnce();
            EXPECT_EQ (device(), nullptr) << "nothing to open yet";
        }
        ASSERT_TRUE (runUntil ([&] { return ! handler().isUpdatePending(); }));
        settle();
        notifier.titles.clear();
        const auto namesBefore = handler().detectedDeviceNames;

        deviceType->setOutputs (row.after);
        handler().deviceManager.dispatchPendingMessages();
        EXPECT_TRUE (handler().isUpdatePending());
        EXPECT_EQ (handler().detectedDeviceNames, namesBefore) << "applied only after the debounce";

        ASSERT_TRUE (runUntil ([&] { return ! handler().isUpdatePending(); }));
        settle();
        EXPECT_EQ (notifier.titles, row.notifications);
        EXPECT_EQ (handler().audioSetup.outputDeviceName, row.selectedAfter);

        if (row.streaming)
        {
            ASSERT_NE (device(), nullptr) << "the new device is opened for the waiting plug-in";
            EXPECT_EQ (device()->getName(), row.selectedAfter);
            EXPECT_EQ (device()->getCurrentSampleRate(), 44100.0);
            processor->runTimerOnce();
            expectBurst (pump (32), 32, 17, 0x5904);
            EXPECT_EQ (block().deviceType.load(), M::klavo2);
        }
        else
        {
            EXPECT_EQ (device(), nullptr);
        }
    }
}

// A second change inside the debounce second is applied at once, with the
// newest scan.
TEST_F (DaemonGlue, ASecondChangeWithinTheDebounceIsAppliedAtOnce)
{
    start ({});
    settle();

    deviceType->setOutputs ({ "Do-not-use-010" });
    handler().deviceManager.dispatchPendingMessages();
    EXPECT_TRUE (handler().isUpdatePending());
    EXPECT_TRUE (handler().detectedDeviceNames.isEmpty()) << "the first change waits";

    deviceType->setOutputs ({ "Do-not-use-010", "Do-not-use-101" });
    handler().deviceManager.dispatchPendingMessages();
    EXPECT_FALSE (handler().isUpdatePending());
    EXPECT_EQ (handler().detectedDeviceNames, juce::StringArray ({ "Do-not-use-010", "Do-not-use-101" }));
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-010");

    settle();
    EXPECT_EQ (notifier.titles, (std::vector<std::string> { "Klavo II connected.", "Vantel connected." }));

    // And the debounce is idle again: the next change waits once more.
    deviceType->setOutputs ({ "Do-not-use-010" });
    handler().deviceManager.dispatchPendingMessages();
    EXPECT_TRUE (handler().isUpdatePending());
    EXPECT_EQ (handler().detectedDeviceNames.size(), 2);
    ASSERT_TRUE (runUntil ([&] { return ! handler().isUpdatePending(); }));
    EXPECT_EQ (handler().detectedDeviceNames, juce::StringArray ({ "Do-not-use-010" }));
    settle();
    EXPECT_EQ (notifier.titles.back(), "Vantel disconnected.");
}

// The MIDI fallback: no audio output of the family, but a MIDI output whose
// name starts with "Tactora" gives one old-firmware entry without a name,
// noticed when the device's nodes appear, announced, and never selected by
// itself.
TEST_F (DaemonGlue, MidiFallbackListsAnOldTactora)
{
    midiOutputs = {};
    start ({ "Built-in Output" });
    EXPECT_TRUE (handler().detectedDevices.empty());

    // The device's nodes appear (their directory first, as on a machine with
    // no sound card until now), and so does its MIDI output.
    midiOutputs = { "Midi Through Port-0", "Tactora 2", "Tactora 3" };
    ASSERT_TRUE (deviceNodes.createDirectory());
    ASSERT_TRUE (deviceNodes.getChildFile ("midiC1D0").create());
    ASSERT_TRUE (runUntil ([&] { return ! notifier.titles.empty(); }));
    settle();
    EXPECT_EQ (notifier.titles, std::vector<std::string> ({ "An old Tactora was connected, please update its firmware" }));
    ASSERT_EQ (handler().detectedDevices.size(), 1u) << "one entry, whatever the number of matching outputs";
    EXPECT_EQ (handler().detectedDevices[0].deviceType, M::invalid);
    EXPECT_TRUE (handler().detectedDevices[0].oldFirmware);
    EXPECT_EQ (handler().detectedDeviceNames, juce::StringArray ({ "" }));
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "");
    EXPECT_FALSE (chooseDefaultDevice (handler()));

    // An audio output of the family takes the fallback's place.
    notifier.titles.clear();
    deviceType->setOutputs ({ "Built-in Output", "Do-not-use-001" });
    handler().deviceManager.dispatchPendingMessages();
    ASSERT_TRUE (runUntil ([&] { return handler().detectedDeviceNames == juce::StringArray ({ "Do-not-use-001" }); }));
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-001");
    midiOutputs = {};
}

// A plug-in that arrives while nothing has been selected yet (no saved
// choice) still gets the first known device.
TEST_F (DaemonGlue, WithNothingSelectedTheFirstKnownDeviceOpensForAPlugin)
{
    start ({ "Built-in Output", "Do-not-use-101", "Do-not-use-001" });
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "");

    plugin->claimAndAnnounce (false, 64, 50);
    processor->runTimerOnce();
    ASSERT_TRUE (runUntil ([&] { return device() != nullptr; }));
    EXPECT_EQ (device()->getName(), "Do-not-use-101");
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-101");

    EXPECT_EQ (block().daemonState.load(), M::daemonSettingUp);
    processor->runTimerOnce();
    expectBurst (pump (32), 32, 50, 0x5900);
    EXPECT_EQ (block().deviceType.load(), M::vantel);
    settle();
    EXPECT_TRUE (notifier.titles.empty());
}

// The default choice at start: the first listed device of a known model,
// and the first plug-in opens it at its first tick.
TEST_F (DaemonGlue, DefaultChoiceSelectsTheFirstKnownDevice)
{
    start ({ "Built-in Output", "Tactora-do-not-use" });
    EXPECT_FALSE (chooseDefaultDevice (handler())) << "an old-firmware entry is never chosen by itself";
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "");

    start ({ "Built-in Output", "Tactora-do-not-use", "Do-not-use-101", "Do-not-use-001" });
    EXPECT_TRUE (chooseDefaultDevice (handler()));
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-101");

    start ({ "Built-in Output", "Do-not-use-010", "Do-not-use-001" });
    EXPECT_TRUE (chooseDefaultDevice (handler()));
    EXPECT_EQ (handler().audioSetup.outputDeviceName, "Do-not-use-010");
    EXPECT_EQ (device(), nullptr) << "nothing opens before a plug-in arrives";

    plugin->claimAndAnnounce (false, 64, 17);
    processor->runTimerOnce();
    ASSERT_NE (device(), nullptr);
    EXPECT_EQ (device()->getName(), "Do-not-use-010");
    processor->runTimerOnce();
    expectBurst (pump (32), 32, 17, 0x5904);
    EXPECT_EQ (block().deviceType.load(), M::klavo2);
}

// ---------------------------------------------------------------------------
// The application's first start and restarts.

TEST_F (DaemonGlue, RestartKeepsTheSelectedDeviceWhileItIsListed)
{
    stop();
    names = veltro::testing::uniqueChannelNames ("Glue");
    juce::StringArray outputsOfNextEngine { "Do-not-use-001", "Do-not-use-010" };
    EngineLifecycle engines ([&] { return makeEngine (outputsOfNextEngine); });

    engines.start();
    auto* first = engines.getEngine();
    EXPECT_EQ (first->deviceHandler.audioSetup.outputDeviceName, "Do-not-use-001") << "the default choice";
    ASSERT_TRUE (first->deviceHandler.selectDeviceByName ("Do-not-use-010"));

    struct stat before {};
    ASSERT_EQ (stat (("/dev/shm" + names.sharedMemory).c_str(), &before), 0);

    // Still listed: kept.
    engines.restart();
    auto* second = engines.getEngine();
    EXPECT_EQ (second->deviceHandler.audioSetup.outputDeviceName, "Do-not-use-010");
    EXPECT_EQ (second->deviceHandler.selectedOutputModel.load(), M::klavo2);
    struct stat after {};
    ASSERT_EQ (stat (("/dev/shm" + names.sharedMemory).c_str(), &after), 0);
    EXPECT_NE (after.st_ino, before.st_ino) << "a fresh block for the fresh engine";
    EXPECT_EQ (second->sharedMemory.getMemory()->daemonState.load(), M::daemonIdle);

    // Unplugged meanwhile: the new engine's own choice (none) stands.
    outputsOfNextEngine = { "Do-not-use-001" };
    engines.restart();
    EXPECT_EQ (engines.getEngine()->deviceHandler.audioSetup.outputDeviceName, "");
    EXPECT_EQ (engines.getEngine()->deviceHandler.detectedDeviceNames, juce::StringArray ({ "Do-not-use-001" }));

    // A plug-in can join the restarted daemon.
    PluginSide joining (names);
    ASSERT_TRUE (joining.open());
    joining.claimAndAnnounce (false, 64, 17);
    EXPECT_TRUE (engines.getEngine()->deviceHandler.selectDeviceByName ("Do-not-use-001"));
    engines.getEngine()->runTimerOnce();
    EXPECT_NE (engines.getEngine()->deviceHandler.deviceManager.getCurrentAudioDevice(), nullptr);

    engines.shutdown();
    EXPECT_EQ (engines.getEngine(), nullptr);
    EXPECT_FALSE (channelNamesExist (names));
    settle();
}

// ---------------------------------------------------------------------------
// The device's callback (manager, player, engine) allocates nothing: burst,
// waiting, playout with fill corrections and markers, a model change, and
// giving up on a plug-in that stopped writing.

TEST_F (DaemonGlue, TheAudioCallbackAllocatesNothing)
{
    struct Row
    {
        int callback;
        int pluginBlock;
    };
    const Row rows[] = { { 32, 64 }, { 32, 512 }, { 256, 128 }, { 1024, 256 } };

    for (const auto& row : rows)
    {
        SCOPED_TRACE ("callback " + std::to_string (row.callback) + ", plug-in block " + std::to_string (row.pluginBlock));
        start ({ "Do-not-use-001", "Do-not-use-010" });
        ASSERT_TRUE (handler().selectDeviceByName ("Do-not-use-001"));
        plugin->claimAndAnnounce (false, row.pluginBlock, 17);
        processor->runTimerOnce();
        ASSERT_NE (device(), nullptr);

        long allocations = 0;
        auto countedPump = [&] {
            veltro::testing::startCountingAllocations();
            device()->process (row.callback);
            allocations += veltro::testing::stopCountingAllocations();
        };

        // The framework's device manager sizes its scratch buffer in the
        // first callback it ever runs, so that one is not counted. The burst
        // is counted below, after the model change.
        device()->process (row.callback);
        countedPump(); // waiting
        plugin->confirm();

        // The plug-in writes whole blocks, a little faster than the device
        // plays (one extra zero code every few blocks), so the controller works.
        Codes pluginBlock (static_cast<size_t> (row.pluginBlock), 0);
        int64_t owed = 0;
        int64_t written = 0;
        for (int i = 0; i < 3000; ++i)
        {
            owed += row.callback + (i % 7 == 0 ? 1 : 0);
            while (owed >= row.pluginBlock)
            {
                for (size_t k = 0; k < pluginBlock.size(); ++k)
                    pluginBlock[k] = (k % 16 == 0) ? static_cast<uint16_t> (0x1000 + (written++ & 0xFFF)) : 0;
                plugin->write (pluginBlock);
                owed -= row.pluginBlock;
            }
            countedPump();
            if (i == 1500)
            {
                ASSERT_TRUE (handler().selectDeviceByName ("Do-not-use-010"));
                countedPump(); // burst on the new device
            }
        }
        EXPECT_GT (device()->callbacks, 1000);

        // The plug-in stops writing: patience runs out inside the callback.
        for (int i = 0; i < 40000 / row.callback + 40; ++i)
            countedPump();
        EXPECT_EQ (block().pluginEnabled.load(), M::channelFree);

        EXPECT_EQ (allocations, 0);
    }
}

} // namespace
} // namespace veltro::daemon
