// The two matchers of entry patterns over an arbitrary pattern and name (split at
// the first NUL): neither may crash or hang, and unzip's reading keeps its laws: a
// match that counts case holds when case is ignored (for a pattern without
// classes), a star in front takes any prefix, and a pattern without wildcards
// matches itself alone.

#include "unzip/member_match.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "unzip/wildcard_match.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  if (split == std::string_view::npos) return 0;
  const std::string_view pattern = input.substr(0, split), name = input.substr(split + 1);

  const bool exact = kestrel::MemberMatch(pattern, name, false);
  const bool anyCase = kestrel::MemberMatch(pattern, name, true);
  // Ignoring case widens what a character or a class takes, so a negated class
  // ("[!a]" against "A") takes less: only without classes must a match survive.
  const bool classes = pattern.find_first_of("[<") != std::string_view::npos;
  if (exact && !anyCase && !classes) std::abort();
  const std::string starred = "*" + std::string(pattern), prefixed = "pre/" + std::string(name);
  if (exact && !kestrel::MemberMatch(starred, prefixed, false)) std::abort();
  if (pattern.find_first_of("*?[<\\") == std::string_view::npos && exact != (pattern == name)) std::abort();

  // The component's own matcher, over the same strings: its star tries every split
  // of the rest of the name, again under each later star, so the time grows as the
  // name's length to the power of the stars; a caller's pattern has few of them.
  if (size <= 64 && std::count(pattern.begin(), pattern.end(), '*') <= 3)
    kestrel::WildcardMatch(std::string(pattern), std::string(name));
  return 0;
}
