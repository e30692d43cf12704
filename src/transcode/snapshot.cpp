#include "transcode/snapshot.h"

#include "bits/packet_copy.h"
#include "transcode/entity_delta.h"
#include "transcode/player_state.h"

namespace tarnic {

namespace {

void copyBits(PacketReader& reader, PacketWriter& writer, int bits) {
    pktWriteBits(writer, std::int32_t(pktReadBits(reader, bits)), bits);
}

/// Copies the counted byte block: an 8-bit count, then that many bytes.
void copyCountedBytes(PacketReader& reader, PacketWriter& writer) {
    const std::uint32_t count = pktReadBits(reader, 8);
    pktWriteBits(writer, std::int32_t(count), 8);
    std::uint32_t left = count;
    for (; left >= 4; left -= 4) copyBits(reader, writer, 32);
    if (left > 0) copyBits(reader, writer, int(8 * left));
}

}  // namespace

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
    copyBits(reader, writer, 32);
    copyBits(reader, writer, 16);  // header fields 3 and 4, 8 bits each
    copyCountedBytes(reader, writer);
    transcodePlayerState(reader, writer, state);
    // Past the payload the list end would never come; the driver reports the truncation.
    if (reader.pastEnd) return;
    transcodeEntityList(reader, writer);
}

}  // namespace tarnic
