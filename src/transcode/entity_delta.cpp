#include "transcode/entity_delta.h"

namespace tarnic {

void transcodeEntityDelta(PacketReader&, PacketWriter&) {}

void transcodeEntityList(PacketReader&, PacketWriter&) {}

}  // namespace tarnic
