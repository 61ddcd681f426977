#pragma once
// The wildcard matcher that selects archive entries: "?" takes one character, "*"
// any run, "<...>" one character of a class (ranges a-z, "!" or "^" negates), and
// "*<...>" a run of characters of a class. Matching ignores case; the path
// separator has no special role, and there is no escape character.

#include <bitset>
#include <cstdint>
#include <string>

namespace kestrel {

/// The outcome of the core matcher; only moValid is a match.
enum TMatchOutcome : std::uint8_t {
  moUndecided = 0,        ///< only passed between the two inner routines
  moValid = 1,            ///< a match
  moPatternEnd = 2,       ///< the pattern ran out before the name
  moAbort = 3,            ///< the name ran out, a star cannot be satisfied, or its class was empty
  moClassMismatch = 4,    ///< a "<...>" class did not take the character
  moLiteralMismatch = 5,  ///< a plain character differed
  moBadPattern = 6,       ///< a malformed class
};

/// The class of a "*<...>" star: one bit per byte value and a negation flag. It
/// belongs to one top-level match and is passed down through the nested calls.
struct TStarClass {
  std::bitset<256> Members;
  bool Negated = false;

  void Reset() {
    Members.reset();
    Negated = false;
  }
  bool Empty() const { return Members.none(); }
  /// Whether the star may take c.
  bool Admits(unsigned char c) const { return Members.test(c) != Negated; }
};

/// True when the name matches the pattern.
bool WildcardMatch(const std::string& pattern, const std::string& name);

/// The main matcher. Resets the star class on entry.
TMatchOutcome MatchCore(const std::string& pattern, const std::string& name, TStarClass& starClass);

/// Matches the rest of a pattern after a star: pattern starts at the star, or just
/// after the star's class; name starts at the character the star stands on.
TMatchOutcome MatchStarTail(const std::string& pattern, const std::string& name, TStarClass& starClass);

/// Reads the class of a star that begins with "*<" at position p (0-based) and
/// leaves p just past the closing ">". An unterminated class comes out empty.
void BuildStarClass(const std::string& pattern, std::size_t& p, TStarClass& starClass);

}  // namespace kestrel
