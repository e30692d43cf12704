#pragma once

#include <array>
#include <cstdint>

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "transcode/snapshot.h"

namespace tarnic {

/// How a player-state field travels.
enum class FieldForm : std::uint8_t {
    Optional,        ///< a presence bit, then the value if it is 1
    OptionalPacked,  ///< a presence bit, then a packed value if it is 1
    NewOnly,         ///< only the new protocol has it; always sent present with value 0
};

/// What happens to a present value on its way through.
enum class FieldTreatment : std::uint8_t {
    Copied,      ///< the same bits, widened with zeros where the new width is larger
    RemapEvent,  ///< renumbered by `remapEvent`
};

/// One row of the player-state field table: `count` consecutive fields alike.
struct PlayerStateFieldRow {
    std::uint8_t count;
    FieldForm form;
    std::uint8_t oldWidth;  ///< 0 for packed values (the flag picks 13 or 32) and new-only fields
    std::uint8_t newWidth;  ///< 0 for packed values
    FieldTreatment treatment;
};

/// Player-state fields 1 to 48 in stream order; the four masked arrays follow them.
inline constexpr auto PLAYER_STATE_FIELDS = std::to_array<PlayerStateFieldRow>({
    // count  form                        old  new  treatment
    {1, FieldForm::Optional,       32, 32, FieldTreatment::Copied},      // 1
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 2
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 3
    {1, FieldForm::Optional,       16, 16, FieldTreatment::Copied},      // 4
    {1, FieldForm::Optional,       16, 16, FieldTreatment::Copied},      // 5
    {6, FieldForm::OptionalPacked,  0,  0, FieldTreatment::Copied},      // 6 to 11
    {6, FieldForm::Optional,       16, 16, FieldTreatment::Copied},      // 12 to 17
    {1, FieldForm::Optional,       10, 10, FieldTreatment::Copied},      // 18
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 19
    {1, FieldForm::Optional,       12, 12, FieldTreatment::Copied},      // 20
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 21
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 22
    {1, FieldForm::Optional,        4,  4, FieldTreatment::Copied},      // 23
    {1, FieldForm::Optional,       16, 16, FieldTreatment::Copied},      // 24
    {1, FieldForm::Optional,       16, 16, FieldTreatment::Copied},      // 25
    {2, FieldForm::Optional,        8,  8, FieldTreatment::RemapEvent},  // 26, 27
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 28
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 29
    {1, FieldForm::Optional,        8, 10, FieldTreatment::RemapEvent},  // 30
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 31
    {1, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 32
    {1, FieldForm::Optional,        5,  5, FieldTreatment::Copied},      // 33
    {1, FieldForm::Optional,        4,  4, FieldTreatment::Copied},      // 34
    {3, FieldForm::OptionalPacked,  0,  0, FieldTreatment::Copied},      // 35 to 37
    {5, FieldForm::Optional,        8,  8, FieldTreatment::Copied},      // 38 to 42
    {3, FieldForm::OptionalPacked,  0,  0, FieldTreatment::Copied},      // 43 to 45
    {1, FieldForm::NewOnly,         0, 10, FieldTreatment::Copied},      // 46
    {1, FieldForm::NewOnly,         0, 16, FieldTreatment::Copied},      // 47
    {1, FieldForm::NewOnly,         0,  8, FieldTreatment::Copied},      // 48
});

/// Converts a player state: fields 1 to 48 and the four masked arrays. Array 2 goes
/// out as the entries changed since the last snapshot of this conversion. Stops early,
/// leaving the state as it was, once the reader has run past its payload.
void transcodePlayerState(PacketReader& reader, PacketWriter& writer, SnapshotState& state);

}  // namespace tarnic
