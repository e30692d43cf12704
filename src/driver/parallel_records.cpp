#include "driver/parallel_records.h"

#if TARNIC_THREADS

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "driver/record_io.h"
#include "transcode/message.h"

namespace tarnic {

namespace {

constexpr std::uint64_t NO_RECORD = std::numeric_limits<std::uint64_t>::max();

/// Waits until `ready()` holds; false if the conversion stops first. Spins a while
/// first: the other thread is usually a fraction of a message away.
template <class Ready>
bool waitUntil(const Ready& ready, const std::atomic<bool>& stopped) {
    for (unsigned spins = 0; !ready(); ++spins) {
        if (stopped.load(std::memory_order_acquire)) return false;
        if (spins >= 4096) std::this_thread::yield();
    }
    return true;
}

/// The state a lane's latest message is forecast to leave, for the other lane.
struct Forecast {
    SnapshotState state;
    std::atomic<std::uint64_t> records{0};  ///< the forecast is of record `records - 1`
};

/// What the two lanes share. Records are numbered from 0 in file order; lane
/// `record % 2` reads, converts and writes each, reading and writing in turn.
struct Shared {
    Shared(ByteSource& from, ByteSink& to, Console& messages)
        : input(from), output(to), console(messages), borrowing(from.keepsBorrowed()) {}
    ByteSource& input;
    ByteSink& output;
    Console& console;
    bool borrowing;                                   ///< payloads may stay in the input's memory
    std::atomic<std::uint64_t> readTurn{0};           ///< the next record to read
    std::atomic<std::uint64_t> lastRecord{NO_RECORD}; ///< the record at which the input ends
    std::atomic<std::uint64_t> writeTurn{0};          ///< the next record to write
    std::atomic<bool> stopped{false};
    std::array<Forecast, 2> forecasts;
    SnapshotState written;  ///< the state after the records written so far; the writing lane's
    ConversionResult result = ConversionResult::Converted;
    std::atomic<bool> outOfMemory{false};
};

/// One thread's share of the conversion.
class Lane final : public SnapshotForecast {
public:
    Lane(Shared& shared, unsigned index) : shared_(shared), index_(index), state_(console_) {}

    void run() {
        for (std::uint64_t record = index_;; record += 2) {
            if (!step(record)) return;
        }
    }

    void settled(const SnapshotState& state) override { publish(state); }

private:
    /// Reads, converts and writes one record; false once the conversion ends.
    bool step(std::uint64_t record) {
        Shared& s = shared_;
        if (!waitUntil([&] { return s.readTurn.load(std::memory_order_acquire) == record; }, s.stopped)) return false;
        if (record > s.lastRecord.load(std::memory_order_acquire)) return false;
        RecordRead read = readRecord(s.input, payload_, s.borrowing);
        if (read.end) s.lastRecord.store(record, std::memory_order_release);
        s.readTurn.store(record + 1, std::memory_order_release);

        SnapshotState start;
        if (!read.end) {
            if (record > 0) {
                Forecast& before = s.forecasts[1 - index_];
                if (!waitUntil([&] { return before.records.load(std::memory_order_acquire) == record; }, s.stopped))
                    return false;
                start = before.state;
            }
            record_ = record;
            published_ = false;
            convert(read, start, this);
            if (!published_) publish(state_.snapshots);
        }

        if (!waitUntil([&] { return s.writeTurn.load(std::memory_order_acquire) == record; }, s.stopped)) return false;
        const bool more = write(read, start);
        if (!more) s.stopped.store(true, std::memory_order_release);
        s.writeTurn.store(record + 1, std::memory_order_release);
        return more;
    }

    void convert(const RecordRead& read, const SnapshotState& start, SnapshotForecast* forecast) {
        console_.clear();
        pktResetReader(reader_);
        pktResetWriter(writer_);
        reader_.data = read.payload;
        reader_.size = read.size;
        state_.snapshots = start;
        state_.forecast = forecast;
        if (transcodeMessage(reader_, writer_, state_) == MessageEnd::Truncated)
            console_.print("WARNING: message %i is truncated\n", *read.sequence);
    }

    /// Called on this record's turn: the records before it are written.
    bool write(RecordRead& read, const SnapshotState& start) {
        Shared& s = shared_;
        if (read.end) {
            s.result = finishRecords(read, s.output, s.console);
            return false;
        }
        // The forecast this record started from was wrong: convert it again from the truth.
        if (start != s.written) convert(read, s.written, nullptr);
        if (!console_.text().empty()) s.console.write(console_.text());
        if (writer_.overflowed) {
            s.result = ConversionResult::MessageTooLarge;
            return false;
        }
        if (!writeRecord(s.output, *read.sequence, writer_, state_.snapshots.messageHead)) {
            s.result = ConversionResult::OutputFailed;
            return false;
        }
        s.written = state_.snapshots;
        return true;
    }

    /// Tells the other lane, once per record, the state this record is forecast to leave.
    void publish(const SnapshotState& state) {
        if (published_) return;
        published_ = true;
        Forecast& mine = shared_.forecasts[index_];
        mine.state = state;
        mine.records.store(record_ + 1, std::memory_order_release);
    }

    Shared& shared_;
    const unsigned index_;
    CollectingConsole console_;
    ConversionState state_;
    PacketReader reader_;
    PacketWriter writer_;
    std::vector<std::uint8_t> payload_;
    std::uint64_t record_ = 0;
    bool published_ = false;
};

/// Runs a lane, turning running out of memory into a stop that the caller reports.
void runLane(Lane& lane, Shared& shared) {
    try {
        lane.run();
    } catch (const std::bad_alloc&) {
        shared.outOfMemory.store(true);
        shared.stopped.store(true, std::memory_order_release);
    }
}

}  // namespace

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    Shared shared(input, output, console);
    Lane first(shared, 0);
    Lane second(shared, 1);
    std::thread helper;
    try {
        helper = std::thread([&] { runLane(second, shared); });
    } catch (const std::system_error&) {
        return convertRecords(input, output, console);
    }
    runLane(first, shared);
    helper.join();
    if (shared.outOfMemory.load()) throw std::bad_alloc();
    return shared.result;
}

}  // namespace tarnic

#else

namespace tarnic {

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    return convertRecords(input, output, console);
}

}  // namespace tarnic

#endif
