#include "transcode/snapshot.h"

#include "bits/packet_copy.h"
#include "transcode/entity_delta.h"
#include "transcode/player_state.h"

namespace tarnic {

bool forecastSnapshot(PacketReader& reader, SnapshotState& state) {
    const std::uint32_t messageHead = pktReadBits(reader, 32);
    pktReadBits(reader, 32);
    pktReadBits(reader, 16);  // header fields 3 and 4, 8 bits each
    const std::uint32_t count = pktReadBits(reader, 8);
    pktSkipTo(reader, pktReadPosition(reader) + 8 * count);
    forecastPlayerState(reader, state);
    if (reader.pastEnd) return false;
    state.messageHead = messageHead;
    return true;
}

void transcodeSnapshot(PacketReader& reader, PacketWriter& writer, SnapshotState& state) {
    // The first header field heads the output record instead of travelling in the snapshot.
    state.messageHead = pktReadBits(reader, 32);
    // Header fields 2 to 4 (32, 8 and 8 bits) and the counted byte block (an 8-bit
    // count, then that many bytes) travel unchanged: they go out with the player
    // state's first copy.
    const std::uint64_t fields = pktReadPosition(reader);
    const std::uint32_t count = pktPeekAt(pktView(reader), fields + 48, 8);
    transcodePlayerState(reader, writer, state, fields + 56 + 8 * std::uint64_t{count});
    // Past the payload the list end would never come; the driver reports the truncation.
    if (reader.pastEnd) return;
    transcodeEntityList(reader, writer);
}

}  // namespace tarnic
