// Two threads, one conversion: the forecast.
//
// Only a snapshot's header and player state carry state from one message to the
// next, and they come before its entity list, where most of the work is. So the state
// a run of records will leave can be found without converting them: `forecastMessage`
// reads each message only as far as its snapshot's masked array 2 (the player-state
// fields are stepped over, the entity list never reached), at about a sixth of the
// cost of converting it. It follows only the message head and the values received in
// that array, which each snapshot overwrites: so a thread forecasts what a chunk
// changes without waiting for the state the chunk before leaves, and applies the
// changes to that state once it is known. Since a forecast only overwrites, a chunk is
// forecast from its last message back, only until the head and every value of the
// array are known (`BackwardForecast`): where each value is received again within a
// chunk, a few of its messages are read rather than all. A game state changes nothing
// of the state, but reading past one walks each of its baselines, as costly as
// converting them: the forecast takes a game state to end its message, as it does
// where a server sends one, until that guess first proves wrong in a conversion, and
// walks them from then on.
//
// The records go in chunks (ChunkLimits, record_loop.h): at least RECORDS_PER_CHUNK
// records and some tens of kilobytes, so that handing a chunk of small records between
// the threads costs as little beside converting it as a chunk of large records. A
// thread takes the next chunk of the input and forecasts what it changes; once the
// forecast of the chunk before is published, it publishes the state its own chunk is
// forecast to leave, then converts the chunk from the forecast of the chunk before,
// while the other thread converts the chunk after from this one's forecast. Each chunk
// is written on its turn, in file order, by the thread that converted it, which also
// checks that the chunk left the state it was forecast to leave; where not (two
// snapshots in one message, a snapshot cut short, a snapshot behind a game state), the
// next chunk is converted again, in order, from the true state. A wrong forecast
// therefore costs a second conversion, never exactness: output and console are those
// of one thread byte for byte.
//
// Threads meet once a chunk, not once a record: each meeting moves cache lines from
// one core to the other, which costs as much as converting a good part of a record.
// A chunk keeps what its conversion wrote, records and console lines, each in one
// buffer of its own, the records framed as they will be written. Each thread holds at
// most CHUNKS_PER_THREAD chunks, so memory grows with the largest record only. An
// input in memory is fetched ahead of each chunk's reading, so that record headers,
// forecast and conversion find it in the cache.

#include "tarnic/convert.h"

#include "driver/record_loop.h"

#if TARNIC_THREADS

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "driver/record_framing.h"
#include "driver/record_io.h"
#include "transcode/message.h"

