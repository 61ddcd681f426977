#pragma once
// The matcher of command-line members, as unzip reads them: "?" takes one character,
// "*" any run (across "/" too), "[...]" one character of a class, and "\" makes the
// next character plain. A class holds characters and ranges "a-z"; "!" or "^" right
// after the opening bracket negates it, "\" makes a "-" or "]" plain, and "<...>"
// is another spelling of it. Unlike WildcardMatch, case counts unless asked not to.

#include <cstdint>
#include <string_view>

namespace kestrel {

/// How the patterns of a selection are read.
enum TMatchMode : std::uint8_t {
  mmComponent = 0,  ///< WildcardMatch on lower-cased strings: the component's own rule
  mmExactCase = 1,  ///< MemberMatch, case counts
  mmAnyCase = 2,    ///< MemberMatch, ASCII letters match either case
};

/// True when the name matches the pattern. A pattern with an unterminated class or
/// a trailing "\" matches nothing. Allocates nothing.
bool MemberMatch(std::string_view pattern, std::string_view name, bool ignoreCase);

}  // namespace kestrel
