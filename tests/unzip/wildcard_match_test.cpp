// WildcardMatchExamples: the matcher's examples as a table, one line and one reason each.

#include "unzip/wildcard_match.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(WildcardMatchExamples, Table) {
  struct TCase {
    const char* Pattern;
    const char* Name;
    bool Match;
    const char* Why;
  };
  const TCase cases[] = {
      {"*.*", "content.xml", true, "a dot somewhere"},
      {"*.*", "meta-inf\\manifest.xml", true, "the star runs across the separator"},
      {"*.*", "a.b\\c", true, "a dot in the folder part counts"},
      {"*.*", ".", true, "the dot alone"},
      {"*.*", "a.", true, "a trailing dot"},
      {"*.*", "mimetype", false, "no dot"},
      {"*", "anything\\at.all", true, "a lone star takes everything"},
      {"*", "", true, "even the empty name"},
      {"**", "", false, "two stars need a character"},
      {"", "", true, "empty matches empty"},
      {"", "a", false, "the pattern ran out"},
      {"a*", "a", true, "a trailing star may be empty"},
      {"a?", "a", false, "? needs a character"},
      {"?", "a", true, "one character"},
      {"?", "ab", false, "one character only"},
      {"*?", "a", false, "a trailing *? needs two characters"},
      {"*?", "ab", true, ""},
      {"*??", "ab", false, ""},
      {"*??", "abc", true, ""},
      {"*?x", "ax", true, ""},
      {"<a-c>", "B", true, "case is ignored in classes"},
      {"*.XML", "word\\document.xml", true, "case is ignored"},
      {"*\\*", "dir\\x", true, "a backslash matches itself"},
      {"*\\*", "x", false, "no backslash"},
      {"<z-a>x", "ax", false, "a range from high to low matches nothing"},
      {"<z-a>x", "zx", false, ""},
      {"<>", "a", false, "empty class: bad pattern"},
      {"<!>", "a", false, "empty negated class: bad pattern"},
      {"a<b-d", "ab", false, "unterminated class: bad pattern"},
      {"<!a-c>x", "dx", true, "negated class"},
      {"<!a-c>x", "bx", false, ""},
      {"*<abc>", "abcab", true, "a star class run"},
      {"*<abc>", "abd", false, "d is outside the star's class"},
      {"*<!abc>", "xyz", true, "a negated star class"},
      {"*<!abc>", "xaz", false, "a is in the negated class"},
      {"*<abc", "abc", false, "an unterminated star class is empty"},
      {"*<abc>x", "abx", true, ""},
      {"*<abc>x", "adx", false, "d ends the star's run"},
      {"*<abc>x", "axbx", true, "the class stops restricting after the first attempt at the rest"},
      {"d*\\*.txt", "DIR\\SUB\\A.TXT", true, "folders and case"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(WildcardMatch(c.Pattern, c.Name), c.Match)
        << "pattern \"" << c.Pattern << "\" name \"" << c.Name << "\": " << c.Why;
}

TEST(WildcardMatchExamples, Outcomes) {
  TStarClass starClass;
  EXPECT_EQ(MatchCore("<>", "a", starClass), moBadPattern);
  EXPECT_EQ(MatchCore("<b>", "a", starClass), moClassMismatch);
  EXPECT_EQ(MatchCore("b", "a", starClass), moLiteralMismatch);
  EXPECT_EQ(MatchCore("a", "ab", starClass), moPatternEnd);
  EXPECT_EQ(MatchCore("ab", "a", starClass), moAbort);
  std::size_t p = 0;
  BuildStarClass("*<!a-c>rest", p, starClass);
  EXPECT_EQ(p, 7u);
  EXPECT_TRUE(starClass.Negated);
  EXPECT_FALSE(starClass.Admits('b'));
  EXPECT_TRUE(starClass.Admits('d'));
}

}  // namespace
}  // namespace kestrel
