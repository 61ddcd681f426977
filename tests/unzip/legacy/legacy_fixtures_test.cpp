// Every entry of the shared legacy-method archives (made by PKZIP 0.80 and 1.10,
// hwzip and other archivers, some crafted, some damaged) decodes to the content
// listed in EXPECTED.tsv, or, for the damaged ones, fails its CRC comparison. The
// entries of one archive share one decoding state, as in one extraction run.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "legacy_support.h"
#include "tests/support/test_support.h"
#include "tests/unzip/decode/decode_test_support.h"

namespace legacytest {
namespace {

TEST(LegacyFixtures, EveryEntryDecodesToItsListedContent) {
  KESTREL_REQUIRE_FIXTURE(testsupport::Fixture("legacy-zip/EXPECTED.tsv"));
  std::map<std::string, std::vector<testsupport::TLegacyFixtureEntry>> expected;
  for (const auto& entry : testsupport::LegacyFixtureEntries()) expected[entry.Archive].push_back(entry);
  ASSERT_GT(expected.size(), 40u);
  std::map<unsigned, int> decodedByMethod;
  for (const auto& [archiveName, entries] : expected) {
    SCOPED_TRACE(archiveName);
    const std::string archive = testsupport::ReadFile(testsupport::Fixture("legacy-zip/" + archiveName));
    const auto found = decodetest::ReadZipEntries(archive);
    ASSERT_EQ(found.size(), entries.size());
    TLegacyDecoder decoder;  // one run per archive: the window carries over
    for (std::size_t i = 0; i < found.size(); ++i) {
      const auto& want = entries[i];
      SCOPED_TRACE(want.Name);
      ASSERT_EQ(found[i].entry.CompressedSize, want.CompressedSize);
      ASSERT_EQ(found[i].entry.CompressionMethod, want.Method);
      if (want.Verdict == "dir") continue;
      const TDecoded got = decoder.Decode(archive, found[i].entry, found[i].dataOffset);
      if (want.Verdict == "ok") {
        EXPECT_FALSE(got.sizeGuard);
        EXPECT_EQ(got.crc, want.Crc);
        EXPECT_EQ(got.output.size(), want.Size);
        EXPECT_EQ(testsupport::Sha256Hex(got.output), want.Sha256);
        ++decodedByMethod[want.Method];
      } else {
        EXPECT_EQ(want.Verdict, "bad-crc");
        EXPECT_TRUE(got.sizeGuard || got.crc != found[i].crc) << "a damaged entry passed";
      }
    }
  }
  // The set reaches every legacy method.
  for (unsigned method = 1; method <= 6; ++method) EXPECT_GT(decodedByMethod[method], 0) << "method " << method;
}

TEST(LegacyFixtures, ShaOfKnownText) {
  EXPECT_EQ(testsupport::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace legacytest
