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
/// Records in flight: read, being converted or waiting for their turn to be written.
/// Enough that a long message, or a thread busy reading or writing the file, seldom
/// holds up the other thread.
constexpr std::uint64_t SLOTS = 32;

/// Waits until `ready()` holds; false if the conversion stops first. Spins a while
/// first: the other thread is usually a fraction of a message away.
template <class Ready>
bool waitUntil(const Ready& ready, const std::atomic<bool>& stopped) {
    for (unsigned spins = 0; !ready(); ++spins) {
        if (stopped.load(std::memory_order_acquire)) return false;
        if (spins >= 16384) std::this_thread::yield();
    }
    return true;
}

/// One record in flight, and everything converting it takes.
struct alignas(64) Slot {
    Slot() : state(console) {}
    std::uint64_t record = NO_RECORD;
    RecordRead read;
    std::vector<std::uint8_t> payload;
    SnapshotState start;  ///< the state its conversion started from
    CollectingConsole console;
    ConversionState state;
    PacketReader reader;
    PacketWriter writer;
    /// The state this record is forecast to leave, once `forecastOf` is its number.
    SnapshotState forecast;
    std::atomic<std::uint64_t> forecastOf{NO_RECORD};
    /// Its number once it is converted (or found to be the end) and may be written.
    std::atomic<std::uint64_t> finishedOf{NO_RECORD};
};

/// Both threads run the same loop: take the next record (reading in turn), convert it
/// from the forecast of the record before, and write every record whose turn has come.
class Conversion final {
public:
    Conversion(ByteSource& input, ByteSink& output, Console& console)
        : input_(input), output_(output), console_(console), borrowing_(input.keepsBorrowed()) {}

    /// One thread's share; returns once the conversion ends.
    void run() {
        try {
            while (!stopped_.load(std::memory_order_acquire)) {
                Slot* slot = take();
                if (slot == nullptr) return;
                if (!slot->read.end && !convertFromForecast(*slot)) return;
                slot->finishedOf.store(slot->record);
                writeReady();
            }
        } catch (const std::bad_alloc&) {
            outOfMemory_.store(true);
            stopped_.store(true);
        }
    }

    bool outOfMemory() const { return outOfMemory_.load(); }
    ConversionResult result() const { return result_; }

private:
    /// Hears a slot's forecast and hands it on; one per slot being converted.
    class Publisher final : public SnapshotForecast {
    public:
        explicit Publisher(Slot& slot) : slot_(slot) {}
        void settled(const SnapshotState& state) override { publish(state); }
        void publish(const SnapshotState& state) {
            if (published_) return;
            published_ = true;
            slot_.forecast = state;
            slot_.forecastOf.store(slot_.record, std::memory_order_release);
        }

    private:
        Slot& slot_;
        bool published_ = false;
    };

    /// Reads the next record into its slot, in turn; nullptr once there is none.
    Slot* take() {
        if (!waitUntil([&] { return !reading_.exchange(true, std::memory_order_acquire); }, stopped_)) return nullptr;
        Slot* slot = nullptr;
        const std::uint64_t record = nextRecord_;
        // The slot is free once the record that last had it is written.
        if (!ended_ && waitUntil([&] { return writeTurn_.load(std::memory_order_acquire) + SLOTS > record; }, stopped_)) {
            slot = &slots_[record % SLOTS];
            slot->record = record;
            slot->read = readRecord(input_, slot->payload, borrowing_);
            ended_ = slot->read.end.has_value();
            ++nextRecord_;
        }
        reading_.store(false, std::memory_order_release);
        return slot;
    }

    bool convertFromForecast(Slot& slot) {
        if (slot.record > 0) {
            const Slot& before = slots_[(slot.record - 1) % SLOTS];
            const std::uint64_t wanted = slot.record - 1;
            if (!waitUntil([&] { return before.forecastOf.load(std::memory_order_acquire) == wanted; }, stopped_))
                return false;
            slot.start = before.forecast;
        } else {
            slot.start = SnapshotState{};
        }
        Publisher publisher(slot);
        convert(slot, &publisher);
        slot.state.forecast = nullptr;
        publisher.publish(slot.state.snapshots);
        return true;
    }

    static void convert(Slot& slot, SnapshotForecast* forecast) {
        slot.console.clear();
        pktResetReader(slot.reader);
        pktResetWriter(slot.writer);
        slot.reader.data = slot.read.payload;
        slot.reader.size = slot.read.size;
        slot.state.snapshots = slot.start;
        slot.state.forecast = forecast;
        if (transcodeMessage(slot.reader, slot.writer, slot.state) == MessageEnd::Truncated)
            slot.console.print("WARNING: message %i is truncated\n", *slot.read.sequence);
    }

    /// Writes, in file order, every converted record whose turn has come. One thread
    /// writes at a time; a record finished meanwhile is written by whichever looks last.
    void writeReady() {
        for (;;) {
            if (writing_.exchange(true)) return;
            while (!stopped_.load() && ready()) {
                Slot& slot = slots_[writeTurn_.load() % SLOTS];
                if (!write(slot)) stopped_.store(true);
                writeTurn_.store(writeTurn_.load() + 1, std::memory_order_release);
            }
            writing_.store(false);
            if (stopped_.load() || !ready()) return;
        }
    }

    bool ready() const {
        const std::uint64_t turn = writeTurn_.load();
        return slots_[turn % SLOTS].finishedOf.load() == turn;
    }

    /// Writes one record; false once the conversion ends.
    bool write(Slot& slot) {
        if (slot.read.end) {
            result_ = finishRecords(slot.read, output_, console_);
            return false;
        }
        // The forecast this record started from was wrong: convert it again from the truth.
        if (slot.start != written_) {
            slot.start = written_;
            convert(slot, nullptr);
        }
        if (!slot.console.text().empty()) console_.write(slot.console.text());
        if (slot.writer.overflowed) {
            result_ = ConversionResult::MessageTooLarge;
            return false;
        }
        if (!writeRecord(output_, *slot.read.sequence, slot.writer, slot.state.snapshots.messageHead)) {
            result_ = ConversionResult::OutputFailed;
            return false;
        }
        written_ = slot.state.snapshots;
        return true;
    }

    ByteSource& input_;
    ByteSink& output_;
    Console& console_;
    const bool borrowing_;  ///< payloads may stay in the input's memory
    std::array<Slot, SLOTS> slots_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> outOfMemory_{false};
    // Reading: one thread at a time.
    std::atomic<bool> reading_{false};
    std::uint64_t nextRecord_ = 0;
    bool ended_ = false;
    // Writing: one thread at a time.
    std::atomic<bool> writing_{false};
    std::atomic<std::uint64_t> writeTurn_{0};
    SnapshotState written_;  ///< the state after the records written so far
    ConversionResult result_ = ConversionResult::Converted;
};

}  // namespace

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    // On one core the threads would only take turns, each spinning while the other works.
    if (std::thread::hardware_concurrency() == 1) return convertRecords(input, output, console);
    Conversion conversion(input, output, console);
    std::thread helper;
    try {
        helper = std::thread([&] { conversion.run(); });
    } catch (const std::system_error&) {
        return convertRecords(input, output, console);
    }
    conversion.run();
    helper.join();
    if (conversion.outOfMemory()) throw std::bad_alloc();
    return conversion.result();
}

}  // namespace tarnic

#else

namespace tarnic {

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    return convertRecords(input, output, console);
}

}  // namespace tarnic

#endif
