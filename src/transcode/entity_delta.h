#pragma once

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"

namespace tarnic {

/// Converts one entity delta, reading the old encoding and writing the new one.
void transcodeEntityDelta(PacketReader& reader, PacketWriter& writer);

/// Converts an entity list through its end value 1023.
void transcodeEntityList(PacketReader& reader, PacketWriter& writer);

}  // namespace tarnic
