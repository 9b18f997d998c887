#include "DaemonTimerLogic.h"
#include "DeviceNames.h"
#include "IdentificationBurst.h"

#include <gtest/gtest.h>

namespace veltro::daemon
{
namespace
{

TEST (TimerDecision, EveryRowOfTheTable)
{
    using A = TimerAction;
    struct Row
    {
        int state;
        bool open;
        int enabled;
        A action;
    };

    const Row rows[] = {
        { 1, false, 2, A::setUpOutput },    { 1, true, 2, A::setUpOutput },
        { 1, true, 0, A::closeOutput },     { 1, false, 0, A::nothing },     { 1, true, 3, A::nothing },
        { 3, true, 2, A::setUpOutput },     { 3, false, 2, A::markOutputLost }, { 3, false, 0, A::markOutputLost },
        { 3, false, 3, A::markOutputLost }, { 3, true, 0, A::closeOutput },  { 3, true, 3, A::nothing },
        { 3, true, 1, A::nothing },
        { 2, true, 0, A::resumePlayout },   { 2, true, 2, A::resumePlayout }, { 2, true, 3, A::resumePlayout },
        { 2, false, 0, A::closeOutput },    { 2, false, 2, A::nothing },
        { 0, true, 0, A::closeOutput },     { 0, false, 0, A::nothing },     { 0, true, 2, A::nothing },
        // A rogue writer's values.
        { 7, true, 0, A::nothing },         { -1, true, 2, A::nothing },     { 1, true, 99, A::nothing },
        { 3, true, -4, A::nothing },
    };

    for (const auto& r : rows)
        EXPECT_EQ (decideTimerAction (r.state, r.open, r.enabled), r.action)
            << "state " << r.state << ", open " << r.open << ", enabled " << r.enabled;
}

TEST (DeviceNames, Vocabulary)
{
    using M = SharedMemory;
    struct Case
    {
        const char* name;
        std::optional<DetectedDevice> entry;
    };

    const Case cases[] = {
        { "Do-not-use-001", DetectedDevice { M::tactora, false } },
        { "Do-not-use-0012 USB", DetectedDevice { M::tactora, false } },
        { "Do-not-use-010", DetectedDevice { M::klavo2, false } },
        { "Do-not-use-101", DetectedDevice { M::vantel, false } },
        { "Do-not-use-011", std::nullopt },
        { "Do-not-use-", std::nullopt },
        { "Do-not-use", DetectedDevice { M::klavo2, false } },
        { "Do-not-use ", std::nullopt },
        { "do-not-use-001", std::nullopt },
        { "Tactora-do-not-use", DetectedDevice { M::invalid, true } },
        { "Tactora-do-not-use 2", std::nullopt },
        { "system", std::nullopt },
        { "", std::nullopt },
    };

    for (const auto& c : cases)
        EXPECT_EQ (classifyAudioOutputName (c.name), c.entry) << '"' << c.name << '"';

    EXPECT_TRUE (isFallbackMidiOutputName ("Tactora 2"));
    EXPECT_TRUE (isFallbackMidiOutputName ("Tactora"));
    EXPECT_FALSE (isFallbackMidiOutputName ("tactora"));
    EXPECT_FALSE (isFallbackMidiOutputName ("Midi Through"));
}

TEST (IdentificationBurst, ContentForHostsAndSystems)
{
    struct Case
    {
        uint16_t host;
        SyncCode::System system;
        uint16_t dawCode, systemCode;
    };

    const Case cases[] = {
        { 17, SyncCode::System::onLinux, 0x5904, 0x5A03 },  { 50, SyncCode::System::onLinux, 0x5900, 0x5A03 },
        { 3, SyncCode::System::onMacOS, 0x5901, 0x5A01 },   { 33, SyncCode::System::onWindows, 0x5907, 0x5A02 },
        { 18, SyncCode::System::other, 0x5908, 0x5A00 },    { 0xFFFF, SyncCode::System::onLinux, 0x5900, 0x5A03 },
    };

    for (const auto& c : cases)
    {
        const auto b = identificationBurst (c.host, c.system);
        EXPECT_EQ (b[0], 0x50F0);
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ (b[static_cast<size_t> (1 + i)], 0x5800 + SyncCode::identificationToken[i]);
        EXPECT_EQ (b[16], 0x5801);
        EXPECT_EQ (b[17], c.dawCode) << c.host;
        EXPECT_EQ (b[18], c.systemCode);
    }

    EXPECT_EQ (systemForOperatingSystemBits (0x100 | 0x12), SyncCode::System::onMacOS);
    EXPECT_EQ (systemForOperatingSystemBits (0x200 | 0x4), SyncCode::System::onWindows);
    EXPECT_EQ (systemForOperatingSystemBits (0x400 | 0x1), SyncCode::System::onLinux);
    EXPECT_EQ (systemForOperatingSystemBits (0x1000), SyncCode::System::other);
}

} // namespace
} // namespace veltro::daemon
