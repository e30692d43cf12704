#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "bits/packet_writer.h"
#include "driver/record_loop.h"
#include "tarnic/byte_stream.h"
#include "tarnic/console.h"

namespace tarnic {

/// The next record of an old demo: a payload to convert, or how the records end.
struct RecordRead {
    std::optional<InputEnd> end;  ///< set when there is no payload to convert
    /// With `end`: Converted, or InputFailed when a read failed.
    ConversionResult result = ConversionResult::Converted;
    std::optional<std::int32_t> sequence;  ///< once read
    const std::uint8_t* payload = nullptr;
    std::uint32_t size = 0;
};

/// Reads the next record. Its payload is borrowed from the input where `mayBorrow`
/// and the input allow, else read into `buffer`.
RecordRead readRecord(ByteSource& input, std::vector<std::uint8_t>& buffer, bool mayBorrow);

/// Ends the records as `read` found them: the warning a damaged end deserves, the end
/// marker where the input had one. Returns how the conversion ended; `read.end` becomes
/// Stopped when writing the end marker failed.
ConversionResult finishRecords(RecordRead& read, ByteSink& output, Console& console);

/// Bytes of an output record's header: sequence, length, messageHead.
inline constexpr std::size_t OUTPUT_HEADER_BYTES = 12;

/// The header of the output record that frames a converted message of `bytes` bytes.
std::array<std::uint8_t, OUTPUT_HEADER_BYTES> outputHeader(std::int32_t sequence, std::uint32_t bytes,
                                                           std::uint32_t messageHead);

/// Frames a converted message as an output record.
bool writeRecord(ByteSink& output, std::int32_t sequence, const PacketWriter& writer, std::uint32_t messageHead);

}  // namespace tarnic
