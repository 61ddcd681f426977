// The shipped example in a real browser: headless Chromium opens the converted
// book, applies the template named by the inserted reference, and the page shows
// the book's title and points at the payload files corvane wrote.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::ShellQuote;

TEST(CorvaneBrowser, ExampleBookRendersWithItsImages) {
  if (!testsupport::HaveCommand("chromium")) GTEST_SKIP() << "chromium is not installed; browser test skipped";
  testsupport::TTempFolder tmp;
  const auto result =
      testsupport::RunProgram(CORVANE_EXE, {testsupport::SourceFile("examples/lamp.fb2").string(),
                                            testsupport::SourceFile("examples/book.xsl").string(), tmp / "out", "1"});
  ASSERT_EQ(result.Status, 0) << result.Out;
  for (const char* image : {"cover.png", "lamp.png"}) {
    EXPECT_TRUE(testsupport::ReadFile(tmp.Path() / "out" / image).starts_with("\x89PNG\r\n\x1A\n")) << image;
  }
  const std::string command =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --allow-file-access-from-files "
      "--disable-background-networking --disable-component-update --disable-sync --no-first-run "
      "--disable-quic --user-data-dir=" +
      ShellQuote(tmp / "profile") + " --dump-dom " + ShellQuote("file://" + (tmp / "out/lamp.XML")) + " >" +
      ShellQuote(tmp / "dom.html") + " 2>/dev/null";
  ASSERT_EQ(testsupport::RunShell(command), 0);
  const std::string dom = testsupport::ReadFile(tmp.Path() / "dom.html");
  EXPECT_NE(dom.find("<h1 class=\"book-title\">The Lamp of Corvane</h1>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<img src=\"cover.png\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("<img src=\"lamp.png\""), std::string::npos) << dom;
  EXPECT_NE(dom.find("Ada Lantern"), std::string::npos);
}
