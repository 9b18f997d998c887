#include "HostOptions.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace veltro
{

namespace
{
    std::optional<double> toDouble (const std::string& text)
    {
        try
        {
            std::size_t used = 0;
            const double v = std::stod (text, &used);
            if (used == text.size() && std::isfinite (v))
                return v;
        }
        catch (...)
        {
        }
        return std::nullopt;
    }

    std::optional<int> toInt (const std::string& text)
    {
        int v = 0;
        const auto* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars (text.data(), end, v);
        if (ec == std::errc() && ptr == end)
            return v;
        return std::nullopt;
    }

    bool parseSignature (const std::string& text, int& numerator, int& denominator)
    {
        const auto slash = text.find ('/');
        if (slash == std::string::npos)
            return false;
        const auto n = toInt (text.substr (0, slash));
        const auto d = toInt (text.substr (slash + 1));
        if (! n || ! d)
            return false;
        numerator = *n;
        denominator = *d;
        return true;
    }
} // namespace

bool HostOptions::processesAudio() const noexcept
{
    const bool inspectOnly = printDescription || stateRoundTrip || reportLatency;
    return ! inspectOnly || runStandIn || hold || seconds.has_value();
}

ParsedOptions parseHostOptions (const std::vector<std::string>& args)
{
    ParsedOptions result;
    auto& o = result.options;
    auto& t = o.transport;

    SavedSettings settings;
    bool settingsGiven = false;
    bool rampSecondsGiven = false;

    using Flag = std::function<void()>;
    const std::map<std::string, Flag> flags {
        { "--print-description", [&] { o.printDescription = true; } },
        { "--state-roundtrip", [&] { o.stateRoundTrip = true; } },
        { "--report-latency", [&] { o.reportLatency = true; } },
        { "--standin", [&] { o.runStandIn = true; } },
        { "--hold", [&] { o.hold = true; o.realtime = true; } },
        { "--realtime", [&] { o.realtime = true; } },
        { "--verbose", [&] { o.verbose = true; } },
        { "--copy-bundle", [&] { o.copyBundle = true; } },
        { "--replace-daemon", [&] { o.replaceDaemon = true; } },
        { "--large-latency", [&] { settings.usingLargeLatencyPlugins = true; settingsGiven = true; } },
        { "--settings-visible", [&] { settings.settingsVisible = true; settingsGiven = true; } },
        { "--help", [&] { o.showHelp = true; } },
        { "-h", [&] { o.showHelp = true; } },
    };

    // Options with a value; each returns false when the value is unusable.
    using Valued = std::function<bool (const std::string&)>;
    auto number = [] (double& target) {
        return [&target] (const std::string& v) { const auto d = toDouble (v); if (d) target = *d; return d.has_value(); };
    };
    auto optionalNumber = [] (std::optional<double>& target) {
        return [&target] (const std::string& v) { const auto d = toDouble (v); if (d) target = *d; return d.has_value(); };
    };
    auto integer = [] (int& target) {
        return [&target] (const std::string& v) { const auto i = toInt (v); if (i) target = *i; return i.has_value(); };
    };

    const std::map<std::string, Valued> valued {
        { "--bpm", number (t.bpm) },
        { "--rate", number (t.sampleRate) },
        { "--block", integer (o.blockSize) },
        { "--seconds", optionalNumber (o.seconds) },
        { "--start-ppq", number (t.startPpq) },
        { "--start-after", number (t.startAfterSeconds) },
        { "--stop-after", optionalNumber (t.stopAfterSeconds) },
        { "--tempo-ramp-to", optionalNumber (t.rampToBpm) },
        { "--ramp-seconds", [&] (const std::string& v) { rampSecondsGiven = true; return number (t.rampSeconds) (v); } },
        { "--loop-bars", integer (t.loopBars) },
        { "--sig", [&] (const std::string& v) { return parseSignature (v, t.numerator, t.denominator); } },
        { "--device", integer (o.deviceType) },
        { "--callback", integer (o.callbackSamples) },
        { "--events", [&] (const std::string& v) { o.eventsFile = v; return ! v.empty(); } },
        { "--latency-ms", [&] (const std::string& v) {
              const auto ms = toDouble (v);
              if (ms) { settings.latencyCompensationSeconds = *ms / 1000.0; settingsGiven = true; }
              return ms.has_value(); } },
        { "--buffer-size", [&] (const std::string& v) { settingsGiven = true; return integer (settings.bufferSizeSetting) (v); } },
        { "--state-hex", [&] (const std::string& v) { o.stateBytes = fromHex (v); return o.stateBytes.has_value(); } },
    };

    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        if (const auto f = flags.find (arg); f != flags.end())
        {
            f->second();
            continue;
        }

        if (const auto v = valued.find (arg); v != valued.end())
        {
            if (i + 1 >= args.size())
            {
                result.error = arg + " needs a value";
                return result;
            }

            if (! v->second (args[++i]))
            {
                result.error = "unusable value for " + arg + ": " + args[i];
                return result;
            }
            continue;
        }

        if (arg.rfind ("--", 0) == 0 || ! o.bundlePath.empty())
        {
            result.error = "unknown argument: " + arg;
            return result;
        }

        o.bundlePath = arg;
    }

    if (o.showHelp)
        return result;

    if (o.bundlePath.empty())
        result.error = "no VST3 bundle given";
    else if (settingsGiven && o.stateBytes)
        result.error = "--state-hex cannot be combined with individual settings";
    else if (o.blockSize <= 0)
        result.error = "the block size must be positive";
    else if (o.callbackSamples <= 0)
        result.error = "the callback length must be positive";
    else if (o.runSeconds() <= 0.0)
        result.error = "--seconds must be positive";

    if (! result.error.empty())
        return result;

    if (settingsGiven)
        o.stateBytes = encodeSettings (settings);

    // By default a ramp spans the whole time the transport plays.
    if (t.rampToBpm && ! rampSecondsGiven)
        t.rampSeconds = t.stopAfterSeconds.value_or (o.runSeconds()) - t.startAfterSeconds;

    result.error = t.validate();
    return result;
}

