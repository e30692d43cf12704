#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "transcode/snapshot.h"

namespace tarnic {

/// Value widths of masked arrays 1 to 4, the same in both protocols.
inline constexpr std::array<int, 4> MASKED_ARRAY_VALUE_BITS = {16, 16, 16, 32};

/// No old entry feeds this new entry; it stays 0.
inline constexpr std::int8_t ALWAYS_ZERO = -1;

/// For each entry of masked array 2 in the new numbering, the old entry it takes
/// its value from. Old entries 5, 6, 10 and 12 to 15 are kept but never sent.
inline constexpr std::array<std::int8_t, 16> REMAPPED_ENTRY_SOURCES = {
    0, 1, 2, 3, 4, ALWAYS_ZERO, 7, ALWAYS_ZERO,
    8, 9, ALWAYS_ZERO, ALWAYS_ZERO, ALWAYS_ZERO, 11, ALWAYS_ZERO, ALWAYS_ZERO,
};

/// Copies a masked array unchanged: presence bit, 16-bit mask, one value of
/// `valueBits` bits for each set mask bit.
void copyMaskedArray(PacketReader& reader, PacketWriter& writer, int valueBits);

/// Copies two masked arrays in a row unchanged, in one copy.
void copyMaskedArrays(PacketReader& reader, PacketWriter& writer, int firstValueBits, int secondValueBits);

/// Passes over a masked array without writing it.
void skipMaskedArray(PacketReader& reader, int valueBits);

/// Reads masked array 2 in the old numbering into `state.receivedValues` and brings the
/// new numbering up to date: returns the entries that differ from those sent before,
/// which now count as sent. Past the end of the payload nothing is stored: nullopt.
std::optional<std::uint32_t> receiveMaskedArrayChanges(PacketReader& reader, SnapshotState& state);

/// Reads masked array 2 in the old numbering into `received`, as far as a forecast
/// needs: the new numbering is left to `remapReceivedValues`. Past the end of the
/// payload nothing is stored.
void forecastReceivedValues(PacketReader& reader, std::array<std::int32_t, 16>& received);

/// Brings the new numbering up to date with the values received, all of them counted
/// as sent: the state every whole snapshot leaves.
void remapReceivedValues(SnapshotState& state);

/// Reads masked array 2 as `receiveMaskedArrayChanges` does and writes, in the new
/// numbering, the entries that changed. Past the end of the payload nothing is written.
void sendMaskedArrayChanges(PacketReader& reader, PacketWriter& writer, SnapshotState& state);

}  // namespace tarnic
