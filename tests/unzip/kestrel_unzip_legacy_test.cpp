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
  // Python reads the list, runs the tool once per archive and checks each entry.
  testsupport::WriteFile(folder / "check.py", R"(import hashlib, os, subprocess, sys
tool, listing, work = sys.argv[1], sys.argv[2], sys.argv[3]
base = os.path.dirname(listing)
archives = {}
for line in open(listing, encoding='utf-8'):
    if line.startswith('#') or not line.strip():
        continue
    f = line.rstrip('\n').split('\t')
    if f[0] == 'archive':
        continue
    archives.setdefault(f[0], []).append((f[1], f[7], f[8]))
if len(archives) < 50:
    print("only", len(archives), "archives listed")
for n, (archive, entries) in enumerate(sorted(archives.items())):
    dest = os.path.join(work, str(n))
    run = subprocess.run([tool, os.path.join(base, archive), dest], capture_output=True)
    want = 1 if any(e[2] == 'bad-crc' for e in entries) else 0
    if run.returncode != want:
        print(archive, 'status', run.returncode, 'want', want, run.stderr.decode(errors='replace'))
    for path, sha, verdict in entries:
        target = os.path.join(dest, path)
        if verdict == 'ok':
            got = hashlib.sha256(open(target, 'rb').read()).hexdigest() if os.path.isfile(target) else 'missing'
            if got != sha:
                print(archive, path, 'sha256', got)
        elif verdict == 'bad-crc' and os.path.exists(target):
            print(archive, path, 'damaged entry left a file')
)");
  const std::string report = folder / "report.txt";
  ASSERT_EQ(testsupport::RunShell("python3 " + testsupport::ShellQuote(folder / "check.py") + " " +
                                  testsupport::ShellQuote(KESTREL_UNZIP_EXE) + " " +
                                  testsupport::ShellQuote(expected.string()) + " " +
                                  testsupport::ShellQuote(folder.Path().string()) + " > " +
                                  testsupport::ShellQuote(report)),
            0);
  EXPECT_EQ(testsupport::ReadFile(report), "");
}

}  // namespace
