#pragma once

// The device chosen when no remembered choice applies (first start, or a
// remembered device that is not listed): the first detected device of a
// known model. Applied at once when a plug-in streams.

namespace veltro::daemon
{

class AudioAndMIDIHandler;

// Returns false, and changes nothing, when no listed device has a known model.
bool chooseDefaultDevice (AudioAndMIDIHandler& handler);

} // namespace veltro::daemon
