#include "driver/record_loop.h"

#include <algorithm>
#include <array>
#include <vector>

#include "bits/byte_order.h"
#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "transcode/message.h"

namespace tarnic {

namespace {

constexpr std::int32_t END_SEQUENCE = -1;
constexpr std::size_t FIRST_PAYLOAD_CHUNK = 64 * 1024;

/// Reads up to `length` payload bytes. The buffer grows only as bytes arrive, so a
/// damaged length field cannot make it allocate more than the input holds.
std::size_t readPayload(ByteSource& input, std::vector<std::uint8_t>& payload, std::uint32_t length) {
    std::size_t received = 0;
    while (received < length) {
        const std::size_t chunk = std::min<std::size_t>(length - received, std::max(FIRST_PAYLOAD_CHUNK, received));
        if (payload.size() < received + chunk) payload.resize(received + chunk);
        const std::size_t got = input.read(payload.data() + received, chunk);
        received += got;
        if (got < chunk) break;
    }
    return received;
}

bool writeRecord(ByteSink& output, std::int32_t sequence, const PacketWriter& writer, std::uint32_t messageHead) {
    std::array<std::uint8_t, 12> header;
    storeLittle32(header.data(), std::uint32_t(sequence));
    storeLittle32(header.data() + 4, std::uint32_t(writer.count + 4));
    storeLittle32(header.data() + 8, messageHead);
    return output.write(header.data(), header.size()) &&
           output.write(writer.data.data(), std::size_t(writer.count));
}

bool writeEndMarker(ByteSink& output) {
    std::array<std::uint8_t, 8> marker;
    marker.fill(0xFF);
    return output.write(marker.data(), marker.size());
}

}  // namespace

ConversionResult convertRecords(ByteSource& input, ByteSink& output, Console& console) {
    ConversionState state(console);
    return convertRecords(input, output, state, nullptr);
}

ConversionResult convertRecords(ByteSource& input, ByteSink& output, ConversionState& state,
                                RecordObserver* observer) {
    Console& console = state.console;
    PacketReader reader;
    PacketWriter writer;
    std::vector<std::uint8_t> payload;
    std::optional<std::int32_t> sequenceRead;  // of the record the loop ends at, once read
    const auto stop = [&](InputEnd end, ConversionResult result) {
        if (!observer) return result;
        if (result == ConversionResult::InputFailed) end = InputEnd::ReadFailed;
        if (result != ConversionResult::Converted && result != ConversionResult::InputFailed) end = InputEnd::Stopped;
        observer->ended(end, sequenceRead);
        return result;
    };
    const auto written = [](bool ok) { return ok ? ConversionResult::Converted : ConversionResult::OutputFailed; };
    // A short read is the end of the input only when no read failed.
    const auto ended = [&input] { return input.failed() ? ConversionResult::InputFailed : ConversionResult::Converted; };
    for (;;) {
        pktResetReader(reader);
        pktResetWriter(writer);
        sequenceRead.reset();
        std::array<std::uint8_t, 8> header;
        const std::size_t sequenceBytes = input.read(header.data(), 4);
        if (sequenceBytes < 4) return stop(sequenceBytes == 0 ? InputEnd::NoEndMarker : InputEnd::HeaderCut, ended());
        const bool lengthComplete = input.read(header.data() + 4, 4) == 4;
        if (!lengthComplete && input.failed()) return stop(InputEnd::HeaderCut, ConversionResult::InputFailed);
        const auto sequence = std::int32_t(loadLittle32(header.data()));
        sequenceRead = sequence;
        reader.size = loadLittle32(header.data() + 4);
        if (sequence == END_SEQUENCE) return stop(InputEnd::EndMarker, written(writeEndMarker(output)));
        if (!lengthComplete) return stop(InputEnd::HeaderCut, ConversionResult::Converted);
        if (std::int32_t(reader.size) < 0) {
            console.print("WARNING: record (sequence %i) has a negative length; conversion stopped\n", sequence);
            return stop(InputEnd::NegativeLength, ConversionResult::Converted);
        }
        reader.data = input.borrow(reader.size);
        if (reader.data == nullptr) {
            if (readPayload(input, payload, reader.size) < reader.size) {
                if (input.failed()) return stop(InputEnd::PayloadCut, ConversionResult::InputFailed);
                console.print("WARNING: last record (sequence %i) is cut short; dropped\n", sequence);
                return stop(InputEnd::PayloadCut, ConversionResult::Converted);
            }
            reader.data = payload.data();
        }
        const MessageEnd end = transcodeMessage(reader, writer, state);
        if (end == MessageEnd::Truncated) console.print("WARNING: message %i is truncated\n", sequence);
        if (writer.overflowed) return stop(InputEnd::Stopped, ConversionResult::MessageTooLarge);
        const std::uint32_t messageHead = state.snapshots.messageHead;
        if (!writeRecord(output, sequence, writer, messageHead)) return stop(InputEnd::Stopped, ConversionResult::OutputFailed);
        if (observer) {
            const ConvertedRecord record{sequence, reader.size, end,
                                         {writer.data.data(), std::size_t(writer.count)}, messageHead};
            observer->converted(record, state);
        }
    }
}

}  // namespace tarnic
