#pragma once
// How a decoder ended an entry. The driver still compares the CRC afterwards;
// the result says what the CRC cannot: that the data is damaged and where the
// decoder (or the library behind it) saw it, that a variant of the method has no
// decoder, that the password or the authentication code is wrong, or that the
// output-size guard stopped the entry.

#include <cstdint>
#include <string>

namespace kestrel {

/// The outcome of decoding one entry.
enum TDecodeResult : std::uint8_t {
  drDecoded = 0,               ///< the data decoded to its end; the CRC judges the bytes
  drBadData = 1,               ///< the compressed data is damaged, or ends early
  drUnsupported = 2,           ///< a method, or a variant or parameter of one, without a decoder
  drWrongPassword = 3,         ///< the password does not open the entry
  drAuthenticationFailed = 4,  ///< the data fails its authentication code
  drTooLarge = 5,              ///< the output-size guard stopped it: more bytes than the header declares
  drOutOfMemory = 6,           ///< the decoder's memory could not be had
};

/// The outcome in a few words for a message, with the decoder's own reason (a
/// library's message; empty when it gave none) in parentheses: "damaged data
/// (libbz2: data integrity error)", "more data than its declared size".
std::string DecodeResultText(TDecodeResult result, const std::string& detail);

}  // namespace kestrel
