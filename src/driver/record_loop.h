#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "tarnic/convert.h"
#include "transcode/message.h"

namespace tarnic {

// The conversion of records itself, `convertRecords`, is declared in tarnic/convert.h.

/// From this many bytes of input on, a second thread pays for its start; below, a
/// demo converts on one.
inline constexpr std::size_t TWO_THREADS_FROM_BYTES = 256 << 10;

/// Fewest records the two-thread conversion hands to a thread at a time: an input of
/// no more records than this is converted by one thread alone however many it is given.
inline constexpr std::size_t RECORDS_PER_CHUNK = 32;

/// Where the two-thread conversion ends a chunk of records: once it holds `records`
/// records and `bytes` bytes of input (headers and payloads), whichever comes later,
/// and at `maxRecords` records whatever their bytes. Small records go many to a chunk,
/// so that handing chunks between the threads costs little beside converting them;
/// the cap keeps memory bounded by the largest record.
struct ChunkLimits {
    std::size_t records = RECORDS_PER_CHUNK;
    std::size_t bytes = 32 << 10;
    std::size_t maxRecords = 512;

    /// True once a chunk of `count` records spanning `spanned` bytes of input is full.
    bool full(std::size_t count, std::size_t spanned) const {
        return count >= maxRecords || (count >= records && spanned >= bytes);
    }
};

/// `convertRecordsOnTwoThreads` with its chunks ended at `limits` rather than the usual ones.
ConversionResult convertRecordsInChunks(ByteSource& input, ByteSink& output, Console& console,
                                        const ChunkLimits& limits);

/// How the records of an old demo ended, as the record loop met it.
enum class InputEnd {
    EndMarker,       ///< the end marker
    NoEndMarker,     ///< the input ended between records
    HeaderCut,       ///< the input ended inside a record's sequence or length
    NegativeLength,  ///< a record's length is negative
    PayloadCut,      ///< the input ended inside a record's payload
    ReadFailed,      ///< reading the input failed
    Stopped,         ///< the output failed or a message grew too large
};

/// One record as converted.
struct ConvertedRecord {
    std::int32_t sequence = 0;
    std::uint32_t oldPayloadBytes = 0;
    MessageEnd end = MessageEnd::Complete;
    std::span<const std::uint8_t> newPayload;
    std::uint32_t messageHead = 0;
};

/// Watches a conversion record by record, for those who examine demos rather than convert them.
class RecordObserver {
public:
    virtual ~RecordObserver() = default;
    /// A record was converted; the state's `operation` is the one a truncation cut.
    virtual void converted(const ConvertedRecord& record, const ConversionState& state) = 0;
    /// The loop ended, with the sequence of the record it ended at where it had read one.
    virtual void ended(InputEnd end, std::optional<std::int32_t> sequence) = 0;
};

/// The same, carrying `state` (whose console takes the diagnostics) and telling
/// `observer`, when given, about every record and the end.
ConversionResult convertRecords(ByteSource& input, ByteSink& output, ConversionState& state,
                                RecordObserver* observer);

/// That conversion one record at a time, for callers that hold records as they arrive
/// rather than a source that reads on demand: each step reads one record from the
/// input it is given, so a caller that hands it only whole records, and the rest once
/// the demo has arrived, converts exactly as `convertRecords` does.
class RecordLoop {
public:
    RecordLoop(ByteSink& output, ConversionState& state, RecordObserver* observer)
        : output_(output), state_(state), observer_(observer) {}

    /// Converts the next record of `input`, or ends the records there: how the
    /// conversion ended once it has, else nothing.
    std::optional<ConversionResult> step(ByteSource& input);

private:
    ByteSink& output_;
    ConversionState& state_;
    RecordObserver* observer_;
    PacketReader reader_;
    PacketWriter writer_;
    std::vector<std::uint8_t> payload_;
};

}  // namespace tarnic