std::string hostUsage()
{
    return R"(usage: veltro-host BUNDLE.vst3 [options]

Loads the VST3 plug-in, plays a scripted transport through it and reports.

What to do (combine freely; without any of the first three, blocks are processed):
  --print-description     name, category, version, vendor, channels and buses
  --state-roundtrip       send settings as saved state, save, restore into a
                          second instance, and print what came back
  --report-latency        the latency the host reads after preparing (and after
                          the settings below, when given)
  --standin               run a daemon stand-in in this process and print the
                          decoded sync stream
  --hold                  keep processing in real time until SIGINT or SIGTERM

Transport:
  --rate HZ [48000]  --block N [512]  --seconds S [4]  --bpm X [120]  --sig N/D [4/4]
  --start-ppq Q [0]       where play starts (negative: pre-roll)
  --start-after S [0]     stay stopped for the first S seconds
  --stop-after S          stop S seconds after the session began
                          (both move to the next block boundary, as in a DAW)
  --tempo-ramp-to X       move the tempo linearly to X...
  --ramp-seconds S        ...over S seconds (default: the whole time playing)
  --loop-bars N           jump back to the start after N bars
  --realtime              pace blocks in real time (default: as fast as possible)

Stand-in and output:
  --device N [0]          device model: 0, 1, 2, or -1 for none
  --callback N [32]       stand-in callback length in samples
  --events FILE           decoded events, one per line
  --verbose               print every tick, not only every beat

Plug-in settings (sent as its saved state before processing):
  --latency-ms X  --buffer-size N  --large-latency  --settings-visible
  --state-hex HEX         send these component-state bytes instead

  --copy-bundle           load a private copy of the bundle (a rebuild may be
                          rewriting the original)
  --replace-daemon        let --standin take over a channel that looks in use
                          (the plug-in uses the real channel names: prefer
                          tools/run-isolated.sh, which gives a private /dev/shm)
)";
}

} // namespace veltro
