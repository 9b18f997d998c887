// The warning and normal faces, the refresh and the bypass detection.

#include "EditorFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace veltro;
using namespace veltro::testing;

namespace
{

bool anyNormalFaceChildVisible (EditorTestAccess& ui)
{
    return ui.gearButton().isVisible() || ui.statusLED().isVisible() || ui.syncLabel().isVisible()
           || ui.sevenSegDisplay().isVisible() || ui.shiftSlider().isVisible() || ui.logo (0).isVisible()
           || ui.logo (1).isVisible() || ui.logo (2).isVisible();
}

class EditorFaces : public EditorFixture
{
};

TEST_F (EditorFaces, EachStatusShowsItsWarningText)
{
    struct Case
    {
        int status;
        bool bypassed;
        const char* text;
    };
    const Case cases[] = {
        { 0, false, "Daemon is not running" },
        { 1, false, "No device is connected" },
        { 3, false, "Another plugin is already running" },
        { 4, false, "This DAW is not supported" },
        { 5, false, "Error communicating with daemon" },
        { 7, false, "Plugin error" },
        { -3, false, "Plugin error" },
        // No audio for more than 250 ms wins over every status, "connected" included.
        { 2, true, "Plugin is disabled/bypassed" },
        { 0, true, "Plugin is disabled/bypassed" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.status) + (c.bypassed ? " bypassed" : ""));
        setLink (c.status, SharedMemory::tactora);
        processor->lastProcessBlockTimeMs = millisecondClock() - (c.bypassed ? 251 : 0);
        openEditor();

        EXPECT_TRUE (ui().overlay().isVisible());
        EXPECT_EQ (ui().overlay().getBounds(), juce::Rectangle<int> (0, 0, 500, 285));
        EXPECT_EQ (ui().overlay().text, juce::String (c.text));
        EXPECT_FALSE (anyNormalFaceChildVisible (ui()));
        // Topmost, so it takes the clicks meant for the controls below it.
        EXPECT_EQ (editor->getChildComponent (editor->getNumChildComponents() - 1), &ui().overlay());
    }
}

TEST_F (EditorFaces, BypassBoundaryIsMoreThan250Ms)
{
    setLink (plugin_status_enum::active, SharedMemory::klavo2);
    processor->lastProcessBlockTimeMs = millisecondClock() - 200;
    openEditor();
    EXPECT_FALSE (ui().overlay().isVisible());

    processor->lastProcessBlockTimeMs = millisecondClock() - 260;
    refresh();
    EXPECT_TRUE (ui().overlay().isVisible());
    EXPECT_EQ (ui().overlay().text, juce::String ("Plugin is disabled/bypassed"));

    // Audio resumes: the face of the status comes back at the next refresh.
    markProcessing();
    refresh();
    EXPECT_FALSE (ui().overlay().isVisible());
    EXPECT_TRUE (ui().syncLabel().isVisible());
}

TEST_F (EditorFaces, NormalFacePerModel)
{
    struct Case
    {
        int device;
        uint32_t accent;
        uint32_t syncOnColour;
        const char* syncText;
        bool ledShown;
        int gearShape;
        uint32_t displayText, displayPlate;
        bool sevenSegmentFont;
    };
    const Case cases[] = {
        { SharedMemory::tactora, 0xFFDE4747, 0xFFFFFFFF, "Veltro", true, CustomDrawableButton::round, 0xFFDE4747, 0xFF201412, true },
        { SharedMemory::klavo2, 0xFFFFFBCC, 0xFFFFFBCC, "SYNC", false, CustomDrawableButton::roundedRectangle, 0xFFFFFB4C, 0xFF585532, true },
        { SharedMemory::vantel, 0xFFFFFFFF, 0xFFFFFFFF, "Veltro", false, CustomDrawableButton::roundedRectangle, 0xFFFFFFFF, 0xFF1C1A1B, false },
        { SharedMemory::invalid, 0xFFFFFFFF, 0xFFFFFFFF, "Veltro", false, CustomDrawableButton::roundedRectangle, 0xFFFFFFFF, 0xFF1C1A1B, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.device);
        auto& ui = openConnected (c.device);

        EXPECT_FALSE (ui.overlay().isVisible());
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ (ui.logo (i).isVisible(), i == c.device) << "logo " << i;

        EXPECT_EQ (ui.gearButton().accentColour, argb (c.accent));
        EXPECT_EQ (ui.gearButton().findColour (juce::DrawableButton::backgroundColourId), juce::Colours::grey);
        EXPECT_EQ (ui.gearButton().shape, c.gearShape);
        EXPECT_TRUE (ui.gearButton().isVisible());
        EXPECT_EQ (ui.largeLatencyCheckBox().tickColour, argb (c.accent));
        EXPECT_EQ (ui.shiftSlider().findColour (juce::Slider::thumbColourId), argb (c.accent));

        EXPECT_EQ (ui.statusLED().isVisible(), c.ledShown);
        EXPECT_EQ (ui.syncLabel().isVisible(), ! c.ledShown);
        EXPECT_EQ (ui.syncLabel().getText(), juce::String (c.syncText));
        EXPECT_EQ (ui.syncLabel().onColour, argb (c.syncOnColour));
        EXPECT_EQ (ui.statusLED().label.getText(), juce::String ("LOCKED"));

        auto& display = ui.sevenSegDisplay();
        EXPECT_TRUE (display.isVisible());
        EXPECT_FALSE (ui.shiftSlider().isVisible());
        EXPECT_EQ (display.getText(), juce::String ("120"));
        EXPECT_EQ (display.findColour (juce::Label::textColourId), argb (c.displayText));
        EXPECT_EQ (display.findColour (juce::Label::backgroundColourId), argb (c.displayPlate));
        EXPECT_EQ (display.getFont().getTypefaceName() == "DSEG7 Classic", c.sevenSegmentFont) << display.getFont().getTypefaceName();
        EXPECT_FLOAT_EQ (display.getFont().getHeight(), 74.0f);
    }
}

