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
    PacketReader reader;
    PacketWriter writer;
    std::vector<std::uint8_t> payload;
    const auto written = [](bool ok) { return ok ? ConversionResult::Converted : ConversionResult::OutputFailed; };
    // A short read is the end of the input only when no read failed.
    const auto ended = [&input] { return input.failed() ? ConversionResult::InputFailed : ConversionResult::Converted; };
    for (;;) {
        pktResetReader(reader);
        pktResetWriter(writer);
        std::array<std::uint8_t, 8> header;
        if (input.read(header.data(), 4) < 4) return ended();
        const bool lengthComplete = input.read(header.data() + 4, 4) == 4;
        if (!lengthComplete && input.failed()) return ConversionResult::InputFailed;
        const auto sequence = std::int32_t(loadLittle32(header.data()));
        reader.size = loadLittle32(header.data() + 4);
        if (sequence == END_SEQUENCE) return written(writeEndMarker(output));
        if (!lengthComplete) return ConversionResult::Converted;
        if (std::int32_t(reader.size) < 0) {
            console.print("WARNING: record (sequence %i) has a negative length; conversion stopped\n", sequence);
            return ConversionResult::Converted;
        }
        reader.data = input.borrow(reader.size);
        if (reader.data == nullptr) {
            if (readPayload(input, payload, reader.size) < reader.size) {
                if (input.failed()) return ConversionResult::InputFailed;
                console.print("WARNING: last record (sequence %i) is cut short; dropped\n", sequence);
                return ConversionResult::Converted;
            }
            reader.data = payload.data();
        }
        if (transcodeMessage(reader, writer, state) == MessageEnd::Truncated) {
            console.print("WARNING: message %i is truncated\n", sequence);
        }
        if (writer.overflowed) return ConversionResult::MessageTooLarge;
        if (!writeRecord(output, sequence, writer, state.snapshots.messageHead)) return ConversionResult::OutputFailed;
    }
}

}  // namespace tarnic
