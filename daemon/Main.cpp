// Veltro Daemon: owns the audio engine (and, later, the tray icon), restarts
// the engine on request, and shuts down cleanly on quit, SIGTERM or SIGINT.

#include "DefaultDeviceChoice.h"
#include "MainAudioProcessor.h"
#include "linux/TerminationSignals.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

void quitDaemon();
void restartDaemon();

class VeltroDaemonMainApplication : public juce::JUCEApplication
{
public:
    static constexpr int kRestartPauseMs = 100;

    const juce::String getApplicationName() override { return "Veltro Daemon"; }
    const juce::String getApplicationVersion() override { return "1.3.0"; }
    bool moreThanOneInstanceAllowed() override { return false; }

    void initialise (const juce::String&) override
    {
        if (mainAudioProcessor == nullptr)
        {
            notifier = veltro::daemon::createDesktopNotifier();
            mainAudioProcessor = std::make_unique<veltro::daemon::MainAudioProcessor> (*notifier, veltro::daemon::MainAudioProcessor::Options {});

            // Nothing remembered yet: the first known device, so the first
            // plug-in is heard without waiting for a device change.
            veltro::daemon::chooseDefaultDevice (mainAudioProcessor->deviceHandler);

            signals = std::make_unique<veltro::daemon::TerminationSignals> ([this] { systemRequestedQuit(); });
            return;
        }

        // Restart: a fresh engine that keeps the selected output when it is still there.
        const auto selected = mainAudioProcessor->deviceHandler.audioSetup.outputDeviceName;
        mainAudioProcessor = nullptr;
        juce::Time::waitForMillisecondCounter (juce::Time::getMillisecondCounter() + kRestartPauseMs);
        mainAudioProcessor = std::make_unique<veltro::daemon::MainAudioProcessor> (*notifier, veltro::daemon::MainAudioProcessor::Options {});
        mainAudioProcessor->deviceHandler.selectDeviceByName (selected);
    }

    void shutdown() override
    {
        signals = nullptr;
        mainAudioProcessor = nullptr;
        notifier = nullptr;
    }

    void anotherInstanceStarted (const juce::String&) override {}

    void systemRequestedQuit() override { quit(); }

private:
    std::unique_ptr<veltro::daemon::DesktopNotifier> notifier;
    std::unique_ptr<veltro::daemon::MainAudioProcessor> mainAudioProcessor;
    std::unique_ptr<veltro::daemon::TerminationSignals> signals;
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