namespace tarnic {

namespace {

/// Chunks each thread may hold: one being converted, one waiting for its turn to be written.
constexpr std::size_t CHUNKS_PER_THREAD = 2;
/// Forecasts kept, by chunk number: more than both threads can hold between them.
constexpr std::size_t FORECASTS = 8;
static_assert(FORECASTS > 2 * CHUNKS_PER_THREAD);

/// Most bytes of an input in memory fetched ahead of a chunk's reading.
constexpr std::size_t MAX_FETCHED_AHEAD = 256 << 10;

constexpr std::uint64_t NO_CHUNK = std::numeric_limits<std::uint64_t>::max();

/// Looks a waiting thread takes before it sleeps: about as long as forecasting a chunk,
/// the usual wait, so that it mostly finds what it waits for without a system call,
/// and never holds a core for longer.
constexpr unsigned SPINS_BEFORE_SLEEPING = 2000;

/// Tells the core that this is a spin, so that it spends less on it and leaves more to
/// the other hardware thread on the core.
inline void relaxWhileSpinning() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

/// The state a chunk is forecast to leave, once `chunk` is its number.
struct alignas(64) Forecast {
    SnapshotState state;
    std::atomic<std::uint64_t> chunk{NO_CHUNK};
};

/// One record of a chunk, and where what converting it left lies in the chunk.
struct ChunkRecord {
    RecordRead read;
    std::size_t payloadAt = 0;   ///< where its payload lies in the chunk's `payloads`, where copied there
    std::size_t outputEnd = 0;   ///< where its output record ends in the chunk's `output`
    std::size_t consoleEnd = 0;  ///< where its lines end in the chunk's `console`
    bool overflowed = false;     ///< its message grew too large to be framed
};

/// Records next to each other in the file, converted one after another by one thread.
struct Chunk {
    std::uint64_t number = 0;
    bool converted = false;
    bool gameStateEndedMessage = false;  ///< its forecast took a game state to end its message
    std::vector<ChunkRecord> records;   ///< the last may end the input instead
    std::vector<std::uint8_t> payloads;  ///< the payloads that could not stay in the input
    std::vector<std::uint8_t> output;    ///< the output records, framed, one after another
    CollectingConsole console;           ///< the lines of every record, one after another
    SnapshotState start;                 ///< the state its conversion started from
    SnapshotState end;                   ///< the state its conversion left
};

/// What both threads share: the input, read one chunk at a time in file order; the
/// forecasts; and the output, written one chunk at a time in file order.
struct Shared {
    Shared(ByteSource& from, ByteSink& to, Console& messages, const ChunkLimits& limits)
        : Shared(from.borrowRest(), from, to, messages, limits) {}
    Shared(std::span<const std::uint8_t> rest, ByteSource& from, ByteSink& to, Console& messages,
           const ChunkLimits& limits)
        : source(from), output(to), console(messages), chunkLimits(limits), borrowing(!rest.empty()), inMemory(rest) {}
    /// Where the records are read: the input, or what was left of it where it lies in memory.
    ByteSource& input() { return borrowing ? static_cast<ByteSource&>(inMemory) : source; }
    ByteSource& source;
    ByteSink& output;
    Console& console;
    const ChunkLimits chunkLimits;
    std::array<Forecast, FORECASTS> forecasts;
    // Each group on a cache line of its own: a thread waiting on one must not slow
    // the other thread's work on the next.
    alignas(64) std::atomic<bool> stopped{false};
    std::atomic<bool> outOfMemory{false};
    /// A game state proved not to end its message: forecasts walk game states from now on.
    std::atomic<bool> walkGameStates{false};
    /// Advanced after every change another thread may be waiting for (a forecast, the
    /// turn to write, the turn to read, the end); a thread that waits long sleeps on it.
    alignas(64) std::atomic<std::uint32_t> changes{0};
    std::atomic<std::uint32_t> sleepers{0};  ///< threads asleep on `changes`, or about to be
    /// Where a thread sleeps until `changes` moves. Not `std::atomic::wait`: without a
    /// futex (MinGW's C++ library, so the Windows program) it can miss a wake-up and
    /// leave both threads asleep for good.
    std::mutex sleepLock;
    std::condition_variable wakeUp;
    alignas(64) std::atomic<bool> reading{false};  ///< held while a thread reads
    bool ended = false;
    const bool borrowing;  ///< payloads stay in the input's memory, read from `inMemory`
    std::uint64_t nextChunk = 0;
    std::size_t lastChunkBytes = 64 << 10;  ///< bytes of input the chunk read last spanned
    MemorySource inMemory;
    alignas(64) std::atomic<std::uint64_t> writeTurn{0};  ///< the chunk to write next
    /// The chunk written last left the state it was forecast to leave, so the chunk
    /// after it, converted from that forecast, stands. Read and written in turn.
    bool forecastHeld = true;
    ConversionResult result = ConversionResult::Converted;
    /// The state the chunk written last left, where its forecast was wrong.
    alignas(64) SnapshotState written;

    /// Tells a sleeping thread that something it may wait for has changed. Both this and
    /// `waitUntil` order their two steps sequentially consistently: either this sees the
    /// sleeper, or the sleeper sees the change and does not sleep.
    void changed() {
        changes.fetch_add(1, std::memory_order_seq_cst);
        if (sleepers.load(std::memory_order_seq_cst) != 0) {
            // Taken and let go so that a sleeper between its look at `changes` and its
            // sleep is asleep before the wake-up comes, or sees the change first.
            { const std::lock_guard<std::mutex> hold(sleepLock); }
            wakeUp.notify_all();
        }
    }

