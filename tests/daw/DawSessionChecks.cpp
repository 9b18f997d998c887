// Checks on one Ardour session that hosted Veltro: the events the daemon
// stand-in decoded from the FIFO, against the tempo map and transport Ardour
// reported. run-ardour-session.sh runs the session and then this program:
//
//   veltro_daw_checks --events FILE --ardour FILE --standin FILE
//                     --bpm B --numerator N --denominator D --rate R
//
// Stream indices are the stand-in's sample count (one code per output sample),
// so times and tick spacings below are in output samples at --rate.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct Options
{
    std::string eventsFile, ardourFile, standinFile;
    double bpm = 0.0;
    int numerator = 0;
    int denominator = 0;
    double rate = 0.0;
};

Options options;

// Ardour's musical time resolution: quarter-note positions it hands to plug-ins
// are whole multiples of 1/1920 quarter.
constexpr double kArdourTicksPerQuarter = 1920.0;

// One line of the events file: "kind key=value ...".
struct Event
{
    std::string kind;
    std::map<std::string, std::string> fields;
    int line = 0;

    bool is (const char* k) const { return kind == k; }
    bool has (const std::string& key) const { return fields.count (key) != 0; }

    double number (const std::string& key) const
    {
        const auto it = fields.find (key);
        if (it == fields.end())
        {
            ADD_FAILURE() << "line " << line << ": " << kind << " event has no " << key;
            return 0.0;
        }
        return std::stod (it->second);
    }

    long long integer (const std::string& key) const { return static_cast<long long> (number (key)); }
};

struct Position
{
    long long bar = 0, beat = 0, tick = 0;

    bool operator== (const Position&) const = default;
};

std::ostream& operator<< (std::ostream& out, const Position& p)
{
    return out << "bar " << p.bar << " beat " << p.beat << " tick " << p.tick;
}

Position positionOf (const Event& e)
{
    return { e.integer ("bar"), e.integer ("beat"), e.integer ("tick") };
}

// Counting on by one tick, with beats of a quarter note and bars of
// quartersPerBar beats; the bar field has 18 bits.
Position nextTick (Position p, int quartersPerBar)
{
    if (++p.tick < 768)
        return p;
    p.tick = 0;
    if (++p.beat < quartersPerBar)
        return p;
    p.beat = 0;
    p.bar = (p.bar + 1) % (1 << 18);
    return p;
}

std::vector<Event> readEvents (const std::string& file)
{
    std::vector<Event> events;
    std::ifstream in (file);
    std::string text;
    int lineNumber = 0;

    while (std::getline (in, text))
    {
        ++lineNumber;
        std::istringstream words (text);
        Event e;
        e.line = lineNumber;
        words >> e.kind;
        std::string word;
        while (words >> word)
            if (const auto eq = word.find ('='); eq != std::string::npos)
                e.fields[word.substr (0, eq)] = word.substr (eq + 1);
        if (! e.kind.empty())
            events.push_back (std::move (e));
    }
    return events;
}

// "prefix.key=value" lines of a program's output.
std::map<std::string, std::string> readReport (const std::string& file)
{
    std::map<std::string, std::string> values;
    std::ifstream in (file);
    std::string line;
    while (std::getline (in, line))
        if (const auto eq = line.find ('='); eq != std::string::npos && eq > 0 && line.find (' ') > eq)
            values[line.substr (0, eq)] = line.substr (eq + 1);
    return values;
}

class DawSession : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        events = readEvents (options.eventsFile);
        ardour = readReport (options.ardourFile);
        standin = readReport (options.standinFile);
    }

    static double ardourValue (const std::string& key)
    {
        const auto it = ardour.find ("ardour." + key);
        if (it == ardour.end())
        {
            ADD_FAILURE() << "Ardour's session script reported no " << key;
            return std::nan ("");
        }
        return std::stod (it->second);
    }

    static std::vector<const Event*> all (const char* kind)
    {
        std::vector<const Event*> found;
        for (const auto& e : events)
            if (e.is (kind))
                found.push_back (&e);
        return found;
    }

    // The ticks between the (single) start and stop.
    static std::vector<const Event*> rollingTicks()
    {
        const auto starts = all ("start");
        const auto stops = all ("stop");
        std::vector<const Event*> ticks;
        if (starts.size() != 1 || stops.size() != 1)
            return ticks;
        for (const auto* t : all ("tick"))
            if (t->number ("index") >= starts[0]->number ("index") && t->number ("index") <= stops[0]->number ("index"))
                ticks.push_back (t);
        return ticks;
    }

    static double samplesPerTick() { return options.rate * 60.0 / (options.bpm * 768.0); }
    static int quartersPerBar() { return options.numerator * 4 / options.denominator; }

    static std::vector<Event> events;
    static std::map<std::string, std::string> ardour;
    static std::map<std::string, std::string> standin;
};

