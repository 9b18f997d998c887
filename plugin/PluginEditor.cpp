#include "PluginEditor.h"

#include "BinaryData.h"
#include "HostIds.h"
#include "MillisecondClock.h"
#include "PluginProcessor.h"

#include <cmath>

using veltro::SharedMemory;

namespace
{
    const juce::Colour kBackground { 0xFF1C1A1B };
    const juce::Colour kTactoraAccent { 0xFFDE4747 };
    const juce::Colour kKlavoAccent { 0xFFFFFBCC };

    const juce::String kBufferWarningText { "Your DAW buffer size may have changed" };
    const juce::String kTrackWarningText { "Please do not select or record the plugin track" };
    const juce::String kSyncText { "SYNC" };
    const juce::String kProductText { "Veltro" };
    const juce::String kShiftText { "SHIFT" };

    constexpr int kMargin = 20;
    constexpr double kShiftRangeMs = 100.0;
    constexpr double kShiftStepMs = 0.1;
    constexpr float kSyncFontHeight = 18.0f;
    constexpr float kSyncKerning = 0.03f;
    constexpr float kWarningFontScale = 0.9f;
    constexpr int kRowHeight = 30;
    constexpr int kWarningRowHeight = 15;

    // Latency preview: the base delay in host samples, as the latency model
    // computes it before the user's shift.
    constexpr int kLiveBaseLatencySamples = 380;
    constexpr int kFLStudioBaseLatencySamples = 493;
    constexpr int kMinimumShownLatencyMs = 20;

    // Status of a host the channel refuses; the processor never reports it today.
    constexpr int kUnsupportedHostStatus = 4;

    int textWidth (const juce::Font& font, const juce::String& text)
    {
        return static_cast<int> (std::ceil (font.getStringWidthFloat (text)));
    }

    // The gear drawing with black swapped for white, for the round button.
    std::unique_ptr<juce::Drawable> whiteCopy (const juce::Drawable& d)
    {
        auto copy = d.createCopy();
        copy->replaceColour (juce::Colours::black, juce::Colours::white);
        return copy;
    }
} // namespace

PluginAudioProcessorEditor::HostClass PluginAudioProcessorEditor::classifyHost (int hostId) noexcept
{
    using namespace veltro::HostId;
    if (isAbletonLive (hostId) || isFLStudio (hostId))
        return HostClass::latencySetting;
    if (isLogic (hostId) || isProTools (hostId) || isCubase (hostId))
        return HostClass::bufferSize;
    return HostClass::other;
}

