// The settings face per host class: selector items, labels, the large-latency
// preview, warnings with the gear badge, and the callbacks writing back into
// the processor.

#include "EditorFixture.h"

using namespace veltro;
using namespace veltro::testing;

namespace
{

class EditorSettings : public EditorFixture
{
protected:
    EditorTestAccess& openSettings (int hostId, int device = SharedMemory::klavo2)
    {
        processor->settingsVisible = true;
        return openConnected (device, hostId);
    }

    void prepare (double rate, int block)
    {
        processor->prepareToPlay (rate, block);
        markProcessing();
    }
};

TEST_F (EditorSettings, HostClasses)
{
    struct Case
    {
        int host;
        PluginAudioProcessorEditor::HostClass expected;
    };
    using HC = PluginAudioProcessorEditor::HostClass;
    const Case cases[] = {
        { HostId::AbletonLive6, HC::latencySetting }, { HostId::AbletonLiveGeneric, HC::latencySetting },
        { HostId::FruityLoops, HC::latencySetting },  { HostId::AppleLogic, HC::bufferSize },
        { HostId::AvidProTools, HC::bufferSize },     { HostId::SteinbergCubase4, HC::bufferSize },
        { HostId::SteinbergCubaseGeneric, HC::bufferSize }, { HostId::SteinbergNuendo3, HC::other },
        { HostId::Reaper, HC::other },                { HostId::BitwigStudio, HC::other },
        { HostId::UnknownHost, HC::other },           { HostId::AdobeAudition, HC::other },
    };
    for (const auto& c : cases)
        EXPECT_EQ (PluginAudioProcessorEditor::classifyHost (c.host), c.expected) << c.host;
}

TEST_F (EditorSettings, BufferSizeItemsAndLabelPerHostAndDivider)
{
    struct Case
    {
        int host;
        double rate; // sets the divider: 1 up to 50 kHz, 2 up to 100 kHz, else 4
        std::vector<int> items;
        const char* label;
    };
    const Case cases[] = {
        { HostId::AppleLogic, 44100.0, { 32, 64, 128, 256, 512 }, "I/O Buffer Size: " },
        { HostId::AppleLogic, 192000.0, { 32, 64, 128, 256, 512 }, "I/O Buffer Size: " },
        { HostId::AvidProTools, 44100.0, { 32, 64, 128, 256, 512, 1024 }, "H/W Buffer Size: " },
        { HostId::AvidProTools, 96000.0, { 32, 64, 128, 256, 512, 1024 }, "H/W Buffer Size: " },
        { HostId::AvidProTools, 192000.0, { 32, 64, 128, 256, 512, 1024, 2048 }, "H/W Buffer Size: " },
        { HostId::SteinbergCubase10, 44100.0, { 32, 64, 128, 256 }, "Buffer Size: " },
        { HostId::SteinbergCubaseGeneric, 96000.0, { 32, 64, 128, 256, 512 }, "Buffer Size: " },
        { HostId::SteinbergCubase4, 192000.0, { 32, 64, 128, 256, 512, 1024 }, "Buffer Size: " },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.host) + " at " + juce::String (c.rate));
        processor->setHostTypeForTesting (c.host);
        prepare (c.rate, 512);
        auto& ui = openSettings (c.host);

        EXPECT_EQ (comboIds (ui.bufferSizeComboBox()), c.items);
        for (int i = 0; i < ui.bufferSizeComboBox().getNumItems(); ++i)
            EXPECT_EQ (ui.bufferSizeComboBox().getItemText (i), juce::String (ui.bufferSizeComboBox().getItemId (i)));
        EXPECT_EQ (ui.bufferSizeLabel().getText(), juce::String (c.label));
        EXPECT_TRUE (ui.bufferSizeComboBox().isVisible());
        EXPECT_TRUE (ui.bufferSizeLabel().isVisible());
        EXPECT_EQ (ui.bufferSizeComboBox().getSelectedId(), processor->bufferSizeSetting.load());
        EXPECT_TRUE (ui.dividerVisible());
        EXPECT_FALSE (ui.latencySettingLabel().isVisible());
        EXPECT_FALSE (ui.largeLatencyCheckBox().isVisible());
        EXPECT_FALSE (ui.sevenSegDisplay().isVisible());
        EXPECT_EQ (ui.bufferSizeComboBox().findColour (juce::ComboBox::backgroundColourId), argb (0xFF1C1A1B));
        EXPECT_EQ (ui.bufferSizeComboBox().findColour (juce::ComboBox::outlineColourId), juce::Colours::white);

