#pragma once

// The 16-bit sync codes carried by the FIFO and played to the device.
// The high nibble is the code type.

#include <cmath>
#include <cstdint>
#include <optional>

namespace veltro::SyncCode
{

inline constexpr uint16_t silence = 0x0000;

// Control codes (type 0x5)
inline constexpr uint16_t start = 0x5010;    // transport started; three position words follow
inline constexpr uint16_t stop = 0x5020;     // transport stopped
inline constexpr uint16_t keepSync = 0x5030; // filler that keeps runs of zero codes short
inline constexpr uint16_t marker = 0x50F0;   // daemon: opens the burst, injected every ~300 samples
inline constexpr uint16_t tokenByteBase = 0x5800;
inline constexpr uint16_t tokenEnd = 0x5801;
inline constexpr uint16_t dawCodeBase = 0x5900;
inline constexpr uint16_t systemCodeBase = 0x5A00;

inline constexpr uint16_t timeSignatureBase = 0x6000;
inline constexpr uint16_t tempoHighBase = 0x7800;
inline constexpr uint16_t tempoLowBase = 0x7000;
inline constexpr uint16_t tickBase = 0xA000;
inline constexpr uint16_t positionWord1Base = 0xB000;
inline constexpr uint16_t positionWord2Base = 0xC000;
inline constexpr uint16_t positionWord3Base = 0xD000;

inline constexpr int kTickFractionSteps = 4096; // a tick is placed to 1/4096 of a sample
inline constexpr int kTicksPerQuarter = 768;

// The identification token the daemon sends, one code 0x5800 + byte per byte.
inline constexpr uint8_t identificationToken[15] = { 0x3C, 0x9E, 0x16, 0xD2, 0x75, 0xE8, 0x4B, 0x0F,
                                                     0xA3, 0x61, 0xB9, 0x2E, 0x58, 0xC0, 0x97 };

enum class System : uint16_t
{
    other = 0,
    onMacOS = 1,
    onWindows = 2,
    onLinux = 3,
};

inline constexpr uint16_t typeOf (uint16_t code) noexcept { return static_cast<uint16_t> (code >> 12); }

// Tempo is sent as a pair only inside this range (beats per minute).
inline constexpr double kMaxEncodableTempo = 2047.99;

struct TempoPair
{
    uint16_t high, low;
};

// V = bpm * 2048, rounded to nearest with ties to even; no pair outside [0, 2047.99].
inline std::optional<TempoPair> tempoPair (double bpm) noexcept
{
    if (! (bpm >= 0.0 && bpm <= kMaxEncodableTempo))
        return std::nullopt;

    const auto v = static_cast<uint32_t> (std::nearbyint (bpm * 2048.0));
    return TempoPair { static_cast<uint16_t> (tempoHighBase + (v >> 11)),
                       static_cast<uint16_t> (tempoLowBase + (v & 0x7FF)) };
}

inline constexpr uint16_t timeSignature (int numerator, int denominator) noexcept
{
    return static_cast<uint16_t> (timeSignatureBase + (numerator & 0xFF) * 16 + ((denominator / 2) & 0xF));
}

inline constexpr uint16_t tick (uint32_t fraction) noexcept
{
    return static_cast<uint16_t> (tickBase + (fraction & 0xFFF));
}

inline constexpr uint16_t positionWord1 (uint32_t bar) noexcept
{
    return static_cast<uint16_t> (positionWord1Base + ((bar >> 6) & 0xFFF));
}

inline constexpr uint16_t positionWord2 (uint32_t bar, uint32_t beat) noexcept
{
    return static_cast<uint16_t> (positionWord2Base + ((bar & 0x3F) << 6) + ((beat >> 2) & 0x3F));
}

inline constexpr uint16_t positionWord3 (uint32_t beat, uint32_t tickInBeat) noexcept
{
    return static_cast<uint16_t> (positionWord3Base + ((beat & 3) << 10) + (tickInBeat & 0x3FF));
}

inline constexpr uint16_t dawCode (uint16_t d) noexcept { return static_cast<uint16_t> (dawCodeBase + (d & 0xFF)); }
inline constexpr uint16_t systemCode (System s) noexcept { return static_cast<uint16_t> (systemCodeBase + static_cast<uint16_t> (s)); }
inline constexpr uint16_t tokenByte (uint8_t b) noexcept { return static_cast<uint16_t> (tokenByteBase + b); }

// The sample the daemon plays for a code: the code read as signed 16 bits, / 32768.
inline constexpr float toSample (uint16_t code) noexcept
{
    return static_cast<float> (static_cast<int16_t> (code)) / 32768.0f;
}

// Inverse of toSample for a bit-exact float path.
inline uint16_t fromSample (float sample) noexcept
{
    const auto v = std::lrint (static_cast<double> (sample) * 32768.0);
    return static_cast<uint16_t> (static_cast<int16_t> (v < -32768 ? -32768 : (v > 32767 ? 32767 : v)));
}

} // namespace veltro::SyncCode
