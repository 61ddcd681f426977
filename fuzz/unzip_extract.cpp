// Extracts arbitrary archive bytes with every entry, folders recreated and files
// always replaced, into a destination inside a fresh folder, and checks that
// nothing appeared in that folder outside the destination. Exceptions of the
// component are fine; a crash, a hang, a huge allocation or a file outside the
// destination is not. Odd-sized inputs are extracted with a worker. The high
// bits of the first byte cut some inputs into the parts of a split set
// (input.z01, ..., input.zip), whose records then count by part.

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
  const std::size_t parts = size > 0 ? 1 + (data[0] >> 6) : 1;
  const std::size_t partSize = size / parts;
  for (std::size_t part = 1; part < parts; ++part) {
    const std::string name = work + "input.z0" + std::to_string(part);
    if (!fuzzsupport::WriteInput(name, data + (part - 1) * partSize, partSize)) return 0;
  }
  const std::size_t lastStart = (parts - 1) * partSize;
  if (!fuzzsupport::WriteInput(archive, data + lastStart, size - lastStart)) return 0;
  {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(static_cast<kestrel::TIncompleteZipMode>(size > 0 ? data[0] % 3 : 0));
    unzip.SetDoAll(true);
    unzip.SetRecreateDirs(true);
    unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
    unzip.SetDestDir(dest);
    // Half the inputs with a worker decoding ahead, whose results must be the same.
    unzip.SetThreads(static_cast<std::int32_t>(size % 2) + 1);
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
      const bool part = entry.Name.size() == 9 && entry.Name.compare(0, 7, "input.z") == 0;
      if (entry.Name != "." && entry.Name != ".." && entry.Name != "input.zip" && entry.Name != "dest" && !part)
        std::abort();
    }
  }
  ClearFolder(work);
  return 0;
}
