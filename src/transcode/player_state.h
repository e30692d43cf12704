#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "transcode/field_form.h"
#include "transcode/snapshot.h"

namespace tarnic {

/// Fields of the old player state; the new one adds three.
inline constexpr std::size_t OLD_PLAYER_STATE_FIELD_COUNT = 45;
inline constexpr std::size_t NEW_PLAYER_STATE_FIELD_COUNT = 48;

/// Player-state fields 1 to 48 in stream order (row 0 is field 1); the four masked
/// arrays follow them. Every field is optional: a presence bit, then the value if it is 1.
/// Fields 46 to 48 are new: always sent present with value 0.
inline constexpr std::array<FieldRow, NEW_PLAYER_STATE_FIELD_COUNT> PLAYER_STATE_FIELDS = {{
    // form                old new   field
    {FieldForm::Plain,   32, 32},  // 1
    {FieldForm::Plain,    8,  8},  // 2
    {FieldForm::Plain,    8,  8},  // 3
    {FieldForm::Plain,   16, 16},  // 4
    {FieldForm::Plain,   16, 16},  // 5
    {FieldForm::Packed,   0,  0},  // 6
    {FieldForm::Packed,   0,  0},  // 7
    {FieldForm::Packed,   0,  0},  // 8
    {FieldForm::Packed,   0,  0},  // 9
    {FieldForm::Packed,   0,  0},  // 10
    {FieldForm::Packed,   0,  0},  // 11
    {FieldForm::Plain,   16, 16},  // 12
    {FieldForm::Plain,   16, 16},  // 13
    {FieldForm::Plain,   16, 16},  // 14
    {FieldForm::Plain,   16, 16},  // 15
    {FieldForm::Plain,   16, 16},  // 16
    {FieldForm::Plain,   16, 16},  // 17
    {FieldForm::Plain,   10, 10},  // 18
    {FieldForm::Plain,    8,  8},  // 19
    {FieldForm::Plain,   12, 12},  // 20
    {FieldForm::Plain,    8,  8},  // 21
    {FieldForm::Plain,    8,  8},  // 22
    {FieldForm::Plain,    4,  4},  // 23
    {FieldForm::Plain,   16, 16},  // 24
    {FieldForm::Plain,   16, 16},  // 25
    {FieldForm::Event,    8,  8},  // 26
    {FieldForm::Event,    8,  8},  // 27
    {FieldForm::Plain,    8,  8},  // 28
    {FieldForm::Plain,    8,  8},  // 29
    {FieldForm::Event,    8, 10},  // 30
    {FieldForm::Plain,    8,  8},  // 31
    {FieldForm::Plain,    8,  8},  // 32
    {FieldForm::Plain,    5,  5},  // 33
    {FieldForm::Plain,    4,  4},  // 34
    {FieldForm::Packed,   0,  0},  // 35
    {FieldForm::Packed,   0,  0},  // 36
    {FieldForm::Packed,   0,  0},  // 37
    {FieldForm::Plain,    8,  8},  // 38
    {FieldForm::Plain,    8,  8},  // 39
    {FieldForm::Plain,    8,  8},  // 40
    {FieldForm::Plain,    8,  8},  // 41
    {FieldForm::Plain,    8,  8},  // 42
    {FieldForm::Packed,   0,  0},  // 43
    {FieldForm::Packed,   0,  0},  // 44
    {FieldForm::Packed,   0,  0},  // 45
    {FieldForm::NewOnly,  0, 10},  // 46
    {FieldForm::NewOnly,  0, 16},  // 47
    {FieldForm::NewOnly,  0,  8},  // 48
}};

/// Converts a player state: fields 1 to 48 and the four masked arrays. Array 2 goes
/// out as the entries changed since the last snapshot of this conversion. Stops early,
/// leaving the state as it was, once the reader has run past its payload. The player
/// state starts at bit `start`; the bits between the read position and it travel
/// unchanged, and go out with the first copy of the player state's own.
void transcodePlayerState(PacketReader& reader, PacketWriter& writer, SnapshotState& state, std::uint64_t start);

/// Reads a player state as far as masked array 2 without converting it, and takes the
/// values received in that array into the state (`forecastReceivedValues`). Past the
/// end of the payload the state is left as it was.
void forecastPlayerState(PacketReader& reader, SnapshotState& state);

}  // namespace tarnic
