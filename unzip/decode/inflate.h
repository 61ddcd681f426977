#pragma once
// Method 8: the Deflate format, decoded through the 32 KiB window of the frame.

#include "unzip/decode/decode_state.h"

namespace kestrel {

/// Results of the block decoders.
enum : int {
  ibOk = 0,          ///< block decoded
  ibBadData = 1,     ///< invalid data, or an exception other than a cancel inside the block
  ibBadBlock = 2,    ///< block type 3, or over-subscribed code lengths
  ibOutOfMemory = 3  ///< a code table could not be built
};

/// Inflates the current entry. On a failed block it stops at once and flushes
/// nothing (the driver's CRC comparison then reports the entry); after the last
/// block it flushes the window and the output. Only a cancel, a failed write, and
/// the exceptions of the two final flushes, leave it.
void Inflate(TDecodeState& state);

}  // namespace kestrel
