#pragma once

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "tarnic/console.h"

namespace tarnic {

/// Converts one server command operation; the reader and the writer stand just behind its code.
void transcodeServerCommand(PacketReader& reader, PacketWriter& writer, Console& console);

}  // namespace tarnic
