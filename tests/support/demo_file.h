#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bits/packet_writer.h"
#include "demokit/old_encoder.h"
#include "examine/new_reader.h"
#include "examine/new_records.h"

namespace tarnic::test {

using Bytes = std::vector<std::uint8_t>;

// Old-protocol framing comes from the demo kit.
using demokit::appendEndMarker;
using demokit::appendLittle32;
using demokit::appendRecord;

/// A whole file's bytes; none when it cannot be read.
Bytes readFileBytes(const std::filesystem::path& path);

/// Writes a file, making its folders first.
void writeFileBytes(const std::filesystem::path& path, const Bytes& bytes);

/// An old demo of one record holding one no-op: it converts with one diagnostic.
Bytes oneNopDemo(std::int32_t sequence);

/// The bytes a writer holds: its first `count` bytes.
Bytes bytesOf(const PacketWriter& writer);

/// The bit length of what a writer holds.
std::size_t bitLengthOf(const PacketWriter& writer);

// New-protocol framing comes from the library's reader.
using examine::NewDemo;
using examine::NewRecord;
using examine::splitNewDemo;

/// A payload's first problem as text, for failure messages; empty when there is none.
std::string problemText(const examine::NewPayload& payload);

/// Bits as text, stream order (least significant bit of byte 0 first), for failure messages.
std::string bitText(const Bytes& bytes, std::size_t bitCount);

/// Bytes as hexadecimal text, for failure messages.
std::string hexText(const Bytes& bytes);

}  // namespace tarnic::test
