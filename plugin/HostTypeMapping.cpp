#include "HostTypeMapping.h"

#include "HostIds.h"

namespace veltro
{

int toHostId (juce::PluginHostType::HostType type) noexcept
{
    using JuceHost = juce::PluginHostType;

    // By name, never by value: JUCE versions differ in where enumerators sit.
    switch (type)
    {
        case JuceHost::UnknownHost: return HostId::UnknownHost;
        case JuceHost::AbletonLive6: return HostId::AbletonLive6;
        case JuceHost::AbletonLive7: return HostId::AbletonLive7;
        case JuceHost::AbletonLive8: return HostId::AbletonLive8;
        case JuceHost::AbletonLive9: return HostId::AbletonLive9;
        case JuceHost::AbletonLive10: return HostId::AbletonLive10;
        case JuceHost::AbletonLive11: return HostId::AbletonLive11;
        case JuceHost::AbletonLiveGeneric: return HostId::AbletonLiveGeneric;
        case JuceHost::AdobeAudition: return HostId::AdobeAudition;
        case JuceHost::AdobePremierePro: return HostId::AdobePremierePro;
        case JuceHost::AppleGarageBand: return HostId::AppleGarageBand;
        case JuceHost::AppleInfoHelper: return HostId::AppleInfoHelper;
        case JuceHost::AppleLogic: return HostId::AppleLogic;
        case JuceHost::AppleMainStage: return HostId::AppleMainStage;
        case JuceHost::Ardour: return HostId::Ardour;
        case JuceHost::AULab: return HostId::AULab;
        case JuceHost::AUVal: return HostId::AUVal;
        case JuceHost::AvidProTools: return HostId::AvidProTools;
        case JuceHost::BitwigStudio: return HostId::BitwigStudio;
        case JuceHost::CakewalkSonar8: return HostId::CakewalkSonar8;
        case JuceHost::CakewalkSonarGeneric: return HostId::CakewalkSonarGeneric;
        case JuceHost::CakewalkByBandlab: return HostId::CakewalkByBandlab;
        case JuceHost::DaVinciResolve: return HostId::DaVinciResolve;
        case JuceHost::DigitalPerformer: return HostId::DigitalPerformer;
        case JuceHost::FinalCut: return HostId::FinalCut;
        case JuceHost::FruityLoops: return HostId::FruityLoops;
        case JuceHost::JUCEPluginHost: return HostId::JUCEPluginHost;
        case JuceHost::MagixSamplitude: return HostId::MagixSamplitude;
        case JuceHost::MagixSequoia: return HostId::MagixSequoia;
        case JuceHost::MergingPyramix: return HostId::MergingPyramix;
        case JuceHost::MuseReceptorGeneric: return HostId::MuseReceptorGeneric;
        case JuceHost::pluginval: return HostId::pluginval;
        case JuceHost::Reaper: return HostId::Reaper;
        case JuceHost::Reason: return HostId::Reason;
        case JuceHost::Renoise: return HostId::Renoise;
        case JuceHost::SADiE: return HostId::SADiE;
        case JuceHost::SteinbergCubase4: return HostId::SteinbergCubase4;
        case JuceHost::SteinbergCubase5: return HostId::SteinbergCubase5;
        case JuceHost::SteinbergCubase5Bridged: return HostId::SteinbergCubase5Bridged;
        case JuceHost::SteinbergCubase6: return HostId::SteinbergCubase6;
        case JuceHost::SteinbergCubase7: return HostId::SteinbergCubase7;
        case JuceHost::SteinbergCubase8: return HostId::SteinbergCubase8;
        case JuceHost::SteinbergCubase8_5: return HostId::SteinbergCubase8_5;
        case JuceHost::SteinbergCubase9: return HostId::SteinbergCubase9;
        case JuceHost::SteinbergCubase9_5: return HostId::SteinbergCubase9_5;
        case JuceHost::SteinbergCubase10: return HostId::SteinbergCubase10;
        case JuceHost::SteinbergCubase10_5: return HostId::SteinbergCubase10_5;
        case JuceHost::SteinbergCubaseGeneric: return HostId::SteinbergCubaseGeneric;
        case JuceHost::SteinbergNuendo3: return HostId::SteinbergNuendo3;
        case JuceHost::SteinbergNuendo4: return HostId::SteinbergNuendo4;
        case JuceHost::SteinbergNuendo5: return HostId::SteinbergNuendo5;
        case JuceHost::SteinbergNuendoGeneric: return HostId::SteinbergNuendoGeneric;
        case JuceHost::SteinbergWavelab5: return HostId::SteinbergWavelab5;
        case JuceHost::SteinbergWavelab6: return HostId::SteinbergWavelab6;
        case JuceHost::SteinbergWavelab7: return HostId::SteinbergWavelab7;
        case JuceHost::SteinbergWavelab8: return HostId::SteinbergWavelab8;
        case JuceHost::SteinbergWavelabGeneric: return HostId::SteinbergWavelabGeneric;
        case JuceHost::SteinbergTestHost: return HostId::SteinbergTestHost;
        case JuceHost::StudioOne: return HostId::StudioOne;
        case JuceHost::Tracktion3: return HostId::Tracktion3;
        case JuceHost::TracktionGeneric: return HostId::TracktionGeneric;
        case JuceHost::TracktionWaveform: return HostId::TracktionWaveform;
        case JuceHost::VBVSTScanner: return HostId::VBVSTScanner;
        case JuceHost::ViennaEnsemblePro: return HostId::ViennaEnsemblePro;
        case JuceHost::WaveBurner: return HostId::WaveBurner;
#if VELTRO_JUCE_HAS_MASCHINE_HOST
        case JuceHost::Maschine: return HostId::Maschine;
#endif
    }

    return HostId::UnknownHost;
}

int detectHostId() noexcept
{
    return toHostId (juce::PluginHostType().type);
}

} // namespace veltro
