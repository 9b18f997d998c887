// Opens and closes the plug-in's editor through the VST3 wrapper, again and
// again, while another thread feeds the plug-in audio blocks, and plays the
// daemon's part of the channel so the editor shows its connected face. It
// also stops the audio for a while and checks, on the pixels the X server
// shows, that the editor switches to its warning face and back.
//
//   veltro_hosted_editor_check <Veltro.vst3> [rounds] [screenshot folder]
//
// Run it under its own X display and /dev/shm (see run-hosted-editor-check.sh):
// the plug-in opens the channel by its real names. Exit status 0 on success.

#include "SharedMemory.h"
#include "SharedMemoryHandler.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace veltro;

namespace
{

constexpr double kSampleRate = 48000.0;
constexpr int kBlockSize = 480; // 10 ms
constexpr int kEditorOpenMs = 250;

int ignoreXError (Display*, XErrorEvent* event)
{
    std::fprintf (stderr, "X error %d (request %d) ignored\n", event->error_code, event->request_code);
    return 0;
}

class SteadyPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        const auto samples = position.load();
        info.setIsPlaying (true);
        info.setBpm (128.0);
        info.setTimeInSamples (samples);
        info.setPpqPosition (static_cast<double> (samples) / kSampleRate * 128.0 / 60.0);
        info.setPpqPositionOfLastBarStart (std::floor (*info.getPpqPosition() / 4.0) * 4.0);
        info.setTimeSignature (TimeSignature { 4, 4 });
        return info;
    }

    std::atomic<int64_t> position { 0 };
};

// The daemon's side, reduced to what brings a plug-in to "connected": accept
// the announcement, run, and drain the FIFO.
class StandInDaemon
{
public:
    bool start()
    {
        if (! handler.createAndInitialise())
            return false;
        handler.getMemory()->deviceType.store (SharedMemory::tactora);
        return true;
    }

    void serve()
    {
        auto* m = handler.getMemory();
        if (m == nullptr || ! handler.tryLock())
            return;
        if (m->pluginEnabled.load() == SharedMemory::channelAnnounced)
        {
            m->sampleRateChanged.store (0);
            m->blockSizeChanged.store (0);
            fifo::reset (*m);
            m->daemonState.store (SharedMemory::daemonRunning);
        }
        uint16_t sink[kFifoSize];
        fifo::read (*m, sink, kFifoSize);
        handler.unlock();
    }

    ~StandInDaemon() { handler.close (true); }

private:
    SharedMemoryHandler handler;
};

// What the X server shows of a window, children included.
juce::Image grabWindow (juce::ComponentPeer& peer, int width, int height)
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return {};
    const auto window = reinterpret_cast<Window> (peer.getNativeHandle());
    XImage* x = XGetImage (display, window, 0, 0, static_cast<unsigned> (width), static_cast<unsigned> (height), AllPlanes, ZPixmap);
    juce::Image image;
    if (x != nullptr)
    {
        image = juce::Image (juce::Image::RGB, width, height, false);
        for (int y = 0; y < height; ++y)
            for (int px = 0; px < width; ++px)
            {
                const auto p = XGetPixel (x, px, y);
                image.setPixelAt (px, y, juce::Colour (static_cast<uint8_t> ((p >> 16) & 0xFF), static_cast<uint8_t> ((p >> 8) & 0xFF),
                                                       static_cast<uint8_t> (p & 0xFF)));
            }
        XDestroyImage (x);
    }
    XCloseDisplay (display);
    return image;
}

// The warning face greys the whole window; the connected face has the dark
// background in its top-left corner.
enum class Face
{
    warning,
    connected,
    unknown
};

Face faceOf (const juce::Image& image)
{
    if (! image.isValid())
        return Face::unknown;
    const auto p = image.getPixelAt (5, 5);
    if (p.getRed() > 60 && p.getRed() < 100)
        return Face::warning;
    if (p.getRed() < 40)
        return Face::connected;
    return Face::unknown;
}

void save (const juce::Image& image, const juce::File& folder, const char* name)
{
    if (folder == juce::File() || ! image.isValid())
        return;
    folder.createDirectory();
    auto file = folder.getChildFile (name);
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat().writeImageToStream (image, out);
}

