#include "unzip/member_match.h"

#include <cstddef>

namespace kestrel {
namespace {

unsigned char Lower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }
unsigned char Upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

/// Whether the range low..high takes c; ignoring case, either case of c will do.
bool InRange(unsigned char low, unsigned char high, unsigned char c, bool ignoreCase) {
  const auto in = [&](unsigned char x) { return low <= x && x <= high; };
  return in(c) || (ignoreCase && (in(Lower(c)) || in(Upper(c))));
}

/// What a class made of the name's character.
struct TClassVerdict {
  bool Closed = false;  ///< false: the class has no end, and the pattern matches nothing
  bool Taken = false;   ///< the class takes the character
  std::size_t End = 0;  ///< the position just past the class
};

/// Reads the class that opens at p ("[" or "<") and judges c by it. A character
/// followed by "-" opens a range that the next character closes; a range left
/// open, by the class ending or by another "-", takes nothing, so "[a-]" is empty
/// and "[a-b-c]" is "[b-c]". A leading "-" or one before the end is plain.
TClassVerdict JudgeClass(std::string_view pattern, std::size_t p, unsigned char c, bool ignoreCase) {
  const char closer = pattern[p] == '<' ? '>' : ']';
  const std::size_t size = pattern.size();
  ++p;
  bool negated = false;
  if (p < size && (pattern[p] == '!' || pattern[p] == '^')) {
    negated = true;
    ++p;
  }
  bool taken = false, rangeOpen = false;
  unsigned char low = 0;
  while (p < size && pattern[p] != closer) {
    if (pattern[p] == '\\' && ++p >= size) break;
    const auto k = static_cast<unsigned char>(pattern[p++]);
    if (p + 1 < size && pattern[p] == '-' && pattern[p + 1] != closer) {
      low = k;
      rangeOpen = true;
      ++p;
    } else if (p < size && pattern[p] == '-') {
      // "x-" at the end: x opens a range that nothing closes.
      rangeOpen = false;
      ++p;
    } else {
      taken = taken || InRange(rangeOpen ? low : k, k, c, ignoreCase);
      rangeOpen = false;
    }
  }
  if (p >= size) return {};
  return {true, taken != negated, p + 1};
}

}  // namespace

bool MemberMatch(std::string_view pattern, std::string_view name, bool ignoreCase) {
  const std::size_t npos = std::string_view::npos;
  std::size_t p = 0, t = 0;
  // The last star seen: the pattern just after it and the name where its run ends.
  std::size_t starP = npos, starT = 0;
  while (t < name.size()) {
    const auto c = static_cast<unsigned char>(name[t]);
    if (p < pattern.size()) {
      const char k = pattern[p];
      if (k == '*') {
        starP = ++p;
        starT = t;
        continue;
      }
      if (k == '[' || k == '<') {
        const TClassVerdict verdict = JudgeClass(pattern, p, c, ignoreCase);
        if (!verdict.Closed) return false;
        if (verdict.Taken) {
          p = verdict.End;
          ++t;
          continue;
        }
      } else {
        const bool escaped = k == '\\';
        if (escaped && p + 1 >= pattern.size()) return false;
        const auto plain = static_cast<unsigned char>(pattern[escaped ? p + 1 : p]);
        if ((k == '?' && !escaped) || InRange(plain, plain, c, ignoreCase)) {
          p += escaped ? 2 : 1;
          ++t;
          continue;
        }
      }
    }
    // A mismatch: the last star takes one more character, or there is no match.
    if (starP == npos) return false;
    p = starP;
    t = ++starT;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace kestrel
