#pragma once

// Host identifiers as both deliverables number them. The numbering is fixed
// by the channel (the block's hostType field and every host rule key on it)
// and must not follow whatever JUCE version a build happens to use.

#include <cstdint>

namespace veltro::HostId
{

enum : int
{
    UnknownHost = 0,
    AbletonLive6 = 1,
    AbletonLive7 = 2,
    AbletonLive8 = 3,
    AbletonLive9 = 4,
    AbletonLive10 = 5,
    AbletonLive11 = 6,
    AbletonLiveGeneric = 7,
    AdobeAudition = 8,
    AdobePremierePro = 9,
    AppleGarageBand = 10,
    AppleInfoHelper = 11,
    AppleLogic = 12,
    AppleMainStage = 13,
    Ardour = 14,
    AULab = 15,
    AUVal = 16,
    AvidProTools = 17,
    BitwigStudio = 18,
    CakewalkSonar8 = 19,
    CakewalkSonarGeneric = 20,
    CakewalkByBandlab = 21,
    DaVinciResolve = 22,
    DigitalPerformer = 23,
    FinalCut = 24,
    FruityLoops = 25,
    JUCEPluginHost = 26,
    MagixSamplitude = 27,
    MagixSequoia = 28,
    MergingPyramix = 29,
    MuseReceptorGeneric = 30,
    Maschine = 31,
    pluginval = 32,
    Reaper = 33,
    Reason = 34,
    Renoise = 35,
    SADiE = 36,
    SteinbergCubase4 = 37,
    SteinbergCubase5 = 38,
    SteinbergCubase5Bridged = 39,
    SteinbergCubase6 = 40,
    SteinbergCubase7 = 41,
    SteinbergCubase8 = 42,
    SteinbergCubase8_5 = 43,
    SteinbergCubase9 = 44,
    SteinbergCubase9_5 = 45,
    SteinbergCubase10 = 46,
    SteinbergCubase10_5 = 47,
    SteinbergCubaseGeneric = 48,
    SteinbergNuendo3 = 49,
    SteinbergNuendo4 = 50,
    SteinbergNuendo5 = 51,
    SteinbergNuendoGeneric = 52,
    SteinbergWavelab5 = 53,
    SteinbergWavelab6 = 54,
    SteinbergWavelab7 = 55,
    SteinbergWavelab8 = 56,
    SteinbergWavelabGeneric = 57,
    SteinbergTestHost = 58,
    StudioOne = 59,
    Tracktion3 = 60,
    TracktionGeneric = 61,
    TracktionWaveform = 62,
    VBVSTScanner = 63,
    ViennaEnsemblePro = 64,
    WaveBurner = 65,
};

inline constexpr bool isAbletonLive (int h) noexcept { return h >= AbletonLive6 && h <= AbletonLiveGeneric; }
inline constexpr bool isLogic (int h) noexcept { return h == AppleLogic; }
inline constexpr bool isProTools (int h) noexcept { return h == AvidProTools; }
inline constexpr bool isBitwig (int h) noexcept { return h == BitwigStudio; }
inline constexpr bool isFLStudio (int h) noexcept { return h == FruityLoops; }
inline constexpr bool isReaper (int h) noexcept { return h == Reaper; }
inline constexpr bool isCubase (int h) noexcept { return h >= SteinbergCubase4 && h <= SteinbergCubaseGeneric; }
inline constexpr bool isNuendo (int h) noexcept { return h >= SteinbergNuendo3 && h <= SteinbergNuendoGeneric; }
inline constexpr bool isStudioOne (int h) noexcept { return h == StudioOne; }

// The plug-in treats Nuendo like the generic Cubase once it has claimed the channel.
inline constexpr int mapNuendoToCubase (int h) noexcept { return isNuendo (h) ? SteinbergCubaseGeneric : h; }

// The DAW code the daemon sends in its identification burst (0x5900 + d).
inline constexpr uint16_t dawCodeForHost (int h) noexcept
{
    if (isAbletonLive (h)) return 1;
    if (isFLStudio (h)) return 2;
    if (isLogic (h)) return 3;
    if (isProTools (h)) return 4;
    if (isCubase (h)) return 5;
    if (isStudioOne (h)) return 6;
    if (isReaper (h)) return 7;
    if (isBitwig (h)) return 8;
    return 0;
}

} // namespace veltro::HostId
