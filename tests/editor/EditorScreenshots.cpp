// Renders every face to a PNG under the build folder, for people to look at,
// and shows the editor once in a real window on the test's X display.

#include "EditorFixture.h"

using namespace veltro;
using namespace veltro::testing;

namespace
{

class EditorScreenshots : public EditorFixture
{
protected:
    void save (const char* name)
    {
        const auto folder = juce::File (VELTRO_SCREENSHOT_DIR);
        ASSERT_TRUE (folder.createDirectory());
        const auto file = folder.getChildFile (juce::String (name) + ".png");
        file.deleteFile();

        const auto image = editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.openedOk());
        juce::PNGImageFormat png;
        ASSERT_TRUE (png.writeImageToStream (image, out));
        EXPECT_EQ (image.getWidth(), 500);
        EXPECT_EQ (image.getHeight(), 285);
    }
};

TEST_F (EditorScreenshots, WarningFaces)
{
    setLink (plugin_status_enum::daemonNotRunning, SharedMemory::invalid);
    openEditor();
    save ("warning-daemon-not-running");

    setLink (plugin_status_enum::active, SharedMemory::tactora);
    processor->lastProcessBlockTimeMs = millisecondClock() - 1000;
    openEditor();
    save ("warning-bypassed");
}

TEST_F (EditorScreenshots, NormalFacePerModel)
{
    struct Case
    {
        int device;
        int tempo;
        const char* name;
    };
    const Case cases[] = {
        { SharedMemory::tactora, 128, "normal-tactora" },
        { SharedMemory::klavo2, 96, "normal-klavo2" },
        { SharedMemory::vantel, 174, "normal-vantel" },
        { SharedMemory::invalid, 120, "normal-no-device" },
    };
    for (const auto& c : cases)
    {
        setLink (plugin_status_enum::active, c.device, true, c.tempo);
        openEditor();
        refresh(); // lights the play light
        save (c.name);
    }
}

TEST_F (EditorScreenshots, SettingsFacePerHostClass)
{
    struct Case
    {
        int host;
        double rate;
        int device;
        const char* name;
    };
    const Case cases[] = {
        { HostId::AppleLogic, 48000.0, SharedMemory::klavo2, "settings-logic-warnings" },
        { HostId::AvidProTools, 96000.0, SharedMemory::tactora, "settings-protools" },
        { HostId::SteinbergCubase10, 44100.0, SharedMemory::vantel, "settings-cubase" },
        { HostId::AbletonLive11, 48000.0, SharedMemory::tactora, "settings-live" },
        { HostId::FruityLoops, 44100.0, SharedMemory::klavo2, "settings-flstudio" },
        { HostId::Reaper, 48000.0, SharedMemory::klavo2, "settings-other-host" },
    };
    for (const auto& c : cases)
    {
        processor->setHostTypeForTesting (c.host);
        processor->prepareToPlay (c.rate, 512);
        markProcessing();
        processor->settingsVisible = true;
        processor->latencyCompensationSeconds = -0.0125;
        processor->updateDelaysFromLatency();
        const bool logic = HostId::isLogic (c.host);
        processor->warningCounter = logic ? 1 : 0;
        processor->currentBlockSize = logic ? 256 : 512;
        processor->usingLargeLatencyPlugins = c.host == HostId::AbletonLive11;
        setLink (plugin_status_enum::active, c.device);
        openEditor();
        save (c.name);
    }
}

TEST_F (EditorScreenshots, GearBadgeWithSettingsClosed)
{
    processor->warningCounter = 1;
    processor->settingsVisible = false;
    openConnected (SharedMemory::klavo2, HostId::AvidProTools);
    EXPECT_TRUE (ui().gearWarningIcon().isVisible());
    save ("normal-gear-badge");
}

TEST_F (EditorScreenshots, ShowsInARealWindow)
{
    auto& ui = openConnected (SharedMemory::tactora);
    editor->addToDesktop (juce::ComponentPeer::windowHasTitleBar);
    editor->setVisible (true);
    ASSERT_NE (editor->getPeer(), nullptr);
    juce::MessageManager::getInstance()->runDispatchLoopUntil (200);
    EXPECT_TRUE (ui.statusLED().isShowing());
    editor->removeFromDesktop();
}

} // namespace
