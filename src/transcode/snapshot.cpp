#include "transcode/snapshot.h"

namespace tarnic {

void transcodeSnapshot(PacketReader&, PacketWriter&, SnapshotState&) {}

}  // namespace tarnic
