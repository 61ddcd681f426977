#include "unzip/wildcard_match.h"

#include "platform/code_page.h"

namespace kestrel {
namespace {

/// The byte at a 0-based position; past the end reads as NUL.
unsigned char At(const std::string& s, std::size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; }

}  // namespace

void BuildStarClass(const std::string& pattern, std::size_t& p, TStarClass& starClass) {
  starClass.Members.reset();
  p += 2;  // past "*<"
  if (p >= pattern.size()) return;
  starClass.Negated = false;
  if (pattern[p] == '^' || pattern[p] == '!') {
    starClass.Negated = true;
    ++p;
  }
  while (At(pattern, p) != '>') {
    if (p >= pattern.size()) {
      // An unterminated class takes nothing.
      starClass.Members.reset();
      return;
    }
    if (p + 1 < pattern.size() && pattern[p + 1] == '-') {
      // The character after "-" ends the range whatever it is, ">" included.
      const unsigned first = At(pattern, p), last = At(pattern, p + 2);
      for (unsigned c = first; c <= last; ++c) starClass.Members.set(c);
      p += 2;
    } else {
      starClass.Members.set(At(pattern, p));
    }
    ++p;
  }
  ++p;  // past ">"
}

TMatchOutcome MatchStarTail(const std::string& pattern, const std::string& name, TStarClass& starClass) {
  std::size_t pi = 0, ti = 0;
  TMatchOutcome outcome = moUndecided;
  if (!pattern.empty()) {
    while (pi < pattern.size() && (pattern[pi] == '*' || pattern[pi] == '?') && ti < name.size()) {
      if (pattern[pi] == '?') ++ti;
      ++pi;
    }
  }
  // The name is used up: even an exhausted pattern fails here, so a trailing
  // "*?" needs two characters.
  if (ti >= name.size()) return moAbort;
  if (!pattern.empty() && pi >= pattern.size()) return moValid;

  for (;;) {
    if (!pattern.empty() && pi < pattern.size() && (pattern[pi] == name[ti] || pattern[pi] == '<'))
      outcome = MatchCore(pattern.substr(pi), name.substr(ti), starClass);
    if (outcome != moValid && !starClass.Empty()) {
      // The star takes this character, so it must be one its class admits. One that
      // is not ends the attempt; the name running out afterwards is no match.
      if (!starClass.Admits(static_cast<unsigned char>(name[ti]))) return moAbort;
    }
    ++ti;
    if (outcome == moValid || ti >= name.size()) break;
  }
  if (pi >= pattern.size() && ti >= name.size()) outcome = moValid;
  return outcome;
}

TMatchOutcome MatchCore(const std::string& patternText, const std::string& nameText, TStarClass& starClass) {
  starClass.Reset();
  const std::string pattern = platform::AnsiLowerCase(patternText);
  const std::string name = platform::AnsiLowerCase(nameText);
  if (pattern == "*") return moValid;

  const std::size_t pl = pattern.size(), nl = name.size();
  std::size_t p = 0, t = 0;
  TMatchOutcome outcome = moUndecided;
  while (outcome == moUndecided && p < pl) {
    if (t >= nl) return pattern[p] == '*' && p == pl - 1 ? moValid : moAbort;

    if (pattern[p] == '*') {
      if (p != pl - 1 && pattern[p + 1] == '<') {
        BuildStarClass(pattern, p, starClass);
        if (starClass.Empty()) return moAbort;
      } else {
        starClass.Reset();
      }
      // A plain star's tail starts at the star itself; a class star's after its ">".
      outcome = MatchStarTail(p < pl ? pattern.substr(p) : std::string(), name.substr(t), starClass);
      ++p;
      ++t;
      continue;
    }

    if (pattern[p] == '<') {
      const unsigned char c = static_cast<unsigned char>(name[t]);
      if (++p >= pl) return moBadPattern;
      bool negated = false;
      if (pattern[p] == '!' || pattern[p] == '^') {
        negated = true;
        if (++p >= pl) return moBadPattern;
      }
      if (pattern[p] == '>') return moBadPattern;
      bool matched = false;
      while (!matched && pattern[p] != '>') {
        const std::size_t s = p;
        std::size_t e = p;
        if (++p >= pl) return moBadPattern;
        if (pattern[p] == '-') {
          e = ++p;
          if (p >= pl || pattern[p] == '>') return moBadPattern;
          ++p;
        }
        if (p >= pl) return moBadPattern;
        matched = static_cast<unsigned char>(pattern[s]) <= c && c <= static_cast<unsigned char>(pattern[e]);
      }
      if (negated == matched) return moClassMismatch;
      if (matched) {
        while (p < pl && pattern[p] != '>') ++p;
        if (p >= pl) return moBadPattern;
      }
      ++p;
      ++t;
      continue;
    }

    if (pattern[p] != '?' && pattern[p] != name[t]) return moLiteralMismatch;
    ++p;
    ++t;
  }
  if (outcome == moUndecided) outcome = t >= nl ? moValid : moPatternEnd;
  return outcome;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  TStarClass starClass;
  return MatchCore(pattern, name, starClass) == moValid;
}

}  // namespace kestrel