std::vector<Event> DawSession::events;
std::map<std::string, std::string> DawSession::ardour;
std::map<std::string, std::string> DawSession::standin;

TEST_F (DawSession, ArdourRanTheSessionAsAsked)
{
    EXPECT_EQ (ardourValue ("rate"), options.rate) << "the dummy backend ran at another rate than the checks assume";
    EXPECT_EQ (ardourValue ("hosted"), 1.0);
    EXPECT_NEAR (ardourValue ("tempo"), options.bpm, 1.0e-6) << "Ardour's tempo map is not at the tempo that was set";

    const double rolled = ardourValue ("stoppedAt") - ardourValue ("rollFrom");
    EXPECT_GT (rolled, options.rate * 1.5) << "the transport rolled for only " << rolled << " samples";
}

TEST_F (DawSession, StandInReadTheChannelOnce)
{
    ASSERT_EQ (standin.count ("standin.setUps"), 1u) << "the stand-in printed no totals";
    // A stand-in may give up on a plug-in that Ardour keeps from processing
    // while it builds the track; the plug-in then announces itself again. In
    // the end the channel must be set up.
    EXPECT_EQ (std::stoll (standin.at ("standin.setUps")), std::stoll (standin.at ("standin.giveUps")) + 1)
        << "set-ups " << standin.at ("standin.setUps") << ", give-ups " << standin.at ("standin.giveUps");
    EXPECT_GT (std::stoll (standin.at ("standin.codesRead")), 0);
}

TEST_F (DawSession, StreamHoldsOnlyCodesThePlugInSends)
{
    for (const auto& e : events)
    {
        const bool pluginKind = e.is ("start") || e.is ("stop") || e.is ("keepSync") || e.is ("tempo")
                                || e.is ("timeSignature") || e.is ("tick") || e.is ("position");
        EXPECT_TRUE (pluginKind) << "line " << e.line << ": " << e.kind << " in the stream"
                                 << (e.has ("code") ? " (code " + e.fields.at ("code") + ")" : std::string());
    }
}

TEST_F (DawSession, OneStartAndOneStopAroundTheTicks)
{
    const auto starts = all ("start");
    const auto stops = all ("stop");
    ASSERT_EQ (starts.size(), 1u) << "the transport rolled once";
    ASSERT_EQ (stops.size(), 1u) << "the transport stopped once";

    const double start = starts[0]->number ("index");
    const double stop = stops[0]->number ("index");
    ASSERT_LT (start, stop);

    for (const auto* t : all ("tick"))
    {
        EXPECT_GE (t->number ("index"), start) << "line " << t->line << ": a tick before the start";
        EXPECT_LE (t->number ("index"), stop) << "line " << t->line << ": a tick after the stop";
    }

    // Start to stop in the stream spans what Ardour rolled: the plug-in writes
    // one code per host sample, so only the blocks in which Ardour started and
    // stopped (its block size each) may differ.
    const double rolled = ardourValue ("stoppedAt") - ardourValue ("rollFrom");
    const double block = ardourValue ("blockSize");
    EXPECT_NEAR (stop - start, rolled, 2.0 * block)
        << "the stream's start-to-stop span does not match the samples Ardour rolled";
}

