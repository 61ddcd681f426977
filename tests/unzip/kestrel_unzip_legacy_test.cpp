// KestrelUnZipLegacyArchives: kestrel-unzip end to end on the legacy-method
// archives of the shared fixtures (shrunk, reduced, imploded; some made by the
// original early archivers): every entry comes out with its listed SHA-256, every
// damaged one is reported and leaves no file.

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

TEST(KestrelUnZipLegacyArchives, EveryFixtureEntryAsListed) {
  const auto expected = testsupport::Fixture("legacy-zip/EXPECTED.tsv");
  KESTREL_REQUIRE_FIXTURE(expected);
  testsupport::TTempFolder folder;
  const std::string report = folder / "report.txt";
  ASSERT_EQ(testsupport::RunShell("python3 " +
                                  testsupport::ShellQuote(testsupport::SourceFile(
                                      "tests/support/check_legacy_fixtures.py")) +
                                  " " + testsupport::ShellQuote(expected.string()) + " " +
                                  testsupport::ShellQuote(folder.Path().string()) + " " +
                                  testsupport::ShellQuote(KESTREL_UNZIP_EXE) + " > " + testsupport::ShellQuote(report)),
            0);
  EXPECT_EQ(testsupport::ReadFile(report), "");
}

}  // namespace
