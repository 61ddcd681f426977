#pragma once
// The methods decoded through the libraries made for them: bzip2 (method 12)
// through libbz2, LZMA (14) and xz (95) through liblzma, Zstandard (93, and 20 as
// early writers numbered it) through libzstd. Each runs inside the decoding frame
// like our own decoders: the frame supplies the compressed bytes 32 KiB at a time
// (with its message pump, cancel test, decryption and next volume) and takes the
// decoded ones through its output path (size guard, CRC, progress, write); the
// library only turns one into the other.
//
// A stream that ends early or fails inside the library fails its entry with
// drBadData and the library's reason in the frame's FailureDetail; a stream that
// runs past the entry's declared size meets the frame's size guard.

#include <cstdint>

#include "unzip/decode/decode_result.h"

namespace kestrel {

class TDecodeState;

/// Method 12: one bzip2 stream, or several one after the other as parallel
/// compressors write them; bytes after the last stream that start no other are
/// left alone, as bzip2 does.
TDecodeResult Bunzip2(TDecodeState& state);
/// Method 14: a 4-byte header (the LZMA SDK's major and minor version, then the
/// size of the properties, 5), the properties (lc, lp and pb in one byte, the
/// dictionary size in four), then raw LZMA data of the entry's uncompressed size,
/// with an end marker after it when flag bit 1 says so (taken whether or not the
/// flag is set).
TDecodeResult DecodeLzma(TDecodeState& state);
/// Method 95: an xz stream, or several concatenated, with their stream padding.
TDecodeResult DecodeXz(TDecodeState& state);
/// Methods 93 and 20: Zstandard frames, skippable frames among them.
TDecodeResult DecodeZstd(TDecodeState& state);

}  // namespace kestrel
