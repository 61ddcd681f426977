#pragma once
// kestrel-unzip's listing for scripts (--json): JSON Lines, one object per entry
// on a line of its own, and no other line. Every string is valid UTF-8 with its
// control characters, quotes and backslashes escaped, so that no stored name can
// break a line or the object; the bytes of a name that is not valid UTF-8, or
// that the character set rules changed, go along in hex.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "unzip/zip_records.h"

namespace kestrel::tool {

/// The text as a JSON string, quotes included: '"' and '\' escaped, the C0 and
/// C1 controls and DEL as \uXXXX (or \n, \t ...), every byte that is no part of a
/// well-formed UTF-8 character as U+FFFD. Other characters pass as they are.
std::string JsonString(std::string_view text);

/// The bytes in lower-case hex, two digits a byte: how the bytes of a name or a
/// comment that are not (or not as shown) its text are given.
std::string HexBytes(std::string_view bytes);

/// The exact time of an entry as ISO 8601 in UTC ("2024-05-06T07:08:10Z", with a
/// fraction of a second when it has one); nothing for a time outside the years
/// 1 to 9999.
std::optional<std::string> IsoUtcTime(platform::TFileTime time);
/// A DOS date-time as ISO 8601 without a zone ("2024-05-06T07:08:10"): it is the
/// local time of whoever wrote the archive, and no zone was recorded with it.
std::string IsoDosTime(std::uint32_t dos);

/// What an entry's listing line says besides its header's fields.
struct TJsonEntryFacts {
  std::string Archive;                    ///< the archive's name, as found
  std::string Comment;                    ///< the entry's comment (empty: none)
  std::optional<std::string> LinkTarget;  ///< a symbolic link's target, when it could be read
};

/// One entry as one JSON object, on one line without its line end.
std::string JsonEntryLine(const TZipHeaderInfo& entry, const TJsonEntryFacts& facts);

}  // namespace kestrel::tool
