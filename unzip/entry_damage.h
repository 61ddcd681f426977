#pragma once
// The damage finding of an extraction: before anything is written, the entries
// whose bytes run into another entry or into the central directory, and those
// that the end of the archive cuts short. Each one is left out alone.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "unzip/kestrel_unzip.h"
#include "unzip/sorted_zip.h"
#include "unzip/zip_records.h"

namespace kestrel {

/// What the damage finding is told of the archive.
struct TDamageScope {
  const TSortedZip* Entries = nullptr;  ///< ZipInfo, whose indexes the result takes
  TStream* Archive = nullptr;           ///< the open archive; null finds nothing
  bool OneVolume = true;                ///< offsets count from the start of each volume of a set
  /// The parts of a joined set, whose gaps leave entries out (skMissingPart).
  const TVolumeSet* Volumes = nullptr;
  /// The entries' DiskStart names their part: an entry on a part that is
  /// missing or does not fit is left out though its bytes look whole.
  bool PartsByDisk = false;
  /// The central directory to keep clear of; none for a rebuilt directory or one
  /// read from a .zfc companion.
  bool HasDirectory = false;
  std::uint64_t DirectoryStart = 0, DirectoryEnd = 0;
  /// Of a rebuilt directory: the entries whose descriptor was not found, with
  /// where their bytes run to.
  const std::unordered_map<const TZipHeaderInfo*, std::uint64_t>* Unended = nullptr;
};

/// Finds, before anything is written, the entries whose bytes (local header through
/// data) run into another entry's local header or into the central directory, of
/// the entries that share one local header all but the one it names (or the
/// first), and those that the end of the archive cuts short; by the index of
/// Entries. The archive's position stays.
std::vector<TEntryDamage> FindDamagedEntries(const TDamageScope& scope);

}  // namespace kestrel
