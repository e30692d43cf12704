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

/// Records each thread may hold: read, being converted or waiting for their turn to be
/// written. Enough that a long message, or a thread busy reading or writing the file,
/// seldom holds up the other thread.
constexpr std::size_t SLOTS_PER_THREAD = 64;
/// Forecasts kept, by record number: more than both threads can hold between them.
constexpr std::size_t FORECASTS = 256;
static_assert(FORECASTS > 2 * SLOTS_PER_THREAD);

constexpr std::uint64_t NO_RECORD = std::numeric_limits<std::uint64_t>::max();

/// Spins until `ready()` holds, doing `meanwhile()` between looks; false if the
/// conversion stops first. The other thread is usually a fraction of a message away.
template <class Ready, class Meanwhile>
bool waitUntil(const Ready& ready, const std::atomic<bool>& stopped, const Meanwhile& meanwhile) {
    for (unsigned spins = 0; !ready(); ++spins) {
        if (stopped.load(std::memory_order_acquire)) return false;
        meanwhile();
        if (spins >= 16384) std::this_thread::yield();
    }
    return true;
}

/// The state a record is forecast to leave, once `record` is its number.
struct alignas(64) Forecast {
    SnapshotState state;
    std::atomic<std::uint64_t> record{NO_RECORD};
};

/// One record a thread holds, and everything converting it takes.
struct Slot {
    Slot() : state(console) {}
    std::uint64_t record = 0;
    RecordRead read;
    bool converted = false;
    std::vector<std::uint8_t> payload;
    SnapshotState start;  ///< the state its conversion started from
    CollectingConsole console;
    ConversionState state;
    PacketReader reader;
    PacketWriter writer;
};

/// What both threads share: the input, read one record at a time in file order; the
/// forecasts; and the output, written one record at a time in file order.
struct Shared {
    Shared(ByteSource& from, ByteSink& to, Console& messages) : Shared(from.borrowRest(), from, to, messages) {}
    Shared(std::span<const std::uint8_t> rest, ByteSource& from, ByteSink& to, Console& messages)
        : source(from), output(to), console(messages), borrowing(!rest.empty()), inMemory(rest) {}
    /// Where the records are read: the input, or what was left of it where it lies in memory.
    ByteSource& input() { return borrowing ? static_cast<ByteSource&>(inMemory) : source; }
    ByteSource& source;
    ByteSink& output;
    Console& console;
    std::array<Forecast, FORECASTS> forecasts;
    // Each group on a cache line of its own: a thread waiting on one must not slow
    // the other thread's work on the next.
    alignas(64) std::atomic<bool> stopped{false};
    std::atomic<bool> outOfMemory{false};
    alignas(64) std::atomic<bool> reading{false};  ///< held while a thread reads
    bool ended = false;
    const bool borrowing;  ///< payloads stay in the input's memory, read from `inMemory`
    std::uint64_t nextRecord = 0;
    /// Beside the flag, so that taking a record moves one cache line between the cores, not two.
    MemorySource inMemory;
    alignas(64) std::atomic<std::uint64_t> writeTurn{0};  ///< the record to write next
    /// The record written last left the state it was forecast to leave, so the record
    /// after it, converted from that forecast, stands. Read and written in turn.
    bool forecastHeld = true;
    ConversionResult result = ConversionResult::Converted;
    /// The state the record written last left, where its forecast was wrong.
    alignas(64) SnapshotState written;
};

/// One thread's share: it takes the next record of the input, converts it from the
/// forecast of the record before, and writes each record it converted once its turn
/// comes. Every record is read, converted and written by one thread, so its bytes
/// stay in that thread's core.
class Lane final : public SnapshotForecast {
public:
    explicit Lane(Shared& shared) : shared_(shared) {}

    void run() {
        try {
            work();
        } catch (const std::bad_alloc&) {
            shared_.outOfMemory.store(true);
            shared_.stopped.store(true);
        }
    }

    void settled(const SnapshotState& state) override { publish(state); }

private:
    void work() {
        Shared& s = shared_;
        const auto writeOwn = [this] { writeReady(); };
        for (;;) {
            writeReady();
            if (s.stopped.load(std::memory_order_acquire)) return;
            if (held_ == SLOTS_PER_THREAD) {
                if (!waitUntil([&] { return held_ < SLOTS_PER_THREAD; }, s.stopped, writeOwn)) return;
                continue;
            }
            Slot* slot = take();
            if (slot == nullptr) {
                // The input has ended: write what this thread still holds, in turn.
                waitUntil([&] { return held_ == 0; }, s.stopped, writeOwn);
                return;
            }
            if (!slot->read.end && !convert(*slot, writeOwn)) return;
            slot->converted = true;
        }
    }

