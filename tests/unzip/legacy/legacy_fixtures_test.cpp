// Every entry of the shared legacy-method archives (made by PKZIP 0.80 and 1.10,
// hwzip and other archivers, some crafted, some damaged) decodes to the content
// listed in EXPECTED.tsv, or, for the damaged ones, fails its CRC comparison. The
// entries of one archive share one decoding state, as in one extraction run.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "legacy_support.h"
#include "tests/support/test_support.h"

namespace legacytest {
namespace {

struct TExpected {
  std::string name;
  unsigned method = 0;
  std::uint32_t csize = 0, usize = 0, crc = 0;
  std::string sha256, outcome;
};

std::map<std::string, std::vector<TExpected>> ReadExpected(const std::filesystem::path& tsv) {
  std::map<std::string, std::vector<TExpected>> byArchive;
  std::ifstream in(tsv);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
    if (f.size() != 9) continue;
    TExpected e;
    e.name = f[1];
    e.method = static_cast<unsigned>(std::stoul(f[2]));
    e.csize = static_cast<std::uint32_t>(std::stoul(f[4]));
    e.usize = static_cast<std::uint32_t>(std::stoul(f[5]));
    e.crc = static_cast<std::uint32_t>(std::stoul(f[6], nullptr, 16));
    e.sha256 = f[7];
    e.outcome = f[8];
    byArchive[f[0]].push_back(e);
  }
  return byArchive;
}

TEST(LegacyFixtures, EveryEntryDecodesToItsListedContent) {
  const auto tsv = testsupport::Fixture("legacy-zip/EXPECTED.tsv");
  KESTREL_REQUIRE_FIXTURE(tsv);
  const auto expected = ReadExpected(tsv);
  ASSERT_GT(expected.size(), 40u);
  std::map<unsigned, int> decodedByMethod;
  for (const auto& [archiveName, entries] : expected) {
    SCOPED_TRACE(archiveName);
    const std::string archive = testsupport::ReadFile(testsupport::Fixture("legacy-zip/" + archiveName));
    const auto found = ReadZipEntries(archive);
    ASSERT_EQ(found.size(), entries.size());
    TLegacyDecoder decoder;  // one run per archive: the window carries over
    for (std::size_t i = 0; i < found.size(); ++i) {
      const TExpected& want = entries[i];
      SCOPED_TRACE(want.name);
      ASSERT_EQ(found[i].entry.CompressedSize, want.csize);
      ASSERT_EQ(found[i].entry.CompressionMethod, want.method);
      if (want.outcome == "dir") continue;
      const TDecoded got = decoder.Decode(archive, found[i].entry);
      if (want.outcome == "ok") {
        EXPECT_FALSE(got.sizeGuard);
        EXPECT_EQ(got.crc, want.crc);
        EXPECT_EQ(got.output.size(), want.usize);
        EXPECT_EQ(Sha256Hex(got.output), want.sha256);
        ++decodedByMethod[want.method];
      } else {
        EXPECT_EQ(want.outcome, "bad-crc");
        EXPECT_TRUE(got.sizeGuard || got.crc != found[i].crc) << "a damaged entry passed";
      }
    }
  }
  // The set reaches every legacy method.
  for (unsigned method = 1; method <= 6; ++method) EXPECT_GT(decodedByMethod[method], 0) << "method " << method;
}

TEST(LegacyFixtures, ShaOfKnownText) {
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace legacytest
