#pragma once

#include <array>
#include <cstdint>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"

namespace tarnic {

/// What one conversion carries from snapshot to snapshot; zero when a conversion starts.
struct SnapshotState {
    /// First header field of the latest snapshot; heads every output record.
    std::uint32_t messageHead = 0;
    /// Masked array 2 in the old numbering, as last received.
    std::array<std::int32_t, 16> receivedValues{};
    /// Masked array 2 in the new numbering, rebuilt by every snapshot.
    std::array<std::int32_t, 16> remappedValues{};
    /// Masked array 2 in the new numbering, as last written.
    std::array<std::int32_t, 16> sentValues{};

    bool operator==(const SnapshotState&) const = default;
};

/// The state a snapshot operation will leave, read only as far as its player state's
/// masked array 2 (see `forecastMessage`): its message head and the values received
/// in that array, the rest left to `remapReceivedValues`. A snapshot cut short by the
/// end of the payload leaves the state as it was. True where the snapshot was whole.
bool forecastSnapshot(PacketReader& reader, SnapshotState& state);

/// Converts one snapshot operation; the reader and the writer stand just behind its code.
void transcodeSnapshot(PacketReader& reader, PacketWriter& writer, SnapshotState& state);

}  // namespace tarnic
