#include "ScriptedPlayHead.h"

namespace veltro
{

juce::Optional<juce::AudioPlayHead::PositionInfo> ScriptedPlayHead::getPosition() const
{
    const auto frame = currentFrame();
    const auto& settings = transport.getSettings();

    PositionInfo info;
    info.setIsPlaying (frame.playing);
    info.setIsLooping (settings.loopBars > 0);
    info.setBpm (frame.bpm);
    info.setTimeSignature (TimeSignature { frame.numerator, frame.denominator });
    info.setPpqPosition (frame.ppq);
    info.setPpqPositionOfLastBarStart (frame.barStartPpq);
    info.setTimeInSamples (frame.timeInSamples);
    info.setTimeInSeconds (static_cast<double> (frame.timeInSamples) / settings.sampleRate);

    if (settings.loopBars > 0)
        info.setLoopPoints (LoopPoints { settings.startPpq, settings.startPpq + settings.loopBars * transport.quartersPerBar() });

    return info;
}

} // namespace veltro
