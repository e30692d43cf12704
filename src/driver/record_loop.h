#pragma once

#include "common/console.h"
#include "driver/byte_stream.h"

namespace tarnic {

/// How a conversion of records ended.
enum class ConversionResult {
    Converted,        ///< every record up to the end marker or the end of the input
    InputFailed,      ///< reading the input failed before its end; the output is incomplete
    OutputFailed,     ///< the output did not take every byte written to it
    MessageTooLarge,  ///< a converted message outgrew what an output record can frame
};

/// Converts the records of an old demo, in file order, until its end marker or the
/// end of the input, or until a read fails; diagnostics go to `console`. Throws
/// std::bad_alloc when memory runs out.
ConversionResult convertRecords(ByteSource& input, ByteSink& output, Console& console);

}  // namespace tarnic
