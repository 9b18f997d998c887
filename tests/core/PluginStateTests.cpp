// The 14-byte saved state: exact bytes, short and long input, bad values.

#include "PluginState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

using namespace veltro;

TEST (PluginState, ExactBytesAndRoundTrip)
{
    PluginSettings s { -0.012, 512, true, true };
    const auto bytes = serialiseSettings (s);

    uint8_t expectedLatency[8];
    const double latency = -0.012;
    std::memcpy (expectedLatency, &latency, 8); // this machine is little-endian, like the format
    EXPECT_EQ (0, std::memcmp (bytes.data(), expectedLatency, 8));
    const uint8_t tail[] = { 0x00, 0x02, 0x00, 0x00, 0x01, 0x01 };
    EXPECT_EQ (0, std::memcmp (bytes.data() + 8, tail, 6));

    const auto back = deserialiseSettings (bytes.data(), bytes.size());
    EXPECT_EQ (back.latencyCompensationSeconds, -0.012);
    EXPECT_EQ (back.bufferSizeSetting, 512);
    EXPECT_TRUE (back.usingLargeLatencyPlugins);
    EXPECT_TRUE (back.settingsVisible);
}

TEST (PluginState, ShortAndLongInput)
{
    const auto full = serialiseSettings ({ 0.05, 1024, true, true });

    struct Case { size_t size; double latency; int buffer; bool large, visible; };
    const Case cases[] = {
        { 13, 0.05, 1024, true, false },
        { 12, 0.05, 1024, false, false },
        { 11, 0.05, 256, false, false }, // a cut-short buffer size reads 0, which falls back to 256
        { 0, 0.0, 256, false, false },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.size);
        const auto s = deserialiseSettings (full.data(), c.size);
        EXPECT_EQ (s.latencyCompensationSeconds, c.latency);
        EXPECT_EQ (s.bufferSizeSetting, c.buffer);
        EXPECT_EQ (s.usingLargeLatencyPlugins, c.large);
        EXPECT_EQ (s.settingsVisible, c.visible);
    }

    std::vector<uint8_t> longer (full.begin(), full.end());
    longer.resize (100, 0xEE);
    const auto s = deserialiseSettings (longer.data(), longer.size());
    EXPECT_EQ (s.bufferSizeSetting, 1024);
    EXPECT_TRUE (s.settingsVisible);

    EXPECT_EQ (deserialiseSettings (nullptr, 14).bufferSizeSetting, 256);
}

TEST (PluginState, AbsurdValuesFallBackToSafeOnes)
{
    for (double bad : { std::nan (""), HUGE_VAL, -HUGE_VAL, 5.0, -1e300 })
    {
        auto bytes = serialiseSettings ({ bad, 128, false, false });
        EXPECT_EQ (deserialiseSettings (bytes.data(), bytes.size()).latencyCompensationSeconds, 0.0) << bad;
    }

    for (int bad : { 0, -256, 100, 4096, 0x7FFFFFFF })
    {
        auto bytes = serialiseSettings ({ 0.0, bad, false, false });
        EXPECT_EQ (deserialiseSettings (bytes.data(), bytes.size()).bufferSizeSetting, 256) << bad;
    }

    // Flags are true for any non-zero byte.
    auto bytes = serialiseSettings ({});
    bytes[12] = 0x80;
    bytes[13] = 0xFF;
    const auto s = deserialiseSettings (bytes.data(), bytes.size());
    EXPECT_TRUE (s.usingLargeLatencyPlugins);
    EXPECT_TRUE (s.settingsVisible);

    // Settings beyond the editor's range but still plausible are kept as saved.
    bytes = serialiseSettings ({ 0.25, 64, false, false });
    EXPECT_EQ (deserialiseSettings (bytes.data(), bytes.size()).latencyCompensationSeconds, 0.25);
}
