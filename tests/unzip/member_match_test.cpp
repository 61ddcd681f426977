// MemberMatchExamples: unzip's reading of members, one line and one reason each.

#include "unzip/member_match.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(MemberMatchExamples, Table) {
  struct TCase {
    const char* Pattern;
    const char* Name;
    bool IgnoreCase;
    bool Match;
    const char* Why;
  };
  const TCase cases[] = {
      {"*.TXT", "a.txt", false, false, "case counts"},
      {"*.TXT", "a.txt", true, true, "unless asked not to"},
      {"*.c", "src/sub/b.c", false, true, "the star runs across folders"},
      {"src/*", "src/", false, true, "a trailing star may be empty"},
      {"[!a]*", "abc", false, false, "negated class"},
      {"[^a]*", "bcd", false, true, "the other negation"},
      {"<a-c>x", "bx", false, true, "the component's spelling of a class"},
      {"[A-B]x", "bx", true, true, "ignoring case, either case of the name's character"},
      {"[Z-a]", "A", true, true, ""},
      {"[]]*", "]x", false, false, "a class closes at its first bracket: []] is empty"},
      {"[!]]", "a]", false, true, "and [!] takes any character"},
      {"[\\]]*", "]x", false, true, "a backslash makes the bracket plain"},
      {"[a-]", "a", false, false, "a range left open takes nothing"},
      {"[a-b-c]", "a", false, false, "a second dash opens a new range"},
      {"[a-b-c]", "c", false, true, ""},
      {"[-a]", "-", false, true, "a leading dash is plain"},
      {"[a*", "[abc", false, false, "an unterminated class matches nothing"},
      {"\\*star", "*star", false, true, "escaped star"},
      {"\\*star", "xstar", false, false, ""},
      {"a\\", "a\\", false, false, "a trailing backslash matches nothing"},
      {"*a*b*c", "xaxbxbxc", false, true, "backtracking"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(MemberMatch(c.Pattern, c.Name, c.IgnoreCase), c.Match)
        << "pattern \"" << c.Pattern << "\" name \"" << c.Name << "\": " << c.Why;
}

}  // namespace
}  // namespace kestrel
