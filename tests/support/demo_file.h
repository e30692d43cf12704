#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bits/packet_writer.h"
#include "demokit/old_encoder.h"
#include "inspect/new_reader.h"
#include "inspect/new_records.h"

namespace tarnic::test {

using Bytes = std::vector<std::uint8_t>;

// Old-protocol framing comes from the demo kit.
using demokit::appendEndMarker;
using demokit::appendLittle32;
using demokit::appendRecord;

/// The bytes a writer holds: its first `count` bytes.
Bytes bytesOf(const PacketWriter& writer);

/// The bit length of what a writer holds.
std::size_t bitLengthOf(const PacketWriter& writer);

// New-protocol framing comes from the library's reader.
using inspect::NewDemo;
using inspect::NewRecord;
using inspect::splitNewDemo;

/// A payload's first problem as text, for failure messages; empty when there is none.
std::string problemText(const inspect::NewPayload& payload);

/// Bits as text, stream order (least significant bit of byte 0 first), for failure messages.
std::string bitText(const Bytes& bytes, std::size_t bitCount);

/// Bytes as hexadecimal text, for failure messages.
std::string hexText(const Bytes& bytes);

}  // namespace tarnic::test