TEST_F (DawSession, TempoIsArdours)
{
    const auto tempos = all ("tempo");
    ASSERT_FALSE (tempos.empty()) << "no tempo pair in the stream";

    // Ardour's 132 comes back through its superclock as 132.0000001; the pair
    // carries bpm * 2048 rounded, which is the tempo exactly.
    const double carried = std::nearbyint (options.bpm * 2048.0) / 2048.0;
    for (const auto* t : tempos)
        EXPECT_EQ (t->number ("bpm"), carried) << "line " << t->line;

    const auto starts = all ("start");
    ASSERT_FALSE (starts.empty());
    EXPECT_LT (tempos.front()->number ("index"), starts.front()->number ("index"))
        << "the tempo was not sent before the transport rolled";
}

TEST_F (DawSession, TimeSignatureIsArdours)
{
    const auto signatures = all ("timeSignature");
    ASSERT_FALSE (signatures.empty()) << "no time signature in the stream";
    for (const auto* s : signatures)
    {
        EXPECT_EQ (s->integer ("numerator"), options.numerator) << "line " << s->line;
        EXPECT_EQ (s->integer ("denominator"), options.denominator) << "line " << s->line;
    }

    const auto ticks = all ("tick");
    ASSERT_FALSE (ticks.empty());
    EXPECT_LT (signatures.front()->number ("index"), ticks.front()->number ("index"))
        << "the first tick came before the time signature";
}

TEST_F (DawSession, TicksComeAtTheTempo)
{
    const auto ticks = rollingTicks();
    const double rolledSeconds = (ardourValue ("stoppedAt") - ardourValue ("rollFrom")) / options.rate;
    ASSERT_GT (ticks.size(), static_cast<size_t> (rolledSeconds * options.bpm / 60.0 * 768.0 * 0.5))
        << "far fewer ticks than " << rolledSeconds << " s of rolling at " << options.bpm << " bpm";

    // Ardour hands plug-ins its position in quarter notes rounded to its own
    // musical resolution (1920 per quarter), so ticks placed from it sit up to
    // half of that off a perfect grid at each block. Fit the grid, then hold
    // every tick to that rounding (plus a sample): a dropped, doubled or moved
    // tick is off by a whole tick spacing.
    const double spacing = samplesPerTick();
    const double n = static_cast<double> (ticks.size());
    double meanK = 0.0, meanT = 0.0;
    for (size_t k = 0; k < ticks.size(); ++k)
    {
        meanK += static_cast<double> (k) / n;
        meanT += ticks[k]->number ("time") / n;
    }
    double sxy = 0.0, sxx = 0.0;
    for (size_t k = 0; k < ticks.size(); ++k)
    {
        const double dk = static_cast<double> (k) - meanK;
        sxy += dk * (ticks[k]->number ("time") - meanT);
        sxx += dk * dk;
    }
    const double fittedSpacing = sxy / sxx;
    const double perSecond = options.rate / fittedSpacing;
    const double expected = options.bpm / 60.0 * 768.0;
    EXPECT_NEAR (perSecond, expected, expected * 1.0e-4) << "ticks per second over the roll";

    const double hostRounding = 0.5 * spacing * 768.0 / kArdourTicksPerQuarter;
    double worst = 0.0;
    size_t worstAt = 0;
    for (size_t k = 0; k < ticks.size(); ++k)
    {
        const double error = ticks[k]->number ("time") - (meanT + (static_cast<double> (k) - meanK) * fittedSpacing);
        if (std::fabs (error) > std::fabs (worst))
        {
            worst = error;
            worstAt = k;
        }
    }
    EXPECT_LT (std::fabs (worst), hostRounding + 1.0)
        << "tick " << worstAt << " (line " << ticks[worstAt]->line << ") is " << worst
        << " samples off the tempo grid fitted through all ticks";

    // The count covers the roll: Ardour's transport advanced stoppedAt - rollFrom
    // samples; only the start and stop blocks may be cut.
    const double rolledTicks = (ardourValue ("stoppedAt") - ardourValue ("rollFrom")) / spacing;
    const double blockTicks = ardourValue ("blockSize") / spacing;
    EXPECT_NEAR (static_cast<double> (ticks.size()), rolledTicks, 2.0 * blockTicks + 1.0)
        << "ticks sent against the span Ardour rolled";
}

