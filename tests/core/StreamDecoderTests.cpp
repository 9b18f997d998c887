#include "StreamDecoder.h"

#include "EncoderRig.h"
#include "ScriptedTransport.h"
#include "SyncCodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace veltro
{
namespace
{

using Kind = SyncEvent::Kind;
using testing::decodeAll;

std::vector<Kind> kindsOf (const std::vector<SyncEvent>& events)
{
    std::vector<Kind> kinds;
    for (const auto& e : events)
        kinds.push_back (e.kind);
    return kinds;
}

TEST (StreamDecoder, SingleCodesOfTheTable)
{
    struct Case
    {
        uint16_t code;
        Kind kind;
        int value;
    };

    const Case cases[] = {
        { 0x5010, Kind::start, 0 },       { 0x5020, Kind::stop, 0 },        { 0x5030, Kind::keepSync, 0 },
        { 0x50F0, Kind::marker, 0 },      { 0x583C, Kind::tokenByte, 0x3C }, { 0x5800, Kind::tokenByte, 0 },
        { 0x5801, Kind::tokenEnd, 0 },    { 0x5903, Kind::dawCode, 3 },     { 0x5900, Kind::dawCode, 0 },
        { 0x5A01, Kind::systemCode, 1 },  { 0x5A03, Kind::systemCode, 3 },  { 0x0001, Kind::unknown, 0 },
        { 0x5000, Kind::unknown, 0 },     { 0x5040, Kind::unknown, 0 },     { 0x5B00, Kind::unknown, 0 },
        { 0x8000, Kind::unknown, 0 },     { 0x9FFF, Kind::unknown, 0 },     { 0xE000, Kind::unknown, 0 },
        { 0xFFFF, Kind::unknown, 0 },
    };

    for (const auto& c : cases)
    {
        const auto events = decodeAll (&c.code, 1);
        ASSERT_EQ (events.size(), 1u) << std::hex << c.code;
        EXPECT_EQ (events[0].kind, c.kind) << std::hex << c.code;
        EXPECT_EQ (events[0].value, c.value) << std::hex << c.code;
        EXPECT_EQ (events[0].code, c.code);
        EXPECT_EQ (events[0].index, 0);
    }

    const uint16_t silence[4] {};
    EXPECT_TRUE (decodeAll (silence, 4).empty());
}

TEST (StreamDecoder, TimeSignatureCodes)
{
    struct Case
    {
        uint16_t code;
        int numerator, denominator, qpb;
    };

    const Case cases[] = {
        { SyncCode::timeSignature (6, 8), 6, 8, 3 },
        { SyncCode::timeSignature (7, 4), 7, 4, 7 },
        { SyncCode::timeSignature (4, 4), 4, 4, 4 },
        { SyncCode::timeSignature (5, 16), 5, 16, 1 },
        { SyncCode::timeSignature (3, 1), 3, 1, 12 }, // denominator 1 carries a half of 0
        { SyncCode::timeSignature (0, 4), 0, 4, 4 },  // numerator 0: beat counting unchanged
    };

    for (const auto& c : cases)
    {
        StreamDecoder d;
        const auto events = d.consume (c.code);
        ASSERT_EQ (events.count, 1);
        EXPECT_EQ (events.items[0].kind, Kind::timeSignature);
        EXPECT_EQ (events.items[0].numerator, c.numerator) << std::hex << c.code;
        EXPECT_EQ (events.items[0].denominator, c.denominator) << std::hex << c.code;
        EXPECT_EQ (d.quartersPerBar(), c.qpb) << std::hex << c.code;
    }
}

TEST (StreamDecoder, TempoPairsRoundTripToTheEncodedResolution)
{
    for (double bpm : { 0.0, 1.0 / 2048.0, 30.0, 97.3, 120.0, 120.5, 249.999, 400.0, 1000.123, 2047.99 })
    {
        const auto pair = SyncCode::tempoPair (bpm);
        ASSERT_TRUE (pair.has_value());
        const uint16_t codes[2] = { pair->high, pair->low };
        const auto events = decodeAll (codes, 2);
        ASSERT_EQ (events.size(), 1u) << bpm;
        EXPECT_EQ (events[0].kind, Kind::tempo);
        EXPECT_EQ (events[0].length, 2);
        EXPECT_DOUBLE_EQ (events[0].bpm, std::nearbyint (bpm * 2048.0) / 2048.0) << bpm;
    }
}

TEST (StreamDecoder, BrokenMultiCodeItemsAreReportedNotMisread)
{
    struct Case
    {
        const char* what;
        std::vector<uint16_t> codes;
        std::vector<Kind> kinds;
    };

    const uint16_t w1 = SyncCode::positionWord1 (5);
    const uint16_t w2 = SyncCode::positionWord2 (5, 2);
    const uint16_t w3 = SyncCode::positionWord3 (2, 10);

    const std::vector<Case> cases = {
        { "tempo high at the end", { 0x7878 }, { Kind::broken } },
        { "silence inside a pair", { 0x7878, 0x0000, 0x7000 }, { Kind::broken, Kind::broken } },
        { "low half alone", { 0x7000 }, { Kind::broken } },
        { "two highs, then a low", { 0x7878, 0x7879, 0x7000 }, { Kind::broken, Kind::tempo } },
        { "tick cuts a triple", { w1, w2, 0xA000 }, { Kind::broken, Kind::tick } },
        { "second word missing", { w1, w3 }, { Kind::broken, Kind::broken } },
        { "later words alone", { w2, w3 }, { Kind::broken, Kind::broken } },
        { "silence inside a triple", { w1, 0x0000, w2, w3 }, { Kind::broken, Kind::broken, Kind::broken } },
        { "tick beyond 767", { w1, w2, static_cast<uint16_t> (0xD000 + 800) }, { Kind::broken } },
        { "tempo high cuts a triple", { w1, 0x7878, 0x7000 }, { Kind::broken, Kind::tempo } },
        { "triple cuts a pair", { 0x7878, w1, w2, w3 }, { Kind::broken, Kind::position } },
        { "a whole triple", { w1, w2, w3 }, { Kind::position } },
    };

    for (const auto& c : cases)
        EXPECT_EQ (kindsOf (decodeAll (c.codes)), c.kinds) << c.what;

    // A triple cut short does not leave an older position for the next tick.
    const std::vector<uint16_t> codes = { w1, w2, w3, 0xA000, SyncCode::positionWord1 (9), 0, 0xA000 };
    const auto ticks = testing::eventsOfKind (decodeAll (codes), Kind::tick);
    ASSERT_EQ (ticks.size(), 2u);
    EXPECT_TRUE (ticks[0].positionFromWords);
    EXPECT_EQ (ticks[0].position, (StreamPosition { 5, 2, 10 }));
    EXPECT_FALSE (ticks[1].positionFromWords);
    EXPECT_EQ (ticks[1].position, (StreamPosition { 5, 2, 11 }));
}

TEST (StreamDecoder, PlayedStreamsMayPadOrMarkInsideAnItem)
{
    const uint16_t w1 = SyncCode::positionWord1 (70);
    const uint16_t w2 = SyncCode::positionWord2 (70, 1);
    const uint16_t w3 = SyncCode::positionWord3 (1, 500);
    const std::vector<uint16_t> codes = { w1, 0, 0, SyncCode::marker, w2, w3, 0x7878, 0, 0x7000, 0xA000 };

    StreamDecoder::Options played;
    played.silenceAndMarkersInsideItems = true;
    StreamDecoder decoder (played);
    std::vector<SyncEvent> events;
    decoder.consume (codes.data(), codes.size(), [&] (const SyncEvent& e) { events.push_back (e); });

    EXPECT_EQ (kindsOf (events), (std::vector<Kind> { Kind::marker, Kind::position, Kind::tempo, Kind::tick }));
    EXPECT_EQ (events[1].index, 0);
    EXPECT_EQ (events[1].position, (StreamPosition { 70, 1, 500 }));
    EXPECT_EQ (events[2].bpm, 120.0);
    EXPECT_EQ (events[3].position, (StreamPosition { 70, 1, 500 }));

    // Other codes still break it, and a reset keeps the option.
    decoder.reset();
    const std::vector<uint16_t> cut = { w1, SyncCode::keepSync, w2, w3 };
    events.clear();
    decoder.consume (cut.data(), cut.size(), [&] (const SyncEvent& e) { events.push_back (e); });
    EXPECT_EQ (kindsOf (events), (std::vector<Kind> { Kind::broken, Kind::keepSync, Kind::broken, Kind::broken }));
    decoder.reset();
    events.clear();
    decoder.consume (codes.data(), codes.size(), [&] (const SyncEvent& e) { events.push_back (e); });
    EXPECT_EQ (events.size(), 4u);

    // Strict by default.
    EXPECT_EQ (kindsOf (decodeAll (codes)).front(), Kind::broken);
}

TEST (StreamDecoder, TicksTakeTheWordsBeforeThemOrCountOn)
{
    std::vector<uint16_t> codes;
    auto words = [&] (uint32_t bar, uint32_t beat, uint32_t tick) {
        codes.push_back (SyncCode::positionWord1 (bar));
        codes.push_back (SyncCode::positionWord2 (bar, beat));
        codes.push_back (SyncCode::positionWord3 (beat, tick));
    };

    codes.push_back (0xA123);                      // 0: no position known yet
    words (3, 2, 766);                             // 1..3
    codes.push_back (0);                           // 4
    codes.push_back (SyncCode::keepSync);          // 5: other codes between words and tick are fine
    codes.push_back (0xA800);                      // 6: 3/2/766 from the words
    codes.push_back (0xA000);                      // 7: 3/2/767 counted on
    codes.push_back (SyncCode::timeSignature (6, 8)); // 8: three quarters per bar from now on
    codes.push_back (0xA000);                      // 9: 4/0/0 (6/8 wraps after beat 2)
    codes.push_back (SyncCode::start);             // 10: a new run: nothing counts on across it
    codes.push_back (0xA000);                      // 11: unknown again

    const auto ticks = testing::eventsOfKind (decodeAll (codes), Kind::tick);
    ASSERT_EQ (ticks.size(), 5u);

    EXPECT_FALSE (ticks[0].hasPosition);
    EXPECT_DOUBLE_EQ (ticks[0].time, 0x123 / 4096.0);

    EXPECT_TRUE (ticks[1].positionFromWords);
    EXPECT_EQ (ticks[1].position, (StreamPosition { 3, 2, 766 }));
    EXPECT_EQ (ticks[1].index, 6);
    EXPECT_DOUBLE_EQ (ticks[1].time, 6.5);

    EXPECT_FALSE (ticks[2].positionFromWords);
    EXPECT_EQ (ticks[2].position, (StreamPosition { 3, 2, 767 }));

    EXPECT_EQ (ticks[3].position, (StreamPosition { 4, 0, 0 }));
    EXPECT_FALSE (ticks[4].hasPosition);

    // Before any time signature a bar has four quarters.
    const std::vector<uint16_t> fourFour = { SyncCode::positionWord1 (0), SyncCode::positionWord2 (0, 3),
                                             SyncCode::positionWord3 (3, 767), 0xA000, 0xA000 };
    const auto t44 = testing::eventsOfKind (decodeAll (fourFour), Kind::tick);
    ASSERT_EQ (t44.size(), 2u);
    EXPECT_EQ (t44[1].position, (StreamPosition { 1, 0, 0 }));
}

TEST (StreamDecoder, IdentificationBurstAsTheDaemonSendsIt)
{
    std::vector<uint16_t> codes = { SyncCode::marker };
    for (uint8_t b : SyncCode::identificationToken)
        codes.push_back (SyncCode::tokenByte (b));
    codes.push_back (SyncCode::tokenEnd);
    codes.push_back (SyncCode::dawCode (7));
    codes.push_back (SyncCode::systemCode (SyncCode::System::onMacOS));

    const auto events = decodeAll (codes);
    ASSERT_EQ (events.size(), codes.size());
    EXPECT_EQ (events.front().kind, Kind::marker);
    for (size_t i = 0; i < std::size (SyncCode::identificationToken); ++i)
    {
        EXPECT_EQ (events[i + 1].kind, Kind::tokenByte);
        EXPECT_EQ (events[i + 1].value, SyncCode::identificationToken[i]);
    }
    EXPECT_EQ (events[16].kind, Kind::tokenEnd);
    EXPECT_EQ (events[17].kind, Kind::dawCode);
    EXPECT_EQ (events[17].value, 7);
    EXPECT_EQ (events[18].kind, Kind::systemCode);
    EXPECT_EQ (events[18].value, 1);
}

TEST (StreamDecoder, ArbitraryCodesAreEachAccountedForOnce)
{
    // Random streams, biased towards the multi-code types so that pairs and
    // triples are cut at every possible point.
    testing::TestRandom random (42);
    const uint16_t starts[] = { 0x0000, 0x5000, 0x6000, 0x7000, 0x7800, 0xA000, 0xB000, 0xC000, 0xD000, 0xE000 };

    StreamDecoder decoder;
    int64_t nonSilent = 0;
    int64_t accounted = 0;
    int64_t lastIndex = -1;
    auto take = [&] (const SyncEvent& e) {
        accounted += e.length;
        EXPECT_GE (e.index, lastIndex);
        EXPECT_LT (e.index, decoder.nextIndex());
        lastIndex = e.index;
        if (e.kind == Kind::tick)
        {
            EXPECT_TRUE (e.position.tick < 768 && e.position.beat < 256 && e.position.bar < (1u << 18));
        }
    };

    for (int i = 0; i < 200000; ++i)
    {
        const uint16_t base = starts[random.between (0, 9)];
        const auto code = static_cast<uint16_t> (base + random.between (0, base == 0x7800 ? 0x7FF : 0xFFF));
        nonSilent += code != 0 ? 1 : 0;
        for (const auto& e : decoder.consume (code))
            take (e);
    }
    for (const auto& e : decoder.flush())
        take (e);

    EXPECT_EQ (accounted, nonSilent);
    EXPECT_EQ (decoder.nextIndex(), 200000);
}

} // namespace
} // namespace veltro
