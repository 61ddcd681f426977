#pragma once
// TTextOutput: the bytes of a text entry on their way to its file or to the
// caller's stream, with this system's line ends. Written as text, an entry's
// CR LF and lone CR (the line ends of MS-DOS and of old Macintosh systems) become
// LF, and the Ctrl-Z bytes that MS-DOS editors left at a text's end go. The
// decoder has taken the CRC of the bytes as stored before they come here.

#include <cstdint>
#include <string>

#include "unzip/decode/stream.h"

namespace kestrel {

class TTextOutput final : public TStream {
 public:
  explicit TTextOutput(TStream& target) : target_(target) {}
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  /// Passes the converted bytes on; count when all of them went, else 0.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override { return target_.Seek(offset, origin); }

 private:
  TStream& target_;
  /// The last byte seen was a CR, written as LF already: an LF right after it
  /// (in this write or the next) ends the same line and goes.
  bool afterCr_ = false;
  std::string converted_;
};

}  // namespace kestrel