        const int tbw = ui.shiftSlider().getTextBoxWidth();
        const int rowY = ui.shiftSlider().getBottom() + 25;
        EXPECT_EQ (ui.bufferSizeLabel().getBounds(), juce::Rectangle<int> (16, rowY, 500 - tbw - 40, 30));
        EXPECT_EQ (ui.bufferSizeComboBox().getBounds(), juce::Rectangle<int> (500 - tbw - 24, rowY, tbw, 30));
    }
}

TEST_F (EditorSettings, OtherHostsShowOnlyTheSlider)
{
    for (int host : { HostId::Reaper, HostId::UnknownHost, HostId::BitwigStudio })
    {
        SCOPED_TRACE (host);
        auto& ui = openSettings (host);
        EXPECT_TRUE (ui.shiftSlider().isVisible());
        EXPECT_TRUE (ui.shiftLabel().isVisible());
        EXPECT_FALSE (ui.dividerVisible());
        EXPECT_EQ (ui.bufferSizeComboBox().getNumItems(), 0);
        for (juce::Component* c : { (juce::Component*) &ui.bufferSizeComboBox(), (juce::Component*) &ui.bufferSizeLabel(),
                                    (juce::Component*) &ui.latencySettingLabel(), (juce::Component*) &ui.largeLatencyCheckBox(),
                                    (juce::Component*) &ui.gearWarningIcon() })
        {
            EXPECT_FALSE (c->isVisible());
            EXPECT_EQ (c->getParentComponent(), nullptr) << "added only for its host class";
        }
    }
}

TEST_F (EditorSettings, LargeLatencyLabelPreviewsWhileDraggingAndShowsTheModelAfter)
{
    struct Case
    {
        int host;
        double rate;
        int block;
        double sliderMs;
        int preview;
    };
    const Case cases[] = {
        { HostId::AbletonLive10, 48000.0, 512, -50.0, 57 }, // floor ((380 + 2400) * 1000 / 48000)
        { HostId::AbletonLive10, 48000.0, 512, 0.0, 20 },   // 7, raised to the minimum
        { HostId::AbletonLive10, 48000.0, 512, 30.0, 20 },  // a delay adds nothing
        { HostId::FruityLoops, 44100.0, 512, 0.0, 34 },     // floor (1517 * 1000 / 44100)
        { HostId::AbletonLive9, 96000.0, 512, -30.0, 37 },  // divider 2: (2 * 380 + 2880) * 1000 / 96000
        { HostId::FruityLoops, 96000.0, 1024, -5.0, 36 },   // (2 * (512 * 2 + 493) + 480) * 1000 / 96000
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.host) + " " + juce::String (c.sliderMs));
        processor->setHostTypeForTesting (c.host);
        prepare (c.rate, c.block);
        processor->latencyCompensationSeconds = 0.0;
        processor->updateDelaysFromLatency();
        auto& ui = openSettings (c.host);
        auto& slider = ui.shiftSlider();

        EXPECT_TRUE (ui.latencySettingLabel().isVisible());
        EXPECT_TRUE (ui.largeLatencyCheckBox().isVisible());
        EXPECT_TRUE (ui.dividerVisible());
        EXPECT_EQ (ui.latencySettingLabel().getText(),
                   "I am using plugins with large latencies (>" + juce::String (processor->reportedLatencyMs.load()) + "ms)");

        slider.onDragStart();
        slider.setValue (c.sliderMs, juce::sendNotificationSync);
        const auto previewText = "I am using plugins with large latencies (>" + juce::String (c.preview) + "ms)";
        EXPECT_EQ (ui.latencySettingLabel().getText(), previewText);

        // The refresh neither moves a dragged slider nor replaces the preview.
        refresh();
        EXPECT_DOUBLE_EQ (slider.getValue(), c.sliderMs);
        EXPECT_EQ (ui.latencySettingLabel().getText(), previewText);
        EXPECT_DOUBLE_EQ (processor->latencyCompensationSeconds.load(), 0.0) << "written only at drag end";

        slider.onDragEnd();
        EXPECT_FALSE (ui.sliderDragging());
        EXPECT_DOUBLE_EQ (processor->latencyCompensationSeconds.load(), c.sliderMs / 1000.0);
        // After the drag the label shows what the latency model now reports.
        EXPECT_EQ (ui.latencySettingLabel().getText(),
                   "I am using plugins with large latencies (>" + juce::String (processor->reportedLatencyMs.load()) + "ms)");
        EXPECT_EQ (processor->reportedLatencyMs.load(), c.preview) << "preview and model disagree";
    }
}

