#pragma once
// The compression methods of the ZIP format, in one table: for each method number
// its label in a verbose listing, its name in messages, the decoder that turns its
// data into the entry's bytes (none for a method we do not decode), and the
// library the decoder needs. An entry's decoding (entry_decoding.h) picks the
// decoder here; the listing, the messages about entries that cannot be decoded
// and corvane's check of a package's parts read the same rows.

#include <cstdint>
#include <span>
#include <string>

#include "unzip/decode/decode_result.h"

namespace kestrel {

class TDecodeState;

/// Decodes the frame's current entry: takes its compressed bytes from the frame
/// and gives the decoded ones to the frame's output path.
using TMethodDecoder = TDecodeResult (*)(TDecodeState& state);

/// One compression method.
struct TCompressionMethod {
  std::uint16_t Number;
  /// The column of a verbose listing, as unzip writes it ("Stored", "BZip2").
  /// Deflate's and Deflate64's labels take the level of the entry's flags
  /// (see MethodLabel).
  const char* Label;
  /// The method in a message ("bzip2", "LZMA").
  const char* Name;
  /// Null when the method is not decoded.
  TMethodDecoder Decode;
  /// The library the decoder runs through; null for our own code.
  const char* Library;
  /// The method marks an encryption whose real method lies elsewhere (WinZip AES,
  /// 99), not a compression of its own.
  bool Encryption;
};

/// Every row, in the order of the method numbers.
std::span<const TCompressionMethod> CompressionMethods();
/// The row of a method number; null for a number the format does not define.
const TCompressionMethod* FindMethod(std::uint16_t number);
/// Whether entries of the method are decoded.
bool MethodDecoded(std::uint16_t number);
/// The verbose listing's label of an entry's method: the row's label, for
/// Deflate and Deflate64 followed by the level that flag bits 1 and 2 give (N
/// normal, X maximum, F fast, S super fast), "Unk:NNN" for a number without a row.
std::string MethodLabel(std::uint16_t number, std::uint16_t flags);

}  // namespace kestrel
