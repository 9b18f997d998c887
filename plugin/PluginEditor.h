#pragma once

#include "editor/CustomCheckBox.h"
#include "editor/CustomDrawableButton.h"
#include "editor/OverlayComponent.h"
#include "editor/SevenSegDisplay.h"
#include "editor/StatusLED.h"
#include "editor/SyncLabel.h"

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

class PluginAudioProcessor;

// The plug-in's window: link state, tempo, device model and settings. It keeps
// no link state of its own: it polls the processor's fields from a timer and
// writes the user's settings back into them.
class PluginAudioProcessorEditor : public juce::AudioProcessorEditor, private juce::Timer
{
public:
    static constexpr int kWidth = 500;
    static constexpr int kHeight = 285;
    static constexpr int kTimerPeriodMs = 10;
    static constexpr int kTicksPerRefresh = 10;
    // More than this long without an audio block counts as bypassed.
    static constexpr int64_t kBypassAfterMs = 251;

    // Which settings a host gets.
    enum class HostClass
    {
        latencySetting, // the host compensates a reported latency: large-latency option
        bufferSize,     // the stream depends on the host's buffer: buffer-size selector
        other,
    };
    static HostClass classifyHost (int hostId) noexcept;

    explicit PluginAudioProcessorEditor (PluginAudioProcessor& processor);
    ~PluginAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    void updateUI (bool force);
    void addWarningOverlay (const juce::String& text);
    void setPluginLatencySettingLabelText (bool fromSlider);
    void toggleSettingsVisiblity (bool show);
    void updateWarningsInUI();

private:
    friend struct EditorTestAccess;

    void timerCallback() override;
    void showNormalFace();
    void updatePlayLight();
    void shiftSliderDragEnded();
    void dismissWarnings();
    bool isLatencySettingHost() const noexcept { return classifyHost (hostType) == HostClass::latencySetting; }
    bool isBufferSizeHost() const noexcept { return classifyHost (hostType) == HostClass::bufferSize; }

    PluginAudioProcessor& processor;
    juce::Slider shiftSlider;
    juce::Label shiftLabel;
    bool shiftSliderDragging = false;
    SyncLabel syncLabel;
    juce::ComboBox bufferSizeComboBox;
    juce::Label bufferSizeLabel;
    std::array<juce::Image, 3> logoImages;
    std::array<juce::ImageComponent, 3> logoComponents;
    juce::ImageComponent gearWarningIcon;
    juce::Label bufferWarningLabel;
    juce::ImageComponent bufferWarningIcon;
    juce::TextButton dismissButton;
    juce::Label trackWarningLabel;
    juce::ImageComponent trackWarningIcon;
    CustomDrawableButton gearButton { "Gear Button", juce::DrawableButton::ImageFitted };
    StatusLED statusLED;
    SevenSegDisplay sevenSegDisplay;
    juce::Label latencySettingLabel;
    CustomCheckBox largeLatencyCheckBox;
    bool settingsDividerVisible = false;
    OverlayComponent warningOverlay;
    int hostType = 0;
    int lastStatus = kStatusUnset;
    int shownDeviceType = -1;
    bool lastShownBypassed = false;
    int refreshTickCount = 0;

    static constexpr int kStatusUnset = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginAudioProcessorEditor)
};