    void stop() {
        stopped.store(true, std::memory_order_release);
        changed();
    }
};

/// Waits until `ready()` holds, doing `meanwhile()` between looks: spins for up to
/// `spins` looks, then sleeps until the other thread changes something. False if the
/// conversion stops first.
template <class Ready, class Meanwhile>
bool waitUntil(Shared& s, const Ready& ready, const Meanwhile& meanwhile, unsigned spins = SPINS_BEFORE_SLEEPING) {
    for (unsigned looks = 0;; ++looks) {
        // Taken before looking: a change made after this wakes the sleep below at once.
        const std::uint32_t seen = s.changes.load(std::memory_order_acquire);
        if (s.stopped.load(std::memory_order_acquire)) return false;
        meanwhile();
        if (ready()) return true;
        if (looks < spins) {
            relaxWhileSpinning();
            continue;
        }
        s.sleepers.fetch_add(1, std::memory_order_seq_cst);
        {
            std::unique_lock<std::mutex> hold(s.sleepLock);
            s.wakeUp.wait(hold, [&] { return s.changes.load(std::memory_order_seq_cst) != seen; });
        }
        s.sleepers.fetch_sub(1, std::memory_order_relaxed);
    }
}

/// One thread's share of the conversion, as the comment at the top of this file tells.
class Lane {
public:
    explicit Lane(Shared& shared) : shared_(shared), forecast_(forecastConsole_) {}

    void run() {
        try {
            work();
        } catch (const std::bad_alloc&) {
            shared_.outOfMemory.store(true);
            shared_.stop();
        }
    }

private:
    void work() {
        Shared& s = shared_;
        const auto writeOwn = [this] { writeReady(); };
        for (;;) {
            writeReady();
            if (s.stopped.load(std::memory_order_acquire)) return;
            if (held_ == CHUNKS_PER_THREAD) {
                if (!waitUntil(s, [&] { return held_ < CHUNKS_PER_THREAD; }, writeOwn)) return;
                continue;
            }
            Chunk* chunk = take();
            if (chunk == nullptr) {
                // The input has ended: write what this thread still holds, in turn.
                waitUntil(s, [&] { return held_ == 0; }, writeOwn);
                return;
            }
            forecastChanges(*chunk);
            if (!startFromForecast(*chunk)) return;
            publishForecast(*chunk);
            convert(*chunk);
            chunk->converted = true;
        }
    }

    /// Reads the next records of the input into a free chunk; nullptr once there are none.
    Chunk* take() {
        Shared& s = shared_;
        const auto writeOwn = [this] { writeReady(); };
        // Looks before it tries: an exchange while the other thread reads would pull the
        // line away from it in the middle of its reading.
        const auto acquire = [&] {
            return !s.reading.load(std::memory_order_relaxed) && !s.reading.exchange(true, std::memory_order_acquire);
        };
        // A thread reading a file may be in a system call for a while: the other does
        // not spin for its turn, it sleeps. Reading memory takes no system call.
        if (!waitUntil(s, acquire, writeOwn, s.borrowing ? SPINS_BEFORE_SLEEPING : 0)) return nullptr;
        Chunk* chunk = nullptr;
        if (!s.ended) {
            const std::size_t unreadBefore = s.inMemory.unread().size();
            if (s.borrowing) fetchAhead(s.inMemory.unread(), s.lastChunkBytes);
            chunk = &chunks_[(first_ + held_) % CHUNKS_PER_THREAD];
            ++held_;
            chunk->number = s.nextChunk++;
            chunk->converted = false;
            read(*chunk);
            s.lastChunkBytes = unreadBefore - s.inMemory.unread().size();
        }
        s.reading.store(false, std::memory_order_release);
        s.changed();
        return chunk;
    }