TEST_F (EditorFaces, PlayLightFollowsTransport)
{
    auto& ui = openConnected (SharedMemory::tactora);
    EXPECT_EQ (ui.statusLED().currentColour, juce::Colours::grey);

    setLink (plugin_status_enum::active, SharedMemory::tactora, true);
    refresh();
    EXPECT_EQ (ui.statusLED().currentColour, juce::Colours::darkorange);

    setLink (plugin_status_enum::active, SharedMemory::klavo2, true);
    refresh(); // the model changes: a new face, lit at the next refresh
    refresh();
    EXPECT_TRUE (ui.syncLabel().isVisible());
    EXPECT_EQ (ui.syncLabel().findColour (juce::Label::textColourId), argb (0xFFFFFBCC));

    setLink (plugin_status_enum::active, SharedMemory::klavo2, false);
    refresh();
    EXPECT_EQ (ui.syncLabel().findColour (juce::Label::textColourId), juce::Colours::grey);
    EXPECT_EQ (ui.syncLabel().currentColour, juce::Colours::grey);
}

TEST_F (EditorFaces, ModelChangeWhileConnectedRebuildsTheFace)
{
    auto& ui = openConnected (SharedMemory::tactora);
    EXPECT_TRUE (ui.logo (0).isVisible());

    setLink (plugin_status_enum::active, SharedMemory::vantel);
    refresh();
    EXPECT_FALSE (ui.logo (0).isVisible());
    EXPECT_TRUE (ui.logo (2).isVisible());
    EXPECT_FALSE (ui.statusLED().isVisible());
    EXPECT_EQ (ui.sevenSegDisplay().findColour (juce::Label::textColourId), juce::Colours::white);
}

TEST_F (EditorFaces, TimerSetsTempoEveryTickAndRefreshesEveryTenth)
{
    auto& ui = openConnected (SharedMemory::klavo2);

    setLink (plugin_status_enum::noDevice, SharedMemory::klavo2, false, 174);
    ui.tick();
    EXPECT_EQ (ui.sevenSegDisplay().getText(), juce::String ("174"));
    for (int i = 0; i < 8; ++i)
        ui.tick();
    EXPECT_FALSE (ui.overlay().isVisible()) << "refreshed before the tenth tick";
    ui.tick();
    EXPECT_TRUE (ui.overlay().isVisible());
    EXPECT_EQ (ui.overlay().text, juce::String ("No device is connected"));
}

TEST_F (EditorFaces, WarningTextChangeKeepsTheFaceAndTheSettingsChoice)
{
    processor->settingsVisible = true;
    auto& ui = openConnected (SharedMemory::klavo2, HostId::AvidProTools);
    EXPECT_TRUE (ui.shiftSlider().isVisible());

    setLink (plugin_status_enum::daemonNotRunning, SharedMemory::klavo2);
    refresh();
    EXPECT_TRUE (ui.overlay().isVisible());
    EXPECT_FALSE (ui.gearButton().getToggleState());
    EXPECT_FALSE (ui.shiftSlider().isVisible());
    EXPECT_FALSE (ui.bufferSizeComboBox().isVisible());
    EXPECT_TRUE (processor->settingsVisible.load()) << "a warning must not close the user's settings";

    setLink (plugin_status_enum::noDevice, SharedMemory::klavo2);
    refresh();
    EXPECT_EQ (ui.overlay().text, juce::String ("No device is connected"));
    EXPECT_TRUE (processor->settingsVisible.load());

    setLink (plugin_status_enum::active, SharedMemory::klavo2);
    refresh();
    EXPECT_FALSE (ui.overlay().isVisible());
    EXPECT_TRUE (ui.gearButton().getToggleState());
    EXPECT_TRUE (ui.shiftSlider().isVisible());
    EXPECT_TRUE (ui.bufferSizeComboBox().isVisible());
    EXPECT_FALSE (ui.sevenSegDisplay().isVisible());
}

