#pragma once

#include "common/console.h"
#include "driver/byte_stream.h"
#include "driver/record_loop.h"

namespace tarnic {

/// The same conversion as `convertRecords`, its records shared between two threads;
/// the output and the console are byte for byte those of one thread. Only a snapshot's
/// header and player state carry state from one message to the next, and they come
/// before its entity list, where most of the work is. The records go in chunks of a few
/// dozen: the state a chunk will leave is forecast by reading only as far as each
/// snapshot's entity list, the next chunk is converted from that forecast on the other
/// thread meanwhile, and converted again, in order, where the forecast proved wrong (a
/// message with two snapshots, or one cut short). Where the library is built without
/// threads, the machine has one core or no second thread can be started, it is
/// `convertRecords`. Throws std::bad_alloc when memory runs out.
ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console);

}  // namespace tarnic