    /// Reads records into `chunk` until it is full or the input ends. Payloads that
    /// cannot stay in the input are copied one after another into the chunk.
    void read(Chunk& chunk) {
        Shared& s = shared_;
        chunk.records.clear();
        chunk.payloads.clear();
        std::size_t bytes = 0;
        while (!s.ended && !s.chunkLimits.full(chunk.records.size(), bytes)) {
            ChunkRecord& record = chunk.records.emplace_back();
            record.read = readRecord(s.input(), payload_, s.borrowing);
            s.ended = record.read.end.has_value();
            if (s.ended) break;
            bytes += OLD_HEADER_BYTES + std::size_t{record.read.size};
            if (!s.borrowing) {
                record.payloadAt = chunk.payloads.size();
                chunk.payloads.insert(chunk.payloads.end(), payload_.begin(), payload_.begin() + record.read.size);
            }
        }
        if (!s.borrowing) {
            for (ChunkRecord& record : chunk.records) record.read.payload = chunk.payloads.data() + record.payloadAt;
        }
    }

    /// Asks for the bytes of an input in memory that the chunk being read will likely
    /// span, as many as the chunk before: fetched side by side, they are in the cache
    /// by the time the record headers, the forecast and the conversion walk them, rather
    /// than each fetched when first needed.
    static void fetchAhead(std::span<const std::uint8_t> unread, std::size_t bytes) {
        bytes = std::min({unread.size(), bytes, MAX_FETCHED_AHEAD});
        for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(unread.data() + at);
    }

    /// Waits for the state the chunk before is forecast to leave; false if the conversion stops first.
    bool startFromForecast(Chunk& chunk) {
        chunk.start = SnapshotState{};
        if (chunk.number == 0) return true;
        const Forecast& before = shared_.forecasts[(chunk.number - 1) % FORECASTS];
        const std::uint64_t wanted = chunk.number - 1;
        const auto writeOwn = [this] { writeReady(); };
        if (!waitUntil(shared_, [&] { return before.chunk.load(std::memory_order_acquire) == wanted; }, writeOwn))
            return false;
        chunk.start = before.state;
        return true;
    }

    /// Forecasts what the chunk changes of the state, whatever the state it starts
    /// from: from its last record back, as far as the change is not yet known.
    void forecastChanges(Chunk& chunk) {
        forecast_.restart();
        const GameStates gameStates =
            shared_.walkGameStates.load(std::memory_order_relaxed) ? GameStates::Walk : GameStates::EndMessage;
        for (auto record = chunk.records.rbegin(); record != chunk.records.rend(); ++record) {
            const RecordRead& read = record->read;
            if (read.end) continue;
            PacketReader reader;
            reader.data = read.payload;
            reader.size = read.size;
            pktResetWriter(scratch_);
            if (forecast_.addEarlier(reader, scratch_, gameStates)) break;
        }
        chunk.gameStateEndedMessage = forecast_.metGameState();
        forecastConsole_.clear();
    }

    /// Publishes the state the chunk is forecast to leave, and tells the other thread.
    void publishForecast(const Chunk& chunk) {
        Forecast& forecast = shared_.forecasts[chunk.number % FORECASTS];
        forecast.state = applyForecast(chunk.start, forecast_.changes(), forecast_.headSet());
        forecast.chunk.store(chunk.number, std::memory_order_release);
        shared_.changed();
    }

    /// Converts the records of a chunk in order, from the state it starts from, into
    /// the chunk's output and console.
    void convert(Chunk& chunk) {
        chunk.output.clear();
        chunk.console.clear();
        ConversionState conversion(chunk.console);
        conversion.snapshots = chunk.start;
        for (ChunkRecord& record : chunk.records) {
            if (record.read.end) break;
            PacketReader reader;
            reader.data = record.read.payload;
            reader.size = record.read.size;
            pktResetWriter(writer_);
            if (transcodeMessage(reader, writer_, conversion) == MessageEnd::Truncated)
                chunk.console.print("WARNING: message %i is truncated\n", *record.read.sequence);
            record.overflowed = writer_.overflowed;
            if (!record.overflowed) {
                const std::size_t count = pktWrittenBytes(writer_);
                const auto header = outputHeader(*record.read.sequence, std::uint32_t(count),
                                                 conversion.snapshots.messageHead);
                chunk.output.insert(chunk.output.end(), header.begin(), header.end());
                chunk.output.insert(chunk.output.end(), writer_.data.begin(), writer_.data.begin() + count);
            }
            record.outputEnd = chunk.output.size();
            record.consoleEnd = chunk.console.text().size();
        }
        chunk.end = conversion.snapshots;
    }