TEST_F (EditorFaces, GearChoiceSurvivesReopeningTheWindow)
{
    auto& first = openConnected (SharedMemory::tactora, HostId::AbletonLive11);
    first.gearButton().triggerClick();
    // A click toggles through the message loop's click handling; run it directly.
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    ASSERT_TRUE (first.gearButton().getToggleState());
    EXPECT_TRUE (processor->settingsVisible.load());
    EXPECT_TRUE (first.shiftSlider().isVisible());
    EXPECT_FALSE (first.sevenSegDisplay().isVisible());
    EXPECT_EQ (first.gearButton().findColour (juce::DrawableButton::backgroundColourId), argb (0xFFDE4747));

    auto& second = openConnected (SharedMemory::tactora, HostId::AbletonLive11);
    EXPECT_TRUE (second.gearButton().getToggleState());
    EXPECT_TRUE (second.shiftSlider().isVisible());
    EXPECT_TRUE (second.latencySettingLabel().isVisible());
    EXPECT_FALSE (second.sevenSegDisplay().isVisible());

    second.gearButton().triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    EXPECT_FALSE (processor->settingsVisible.load());
    EXPECT_TRUE (second.sevenSegDisplay().isVisible());
    EXPECT_FALSE (second.latencySettingLabel().isVisible());
}

TEST_F (EditorFaces, LayoutOfTheNormalFace)
{
    auto& ui = openConnected (SharedMemory::tactora);
    EXPECT_EQ (editor->getWidth(), 500);
    EXPECT_EQ (editor->getHeight(), 285);
    EXPECT_FALSE (editor->isResizable());

    // The logo height comes from the 1173 x 81 artwork: 460 * 81 / 1173 = 31.
    ASSERT_EQ (ui.logoImage (0).getWidth(), 1173);
    ASSERT_EQ (ui.logoImage (0).getHeight(), 81);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (ui.logo (i).getBounds(), juce::Rectangle<int> (20, 20, 460, 31));

    EXPECT_EQ (ui.gearButton().getBounds(), juce::Rectangle<int> (405, 220, 40, 40));
    const int syncW = ui.syncLabel().getWidth();
    EXPECT_EQ (syncW, static_cast<int> (std::ceil (ui.syncLabel().getFont().getStringWidthFloat ("SYNC"))) + 25);
    EXPECT_EQ (ui.syncLabel().getBounds(), juce::Rectangle<int> (22, 225, syncW, 30));
    EXPECT_EQ (ui.statusLED().getBounds(), juce::Rectangle<int> (20, 215, syncW, 50));

    const int displayX = 22 + syncW + 15;
    EXPECT_EQ (ui.sevenSegDisplay().getBounds(), juce::Rectangle<int> (displayX, 86, 500 - displayX - 168, 104));

    const int shiftW = static_cast<int> (std::ceil (ui.shiftLabel().getFont().getStringWidthFloat ("SHIFT")));
    const int sliderW = 500 - (shiftW + 25) - 24;
    EXPECT_EQ (ui.shiftSlider().getBounds(), juce::Rectangle<int> (shiftW + 25, 76, sliderW, 30));
    EXPECT_EQ (ui.shiftSlider().getTextBoxWidth(), sliderW / 4);
    EXPECT_TRUE (ui.shiftSlider().isTextBoxEditable());
    EXPECT_EQ (ui.shiftSlider().getTextBoxPosition(), juce::Slider::TextBoxRight);
    EXPECT_EQ (ui.shiftLabel().getText(), juce::String ("SHIFT"));
    EXPECT_EQ (ui.shiftLabel().getRight(), ui.shiftSlider().getX()) << "attached to the slider's left";
}

TEST_F (EditorFaces, BypassShowsWithinAbout350MsOfTheLastBlockAndClearsWhenAudioResumes)
{
    // A stand-in audio thread stamps the block time as processBlock does.
    std::atomic<bool> processing { true }, quit { false };
    std::thread audio ([&] {
        while (! quit)
        {
            if (processing)
                processor->lastProcessBlockTimeMs = millisecondClock();
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
    });

    auto& ui = openConnected (SharedMemory::klavo2);
    auto* mm = juce::MessageManager::getInstance();
    mm->runDispatchLoopUntil (150);
    EXPECT_FALSE (ui.overlay().isVisible());

    processing = false;
    const auto stopped = millisecondClock();
    int64_t shownAfter = -1;
    while (millisecondClock() - stopped < 1000)
    {
        mm->runDispatchLoopUntil (5);
        if (ui.overlay().isVisible())
        {
            shownAfter = millisecondClock() - stopped;
            break;
        }
    }
    ASSERT_GE (shownAfter, 0) << "bypass never shown";
    EXPECT_EQ (ui.overlay().text, juce::String ("Plugin is disabled/bypassed"));
    // 250 ms of silence plus at most one 100 ms refresh; the margin is for a loaded machine.
    EXPECT_LE (shownAfter, 600);
    std::printf ("[ info ] bypass shown %lld ms after the last block\n", static_cast<long long> (shownAfter));

    processing = true;
    mm->runDispatchLoopUntil (250);
    EXPECT_FALSE (ui.overlay().isVisible());
    EXPECT_TRUE (ui.syncLabel().isVisible());

    quit = true;
    audio.join();
}

} // namespace