TEST_F (EditorSettings, RefreshReadsTheSettingsBackFromTheProcessor)
{
    auto& ui = openSettings (HostId::AbletonLive11);
    processor->latencyCompensationSeconds = 0.0123;
    processor->usingLargeLatencyPlugins = true;
    refresh();
    EXPECT_NEAR (ui.shiftSlider().getValue(), 12.3, 1e-9);
    EXPECT_TRUE (ui.largeLatencyCheckBox().getToggleState());

    processor->settingsVisible = false;
    refresh();
    EXPECT_FALSE (ui.gearButton().getToggleState());
    EXPECT_FALSE (ui.shiftSlider().isVisible());
    EXPECT_TRUE (ui.sevenSegDisplay().isVisible());
}

TEST_F (EditorSettings, CheckBoxWritesTheSetting)
{
    auto& ui = openSettings (HostId::FruityLoops);
    prepare (48000.0, 256);
    const auto before = processor->getLatencySamples();

    ui.largeLatencyCheckBox().setToggleState (true, juce::sendNotificationSync);
    EXPECT_TRUE (processor->usingLargeLatencyPlugins.load());
    EXPECT_EQ (processor->getLatencySamples(), 12000) << "250 ms at 48 kHz once the option is on";
    EXPECT_NE (processor->getLatencySamples(), before);

    const auto& box = ui.largeLatencyCheckBox();
    const int labelHeight = static_cast<int> (ui.latencySettingLabel().getFont().getHeight());
    EXPECT_EQ (box.getBounds(), juce::Rectangle<int> (500 - ui.shiftSlider().getTextBoxWidth() - 24, 129, labelHeight, labelHeight));
    EXPECT_EQ (ui.latencySettingLabel().getBounds().getY(), 121);
    EXPECT_TRUE (textFits (ui.latencySettingLabel()));
}

TEST_F (EditorSettings, WarningsAndGearBadge)
{
    struct Case
    {
        int host;
        int warningCounter;
        bool blockMismatch;
        bool open;
        bool bufferWarning, trackWarning, badge;
    };
    const Case cases[] = {
        { HostId::AvidProTools, 1, false, false, false, false, true },
        { HostId::AvidProTools, 1, false, true, true, false, false },
        { HostId::AvidProTools, 0, false, true, false, false, false },
        { HostId::AvidProTools, -1, true, false, false, false, false }, // only Logic has the track warning
        { HostId::AppleLogic, 0, true, true, false, true, false },
        { HostId::AppleLogic, 0, true, false, false, false, true },
        { HostId::AppleLogic, 2, true, true, true, true, false },
        { HostId::SteinbergCubase9, 3, false, true, true, false, false },
        { HostId::SteinbergCubase9, 0, false, false, false, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.host) + " counter " + juce::String (c.warningCounter) + (c.open ? " open" : " closed"));
        processor->warningCounter = c.warningCounter;
        processor->maxBlockSize = 512;
        processor->currentBlockSize = c.blockMismatch ? 480 : 512;
        processor->settingsVisible = c.open;
        auto& ui = openConnected (SharedMemory::tactora, c.host);

        EXPECT_EQ (ui.bufferWarningLabel().isVisible(), c.bufferWarning);
        EXPECT_EQ (ui.bufferWarningIcon().isVisible(), c.bufferWarning);
        EXPECT_EQ (ui.dismissButton().isVisible(), c.bufferWarning);
        EXPECT_EQ (ui.trackWarningLabel().isVisible(), c.trackWarning);
        EXPECT_EQ (ui.trackWarningIcon().isVisible(), c.trackWarning);
        EXPECT_EQ (ui.gearWarningIcon().isVisible(), c.badge);
    }
}

