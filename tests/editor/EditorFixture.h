#pragma once

// An editor on a processor whose fields the test sets: the link state is
// forced, so every status and model can be shown without a daemon.

#include "HostIds.h"
#include "MillisecondClock.h"
#include "PluginEditor.h"
#include "PluginProcessor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// Reaches the editor's children; declared a friend by the editor.
struct EditorTestAccess
{
    explicit EditorTestAccess (PluginAudioProcessorEditor& e) : editor (e) {}

    PluginAudioProcessorEditor& editor;

    juce::Slider& shiftSlider() { return editor.shiftSlider; }
    juce::Label& shiftLabel() { return editor.shiftLabel; }
    bool sliderDragging() const { return editor.shiftSliderDragging; }
    SyncLabel& syncLabel() { return editor.syncLabel; }
    juce::ComboBox& bufferSizeComboBox() { return editor.bufferSizeComboBox; }
    juce::Label& bufferSizeLabel() { return editor.bufferSizeLabel; }
    juce::ImageComponent& logo (int i) { return editor.logoComponents[static_cast<size_t> (i)]; }
    const juce::Image& logoImage (int i) { return editor.logoImages[static_cast<size_t> (i)]; }
    juce::ImageComponent& gearWarningIcon() { return editor.gearWarningIcon; }
    juce::Label& bufferWarningLabel() { return editor.bufferWarningLabel; }
    juce::ImageComponent& bufferWarningIcon() { return editor.bufferWarningIcon; }
    juce::TextButton& dismissButton() { return editor.dismissButton; }
    juce::Label& trackWarningLabel() { return editor.trackWarningLabel; }
    juce::ImageComponent& trackWarningIcon() { return editor.trackWarningIcon; }
    CustomDrawableButton& gearButton() { return editor.gearButton; }
    StatusLED& statusLED() { return editor.statusLED; }
    SevenSegDisplay& sevenSegDisplay() { return editor.sevenSegDisplay; }
    juce::Label& latencySettingLabel() { return editor.latencySettingLabel; }
    CustomCheckBox& largeLatencyCheckBox() { return editor.largeLatencyCheckBox; }
    bool dividerVisible() const { return editor.settingsDividerVisible; }
    OverlayComponent& overlay() { return editor.warningOverlay; }
    void tick() { editor.timerCallback(); }
};

namespace veltro::testing
{

inline ChannelNames uniqueEditorTestNames()
{
    // Nobody creates these, so the processor's own link stays down.
    static int counter = 0;
    const auto suffix = std::to_string (getpid()) + "_e" + std::to_string (++counter);
    return { "/VeltroEditorTest_SHM_" + suffix, "/VeltroEditorTest_SEM_" + suffix };
}

inline juce::Colour argb (uint32_t c) { return juce::Colour (c); }

class EditorFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        processor = std::make_unique<PluginAudioProcessor> (uniqueEditorTestNames());
        processor->setHostTypeForTesting (HostId::UnknownHost);
        markProcessing();
        setLink (plugin_status_enum::daemonNotRunning, SharedMemory::invalid);
    }

    void TearDown() override
    {
        editor.reset();
        processor.reset();
    }

    // As if the host had just called processBlock.
    void markProcessing() { processor->lastProcessBlockTimeMs = millisecondClock(); }

    void setLink (int status, int deviceType, bool playing = false, int tempo = 120)
    {
        processor->forceLinkStateForTesting (status, deviceType, playing, tempo);
    }

    PluginAudioProcessorEditor& openEditor()
    {
        editor = std::make_unique<PluginAudioProcessorEditor> (*processor);
        access = std::make_unique<EditorTestAccess> (*editor);
        return *editor;
    }

    // Connected with the given model, editor open.
    EditorTestAccess& openConnected (int deviceType, int hostId = HostId::UnknownHost)
    {
        processor->setHostTypeForTesting (hostId);
        setLink (plugin_status_enum::active, deviceType);
        openEditor();
        return *access;
    }

    void refresh() { editor->updateUI (false); }

    EditorTestAccess& ui() { return *access; }

    std::unique_ptr<PluginAudioProcessor> processor;
    std::unique_ptr<PluginAudioProcessorEditor> editor;
    std::unique_ptr<EditorTestAccess> access;
};

inline std::vector<int> comboIds (juce::ComboBox& box)
{
    std::vector<int> ids;
    for (int i = 0; i < box.getNumItems(); ++i)
        ids.push_back (box.getItemId (i));
    return ids;
}

// How much a label must squeeze its text horizontally to fit: 1 = not at all.
// The framework squeezes down to the label's minimum scale before cutting text.
inline float horizontalSqueeze (const juce::Label& label)
{
    const auto room = static_cast<float> (label.getWidth() - label.getBorderSize().getLeftAndRight());
    const auto needed = label.getFont().getStringWidthFloat (label.getText());
    return needed <= room + 0.5f ? 1.0f : room / needed;
}

// Fits without visible squeezing.
inline bool textFits (const juce::Label& label) { return horizontalSqueeze (label) >= 0.97f; }

} // namespace veltro::testing
