#pragma once

// Musical time as the device counts it: bar, beat (quarter note within the
// bar) and tick (768 per quarter note), and the conversions between the
// host's position in quarter notes and sync codes.
// Everything here is real-time safe: no allocation, no system calls.

#include <cstdint>

namespace veltro::TimeData
{

inline constexpr int kTicksPerQuarter = 768;

// Position of one tick. The layout is fixed: bar and beat share a 32-bit word
// (bits 0-17 and 18-25), the tick sits in bits 0-9 of the following 16-bit word.
struct PlayheadPosition
{
    uint32_t bar : 18 = 0;  // the plug-in's own bar counter, wraps at 2^18
    uint32_t beat : 8 = 0;  // quarter note within the bar
    uint16_t tick : 10 = 0; // 0..767

    // Ticks from this position forward to `other` within one bar (bar ignored),
    // folded into [-half bar, +half bar].
    int computeDifference (const PlayheadPosition& other, int quartersPerBar) const noexcept;

    // One tick on; the beat wraps at quartersPerBar and then the bar counts on.
    void advanceByOneTick (int quartersPerBar) noexcept;

    bool sameBeatAndTick (const PlayheadPosition& other) const noexcept
    {
        return beat == other.beat && tick == other.tick;
    }
};

// Quarter notes per bar for the device's beat counting: numerator * 4 /
// denominator, truncated. A time signature that makes no sense (a part <= 0)
// counts as 4/4; the result is always in 1..256 (the beat has 8 bits).
int quartersPerBar (int numerator, int denominator) noexcept;

// Writes beat and tick of the first tick at or after ppqPosition (bars start at
// barStartPpq) into `next` and returns that tick's position in quarter notes.
// A negative position gives bar, beat and tick 0 and 0.0; a position or bar
// start that is not finite gives +infinity (no tick due). Ticks that are whole
// up to floating-point rounding count as "at" ppqPosition.
double computeNextTickPos (double ppqPosition, double barStartPpq, int quartersPerBar,
                           PlayheadPosition& next) noexcept;

// The three position words of `pos` at slots index, index+1, index+2 (mod size).
void savePlayheadPositionIntoFIFO (const PlayheadPosition& pos, uint16_t* codes, int index, int size) noexcept;

// Where a tick lands for an offset in sync samples from the block start:
// scaled = round-to-nearest-even(offset * 4096), sample = scaled / 4096 and the
// tick code carries the remainder. A tick due a rounding error before the block
// start lands at sample 0; an offset too far away to matter (or not a number)
// lands far beyond any block.
struct TickPlacement
{
    int32_t scaled = 0; // offset in 1/4096 sample
    int32_t sample = 0; // scaled / 4096
    uint16_t code = 0;  // 0xA000 + scaled - sample * 4096
};

TickPlacement placeTick (double offsetSamples) noexcept;

} // namespace veltro::TimeData
