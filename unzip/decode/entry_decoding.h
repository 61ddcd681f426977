#pragma once
// One entry's decoding, above the frame: the methods table picks the decoder of
// the entry's method (an AES entry's real method), the frame runs it, and an AES
// entry's data is then held against its authentication code. The frame itself
// knows no decoder: the decoders are built on it, and this is where the two meet.

#include "unzip/decode/decode_result.h"
#include "unzip/decode/decode_state.h"

namespace kestrel {

/// Decodes one entry into output, which the driver has just created, in the
/// driver's frame state. The archive stands at the entry's data (past the
/// encryption header of an encrypted entry, which the password check has read,
/// leaving the keys at the data; past the salt and verifier of an AES entry,
/// which ReadAesHeader has read). The result says how it ended: drTooLarge when
/// the output-size guard stopped it, drUnsupported for a method without a
/// decoder (after "Unknown Compression Method"), drAuthenticationFailed when an
/// AES entry's data fails its authentication code (whatever the decoder made of
/// it), and the decoder's own result otherwise, with its reason in the state's
/// FailureDetail. Every other exception passes. Afterwards the driver closes the
/// output and compares the state's Crc() with the stored CRC.
TDecodeResult DecodeEntryData(TDecodeState& state, const TDecodeEntry& entry, TStream& output);

}  // namespace kestrel
