#include "driver/record_io.h"

#include <array>

#include "bits/byte_order.h"
#include "driver/record_framing.h"

namespace tarnic {

namespace {

RecordRead endAt(InputEnd end, bool failed) {
    RecordRead read;
    read.end = end;
    read.result = failed ? ConversionResult::InputFailed : ConversionResult::Converted;
    return read;
}

}  // namespace

RecordRead readRecord(ByteSource& input, std::vector<std::uint8_t>& buffer, bool mayBorrow) {
    std::array<std::uint8_t, OLD_HEADER_BYTES> copied;
    // Most headers lie whole where the source holds its bytes: read where they lie,
    // without two calls to read and their copies.
    const std::uint8_t* header = input.borrow(copied.size());
    bool lengthComplete = true;
    if (header == nullptr) {
        const std::size_t sequenceBytes = input.read(copied.data(), 4);
        // A short read is the end of the input only when no read failed.
        if (sequenceBytes < 4) {
            return endAt(sequenceBytes == 0 ? InputEnd::NoEndMarker : InputEnd::HeaderCut, input.failed());
        }
        lengthComplete = input.read(copied.data() + 4, 4) == 4;
        if (!lengthComplete && input.failed()) return endAt(InputEnd::HeaderCut, true);
        header = copied.data();
    }
    RecordRead read;
    const auto sequence = std::int32_t(loadLittle32(header));
    read.sequence = sequence;
    read.size = loadLittle32(header + 4);
    // Borrowed bytes of a mapped page cut off from the file meanwhile are no part of it.
    if (input.failed()) return endAt(InputEnd::HeaderCut, true);
    if (sequence == END_SEQUENCE) read.end = InputEnd::EndMarker;
    else if (!lengthComplete) read.end = InputEnd::HeaderCut;
    else if (std::int32_t(read.size) < 0) read.end = InputEnd::NegativeLength;
    if (read.end) return read;
    read.payload = mayBorrow ? input.borrow(read.size) : nullptr;
    if (read.payload == nullptr) {
        if (readPayloadBytes(input, buffer, read.size) < read.size) {
            read.end = InputEnd::PayloadCut;
            if (input.failed()) read.result = ConversionResult::InputFailed;
            return read;
        }
        read.payload = buffer.data();
    }
    return read;
}

ConversionResult finishRecords(RecordRead& read, ByteSink& output, Console& console) {
    if (read.result == ConversionResult::InputFailed) return read.result;
    switch (*read.end) {
        case InputEnd::EndMarker: {
            std::array<std::uint8_t, 8> marker;
            storeLittle32(marker.data(), END_MARKER_WORD);
            storeLittle32(marker.data() + 4, END_MARKER_WORD);
            if (output.write(marker.data(), marker.size())) return ConversionResult::Converted;
            read.end = InputEnd::Stopped;
            return ConversionResult::OutputFailed;
        }
        case InputEnd::NegativeLength:
            console.print("WARNING: record (sequence %i) has a negative length; conversion stopped\n", *read.sequence);
            break;
        case InputEnd::PayloadCut:
            console.print("WARNING: last record (sequence %i) is cut short; dropped\n", *read.sequence);
            break;
        default: break;
    }
    return ConversionResult::Converted;
}

std::array<std::uint8_t, OUTPUT_HEADER_BYTES> outputHeader(std::int32_t sequence, std::uint32_t bytes,
                                                           std::uint32_t messageHead) {
    std::array<std::uint8_t, OUTPUT_HEADER_BYTES> header;
    storeLittle32(header.data(), std::uint32_t(sequence));
    storeLittle32(header.data() + 4, bytes + MESSAGE_HEAD_BYTES);
    storeLittle32(header.data() + 8, messageHead);
    return header;
}

bool writeRecord(ByteSink& output, std::int32_t sequence, const PacketWriter& writer, std::uint32_t messageHead) {
    const auto header = outputHeader(sequence, std::uint32_t(pktWrittenBytes(writer)), messageHead);
    return output.write(header.data(), header.size()) &&
           output.write(writer.data.data(), pktWrittenBytes(writer));
}

}  // namespace tarnic
