#include "unzip/decode/methods.h"

#include <cstdio>

#include "unzip/decode/decode_state.h"
#include "unzip/decode/explode.h"
#include "unzip/decode/inflate.h"
#include "unzip/decode/library_decoders.h"
#include "unzip/decode/unreduce.h"
#include "unzip/decode/unshrink.h"
#include "unzip/decode/zip_format.h"

namespace kestrel {
namespace {

// The older decoders find damage only where the data cannot go on; what they
// decode, the CRC comparison judges.
TDecodeResult DecodeStored(TDecodeState& state) {
  state.CopyStored();
  return drDecoded;
}
TDecodeResult DecodeShrunk(TDecodeState& state) {
  Unshrink(state);
  return drDecoded;
}
TDecodeResult DecodeReduced(TDecodeState& state) {
  Unreduce(state);
  return drDecoded;
}
TDecodeResult DecodeImploded(TDecodeState& state) {
  Explode(state);
  return drDecoded;
}

// The labels are unzip's where unzip knows the method; for the others, short
// ones in the same style.
constexpr TCompressionMethod Methods[] = {
    {0, "Stored", "stored", DecodeStored, nullptr, false},
    {1, "Shrunk", "shrunk", DecodeShrunk, nullptr, false},
    {2, "Reduce1", "reduced", DecodeReduced, nullptr, false},
    {3, "Reduce2", "reduced", DecodeReduced, nullptr, false},
    {4, "Reduce3", "reduced", DecodeReduced, nullptr, false},
    {5, "Reduce4", "reduced", DecodeReduced, nullptr, false},
    {6, "Implode", "imploded", DecodeImploded, nullptr, false},
    {7, "Token", "tokenized", nullptr, nullptr, false},
    {MethodDeflated, "Defl:", "deflated", Inflate, nullptr, false},
    {MethodDeflate64, "Def64", "Deflate64", Inflate64, nullptr, false},
    {10, "ImplDCL", "PKWARE DCL implode", nullptr, nullptr, false},
    {12, "BZip2", "bzip2", Bunzip2, "libbz2", false},
    {14, "LZMA", "LZMA", DecodeLzma, "liblzma", false},
    {18, "Terse", "IBM TERSE", nullptr, nullptr, false},
    {19, "IBMLZ77", "IBM LZ77", nullptr, nullptr, false},
    // Zstandard's number before the format gave it 93; early writers still use it.
    {20, "Zstd", "Zstandard", DecodeZstd, "libzstd", false},
    {93, "Zstd", "Zstandard", DecodeZstd, "libzstd", false},
    {95, "XZ", "xz", DecodeXz, "liblzma", false},
    {96, "Unk:096", "JPEG", nullptr, nullptr, false},
    {97, "WavPack", "WavPack", nullptr, nullptr, false},
    {98, "PPMd", "PPMd", nullptr, nullptr, false},
    {99, "AES", "AES encryption", nullptr, nullptr, true},
};

}  // namespace

std::span<const TCompressionMethod> CompressionMethods() { return Methods; }

const TCompressionMethod* FindMethod(std::uint16_t number) {
  for (const TCompressionMethod& method : Methods)
    if (method.Number == number) return &method;
  return nullptr;
}

bool MethodDecoded(std::uint16_t number) {
  const TCompressionMethod* method = FindMethod(number);
  return method != nullptr && method->Decode != nullptr;
}

std::string MethodLabel(std::uint16_t number, std::uint16_t flags) {
  if (const TCompressionMethod* method = FindMethod(number)) {
    std::string label = method->Label;
    if (IsDeflateMethod(number)) label += "NXFS"[(flags >> 1) & 3];
    return label;
  }
  char label[16];
  std::snprintf(label, sizeof label, "Unk:%03u", static_cast<unsigned>(number));
  return label;
}

}  // namespace kestrel