PluginAudioProcessorEditor::PluginAudioProcessorEditor (PluginAudioProcessor& p)
    : juce::AudioProcessorEditor (p),
      processor (p),
      statusLED ("LOCKED", juce::Colours::darkorange, juce::Colours::grey)
{
    shownDeviceType = processor.getDeviceType();
    refreshTickCount = 0;
    lastShownBypassed = false;

    syncLabel.setText (kSyncText, juce::dontSendNotification);
    syncLabel.setColour (juce::Label::textColourId, juce::Colours::grey);
    syncLabel.setFont (juce::Font (kSyncFontHeight, juce::Font::bold).withExtraKerningFactor (kSyncKerning));
    syncLabel.onColour = kKlavoAccent;
    syncLabel.offColour = syncLabel.currentColour = juce::Colours::grey;

    gearButton.setClickingTogglesState (true);
    gearButton.accentColour = kKlavoAccent;
    gearButton.shape = CustomDrawableButton::round;
    if (auto gear = juce::Drawable::createFromImageData (BinaryData::gear_svg,
                                                         static_cast<size_t> (BinaryData::gear_svgSize)))
    {
        const auto over = whiteCopy (*gear);
        gearButton.setImages (gear.get(), over.get());
    }

    // statusLED was given its text and colours when it was constructed.

    sevenSegDisplay.setText (juce::String (processor.getDisplayTempo()), juce::dontSendNotification);
    sevenSegDisplay.setDeviceType (SharedMemory::klavo2);

    largeLatencyCheckBox.tickColour = kKlavoAccent;
    warningOverlay.text = {};

    // The slider's live preview only exists where the label does. Host
    // detection and the processor's value differ only by Nuendo being filed
    // under Cubase, which leaves the latency-setting hosts alone.
    hostType = processor.getHostType();

    const std::array<std::pair<const char*, int>, 3> logos { {
        { BinaryData::logotactora_png, BinaryData::logotactora_pngSize },
        { BinaryData::logoklavo2_png, BinaryData::logoklavo2_pngSize },
        { BinaryData::logovantel_png, BinaryData::logovantel_pngSize },
    } };
    for (size_t i = 0; i < logos.size(); ++i)
    {
        logoImages[i] = juce::ImageCache::getFromMemory (logos[i].first, logos[i].second);
        logoComponents[i].setImage (logoImages[i], juce::RectanglePlacement::centred);
        addChildComponent (logoComponents[i]);
    }
    if (shownDeviceType >= 0 && shownDeviceType < static_cast<int> (logoComponents.size()))
        logoComponents[static_cast<size_t> (shownDeviceType)].setVisible (true);

    addChildComponent (gearButton);
    shiftLabel.setText (kShiftText, juce::dontSendNotification);
    addChildComponent (shiftLabel);
    shiftLabel.attachToComponent (&shiftSlider, true);
    addChildComponent (shiftSlider);
    shiftSlider.setRange (-kShiftRangeMs, kShiftRangeMs, kShiftStepMs);
    shiftSlider.setTextValueSuffix (" ms");
    shiftSlider.onDragStart = [this] { shiftSliderDragging = true; };
    shiftSlider.onDragEnd = [this] { shiftSliderDragEnded(); };
    if (isLatencySettingHost())
        shiftSlider.onValueChange = [this] { setPluginLatencySettingLabelText (true); };

    shiftSlider.setColour (juce::Slider::trackColourId, juce::Colours::darkgrey);
    shiftSlider.setColour (juce::Slider::backgroundColourId, juce::Colours::darkgrey);
    shiftSlider.setColour (juce::Slider::textBoxHighlightColourId, juce::Colours::black);
    addChildComponent (syncLabel);

    if (isLatencySettingHost())
    {
        addChildComponent (latencySettingLabel);
        addChildComponent (largeLatencyCheckBox);
        largeLatencyCheckBox.onStateChange = [this] {
            processor.usingLargeLatencyPlugins = largeLatencyCheckBox.getToggleState();
            processor.updateDelaysFromLatency();
        };
    }
    else if (isBufferSizeHost())
    {
        using namespace veltro::HostId;
        const int divider = processor.rateDivider;
        const bool cubase = isCubase (hostType);
        for (int size : { 32, 64, 128, 256 })
            bufferSizeComboBox.addItem (juce::String (size), size);
        if (isLogic (hostType) || isProTools (hostType) || (cubase && divider >= 2))
            bufferSizeComboBox.addItem ("512", 512);
        if (isProTools (hostType) || (cubase && divider == 4))
            bufferSizeComboBox.addItem ("1024", 1024);
        if (isProTools (hostType) && divider == 4)
            bufferSizeComboBox.addItem ("2048", 2048);

        bufferSizeComboBox.onChange = [this] {
            processor.bufferSizeSetting = bufferSizeComboBox.getSelectedId();
            processor.updateDelaysFromLatency();
            dismissWarnings();
        };
        addChildComponent (bufferSizeComboBox);

        const juce::String prefix = isLogic (hostType) ? "I/O " : isProTools (hostType) ? "H/W " : "";
        bufferSizeLabel.setText (prefix + "Buffer Size: ", juce::dontSendNotification);
        addChildComponent (bufferSizeLabel);

        bufferSizeComboBox.setColour (juce::ComboBox::backgroundColourId, kBackground);
        bufferSizeComboBox.setColour (juce::ComboBox::outlineColourId, juce::Colours::white);

        const auto warningImage = juce::ImageCache::getFromMemory (BinaryData::warningsign_png, BinaryData::warningsign_pngSize);
        gearWarningIcon.setImage (warningImage);
        bufferWarningIcon.setImage (warningImage);
        bufferWarningLabel.setText (kBufferWarningText, juce::dontSendNotification);
        const auto labelFont = bufferWarningLabel.getFont();
        const auto warningFont = labelFont.withHeight (labelFont.getHeight() * kWarningFontScale).italicised();
        bufferWarningLabel.setFont (warningFont);
        // The label is exactly as wide as its text, so it gets no side border.
        bufferWarningLabel.setBorderSize (juce::BorderSize<int> (1, 0, 1, 0));
        dismissButton.setButtonText ("Dismiss");
        dismissButton.onClick = [this] { dismissWarnings(); };
        addChildComponent (gearWarningIcon);
        addChildComponent (bufferWarningIcon);
        addChildComponent (dismissButton);
        addChildComponent (bufferWarningLabel);

        if (isLogic (hostType))
        {
            trackWarningIcon.setImage (warningImage);
            trackWarningLabel.setText (kTrackWarningText, juce::dontSendNotification);
            trackWarningLabel.setFont (warningFont);
            trackWarningLabel.setBorderSize (juce::BorderSize<int> (1, 0, 1, 0));
            addChildComponent (trackWarningIcon);
            addChildComponent (trackWarningLabel);
        }
    }

    gearButton.onToggle = [this] (bool state) { toggleSettingsVisiblity (state); };

    addChildComponent (statusLED);
    addChildComponent (sevenSegDisplay);
    addChildComponent (warningOverlay);

    updateUI (true);
    setSize (kWidth, kHeight);
    startTimer (kTimerPeriodMs);
}