    /// Writes the chunks this thread holds, oldest first, while their turn has come and
    /// the conversion goes on: the chunk that ended it stays held, and is not written again.
    void writeReady() {
        Shared& s = shared_;
        while (held_ > 0 && !s.stopped.load(std::memory_order_acquire)) {
            Chunk& chunk = chunks_[first_];
            if (!chunk.converted || s.writeTurn.load(std::memory_order_acquire) != chunk.number) return;
            if (!write(chunk)) {
                // The turn never passes on: the other thread writes nothing more.
                s.stop();
                return;
            }
            first_ = (first_ + 1) % CHUNKS_PER_THREAD;
            --held_;
            s.writeTurn.store(chunk.number + 1, std::memory_order_release);
            s.changed();
        }
    }

    /// Writes one chunk on its turn; false once the conversion ends.
    bool write(Chunk& chunk) {
        Shared& s = shared_;
        // The forecast this chunk started from was wrong: convert it again from the truth.
        if (!s.forecastHeld) {
            chunk.start = s.written;
            convert(chunk);
        }
        const std::string_view lines = chunk.console.text();
        std::size_t outputAt = 0;
        std::size_t linesAt = 0;
        for (ChunkRecord& record : chunk.records) {
            if (record.read.end) {
                s.result = finishRecords(record.read, s.output, s.console);
                return false;
            }
            if (record.consoleEnd > linesAt) s.console.write(lines.substr(linesAt, record.consoleEnd - linesAt));
            linesAt = record.consoleEnd;
            if (record.overflowed) {
                s.result = ConversionResult::MessageTooLarge;
                return false;
            }
            // Header and message in two writes, as one thread writes them: an output
            // that fails part-way holds the same bytes.
            const std::uint8_t* framed = chunk.output.data() + outputAt;
            if (!s.output.write(framed, OUTPUT_HEADER_BYTES) ||
                !s.output.write(framed + OUTPUT_HEADER_BYTES, record.outputEnd - outputAt - OUTPUT_HEADER_BYTES)) {
                s.result = ConversionResult::OutputFailed;
                return false;
            }
            outputAt = record.outputEnd;
        }
        // Checked here, against what this thread published, so that the state itself
        // crosses to the other core only when the forecast was wrong.
        s.forecastHeld = chunk.end == s.forecasts[chunk.number % FORECASTS].state;
        if (!s.forecastHeld) {
            s.written = chunk.end;
            // Perhaps a snapshot behind a game state: one such message makes others likely.
            if (chunk.gameStateEndedMessage) s.walkGameStates.store(true, std::memory_order_relaxed);
        }
        return true;
    }

    Shared& shared_;
    std::array<Chunk, CHUNKS_PER_THREAD> chunks_;
    std::size_t first_ = 0;  ///< the oldest chunk held
    std::size_t held_ = 0;
    /// What the forecast of a chunk changes of the state; its diagnostics and output, thrown away.
    CollectingConsole forecastConsole_;
    BackwardForecast forecast_;
    PacketWriter scratch_;
    PacketWriter writer_;                ///< each message as it is converted
    std::vector<std::uint8_t> payload_;  ///< each payload read where it cannot stay in the input
};

}  // namespace

ConversionResult convertRecordsOnTwoThreads(ByteSource& input, ByteSink& output, Console& console) {
    return convertRecordsInChunks(input, output, console, ChunkLimits{});
}

ConversionResult convertRecordsInChunks(ByteSource& input, ByteSink& output, Console& console,
                                        const ChunkLimits& limits) {
    Shared shared(input, output, console, limits);
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

ConversionResult convertRecordsInChunks(ByteSource& input, ByteSink& output, Console& console,
                                        const ChunkLimits&) {
    return convertRecords(input, output, console);
}

}  // namespace tarnic

#endif