class HostWindow : public juce::DocumentWindow
{
public:
    explicit HostWindow (juce::AudioProcessorEditor* editor)
        : juce::DocumentWindow ("Veltro", juce::Colours::black, 0, false)
    {
        setUsingNativeTitleBar (false);
        setTitleBarHeight (0);
        setContentOwned (editor, true);
        setTopLeftPosition (20, 20);
        addToDesktop (getDesktopWindowStyleFlags());
        setVisible (true);
    }
};

int run (const juce::File& original, int rounds, const juce::File& screenshots)
{
    // A rebuild rewrites the bundle in place: work on a copy.
    const auto copy = juce::File::createTempFile ("").getSiblingFile ("veltro-hosted-" + juce::String (juce::Time::currentTimeMillis()))
                          .getChildFile ("Veltro.vst3");
    if (! original.copyDirectoryTo (copy))
    {
        std::fprintf (stderr, "cannot copy %s\n", original.getFullPathName().toRawUTF8());
        return 1;
    }

    StandInDaemon daemon;
    if (! daemon.start())
    {
        std::fprintf (stderr, "cannot create the channel\n");
        return 1;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, copy.getFullPathName());
    if (types.isEmpty())
    {
        std::fprintf (stderr, "no plug-in in %s\n", copy.getFullPathName().toRawUTF8());
        return 1;
    }

    juce::String error;
    auto instance = format.createInstanceFromDescription (*types[0], kSampleRate, kBlockSize, error);
    if (instance == nullptr)
    {
        std::fprintf (stderr, "cannot create the plug-in: %s\n", error.toRawUTF8());
        return 1;
    }

    SteadyPlayHead head;
    instance->setPlayHead (&head);
    instance->prepareToPlay (kSampleRate, kBlockSize);

    std::atomic<bool> quit { false }, processing { true };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, kBlockSize);
        juce::MidiBuffer midi;
        auto next = std::chrono::steady_clock::now();
        while (! quit)
        {
            daemon.serve();
            if (processing)
            {
                instance->processBlock (buffer, midi);
                head.position += kBlockSize;
                ++blocks;
            }
            next += std::chrono::milliseconds (10);
            std::this_thread::sleep_until (next);
        }
    });

    auto* mm = juce::MessageManager::getInstance();
    int failures = 0;

    for (int round = 0; round < rounds; ++round)
    {
        auto* editor = instance->createEditorIfNeeded();
        if (editor == nullptr)
        {
            std::fprintf (stderr, "round %d: no editor\n", round);
            ++failures;
            break;
        }
        auto window = std::make_unique<HostWindow> (editor);
        mm->runDispatchLoopUntil (kEditorOpenMs);

        // In the first round: connected, then bypassed, then connected again.
        if (round == 0 && window->getPeer() != nullptr)
        {
            const int w = editor->getWidth(), h = editor->getHeight();
            std::printf ("editor %d x %d\n", w, h);
            mm->runDispatchLoopUntil (300);
            const auto connected = grabWindow (*window->getPeer(), w, h);
            save (connected, screenshots, "hosted-connected.png");

            processing = false;
            mm->runDispatchLoopUntil (500);
            const auto bypassed = grabWindow (*window->getPeer(), w, h);
            save (bypassed, screenshots, "hosted-bypassed.png");

            processing = true;
            mm->runDispatchLoopUntil (400);
            const auto resumed = grabWindow (*window->getPeer(), w, h);

            const bool ok = faceOf (connected) == Face::connected && faceOf (bypassed) == Face::warning
                            && faceOf (resumed) == Face::connected;
            std::printf ("faces through the wrapper: %s\n", ok ? "connected, bypassed, connected" : "UNEXPECTED");
            if (! ok)
                ++failures;
        }

        window.reset(); // deletes the editor it owns
        mm->runDispatchLoopUntil (20);
    }

    quit = true;
    audio.join();
    std::printf ("%d rounds, %d blocks processed\n", rounds, blocks.load());

    instance->releaseResources();
    instance.reset();
    copy.getParentDirectory().deleteRecursively();
    return failures == 0 ? 0 : 1;
}

} // namespace

int main (int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf (stderr, "usage: %s <Veltro.vst3> [rounds] [screenshot folder]\n", argv[0]);
        return 2;
    }

    XSetErrorHandler (ignoreXError);
    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juceInit;
        const int rounds = argc > 2 ? std::atoi (argv[2]) : 20;
        const juce::File screenshots = argc > 3 ? juce::File (argv[3]) : juce::File();
        result = run (juce::File (argv[1]), rounds, screenshots);
        juce::DeletedAtShutdown::deleteAll();
    }
    return result;
}
