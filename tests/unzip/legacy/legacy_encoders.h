#pragma once
// Small encoders for the legacy zip methods, written for the tests and the
// benchmark: shrink (method 1), reduce (methods 2-5) and implode (method 6). They
// favour clarity over ratio; each can be steered into the corners the decoders
// must handle (code-size escapes and partial clears, DLE bytes and the length
// escape, copies from before the first byte, every tree and dictionary variant).

#include <cstdint>
#include <string>
#include <vector>

#include "tests/unzip/decode/decode_primitives.h"

namespace legacytest {

/// Writes bits least significant first, as the legacy methods read them.
class TBitWriter {
 public:
  void Bits(std::uint32_t value, int count);
  /// The bytes so far, the last one padded with zero bits.
  std::string Bytes() const;
  std::size_t BitCount() const { return bytes_.size() * 8 + static_cast<std::size_t>(count_); }

 private:
  std::string bytes_;
  std::uint64_t acc_ = 0;
  int count_ = 0;
};

struct TShrinkOptions {
  /// Partial clear once the table is full (the usual rule).
  bool ClearWhenFull = true;
  /// Besides, a partial clear after every that many codes (0 = never): clears of a
  /// table that is not full, and many of them.
  unsigned ClearEvery = 0;
  /// Sends the code-size escape as soon as the table needs the next size, instead
  /// of waiting for a code that needs it.
  bool EagerSizeIncrease = false;
};

/// LZW with codes of 9 to 13 bits, the 256,1 code-size escape and the 256,2 partial
/// clear, mirroring the decoder's table rules exactly.
std::string ShrinkEncode(const std::string& data, const TShrinkOptions& options = {});

struct TReduceOptions {
  /// Matches may reach before the first byte, into zeros.
  bool CopyBeforeStart = false;
  /// No follower sets at all: every byte is sent as 8 plain bits.
  bool EmptyFollowerSets = false;
  /// Longest match to look for (at most the factor's limit).
  unsigned MaxMatch = 1000;
};

/// Reduce with factor 1 to 4 (methods 2 to 5): DLE (144) escapes for matches,
/// DLE 0 for a literal 144, the length escape byte for long matches, then
/// follower-set coding of the resulting byte stream.
std::string ReduceEncode(const std::string& data, int factor, const TReduceOptions& options = {});

struct TImplodeOptions {
  bool Dictionary8K = false;  ///< general-purpose flag bit 1
  bool ThreeTrees = false;    ///< general-purpose flag bit 2
  bool CopyBeforeStart = false;
  /// All trees flat (every length equal), which gives the shortest descriptions.
  bool FlatTrees = false;
};

/// Implode (method 6) with two or three Shannon-Fano trees and a 4 KiB or 8 KiB
/// dictionary. The general-purpose flags of the entry follow from the options.
std::string ImplodeEncode(const std::string& data, const TImplodeOptions& options = {});
inline std::uint16_t ImplodeFlags(const TImplodeOptions& o) {
  return static_cast<std::uint16_t>((o.Dictionary8K ? 2 : 0) | (o.ThreeTrees ? 4 : 0));
}

/// Code lengths of at most maxBits for the frequencies; every symbol gets a code
/// and the code is complete.
std::vector<int> LimitedCodeLengths(const std::vector<std::uint64_t>& frequencies, int maxBits);
/// A tree description of the implode format: a count byte, then bytes of
/// (repeat - 1) << 4 | (length - 1).
std::string TreeDescription(const std::vector<int>& lengths);
/// Canonical codes (shorter first, equal lengths in symbol order) of the lengths,
/// as the deflate tests build them.
using decodetest::CanonicalCodes;
/// Sends a code of an implode tree: its bits complemented, most significant first.
void ImplodeCode(TBitWriter& w, std::uint32_t code, int length);

}  // namespace legacytest
