// Extracts arbitrary archive bytes with every entry, folders recreated and files
// always replaced, into a destination inside a fresh folder, and checks that
// nothing appeared in that folder outside the destination. Exceptions of the
// component are fine; a crash, a hang, a huge allocation or a file outside the
// destination is not. Odd-sized inputs are extracted with a worker.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "unzip/kestrel_unzip.h"

namespace {

// Removes a folder's contents, depth first; links are removed, never followed.
void ClearFolder(const std::string& folder) {
  const auto entries = platform::ListFolder(folder);
  if (!entries) return;
  for (const platform::TFolderEntry& entry : *entries) {
    if (entry.Name == "." || entry.Name == "..") continue;
    const std::string path = folder + entry.Name;
    if ((entry.Attributes & platform::faDirectory) != 0) {
      ClearFolder(path + "/");
      platform::RemoveFolder(path);
    } else {
      platform::WriteAttributes(path, 0);
      platform::RemoveFile(path);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& work = fuzzsupport::WorkFolder("kestrel-fuzz-extract-");
  if (work.empty()) return 0;
  const std::string archive = work + "input.zip";
  const std::string dest = work + "dest";
  if (!fuzzsupport::WriteInput(archive, data, size)) return 0;
  {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(static_cast<kestrel::TIncompleteZipMode>(size > 0 ? data[0] % 3 : 0));
    unzip.SetDoAll(true);
    unzip.SetRecreateDirs(true);
    unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
    unzip.SetDestDir(dest);
    // Half the inputs with a worker decoding ahead, whose results must be the same.
    unzip.SetThreads(static_cast<std::int32_t>(size % 2) + 1);
    // A set of numbered volumes would be looked for beside the input; there are none.
    unzip.OnGetNextDisk = [](kestrel::TKestrelUnZip&, std::int32_t, std::string& name) { name.clear(); };
    try {
      unzip.SetZipName(archive);
      unzip.UnZip();
    } catch (const kestrel::Exception&) {
    }
  }
  // Only the input and the destination may be in the work folder.
  const auto entries = platform::ListFolder(work);
  if (entries) {
    for (const platform::TFolderEntry& entry : *entries) {
      if (entry.Name != "." && entry.Name != ".." && entry.Name != "input.zip" && entry.Name != "dest") std::abort();
    }
  }
  ClearFolder(work);
  return 0;
}
