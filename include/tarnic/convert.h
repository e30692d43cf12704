#pragma once

// Converting an old (.dm3) demo into a new (.dm_48) one: between byte streams, or
// from bytes in memory to bytes in memory. The conversion reads and writes no files
// and prints nothing; its messages go to a Console.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tarnic/byte_stream.h"
#include "tarnic/console.h"

namespace tarnic {

/// How a conversion of records ended.
enum class ConversionResult {
    Converted,        ///< every record up to the end marker or the end of the input
    InputFailed,      ///< reading the input failed before its end; the output is incomplete
    OutputFailed,     ///< the output did not take every byte written to it
    MessageTooLarge,  ///< a converted message outgrew what an output record can frame
};

/// Converts the records of an old demo, in file order, until its end marker or the
/// end of the input, or until a read fails; diagnostics go to `console`, each message
/// in one write, exactly as the tarnic program prints them. Memory grows with the
/// largest record, never with the demo. Throws std::bad_alloc when memory runs out.
ConversionResult convertRecords(ByteSource& input, ByteSink& output, Console& console);

/// The same conversion, its records shared between two threads; the output and the
/// console are byte for byte those of one thread. The caller decides whether a second
/// thread pays (how many processors the process may use, how large the input is): a
/// waiting thread sleeps rather than spins, but on one processor the two only take
/// turns. Where the library is built without threads or no second thread can be
/// started, it is `convertRecords`. Throws std::bad_alloc when memory runs out.
ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console);

/// The outcome of converting a demo held in memory.
struct ConvertedDemo {
    std::vector<std::uint8_t> demo;  ///< the new-protocol demo file's bytes
    std::string console;             ///< every message the conversion printed, in order
    /// Converted, or MessageTooLarge: then `demo` holds the records before that message.
    ConversionResult outcome = ConversionResult::Converted;
};

/// Converts the bytes of an old demo file into the bytes of the new one, without
/// files; from 256 KiB on, on two threads where the machine has more than one core. Throws std::bad_alloc when
/// memory runs out; reports everything else in the result.
ConvertedDemo convertDemo(std::span<const std::uint8_t> oldDemo);

/// The same into `result`, whose storage is reused: a caller converting many demos
/// allocates (and the system zeroes) the output's memory once.
void convertDemo(std::span<const std::uint8_t> oldDemo, ConvertedDemo& result);

}  // namespace tarnic
