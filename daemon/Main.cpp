// Veltro Daemon: owns the audio engine (and, later, the tray icon), restarts
// the engine on request, and shuts down cleanly on quit, SIGTERM or SIGINT.

#include "EngineLifecycle.h"

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX
    #include "linux/TerminationSignals.h"
#endif

#include <cstdlib>

void quitDaemon();
void restartDaemon();

class VeltroDaemonMainApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Veltro Daemon"; }
    const juce::String getApplicationVersion() override { return "1.3.0"; }
    bool moreThanOneInstanceAllowed() override { return false; }

    void initialise (const juce::String&) override
    {
        if (engines.getEngine() != nullptr)
        {
            engines.restart();
            return;
        }

        notifier = veltro::daemon::createDesktopNotifier();
        engines.start();
#if JUCE_LINUX
        signals = std::make_unique<veltro::daemon::TerminationSignals> ([this] { systemRequestedQuit(); });
#endif
    }

    void shutdown() override
    {
#if JUCE_LINUX
        signals = nullptr;
#endif
        engines.shutdown();
        notifier = nullptr;
    }

    void anotherInstanceStarted (const juce::String&) override {}

    void systemRequestedQuit() override { quit(); }

private:
    std::unique_ptr<veltro::daemon::DesktopNotifier> notifier;
    veltro::daemon::EngineLifecycle engines { [this] {
        return std::make_unique<veltro::daemon::MainAudioProcessor> (*notifier, veltro::daemon::MainAudioProcessor::Options {});
    } };
#if JUCE_LINUX
    std::unique_ptr<veltro::daemon::TerminationSignals> signals;
#endif
};

void quitDaemon()
{
    if (auto* app = dynamic_cast<juce::JUCEApplication*> (juce::JUCEApplicationBase::getInstance()))
        app->systemRequestedQuit();
}

void restartDaemon()
{
    auto* app = dynamic_cast<juce::JUCEApplication*> (juce::JUCEApplicationBase::getInstance());
    if (app == nullptr)
        return;

    app->initialise (juce::JUCEApplicationBase::getCommandLineParameters());

    // Without a display there is no one to show a box to (and the framework
    // would crash trying).
    if (const char* display = std::getenv ("DISPLAY"); display != nullptr && *display != 0)
        juce::NativeMessageBox::showMessageBoxAsync (juce::MessageBoxIconType::InfoIcon, "Veltro Daemon", "The daemon has restarted.");
}

START_JUCE_APPLICATION (VeltroDaemonMainApplication)
