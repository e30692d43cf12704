#include "driver/record_loop.h"

#include "driver/record_io.h"
#include "transcode/message.h"

namespace tarnic {

ConversionResult convertRecords(ByteSource& input, ByteSink& output, Console& console) {
    ConversionState state(console);
    return convertRecords(input, output, state, nullptr);
}

ConversionResult convertRecords(ByteSource& input, ByteSink& output, ConversionState& state,
                                RecordObserver* observer) {
    RecordLoop loop(output, state, observer);
    for (;;) {
        if (const std::optional<ConversionResult> result = loop.step(input)) return *result;
    }
}

std::optional<ConversionResult> RecordLoop::step(ByteSource& input) {
    Console& console = state_.console;
    pktResetReader(reader_);
    pktResetWriter(writer_);
    RecordRead read = readRecord(input, payload_, true);
    if (read.end) {
        const ConversionResult result = finishRecords(read, output_, console);
        if (observer_) {
            InputEnd end = *read.end;
            if (result == ConversionResult::InputFailed) end = InputEnd::ReadFailed;
            observer_->ended(end, read.sequence);
        }
        return result;
    }
    const std::int32_t sequence = *read.sequence;
    reader_.data = read.payload;
    reader_.size = read.size;
    const MessageEnd end = transcodeMessage(reader_, writer_, state_);
    if (end == MessageEnd::Truncated) console.print("WARNING: message %i is truncated\n", sequence);
    const auto stop = [&](ConversionResult result) {
        if (observer_) observer_->ended(InputEnd::Stopped, sequence);
        return result;
    };
    if (writer_.overflowed) return stop(ConversionResult::MessageTooLarge);
    const std::uint32_t messageHead = state_.snapshots.messageHead;
    if (!writeRecord(output_, sequence, writer_, messageHead)) return stop(ConversionResult::OutputFailed);
    if (observer_) {
        const ConvertedRecord record{sequence, reader_.size, end, {writer_.data.data(), pktWrittenBytes(writer_)},
                                     messageHead};
        observer_->converted(record, state_);
    }
    return std::nullopt;
}

}  // namespace tarnic