TEST_F (EditorSettings, WarningTextsPlacesAndDismiss)
{
    processor->warningCounter = 1;
    processor->maxBlockSize = 512;
    processor->currentBlockSize = 256;
    auto& ui = openSettings (HostId::AppleLogic);

    EXPECT_EQ (ui.bufferWarningLabel().getText(), juce::String ("Your DAW buffer size may have changed"));
    EXPECT_EQ (ui.trackWarningLabel().getText(), juce::String ("Please do not select or record the plugin track"));
    EXPECT_EQ (ui.dismissButton().getButtonText(), juce::String ("Dismiss"));
    EXPECT_TRUE (ui.bufferWarningLabel().getFont().isItalic());
    EXPECT_TRUE (textFits (ui.bufferWarningLabel()));
    EXPECT_TRUE (textFits (ui.trackWarningLabel()));
    EXPECT_TRUE (textFits (ui.bufferSizeLabel()));

    const int y0 = ui.bufferSizeLabel().getBottom();
    EXPECT_EQ (ui.bufferWarningIcon().getBounds(), juce::Rectangle<int> (20, y0, 15, 15));
    EXPECT_EQ (ui.bufferWarningLabel().getPosition(), juce::Point<int> (40, y0));
    EXPECT_EQ (ui.dismissButton().getBounds(), juce::Rectangle<int> (ui.bufferWarningLabel().getRight() + 5, y0 - 2, 50, 19));
    EXPECT_EQ (ui.trackWarningIcon().getBounds(), juce::Rectangle<int> (20, y0 + 25, 15, 15));
    EXPECT_EQ (ui.gearWarningIcon().getBounds(), juce::Rectangle<int> (435, 247, 12, 12));
    EXPECT_LE (ui.dismissButton().getRight(), 500);

    ui.dismissButton().triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
    EXPECT_EQ (processor->warningCounter.load(), 0);
    EXPECT_FALSE (ui.bufferWarningLabel().isVisible());
    EXPECT_FALSE (ui.dismissButton().isVisible());
    EXPECT_TRUE (ui.trackWarningLabel().isVisible()) << "the track warning is not dismissed";
}

TEST_F (EditorSettings, SelectorWritesTheSettingAndDismissesTheWarning)
{
    processor->setHostTypeForTesting (HostId::AvidProTools);
    prepare (44100.0, 512);
    processor->warningCounter = 2;
    processor->bufferSizeSetting = 256;
    auto& ui = openSettings (HostId::AvidProTools);
    ASSERT_TRUE (ui.bufferWarningLabel().isVisible());

    ui.bufferSizeComboBox().setSelectedId (1024, juce::sendNotificationSync);
    EXPECT_EQ (processor->bufferSizeSetting.load(), 1024);
    EXPECT_EQ (processor->warningCounter.load(), 0);
    EXPECT_FALSE (ui.bufferWarningLabel().isVisible());
    EXPECT_FALSE (ui.gearWarningIcon().isVisible());

    // And the refresh keeps showing what the processor holds.
    processor->bufferSizeSetting = 64;
    refresh();
    EXPECT_EQ (ui.bufferSizeComboBox().getSelectedId(), 64);
}

TEST_F (EditorSettings, SliderDragEndWritesTheLatencyForEveryHost)
{
    for (int host : { HostId::Reaper, HostId::AppleLogic, HostId::AbletonLive8 })
    {
        SCOPED_TRACE (host);
        processor->latencyCompensationSeconds = 0.0;
        auto& ui = openSettings (host);
        auto& slider = ui.shiftSlider();
        EXPECT_DOUBLE_EQ (slider.getMinimum(), -100.0);
        EXPECT_DOUBLE_EQ (slider.getMaximum(), 100.0);
        EXPECT_DOUBLE_EQ (slider.getInterval(), 0.1);
        EXPECT_EQ (slider.getTextFromValue (12.5), juce::String ("12.5 ms"));

        slider.onDragStart();
        EXPECT_TRUE (ui.sliderDragging());
        slider.setValue (-12.3, juce::sendNotificationSync);
        slider.onDragEnd();
        EXPECT_NEAR (processor->latencyCompensationSeconds.load(), -0.0123, 1e-12);
    }
}

} // namespace
