#pragma once
// The permission bits an extracted file or folder gets on a system with Unix
// modes, when the archive's are restored exactly (TKestrelUnZip::ExactModes).
// The systems that kept a Unix mode in the high 16 bits of the external
// attributes give theirs as it is; the others give the system's defaults (the
// creation bits less the umask), less the write bits of a read-only entry.

#include <cstdint>
#include <optional>

#include "unzip/zip_records.h"

namespace kestrel {

struct TEntryPermissions {
  /// The exact bits (07777), or nothing for the system's defaults.
  std::optional<std::uint32_t> Mode;
  /// With the defaults: the write bits go.
  bool ReadOnly = false;
  /// The defaults, before the umask: 0777 for a folder (or an entry with the
  /// MS-DOS folder bit), else 0666.
  std::uint32_t Defaults = 0666;
};

/// The bits of an entry (file or folder) under ExactModes; keepSpecialBits keeps
/// set-uid, set-gid and sticky.
TEntryPermissions EntryPermissions(const TZipHeaderInfo& entry, bool keepSpecialBits);

}  // namespace kestrel