TEST_F (DawSession, FirstTickIsTheSessionStart)
{
    // The roll begins at the session start (sample 0, quarter note 0): the first
    // tick is beat 0, tick 0 of a bar, carried by position words.
    ASSERT_EQ (ardourValue ("rollFrom"), 0.0);
    const auto ticks = rollingTicks();
    ASSERT_FALSE (ticks.empty());
    const auto& first = *ticks.front();

    ASSERT_TRUE (first.has ("bar")) << "the first tick has no position";
    EXPECT_EQ (first.integer ("fromWords"), 1) << "the first tick was not announced by position words";
    EXPECT_EQ (first.integer ("beat"), 0);
    EXPECT_EQ (first.integer ("tick"), 0);

    // Between the start code and the first tick lies only the plug-in's delay
    // region (its latency, well under a second).
    const double start = all ("start").front()->number ("index");
    EXPECT_LT (first.number ("time") - start, options.rate * 0.5) << "the first tick came long after the start";
}

TEST_F (DawSession, PositionWordsAgreeWithCountedTicks)
{
    const auto ticks = rollingTicks();
    ASSERT_FALSE (ticks.empty());
    const int qpb = quartersPerBar();

    Position expected = positionOf (*ticks.front());
    int wordsSeen = 0;
    for (size_t k = 1; k < ticks.size(); ++k)
    {
        expected = nextTick (expected, qpb);
        const auto& t = *ticks[k];
        ASSERT_TRUE (t.has ("bar")) << "line " << t.line << ": a tick without a position";
        const Position got = positionOf (t);

        if (t.integer ("fromWords") == 1)
        {
            ++wordsSeen;
            EXPECT_EQ (got, expected) << "line " << t.line << ": position words disagree with the " << k
                                      << " ticks counted since the first";
        }
        else
        {
            EXPECT_EQ (got, expected) << "line " << t.line << ": counted position";
        }

        if (got != expected)
            expected = got; // report each disagreement once, not every tick after it
    }

    // The bar and beat numbers move on as the roll goes: with qpb quarter
    // notes a bar, the last tick sits ticks/768 quarters after the first.
    const auto last = positionOf (*ticks.back());
    const long long quarters = static_cast<long long> (ticks.size() - 1) / 768;
    const auto first = positionOf (*ticks.front());
    EXPECT_EQ ((last.bar - first.bar) * qpb + (last.beat - first.beat), quarters)
        << "first " << first << ", last " << last << ", " << ticks.size() << " ticks";

    RecordProperty ("positionWordsAfterTheFirstTick", wordsSeen);
}

TEST_F (DawSession, StopEndsTheRoll)
{
    const auto ticks = rollingTicks();
    const auto stops = all ("stop");
    ASSERT_FALSE (ticks.empty());
    ASSERT_EQ (stops.size(), 1u);

    // The stop follows the last tick by less than one block of Ardour's.
    EXPECT_LT (stops[0]->number ("index") - ticks.back()->number ("time"), ardourValue ("blockSize") + samplesPerTick())
        << "the stop came long after the ticks ended";

    // Nothing musical follows the stop.
    for (const auto& e : events)
    {
        if (e.number ("index") > stops[0]->number ("index"))
        {
            EXPECT_FALSE (e.is ("tick") || e.is ("start") || e.is ("position"))
                << "line " << e.line << ": " << e.kind << " after the stop";
        }
    }
}

bool parseOptions (int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--events")
            options.eventsFile = value;
        else if (key == "--ardour")
            options.ardourFile = value;
        else if (key == "--standin")
            options.standinFile = value;
        else if (key == "--bpm")
            options.bpm = std::atof (value.c_str());
        else if (key == "--numerator")
            options.numerator = std::atoi (value.c_str());
        else if (key == "--denominator")
            options.denominator = std::atoi (value.c_str());
        else if (key == "--rate")
            options.rate = std::atof (value.c_str());
        else
            return false;
    }
    return (argc % 2) == 1 && ! options.eventsFile.empty() && ! options.ardourFile.empty()
           && ! options.standinFile.empty() && options.bpm > 0.0 && options.numerator > 0 && options.denominator > 0
           && options.rate > 0.0;
}

} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);
    if (! parseOptions (argc, argv))
    {
        std::cerr << "usage: veltro_daw_checks --events FILE --ardour FILE --standin FILE"
                     " --bpm B --numerator N --denominator D --rate R\n";
        return 2;
    }
    return RUN_ALL_TESTS();
}
