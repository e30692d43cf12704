#pragma once

#include "bits/packet_reader.h"
#include "bits/packet_writer.h"
#include "common/console.h"
#include "transcode/snapshot.h"

namespace tarnic {

/// Everything one conversion carries across messages; each conversion starts from zero.
struct Conversion {
    explicit Conversion(Console& out) : console(out) {}
    Console& console;
    SnapshotState snapshots;
};

/// Converts one message: every operation of the reader's payload into the writer.
void convertMessage(PacketReader& reader, PacketWriter& writer, Conversion& conversion);

}  // namespace tarnic