PluginAudioProcessorEditor::~PluginAudioProcessorEditor()
{
    stopTimer();
}

void PluginAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (kBackground);

    if (settingsDividerVisible)
    {
        const auto y = static_cast<float> (shiftSlider.getBottom() + 10);
        g.setColour (juce::Colours::grey);
        g.drawLine (static_cast<float> (kMargin), y, static_cast<float> (getWidth() - kMargin), y, 1.0f);
    }
}

void PluginAudioProcessorEditor::resized()
{
    const int W = getWidth(), H = getHeight();

    warningOverlay.setBounds (0, 0, W, H);

    const auto& reference = logoImages[SharedMemory::tactora];
    const int logoH = reference.getWidth() > 0 ? (W - 2 * kMargin) * reference.getHeight() / reference.getWidth() : 0;
    for (auto& logo : logoComponents)
        logo.setBounds (kMargin, kMargin, W - 2 * kMargin, logoH);

    gearButton.setBounds (W - 95, H - 65, 40, 40);

    const int syncW = textWidth (syncLabel.getFont(), kSyncText) + 25;
    syncLabel.setBounds (22, H - 60, syncW, kRowHeight);
    statusLED.setBounds (kMargin, H - 70, syncW, 50);

    const int shiftW = textWidth (shiftLabel.getFont(), kShiftText);
    shiftLabel.setBounds (kMargin, logoH + 45, shiftW, kRowHeight);
    const int sliderW = W - (shiftW + 25) - 24;
    shiftSlider.setBounds (shiftW + 25, logoH + 45, sliderW, kRowHeight);

    const int tbw = sliderW / 4;
    if (shiftSlider.getTextBoxPosition() != juce::Slider::TextBoxRight || ! shiftSlider.isTextBoxEditable()
        || shiftSlider.getTextBoxWidth() != tbw || shiftSlider.getTextBoxHeight() != kRowHeight)
        shiftSlider.setTextBoxStyle (juce::Slider::TextBoxRight, false, tbw, kRowHeight);

    const int displayX = syncLabel.getRight() + 15;
    sevenSegDisplay.setBounds (displayX, logoH + 55, W - displayX - 168, H - logoH - 150);

    if (isBufferSizeHost())
    {
        bufferSizeLabel.setBounds (16, shiftSlider.getBottom() + 25, W - tbw - 40, kRowHeight);
        bufferSizeComboBox.setBounds (W - tbw - 24, shiftSlider.getBottom() + 25, tbw, kRowHeight);
        gearWarningIcon.setBounds (gearButton.getRight() - 10, gearButton.getBottom() - 13, 12, 12);

        const int y0 = bufferSizeLabel.getBottom();
        bufferWarningIcon.setBounds (kMargin, y0, kWarningRowHeight, kWarningRowHeight);
        bufferWarningLabel.setBounds (40, y0, textWidth (bufferWarningLabel.getFont(), kBufferWarningText), kWarningRowHeight);
        dismissButton.setBounds (bufferWarningLabel.getRight() + 5, y0 - 2, 50, 19);
        trackWarningIcon.setBounds (kMargin, y0 + 25, kWarningRowHeight, kWarningRowHeight);
        trackWarningLabel.setBounds (40, y0 + 25, W - tbw - 40, kWarningRowHeight);
    }
    else if (isLatencySettingHost())
    {
        latencySettingLabel.setBounds (18, logoH + 90, sliderW - tbw, kRowHeight);
        const int box = static_cast<int> (latencySettingLabel.getFont().getHeight());
        largeLatencyCheckBox.setBounds (W - tbw - 24, logoH + 98, box, box);
    }
}

