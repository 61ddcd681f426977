#pragma once
// Explode: compression method 6 (imploded), a 4 KiB or 8 KiB sliding dictionary
// coded with two or three Shannon-Fano trees. The trees are decoded with the code
// tables of inflate, looked up with the complement of the bits read, since the
// trees' codes are sent inverted with respect to canonical Huffman codes.

#include <cstdint>

#include "unzip/decode/decode_state.h"

namespace kestrel {

/// Decodes the current entry of the state (method 6) into the output path. The
/// entry's general-purpose flags choose the variant: bit 1 the 8 KiB dictionary,
/// bit 2 the third tree, for literals. Invalid data stops the entry quietly; its
/// CRC comparison reports it.
void Explode(TDecodeState& state);

/// Reads one tree description from the compressed bytes: a byte holding the count
/// of following bytes less one, then bytes of (repeat - 1) << 4 | (length - 1).
/// True when they give exactly n lengths; a tree of any other count ends the entry.
bool ReadTreeLengths(TDecodeState& state, std::uint16_t* lengths, unsigned n);

}  // namespace kestrel
