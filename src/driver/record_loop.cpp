#include "driver/record_loop.h"

#include <vector>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "driver/record_io.h"
#include "transcode/message.h"

namespace tarnic {

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
    for (;;) {
        pktResetReader(reader);
        pktResetWriter(writer);
        RecordRead read = readRecord(input, payload, true);
        if (read.end) {
            const ConversionResult result = finishRecords(read, output, console);
            if (observer) {
                InputEnd end = *read.end;
                if (result == ConversionResult::InputFailed) end = InputEnd::ReadFailed;
                observer->ended(end, read.sequence);
            }
            return result;
        }
        const std::int32_t sequence = *read.sequence;
        reader.data = read.payload;
        reader.size = read.size;
        const MessageEnd end = transcodeMessage(reader, writer, state);
        if (end == MessageEnd::Truncated) console.print("WARNING: message %i is truncated\n", sequence);
        const auto stop = [&](ConversionResult result) {
            if (observer) observer->ended(InputEnd::Stopped, sequence);
            return result;
        };
        if (writer.overflowed) return stop(ConversionResult::MessageTooLarge);
        const std::uint32_t messageHead = state.snapshots.messageHead;
        if (!writeRecord(output, sequence, writer, messageHead)) return stop(ConversionResult::OutputFailed);
        if (observer) {
            const ConvertedRecord record{sequence, reader.size, end,
                                         {writer.data.data(), pktWrittenBytes(writer)}, messageHead};
            observer->converted(record, state);
        }
    }
}

}  // namespace tarnic