void PluginAudioProcessorEditor::timerCallback()
{
    sevenSegDisplay.setText (juce::String (processor.getDisplayTempo()), juce::dontSendNotification);

    if (++refreshTickCount >= kTicksPerRefresh)
    {
        refreshTickCount = 0;
        updateUI (false);
    }
}

void PluginAudioProcessorEditor::updatePlayLight()
{
    const bool playing = processor.getIsPlaying();

    const auto ledColour = playing ? statusLED.onColour : statusLED.offColour;
    if (statusLED.currentColour != ledColour)
    {
        statusLED.currentColour = ledColour;
        statusLED.repaint();
    }

    // Setting an unchanged colour does not repaint the label.
    syncLabel.currentColour = playing ? syncLabel.onColour : syncLabel.offColour;
    syncLabel.setColour (juce::Label::textColourId, syncLabel.currentColour);
}

void PluginAudioProcessorEditor::updateUI (bool force)
{
    const int64_t now = veltro::millisecondClock();
    const int status = processor.getPluginStatus();

    // A different model while connected needs a new face.
    if (lastStatus == veltro::active && shownDeviceType != processor.getDeviceType())
        force = true;
    shownDeviceType = processor.getDeviceType();

    const bool bypassed = now - processor.lastProcessBlockTimeMs.load() >= kBypassAfterMs;

    if (status == veltro::active)
        updatePlayLight();

    if (force || status != lastStatus || bypassed != lastShownBypassed)
    {
        lastStatus = status;
        lastShownBypassed = bypassed;

        if (bypassed)
            addWarningOverlay ("Plugin is disabled/bypassed");
        else
            switch (status)
            {
                case veltro::daemonNotRunning:   addWarningOverlay ("Daemon is not running"); break;
                case veltro::noDevice:           addWarningOverlay ("No device is connected"); break;
                case veltro::active:             showNormalFace(); break;
                case veltro::anotherInstance:    addWarningOverlay ("Another plugin is already running"); break;
                case kUnsupportedHostStatus:     addWarningOverlay ("This DAW is not supported"); break;
                case veltro::communicationError: addWarningOverlay ("Error communicating with daemon"); break;
                default:                         addWarningOverlay ("Plugin error"); break;
            }
    }

    if (warningOverlay.isVisible())
        return;

    if (! shiftSliderDragging)
        shiftSlider.setValue (processor.latencyCompensationSeconds * 1000.0, juce::dontSendNotification);

    if (isBufferSizeHost())
        bufferSizeComboBox.setSelectedId (processor.bufferSizeSetting, juce::dontSendNotification);

    if (isLatencySettingHost())
    {
        if (! shiftSliderDragging)
            setPluginLatencySettingLabelText (false);
        largeLatencyCheckBox.setToggleState (processor.usingLargeLatencyPlugins, juce::dontSendNotification);
    }

    gearButton.setToggleState (processor.settingsVisible, juce::dontSendNotification);
    toggleSettingsVisiblity (processor.settingsVisible);
}

void PluginAudioProcessorEditor::showNormalFace()
{
    const int d = shownDeviceType;

    warningOverlay.setVisible (false);
    for (size_t i = 0; i < logoComponents.size(); ++i)
        logoComponents[i].setVisible (static_cast<int> (i) == d);
    sevenSegDisplay.setDeviceType (static_cast<SharedMemory::device_type_enum> (d));

    const bool tactora = d == SharedMemory::tactora;
    const bool klavo = d == SharedMemory::klavo2;
    const auto accent = tactora ? kTactoraAccent : klavo ? kKlavoAccent : juce::Colours::white;
    syncLabel.onColour = klavo ? kKlavoAccent : juce::Colours::white;
    syncLabel.setText (klavo ? kSyncText : kProductText, juce::dontSendNotification);
    statusLED.setVisible (tactora);
    syncLabel.setVisible (! tactora);
    gearButton.shape = tactora ? CustomDrawableButton::round : CustomDrawableButton::roundedRectangle;

    gearButton.accentColour = accent;
    gearButton.setColour (juce::DrawableButton::backgroundColourId, gearButton.getToggleState() ? accent : juce::Colours::grey);
    gearButton.repaint();
    largeLatencyCheckBox.tickColour = accent;
    largeLatencyCheckBox.repaint();
    shiftSlider.setColour (juce::Slider::thumbColourId, accent);

    gearButton.setVisible (true);
    gearButton.setToggleState (processor.settingsVisible, juce::dontSendNotification);
    toggleSettingsVisiblity (processor.settingsVisible);
}

