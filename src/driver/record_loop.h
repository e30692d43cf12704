#pragma once

#include "common/console.h"
#include "driver/byte_stream.h"

namespace tarnic {

/// Converts the records of an old demo, in file order, until its end marker or
/// the end of the input. Returns false when the output could not be written.
bool convertRecords(ByteSource& input, ByteSink& output, Console& console);

}  // namespace tarnic
