#pragma once
// A test-only writer of ZIP records, for archives no tool writes: every field of
// the local header, the central header and the end record can be set by hand.

#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

void PutU16(std::string& out, std::uint32_t value);
void PutU32(std::string& out, std::uint32_t value);

/// One entry as its headers describe it.
struct TEntrySpec {
  std::string Name = {};
  std::string Data = {};  ///< stored as is (method 0 unless Method says otherwise)
  std::uint16_t Method = 0;
  std::uint16_t Flags = 0;
  std::uint16_t VersionMadeBy = 0x0314;  ///< Unix, 2.0
  std::uint16_t VersionNeeded = 20;
  std::uint32_t DosDateTime = 0x5A2E6000;  ///< 2025-01-14 12:00:00
  std::uint32_t Crc = 0;                   ///< 0 means: compute it
  std::string CentralExtra = {};
  std::string LocalExtra = {};
  std::string Comment = {};
  std::uint32_t ExternalAttributes = 0x81A40000;
  /// Writes zero sizes and CRC in the local header and a data descriptor with
  /// its signature after the data (flag bit 3 is set for it).
  bool DataDescriptor = false;
};

std::uint32_t Crc32(const std::string& data);

std::string LocalHeader(const TEntrySpec& entry);
std::string CentralHeader(const TEntrySpec& entry, std::uint32_t localOffset,
                          std::uint16_t announcedExtraLength = 0xFFFF);

struct TEndSpec {
  std::uint16_t ThisDisk = 0;
  std::uint16_t CentralDirDisk = 0;
  std::uint16_t EntriesThisDisk = 0;
  std::uint16_t TotalEntries = 0;
  std::uint32_t CentralDirSize = 0;
  std::uint32_t CentralDirOffset = 0;
  std::string Comment = {};
  /// Written as the comment length when not 0xFFFFFFFF.
  std::uint32_t AnnouncedCommentLength = 0xFFFFFFFF;
};
std::string EndRecord(const TEndSpec& end);

/// A whole archive of the entries: local headers and data, central directory, end
/// record. prefix goes in front and shifts nothing (offsets count from the start of
/// the archive proper, as a self-extractor stub leaves them).
std::string BuildArchive(const std::vector<TEntrySpec>& entries, const std::string& comment = {},
                         const std::string& prefix = {});

/// The same entries with ZIP64 records throughout, as a writer forced to them
/// makes it: every size and offset in the headers reads 0xFFFFFFFF and stands in
/// the entry's ZIP64 extra field, and the ZIP64 end record and its locator come
/// before an end record of 0xFFFF and 0xFFFFFFFF fields.
std::string BuildZip64Archive(const std::vector<TEntrySpec>& entries);

}  // namespace ziptest
