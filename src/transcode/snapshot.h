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

/// Hears, as soon as a snapshot's player state is converted, the state its message
/// will most likely leave: the entity list that follows changes nothing in it. A
/// conversion of the next message may start from that state before this one ends.
class SnapshotForecast {
public:
    virtual void settled(const SnapshotState& state) = 0;

protected:
    ~SnapshotForecast() = default;
};

/// Converts one snapshot operation; the reader and the writer stand just behind its code.
/// `forecast`, when given, hears the state before the entity list is converted.
void transcodeSnapshot(PacketReader& reader, PacketWriter& writer, SnapshotState& state,
                       SnapshotForecast* forecast = nullptr);

}  // namespace tarnic
