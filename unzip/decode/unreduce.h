#pragma once
// Unreduce: compression methods 2 to 5 (reduced with compression factor 1 to 4),
// a byte stream coded with follower sets, whose DLE (144) escapes stand for copies
// from a 16 KiB window. The window holds at byte 0 the 16 KiB window and at byte
// 16,384 the follower sets, 256 rows of 64 bytes (row x: the followers of byte x).

#include <cstddef>
#include <cstdint>

#include "unzip/decode/decode_state.h"

namespace kestrel {

inline constexpr std::uint32_t ReduceWindow = 16384;
inline constexpr std::size_t FollowerSetsAt = 16384;
static_assert(FollowerSetsAt + 256 * 64 <= WindowSize);

/// Decodes the current entry of the state (methods 2-5) into the output path, up
/// to its uncompressed size.
void Unreduce(TDecodeState& state);

/// Reads the 256 follower sets, from byte value 255 down to 0: a 6-bit count, then
/// that many 8-bit followers into the byte's row. sizes receives the counts.
void LoadFollowerSets(TDecodeState& state, std::uint8_t sizes[256]);

}  // namespace kestrel
