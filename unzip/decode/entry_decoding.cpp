#include "unzip/decode/entry_decoding.h"

#include "unzip/decode/methods.h"

namespace kestrel {

TDecodeResult DecodeEntryData(TDecodeState& state, const TDecodeEntry& entry, TStream& output) {
  const bool aesKeyed = state.BeginEntry(entry, output);
  const bool aes = entry.AesEncrypted();
  // Some writers give an empty file a method and no data at all: there is
  // nothing to decode, and nothing is missing.
  const bool empty = entry.CompressedSize == 0 && entry.UncompressedSize == 0;
  const TCompressionMethod* method = FindMethod(entry.DataMethod());
  if (method == nullptr || method->Decode == nullptr) {
    state.ReportUnknownMethod();
    return empty && !aes ? drDecoded : drUnsupported;
  }
  if (!aes) return empty ? drDecoded : state.RunDecoder(method->Decode);
  if (!aesKeyed) {
    state.FailureDetail = "too short for its salt, password verifier and authentication code";
    return drBadData;
  }
  // An empty file has its authentication code too.
  return state.Authenticate(empty ? drDecoded : state.RunDecoder(method->Decode));
}

}  // namespace kestrel
