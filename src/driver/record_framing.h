#pragma once

// The framing of demo records, shared by the converter and the examiner. An old
// record is its sequence number, its length and its payload; a new record puts the
// messageHead between the length and the payload. All words are 32-bit little-endian.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tarnic/byte_stream.h"

namespace tarnic {

/// An old record's header: its sequence number and its length.
inline constexpr std::size_t OLD_HEADER_BYTES = 8;

/// The sequence number of the record that ends an old demo.
inline constexpr std::int32_t END_SEQUENCE = -1;

/// Both words of the header that ends a new demo: eight 0xFF bytes.
inline constexpr std::uint32_t END_MARKER_WORD = 0xFFFFFFFF;

/// A new record's length counts the messageHead that precedes its payload.
inline constexpr std::uint32_t MESSAGE_HEAD_BYTES = 4;

/// Reads up to `length` payload bytes into the start of `buffer`: how many arrived.
/// The buffer grows only as bytes arrive, so a damaged length cannot make it allocate
/// more than the input holds; it never shrinks.
std::size_t readPayloadBytes(ByteSource& input, std::vector<std::uint8_t>& buffer, std::uint32_t length);

}  // namespace tarnic
