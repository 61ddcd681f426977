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

}  // namespace

TEntryPermissions EntryPermissions(const TZipHeaderInfo& entry, bool keepSpecialBits) {
  const std::uint32_t attributes = entry.ExternalAttributes;
  const std::uint32_t high = attributes >> 16, dosBits = attributes & 0xFF;
  const std::uint16_t host = entry.VersionMadeBy >> 8;
  const std::uint32_t kept = keepSpecialBits ? 07777 : 0777;
  TEntryPermissions permissions;
  // Attributes of nothing at all: a writer that stores none. The file is its
  // owner's alone, whatever the umask.
  if (attributes == 0 && (host == 0 || KeepsUnixMode(host))) {
    permissions.Mode = 0600;
  } else if (KeepsUnixMode(host) || (host == 0 && high != 0 && (dosBits & ~0x10u) == 0)) {
    // An MS-DOS entry with a mode and no MS-DOS attribute but the folder bit was
    // written by a Unix port of a zip program.
    permissions.Mode = high & kept;
  } else {
    permissions.ReadOnly = (dosBits & 0x01) != 0;
  }
  return permissions;
}

}  // namespace kestrel
