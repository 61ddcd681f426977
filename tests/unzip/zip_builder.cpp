#include "zip_builder.h"

#include "unzip/decode/zip_format.h"

namespace ziptest {

void PutU16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

std::uint32_t Crc32(const std::string& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0U - (crc & 1)));
  }
  return ~crc;
}

namespace {
std::uint32_t CrcOf(const TEntrySpec& entry) { return entry.Crc != 0 ? entry.Crc : Crc32(entry.Data); }
std::uint16_t FlagsOf(const TEntrySpec& entry) {
  return static_cast<std::uint16_t>(entry.Flags | (entry.DataDescriptor ? 0x0008 : 0));
}
}  // namespace

std::string LocalHeader(const TEntrySpec& entry) {
  std::string out;
  PutU32(out, kestrel::TLocalHeaderLayout::Signature);
  PutU16(out, entry.VersionNeeded);
  PutU16(out, FlagsOf(entry));
  PutU16(out, entry.Method);
  PutU32(out, entry.DosDateTime);
  PutU32(out, entry.DataDescriptor ? 0 : CrcOf(entry));
  PutU32(out, entry.DataDescriptor ? 0 : static_cast<std::uint32_t>(entry.Data.size()));
  PutU32(out, entry.DataDescriptor ? 0 : static_cast<std::uint32_t>(entry.Data.size()));
  PutU16(out, static_cast<std::uint32_t>(entry.Name.size()));
  PutU16(out, static_cast<std::uint32_t>(entry.LocalExtra.size()));
  out += entry.Name;
  out += entry.LocalExtra;
  return out;
}

std::string CentralHeader(const TEntrySpec& entry, std::uint32_t localOffset, std::uint16_t announcedExtraLength) {
  std::string out;
  PutU32(out, kestrel::TCentralHeaderLayout::Signature);
  PutU16(out, entry.VersionMadeBy);
  PutU16(out, entry.VersionNeeded);
  PutU16(out, FlagsOf(entry));
  PutU16(out, entry.Method);
  PutU32(out, entry.DosDateTime);
  PutU32(out, CrcOf(entry));
  PutU32(out, static_cast<std::uint32_t>(entry.Data.size()));
  PutU32(out, static_cast<std::uint32_t>(entry.Data.size()));
  PutU16(out, static_cast<std::uint32_t>(entry.Name.size()));
  PutU16(out,
         announcedExtraLength != 0xFFFF ? announcedExtraLength : static_cast<std::uint32_t>(entry.CentralExtra.size()));
  PutU16(out, static_cast<std::uint32_t>(entry.Comment.size()));
  PutU16(out, 0);
  PutU16(out, 0);
  PutU32(out, entry.ExternalAttributes);
  PutU32(out, localOffset);
  out += entry.Name;
  out += entry.CentralExtra;
  out += entry.Comment;
  return out;
}

std::string EndRecord(const TEndSpec& end) {
  std::string out;
  PutU32(out, kestrel::TEndCentralLayout::Signature);
  PutU16(out, end.ThisDisk);
  PutU16(out, end.CentralDirDisk);
  PutU16(out, end.EntriesThisDisk);
  PutU16(out, end.TotalEntries);
  PutU32(out, end.CentralDirSize);
  PutU32(out, end.CentralDirOffset);
  PutU16(out, end.AnnouncedCommentLength != 0xFFFFFFFF ? end.AnnouncedCommentLength
                                                       : static_cast<std::uint32_t>(end.Comment.size()));
  out += end.Comment;
  return out;
}

std::string BuildArchive(const std::vector<TEntrySpec>& entries, const std::string& comment,
                         const std::string& prefix) {
  std::string body;
  std::vector<std::uint32_t> offsets;
  for (const TEntrySpec& entry : entries) {
    offsets.push_back(static_cast<std::uint32_t>(body.size()));
    body += LocalHeader(entry);
    body += entry.Data;
    if (entry.DataDescriptor) {
      PutU32(body, kestrel::DataDescriptorSig);
      PutU32(body, CrcOf(entry));
      PutU32(body, static_cast<std::uint32_t>(entry.Data.size()));
      PutU32(body, static_cast<std::uint32_t>(entry.Data.size()));
    }
  }
  const std::uint32_t centralOffset = static_cast<std::uint32_t>(body.size());
  std::string central;
  for (std::size_t i = 0; i < entries.size(); ++i) central += CentralHeader(entries[i], offsets[i]);
  TEndSpec end;
  end.EntriesThisDisk = end.TotalEntries = static_cast<std::uint16_t>(entries.size());
  end.CentralDirSize = static_cast<std::uint32_t>(central.size());
  end.CentralDirOffset = centralOffset;
  end.Comment = comment;
  return prefix + body + central + EndRecord(end);
}

namespace {
void PutU64(std::string& out, std::uint64_t value) {
  PutU32(out, static_cast<std::uint32_t>(value));
  PutU32(out, static_cast<std::uint32_t>(value >> 32));
}
// Overwrites the three 32-bit fields of a header from `at` (CRC excluded) with
// the escape value.
void Escape(std::string& header, std::size_t at, int fields) {
  for (int i = 0; i < fields; ++i) header.replace(at + 4 * i, 4, std::string(4, '\xFF'));
}
}  // namespace

std::string BuildZip64Archive(const std::vector<TEntrySpec>& entries) {
  std::string body, central;
  for (TEntrySpec entry : entries) {
    const std::uint64_t offset = body.size();
    const std::uint64_t size = entry.Data.size();
    std::string localBlock, centralBlock;
    PutU16(localBlock, 1);
    PutU16(localBlock, 16);
    PutU64(localBlock, size);
    PutU64(localBlock, size);
    PutU16(centralBlock, 1);
    PutU16(centralBlock, 24);
    PutU64(centralBlock, size);
    PutU64(centralBlock, size);
    PutU64(centralBlock, offset);
    entry.LocalExtra = localBlock + entry.LocalExtra;
    entry.CentralExtra = centralBlock + entry.CentralExtra;
    std::string local = LocalHeader(entry);
    Escape(local, 18, 2);
    body += local + entry.Data;
    std::string header = CentralHeader(entry, 0);
    Escape(header, 20, 2);
    Escape(header, 42, 1);
    central += header;
  }
  std::string records;
  const std::uint64_t recordOffset = body.size() + central.size();
  PutU32(records, kestrel::TZip64EndCentralLayout::Signature);
  PutU64(records, 44);
  PutU16(records, 45);
  PutU16(records, 45);
  PutU32(records, 0);
  PutU32(records, 0);
  PutU64(records, entries.size());
  PutU64(records, entries.size());
  PutU64(records, central.size());
  PutU64(records, body.size());
  PutU32(records, kestrel::TZip64LocatorLayout::Signature);
  PutU32(records, 0);
  PutU64(records, recordOffset);
  PutU32(records, 1);
  TEndSpec end;
  end.EntriesThisDisk = end.TotalEntries = 0xFFFF;
  end.CentralDirSize = end.CentralDirOffset = 0xFFFFFFFF;
  return body + central + records + EndRecord(end);
}

}  // namespace ziptest
