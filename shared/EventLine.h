#pragma once

// Decoded events as text, one "kind index=N key=value ..." line each: the
// format the stand-in and the virtual device write and the tests read.

#include "StreamDecoder.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace veltro
{

// "0x5010" and the like.
std::string hexCode (uint16_t code);

// Writes the event's kind, index and fields, without the line end, so a
// caller can add fields of its own.
void writeEventFields (std::ostream& out, const SyncEvent& e);

} // namespace veltro
