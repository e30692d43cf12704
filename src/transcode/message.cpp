#include "transcode/message.h"

#include "common/held_console.h"
#include "transcode/game_state.h"
#include "transcode/masked_array.h"
#include "transcode/server_command.h"
#include "transcode/server_op.h"

namespace tarnic {

namespace {

/// A game state and a server command print as they read, and the payload may end
/// inside them after a line: a cut operation is taken back whole, and lines about
/// bytes that are not in the file must go with it. So their lines are held, and passed
/// on, one write each, only once the operation proves whole: here, before the next
/// operation starts, while the state still names this one to whoever watches.
void passOnIfWhole(const PacketReader& reader, const HeldConsole& held, Console& console) {
    if (!reader.pastEnd) held.passOn(console);
}

void dispatch(std::uint32_t code, PacketReader& reader, PacketWriter& writer, ConversionState& state) {
    Console& console = state.console;
    switch (code) {
        case OP_BAD: console.print("Bad server command.\n"); break;
        case OP_NOP: console.print("NOP server command.\n"); break;
        case OP_GAMESTATE: {
            HeldConsole held;
            transcodeGameState(reader, writer, held);
            passOnIfWhole(reader, held, console);
            break;
        }
        case OP_CONFIGSTRING: console.print("Configstring - illegal server command.\n"); break;
        case OP_BASELINE: console.print("Baseline - illegal server command.\n"); break;
        case OP_SERVERCOMMAND: {
            HeldConsole held;
            transcodeServerCommand(reader, writer, held);
            passOnIfWhole(reader, held, console);
            break;
        }
        case OP_DOWNLOAD: console.print("Download - illegal server command.\n"); break;
        case OP_SNAPSHOT: transcodeSnapshot(reader, writer, state.snapshots); break;
        default: console.print("Unknown server command.\n"); break;
    }
}

}  // namespace

MessageForecast forecastMessage(PacketReader& reader, PacketWriter& scratch, ConversionState& state,
                                GameStates gameStates) {
    while (!pktAtEnd(reader) && !reader.pastEnd) {
        const std::uint32_t code = pktReadBits(reader, 8);
        if (code == OP_SNAPSHOT) {
            return forecastSnapshot(reader, state.snapshots) ? MessageForecast::HeadSet : MessageForecast::NoHead;
        }
        if (code == OP_GAMESTATE && gameStates == GameStates::EndMessage) return MessageForecast::GameState;
        if (code == OP_SERVERCOMMAND) {
            // Its text would only be rewritten to be thrown away: read past it as the
            // conversion reads it.
            pktReadBits(reader, 32);
            StringBuffer command;
            pktReadString(reader, command);
            pktAlignReader(reader);
            continue;
        }
        dispatch(code, reader, scratch, state);
        pktAlignReader(reader);
    }
    return MessageForecast::NoHead;
}

void settleForecast(SnapshotState& state) { remapReceivedValues(state); }

namespace {

/// Marks a value of masked array 2 not received: those received are 16-bit.
constexpr std::int32_t NOT_RECEIVED = -1;

}  // namespace

SnapshotState unknownForecastStart() {
    SnapshotState start;
    start.receivedValues.fill(NOT_RECEIVED);
    return start;
}

SnapshotState applyForecast(const SnapshotState& before, const SnapshotState& changes, bool headSet) {
    SnapshotState after = before;
    if (headSet) after.messageHead = changes.messageHead;
    for (std::size_t entry = 0; entry < after.receivedValues.size(); ++entry) {
        if (changes.receivedValues[entry] != NOT_RECEIVED) after.receivedValues[entry] = changes.receivedValues[entry];
    }
    settleForecast(after);
    return after;
}

void BackwardForecast::restart() {
    changes_ = unknownForecastStart();
    headSet_ = false;
    metGameState_ = false;
}

bool BackwardForecast::addEarlier(PacketReader& reader, PacketWriter& scratch, GameStates gameStates) {
    message_.snapshots.receivedValues.fill(NOT_RECEIVED);
    switch (forecastMessage(reader, scratch, message_, gameStates)) {
        case MessageForecast::HeadSet: break;
        // Values are received only by a whole snapshot, which sets the head.
        case MessageForecast::NoHead: return false;
        case MessageForecast::GameState: metGameState_ = true; return false;
    }
    if (!headSet_) changes_.messageHead = message_.snapshots.messageHead;
    headSet_ = true;
    // Entry by entry, by masks rather than branches, which the compiler turns into a
    // few vector steps: which entries a message received is random data.
    std::int32_t unknown = 0;
    for (std::size_t entry = 0; entry < changes_.receivedValues.size(); ++entry) {
        const std::int32_t known = changes_.receivedValues[entry];
        const std::int32_t notKnown = -std::int32_t(known == NOT_RECEIVED);
        const std::int32_t value = (known & ~notKnown) | (message_.snapshots.receivedValues[entry] & notKnown);
        changes_.receivedValues[entry] = value;
        unknown |= std::int32_t(value == NOT_RECEIVED);
    }
    return unknown == 0;
}

MessageEnd transcodeMessage(PacketReader& reader, PacketWriter& writer, ConversionState& state) {
    for (std::uint32_t index = 0; !pktAtEnd(reader); ++index) {
        const std::uint64_t operationStart = pktWrittenBits(writer);
        // Every operation starts at a byte boundary.
        const std::uint64_t startBit = std::uint64_t{reader.bytePos} * 8;
        const std::uint32_t code = pktReadBits(reader, 8);
        state.operation = {index, std::uint8_t(code), startBit};
        // Only a snapshot changes the state; a cut one must leave it as the last whole one did.
        const bool snapshot = code == OP_SNAPSHOT;
        SnapshotState snapshotsBefore;
        if (snapshot) snapshotsBefore = state.snapshots;
        pktWriteBits(writer, std::int32_t(code), 8);
        dispatch(code, reader, writer, state);
        pktAlignReader(reader);
        pktAlignWriter(writer);
        // Bits read past the payload are zeros, not data: the operation they complete is
        // taken back whole, and reading codes from them would only invent operations.
        if (reader.pastEnd) {
            // An overflowed writer has dropped its message already; the driver stops.
            if (!writer.overflowed) pktRewindWriter(writer, operationStart);
            if (snapshot) state.snapshots = snapshotsBefore;
            return MessageEnd::Truncated;
        }
    }
    return MessageEnd::Complete;
}

}  // namespace tarnic