    /// Reads the next record of the input into a free slot; nullptr once there is none.
    Slot* take() {
        Shared& s = shared_;
        const auto writeOwn = [this] { writeReady(); };
        // Looks before it tries: an exchange while the other thread reads would pull the
        // line away from it in the middle of its reading.
        const auto acquire = [&] {
            return !s.reading.load(std::memory_order_relaxed) && !s.reading.exchange(true, std::memory_order_acquire);
        };
        if (!waitUntil(acquire, s.stopped, writeOwn))
            return nullptr;
        Slot* slot = nullptr;
        if (!s.ended) {
            slot = &slots_[(first_ + held_) % SLOTS_PER_THREAD];
            ++held_;
            slot->record = s.nextRecord++;
            slot->converted = false;
            slot->read = readRecord(s.input(), slot->payload, s.borrowing);
            s.ended = slot->read.end.has_value();
        }
        s.reading.store(false, std::memory_order_release);
        if (slot != nullptr && !slot->read.end && slot->read.payload != slot->payload.data()) prefetch(slot->read);
        return slot;
    }

    /// A borrowed payload lies where the caller left it, often in no cache: asking for
    /// all its lines at once has them fetched side by side, not one by one as the
    /// conversion walks them.
    static void prefetch(const RecordRead& read) {
        for (std::uint32_t at = 0; at < read.size; at += 64) __builtin_prefetch(read.payload + at);
    }

    /// Converts a record from the forecast of the one before; false if the conversion stops first.
    template <class Meanwhile>
    bool convert(Slot& slot, const Meanwhile& meanwhile) {
        slot.start = SnapshotState{};
        if (slot.record > 0) {
            const Forecast& before = shared_.forecasts[(slot.record - 1) % FORECASTS];
            const std::uint64_t wanted = slot.record - 1;
            if (!waitUntil([&] { return before.record.load(std::memory_order_acquire) == wanted; }, shared_.stopped,
                           meanwhile))
                return false;
            slot.start = before.state;
        }
        converting_ = &slot;
        published_ = false;
        transcode(slot, this);
        publish(slot.state.snapshots);
        return true;
    }

    static void transcode(Slot& slot, SnapshotForecast* forecast) {
        slot.console.clear();
        pktResetReader(slot.reader);
        pktResetWriter(slot.writer);
        slot.reader.data = slot.read.payload;
        slot.reader.size = slot.read.size;
        slot.state.snapshots = slot.start;
        slot.state.forecast = forecast;
        if (transcodeMessage(slot.reader, slot.writer, slot.state) == MessageEnd::Truncated)
            slot.console.print("WARNING: message %i is truncated\n", *slot.read.sequence);
        slot.state.forecast = nullptr;
    }

    /// Tells the other thread, once per record, the state the record being converted is forecast to leave.
    void publish(const SnapshotState& state) {
        if (published_) return;
        published_ = true;
        Forecast& forecast = shared_.forecasts[converting_->record % FORECASTS];
        forecast.state = state;
        forecast.record.store(converting_->record, std::memory_order_release);
    }

    /// Writes the records this thread holds, oldest first, while their turn has come and
    /// the conversion goes on: the record that ended it stays held, and is not written again.
    void writeReady() {
        Shared& s = shared_;
        while (held_ > 0 && !s.stopped.load(std::memory_order_acquire)) {
            Slot& slot = slots_[first_];
            if (!slot.converted || s.writeTurn.load(std::memory_order_acquire) != slot.record) return;
            if (!write(slot)) {
                // The turn never passes on: the other thread writes nothing more.
                s.stopped.store(true, std::memory_order_release);
                return;
            }
            first_ = (first_ + 1) % SLOTS_PER_THREAD;
            --held_;
            s.writeTurn.store(slot.record + 1, std::memory_order_release);
        }
    }

    /// Writes one record on its turn; false once the conversion ends.
    bool write(Slot& slot) {
        Shared& s = shared_;
        if (slot.read.end) {
            s.result = finishRecords(slot.read, s.output, s.console);
            return false;
        }
        // The forecast this record started from was wrong: convert it again from the truth.
        if (!s.forecastHeld) {
            slot.start = s.written;
            transcode(slot, nullptr);
        }
        if (!slot.console.text().empty()) s.console.write(slot.console.text());
        if (slot.writer.overflowed) {
            s.result = ConversionResult::MessageTooLarge;
            return false;
        }
        if (!writeRecord(s.output, *slot.read.sequence, slot.writer, slot.state.snapshots.messageHead)) {
            s.result = ConversionResult::OutputFailed;
            return false;
        }
        // Checked here, against what this thread published, so that the state itself
        // crosses to the other core only when the forecast was wrong.
        s.forecastHeld = slot.state.snapshots == s.forecasts[slot.record % FORECASTS].state;
        if (!s.forecastHeld) s.written = slot.state.snapshots;
        return true;
    }

    Shared& shared_;
    std::array<Slot, SLOTS_PER_THREAD> slots_;
    std::size_t first_ = 0;  ///< the oldest record held
    std::size_t held_ = 0;
    Slot* converting_ = nullptr;
    bool published_ = false;
};

}  // namespace

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    // On one core the threads would only take turns, each spinning while the other works.
    if (std::thread::hardware_concurrency() == 1) return convertRecords(input, output, console);
    Shared shared(input, output, console);
    Lane first(shared);
    Lane second(shared);
    std::thread helper;
    try {
        helper = std::thread([&] { second.run(); });
    } catch (const std::system_error&) {
        return convertRecords(shared.input(), output, console);
    }
    first.run();
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