void PluginAudioProcessorEditor::addWarningOverlay (const juce::String& text)
{
    warningOverlay.text = text;
    warningOverlay.repaint();

    if (warningOverlay.isVisible())
        return;

    warningOverlay.setVisible (true);
    gearButton.setToggleState (false, juce::dontSendNotification);
    statusLED.setVisible (false);
    syncLabel.setVisible (false);
    for (auto& logo : logoComponents)
        logo.setVisible (false);
    sevenSegDisplay.setVisible (false);
    toggleSettingsVisiblity (false);
    gearButton.setVisible (false);

    if (isBufferSizeHost())
    {
        gearWarningIcon.setVisible (false);
        bufferWarningIcon.setVisible (false);
        dismissButton.setVisible (false);
        bufferWarningLabel.setVisible (false);
        if (veltro::HostId::isLogic (hostType))
        {
            trackWarningIcon.setVisible (false);
            trackWarningLabel.setVisible (false);
        }
    }
}

void PluginAudioProcessorEditor::toggleSettingsVisiblity (bool show)
{
    shiftSlider.setVisible (show);

    // Behind a warning the user's choice is kept for the next normal face.
    if (! warningOverlay.isVisible())
    {
        processor.settingsVisible = show;
        sevenSegDisplay.setVisible (! show);
    }

    const auto hostClass = classifyHost (hostType);
    if (hostClass == HostClass::other)
        return;

    if (hostClass == HostClass::bufferSize)
    {
        bufferSizeComboBox.setVisible (show);
        bufferSizeLabel.setVisible (show);
    }
    else
    {
        latencySettingLabel.setVisible (show);
        largeLatencyCheckBox.setVisible (show);
    }

    // The refresh calls this every 100 ms: repaint only when the line changes.
    if (settingsDividerVisible != show)
    {
        settingsDividerVisible = show;
        repaint();
    }

    if (hostClass == HostClass::bufferSize)
        updateWarningsInUI();
}

void PluginAudioProcessorEditor::updateWarningsInUI()
{
    if (warningOverlay.isVisible())
        return;

    const bool on = gearButton.getToggleState();
    const bool gap = processor.warningCounter > 0;
    const bool track = veltro::HostId::isLogic (hostType) && processor.currentBlockSize != processor.maxBlockSize;

    bufferWarningIcon.setVisible (gap && on);
    bufferWarningLabel.setVisible (gap && on);
    dismissButton.setVisible (gap && on);
    trackWarningIcon.setVisible (track && on);
    trackWarningLabel.setVisible (track && on);
    gearWarningIcon.setVisible ((gap || track) && ! on);
}

void PluginAudioProcessorEditor::setPluginLatencySettingLabelText (bool fromSlider)
{
    using namespace veltro::HostId;
    int shownMs = 0;

    if (! fromSlider)
    {
        shownMs = processor.reportedLatencyMs;
    }
    else if (classifyHost (processor.getHostType()) == HostClass::latencySetting)
    {
        // Live preview of what the latency model will report once the drag ends.
        const double shiftMs = shiftSlider.getValue();
        const double rate = processor.currentSampleRate;
        const int divider = processor.rateDivider;
        const double advanceSeconds = shiftMs < 0.0 ? -shiftMs / 1000.0 : 0.0;
        const auto advanceSamples = static_cast<int64_t> (advanceSeconds * rate);
        const int base = isAbletonLive (processor.getHostType())
                             ? kLiveBaseLatencySamples
                             : (processor.currentBlockSize / divider) * 2 + kFLStudioBaseLatencySamples;
        const int64_t total = static_cast<int64_t> (divider) * base + advanceSamples;
        shownMs = juce::jmax (kMinimumShownLatencyMs, static_cast<int> (std::floor (static_cast<double> (total) * 1000.0 / rate)));
    }

    latencySettingLabel.setText ("I am using plugins with large latencies (>" + juce::String (shownMs) + "ms)",
                                 juce::dontSendNotification);
}

void PluginAudioProcessorEditor::shiftSliderDragEnded()
{
    processor.latencyCompensationSeconds = shiftSlider.getValue() / 1000.0;
    processor.updateDelaysFromLatency();
    if (isLatencySettingHost())
        setPluginLatencySettingLabelText (false);
    shiftSliderDragging = false;
}

void PluginAudioProcessorEditor::dismissWarnings()
{
    if (! isBufferSizeHost())
        return;
    processor.warningCounter = 0;
    updateWarningsInUI();
}
