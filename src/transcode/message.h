#pragma once

#include <cstdint>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "tarnic/console.h"
#include "transcode/snapshot.h"

namespace tarnic {

/// The operation a message conversion has got to; after a truncated message, the one cut short.
struct OperationPlace {
    std::uint32_t index = 0;     ///< operations before it in the message
    std::uint8_t code = 0;
    std::uint64_t startBit = 0;  ///< where its code begins in the payload
};

/// Everything one conversion carries from message to message; each conversion starts from zero.
struct ConversionState {
    explicit ConversionState(Console& out) : console(out) {}
    Console& console;
    SnapshotState snapshots;
    /// Kept for whoever watches the conversion: diagnostics and truncations point here.
    OperationPlace operation;
};

/// How a message ended.
enum class MessageEnd {
    Complete,   ///< every operation was read within the payload
    Truncated,  ///< the payload ended inside an operation; it and everything after it were left out
};

/// Converts one message: every operation of the reader's payload into the writer. An
/// operation the payload ends inside leaves nothing in the writer or the state.
MessageEnd transcodeMessage(PacketReader& reader, PacketWriter& writer, ConversionState& state);

/// How a forecast meets a game state. A game state changes nothing of the state, but
/// reading past one walks every baseline in it, about as costly as converting it.
enum class GameStates {
    Walk,       ///< read past it, to the snapshot that may follow it in the message
    EndMessage, ///< take it to end its message, as game states usually do
};

/// What a forecast found in one message.
enum class MessageForecast {
    NoHead,     ///< no snapshot set the message head
    HeadSet,    ///< its snapshot set the message head
    GameState,  ///< it stopped at a game state, taking it to end the message
};

/// The state converting a message will most likely leave, for the two-thread
/// conversion (why and how: src/driver/parallel_records.cpp). Reads up to the first
/// snapshot's entity list; exact unless the message holds two snapshots, is cut short,
/// or holds a snapshot behind a game state that `gameStates` takes to end the message.
/// Operations before the snapshot are converted into `scratch`, their diagnostics into
/// `state.console`, both to be thrown away. Only the message head and the values
/// received in masked array 2 are followed, message after message: the rest of the
/// state follows from them once, by `settleForecast`.
MessageForecast forecastMessage(PacketReader& reader, PacketWriter& scratch, ConversionState& state,
                                GameStates gameStates);

/// Completes the state that forecasts of one message or more leave.
void settleForecast(SnapshotState& state);

// A forecast only overwrites: the message head, and the values of masked array 2 that
// a snapshot received. So what a run of messages changes can be forecast without the
// state the run starts from, and applied to that state once it is known.

/// A state to forecast a run of messages from, whatever the state before them: every
/// value of masked array 2 marked as not received.
SnapshotState unknownForecastStart();

/// The state a run of messages leaves, settled: `before`, with what forecasts from
/// `unknownForecastStart` left in `changes` (`headSet`: any of them set the head).
SnapshotState applyForecast(const SnapshotState& before, const SnapshotState& changes, bool headSet);

/// What a run of messages changes, forecast from its last message back. A message's
/// forecast overwrites only the head and the values it receives, so the run leaves,
/// value by value, what the last message to receive it received; once the head and
/// every value are known, no earlier message can change them, and those need no reading.
class BackwardForecast {
public:
    /// Diagnostics of the operations read go to `console`, to be thrown away.
    explicit BackwardForecast(Console& console) : message_(console) { restart(); }

    /// Starts a new run.
    void restart();

    /// Forecasts the message before those given since the run started. True once no
    /// earlier message can change what the run leaves.
    bool addEarlier(PacketReader& reader, PacketWriter& scratch, GameStates gameStates);

    /// What the run changes, as `applyForecast` takes it.
    const SnapshotState& changes() const { return changes_; }
    bool headSet() const { return headSet_; }
    /// A message of the run was taken to end at a game state.
    bool metGameState() const { return metGameState_; }

private:
    ConversionState message_;  ///< what one message changes
    SnapshotState changes_;
    bool headSet_ = false;
    bool metGameState_ = false;
};

}  // namespace tarnic
