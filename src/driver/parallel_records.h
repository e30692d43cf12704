#pragma once

#include "common/console.h"
#include "driver/byte_stream.h"
#include "driver/record_loop.h"

namespace tarnic {

/// The same conversion as `convertRecords`, its records shared between two threads;
/// the output and the console are byte for byte those of one thread (how: the comment
/// at the top of parallel_records.cpp). Where the library is built without threads,
/// the machine has one core or no second thread can be started, it is
/// `convertRecords`. Throws std::bad_alloc when memory runs out.
ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console);

}  // namespace tarnic
