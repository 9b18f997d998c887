#pragma once

// Command line of veltro-host. JUCE-free.

#include "SettingsBytes.h"
#include "TransportScript.h"

#include <optional>
#include <string>
#include <vector>

namespace veltro
{

struct HostOptions
{
    static constexpr double kDefaultSeconds = 4.0;
    static constexpr int kDefaultBlockSize = 512;

    std::string bundlePath;

    // What to do (several may be combined).
    bool printDescription = false;
    bool stateRoundTrip = false;
    bool reportLatency = false;
    bool runStandIn = false;
    bool hold = false;
    bool showHelp = false;

    // How to run the transport.
    TransportSettings transport;
    int blockSize = kDefaultBlockSize;
    std::optional<double> seconds;
    bool realtime = false;

    // The in-process daemon stand-in and what it prints.
    int deviceType = 0;
    int callbackSamples = 32;
    std::string eventsFile;
    bool verbose = false;

    // Settings sent to the plug-in as its saved state before it runs.
    std::optional<std::vector<uint8_t>> stateBytes;

    bool copyBundle = false;
    bool replaceDaemon = false; // let the stand-in replace a channel that looks alive

    // True when blocks are to be processed (not only inspected).
    bool processesAudio() const noexcept;
    double runSeconds() const noexcept { return seconds.value_or (kDefaultSeconds); }
};

struct ParsedOptions
{
    HostOptions options;
    std::string error; // empty when the command line was usable
};

ParsedOptions parseHostOptions (const std::vector<std::string>& args);

std::string hostUsage();

} // namespace veltro
