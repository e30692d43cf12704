#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bits/packet_writer.h"
#include "demokit/old_encoder.h"

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

/// One record of a new-protocol demo.
struct NewRecord {
    std::int32_t sequence = 0;
    std::uint32_t messageHead = 0;
    Bytes payload;
};

/// A new-protocol demo split into its records.
struct NewDemo {
    std::vector<NewRecord> records;
    bool endMarker = false;   ///< ends with the eight 0xFF bytes
    bool wellFramed = true;   ///< no partial record, nothing after the end marker
};

NewDemo splitNewDemo(const Bytes& demo);

/// Bits as text, stream order (least significant bit of byte 0 first), for failure messages.
std::string bitText(const Bytes& bytes, std::size_t bitCount);

/// Bytes as hexadecimal text, for failure messages.
std::string hexText(const Bytes& bytes);

}  // namespace tarnic::test
