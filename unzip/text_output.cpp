#include "unzip/text_output.h"

namespace kestrel {

std::int32_t TTextOutput::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const char*>(buffer);
  converted_.clear();
  converted_.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    const bool lineFeedOfCr = c == '\n' && afterCr_;
    afterCr_ = c == '\r';
    if (lineFeedOfCr || c == '\x1A') continue;
    converted_ += afterCr_ ? '\n' : c;
  }
  const auto size = static_cast<std::int32_t>(converted_.size());
  if (size > 0 && target_.Write(converted_.data(), size) != size) return 0;
  return count;
}

}  // namespace kestrel
