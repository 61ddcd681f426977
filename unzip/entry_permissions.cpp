#include "unzip/entry_permissions.h"

namespace kestrel {
namespace {

// The systems whose writers store a Unix-like mode in the high 16 bits: Unix and
// the others that Info-ZIP's tools treat alike (VMS, Atari, QDOS, Acorn, BeOS,
// Tandem, THEOS, AtheOS). OS X (19) is not among them: its entries get the defaults.
bool KeepsUnixMode(std::uint16_t host) {
  switch (host) {
    case 2:
    case 3:
    case 5:
    case 12:
    case 13:
    case 16:
    case 17:
    case 18:
    case 30:
      return true;
    default:
      return false;
  }
}

// Whether an MS-DOS entry's high 16 bits are a Unix mode that a Unix port of a
// zip program put there: only when they agree with the MS-DOS attributes (the
// owner may write unless the entry is read-only) and with what the entry is (a
// folder is searchable, a file of MS-DOS not executable).
bool DosModeFits(std::uint32_t high, std::uint32_t dosBits, bool folderLike) {
  return high != 0 && ((high & 0200) != 0) == ((dosBits & 0x01) == 0) && ((high & 0111) != 0) == folderLike;
}

}  // namespace

TEntryPermissions EntryPermissions(const TZipHeaderInfo& entry, bool keepSpecialBits) {
  const std::uint32_t attributes = entry.ExternalAttributes;
  const std::uint32_t high = attributes >> 16, dosBits = attributes & 0xFF;
  const std::uint16_t host = entry.VersionMadeBy >> 8;
  const std::uint32_t kept = keepSpecialBits ? 07777 : 0777;
  const bool folder = entry.FileName().empty();
  // The MS-DOS folder bit makes even a file searchable.
  const bool folderLike = folder || (dosBits & 0x10) != 0;
  TEntryPermissions permissions;
  permissions.Defaults = folderLike ? 0777 : 0666;
  // Attributes of nothing at all: a writer that stores none. The file is its
  // owner's alone, whatever the umask (an MS-DOS folder gets the defaults).
  if (attributes == 0 && ((host == 0 && !folder) || KeepsUnixMode(host))) {
    permissions.Mode = 0600;
  } else if (KeepsUnixMode(host) || (host == 0 && DosModeFits(high, dosBits, folderLike))) {
    permissions.Mode = high & kept;
  } else {
    permissions.ReadOnly = (dosBits & 0x01) != 0;
  }
  return permissions;
}

}  // namespace kestrel
