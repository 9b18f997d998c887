#include "PlayoutEngine.h"

#include <algorithm>

namespace veltro::daemon
{

using State = SharedMemory;

PlayoutEngine::Outcome PlayoutEngine::processLocked (SharedMemory& m, float* out, int n,
                                                     RelaxedValue<bool>& deviceTypeUpdateNeeded,
                                                     int32_t openOutputModel) noexcept
{
    if (n <= 0)
        return Outcome::ignored;

    const auto old = m.daemonState.load();
    if (old != State::daemonRunning)
        m.daemonState.store (State::daemonRunning);

    const auto e = m.pluginEnabled.load();
    if (e == State::channelFree || (e == State::channelAnnounced && m.sampleRateChanged.load() == 1))
    {
        playoutSuspended = true;
        return Outcome::suspended;
    }

    if (deviceTypeUpdateNeeded.load())
    {
        deviceTypeUpdateNeeded = false;
        m.deviceType.store (openOutputModel);
        fifo::reset (m);
        return writeBurst (m, out, n);
    }

    if (old != State::daemonRunning)
        return writeBurst (m, out, n);

    if (e == State::channelStreaming)
    {
        if (m.blockSizeChanged.load() != 0)
        {
            fill.setBlockSizes (m.nominalBlockSize.load(), m.actualBlockSize.load());
            m.blockSizeChanged.store (0);
        }

        const int available = static_cast<int> (fifo::available (fifo::loadWriteIndex (m), fifo::loadReadIndex (m)));
        if (available > 0)
            idleCallbackCount = 0;
        else if (spendPatience (m, n))
            return Outcome::gaveUp;

        play (m, out, n, available);
        return Outcome::played;
    }

    if (e == State::channelAnnounced)
        return spendPatience (m, n) ? Outcome::gaveUp : Outcome::waiting;

    return Outcome::ignored;
}

bool PlayoutEngine::spendPatience (SharedMemory& m, int n) noexcept
{
    const int before = idleCallbackCount;
    const int units = std::max (1, (std::min (n, 1 << 20) + kPatienceUnit - 1) / kPatienceUnit);
    idleCallbackCount = std::min (before + units, kPatienceCallbacks * 2);

    if (before < kPatienceCallbacks)
        return false;

    m.pluginEnabled.store (State::channelFree);
    idleCallbackCount = 0;
    playoutSuspended = true;
    return true;
}

PlayoutEngine::Outcome PlayoutEngine::writeBurst (SharedMemory& m, float* out, int n) noexcept
{
    if (n < kBurstLength)
    {
        m.daemonState.store (State::daemonSettingUp);
        return Outcome::burstDidNotFit;
    }

    const auto codes = identificationBurst (m.hostType.load(), systemCode);
    for (int i = 0; i < kBurstLength; ++i)
        out[i] = SyncCode::toSample (codes[static_cast<size_t> (i)]);

    return Outcome::burst;
}

void PlayoutEngine::play (SharedMemory& m, float* out, int n, int available) noexcept
{
    stats.minFill = std::min (stats.minFill, available);
    stats.maxFill = std::max (stats.maxFill, available);

    if (fill.adjustment == 0)
        fill.update (available, n);

    uint32_t readIndex = fifo::loadReadIndex (m);
    const auto* slots = m.samples;

    if (fill.adjustment >= 0)
    {
        const int inserted = std::min (fill.adjustment, n);
        fill.adjustment -= inserted;
        const int k = std::min (n - inserted, available);

        for (int i = 0; i < k; ++i)
            out[i] = SyncCode::toSample (slots[fifo::readSlot (readIndex, static_cast<uint32_t> (i))]);

        m.readIndex.store (fifo::advance (readIndex, static_cast<uint32_t> (k)));

        stats.codesPlayed += k;
        stats.silenceInserted += inserted;
        if (k < n - inserted)
            ++stats.shortReads;
        return;
    }

    int toSkip = -fill.adjustment;
    int taken = 0;
    int written = 0;

    while (written < n && taken < available)
    {
        const uint16_t code = slots[fifo::readSlot (readIndex, static_cast<uint32_t> (taken))];
        ++taken;

        if (code == SyncCode::silence && toSkip > 0)
        {
            --toSkip;
            ++stats.zerosDropped;
            continue;
        }

        out[written++] = SyncCode::toSample (code);
    }

    m.readIndex.store (fifo::advance (readIndex, static_cast<uint32_t> (taken)));
    fill.adjustment = 0; // corrections not used up are given up
    stats.codesPlayed += written;
    if (written < n)
        ++stats.shortReads;
}

void PlayoutEngine::finishBlock (Outcome outcome, float* out, int n) noexcept
{
    if (outcome == Outcome::played)
        markers.inject (out, n);
}

void PlayoutEngine::prepareForSetup (int32_t nominalBlockSize, int32_t actualBlockSize) noexcept
{
    fill.setBlockSizes (nominalBlockSize, actualBlockSize);
    fill.resetDrift();
}

} // namespace veltro::daemon
