// The code-page rules on a system that keeps a legacy ANSI code page (a program
// without the UTF-8 manifest, as on Windows before 10 1903; Wine's default locale
// gives code page 1252 and OEM code page 437). A character the code page cannot
// hold must never become a look-alike that names another file.

#include <gtest/gtest.h>

#include <string>

#include "platform/code_page.h"
#include "platform/file_system.h"

namespace {

using namespace platform;

TEST(LegacyCodePage, NamesTheCodePageCannotHoldAreNeverSilentlyRenamed) {
  ASSERT_FALSE(AnsiIsUtf8());
  // Held by code page 1252: converted.
  EXPECT_EQ(OemToAnsi("m\x81nchen"), "m\xFCnchen");
  EXPECT_EQ(Utf8ToAnsi("caf\xC3\xA9"), "caf\xE9");
  // Not held ("░" from the OEM page, "ł" and "Ω" from UTF-8): "?", never a best-fit
  // letter such as "l".
  EXPECT_EQ(OemToAnsi("a\xB0"
                      "b"),
            "a?b");
  EXPECT_EQ(Utf8ToAnsi("\xC5\x82\xC3\xB3"
                       "d\xC5\xBA"),
            "?\xF3"
            "d?");
  EXPECT_EQ(Utf8ToAnsi("\xCE\xA9mega"), "?mega");

  // And "?" is no part of a file name: such an entry fails to be created.
  const std::string folder = MakePrivateFolder(TempFolder(), "legacy-");
  ASSERT_FALSE(folder.empty());
  TFile file = TFile::Open(folder + Utf8ToAnsi("\xC5\x82.txt"), TFileAccess::Write, TFileShare::None,
                           TFileCreation::CreateAlways);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(RemoveFolder(folder));
}

TEST(LegacyCodePage, CaseRulesFollowTheCodePage) {
  EXPECT_EQ(AnsiLowerChar('\xC4'), '\xE4');  // Ä -> ä in code page 1252
  EXPECT_EQ(AnsiLowerCase("\xC4RGER.TXT"), "\xE4rger.txt");
  EXPECT_EQ(AnsiCompareText("\xC4rger", "\xE4RGER"), 0);
  EXPECT_EQ(AnsiToUtf16("\xE9"), u"\u00E9");
}

}  // namespace
