// Entries that share bytes are how a few kilobytes unpack to gigabytes: each
// entry's data runs on into the next entry, whose local header it quotes in a
// stored block, or every central header names one local header, so the same
// bytes are counted again and again. No tool writes such an archive, and an
// entry whose size was damaged runs into the next one as well. Either way only
// the entry at fault is left out: each one's span runs from its local header
// through its compressed data by the sizes the headers give, and must end where
// the next local header starts or before, clear of the central directory and
// within the file.

#include "unzip/entry_damage.h"

#include <algorithm>
#include <string>

#include "unzip/volume_set.h"

namespace kestrel {
namespace {

// The bytes one entry takes, from its local header through its data.
struct TSpan {
  std::uint64_t From, To;
  std::int32_t Index;
  bool NamedHere;  ///< the local header names this entry
};

// The span of one entry. A folder, a link and a file take their bytes alike: a
// folder entry whose size runs into the next entry is damaged as a file would be.
TSpan ReadSpan(const TDamageScope& scope, std::int32_t index) {
  const TZipHeaderInfo& entry = *scope.Entries->Items(index);
  TStream& archive = *scope.Archive;
  // The local header's lengths say where the data starts; a header that is not
  // there fails its entry later, and counts here with the central lengths.
  std::uint8_t header[TLocalHeaderLayout::Size] = {};
  std::uint64_t lengths = entry.NameLength;
  bool namedHere = false;
  archive.SetPosition(static_cast<std::int64_t>(entry.LocalHeaderOffset));
  if (archive.Read(header, TLocalHeaderLayout::Size) == TLocalHeaderLayout::Size &&
      GetU32(header) == TLocalHeaderLayout::Signature) {
    const std::uint16_t nameLength = GetU16(header + TLocalHeaderLayout::NameLengthAt);
    lengths = std::uint64_t{nameLength} + GetU16(header + TLocalHeaderLayout::ExtraLengthAt);
    std::string name(nameLength, '\0');
    namedHere = archive.Read(name.data(), nameLength) == nameLength && name == entry.RawName();
  }
  // A data descriptor is not counted: no byte of it is decoded, and some writers
  // set flag bit 3 without writing one.
  const std::uint64_t from = entry.LocalHeaderOffset;
  std::uint64_t to = from + TLocalHeaderLayout::Size + lengths + entry.CompressedSize;
  // An entry of a rebuilt directory whose descriptor was not found: its bytes
  // run on into the next record, or past the end.
  if (const auto unended = scope.Unended->find(&entry); unended != scope.Unended->end())
    to = std::max(to, unended->second + 1);
  return {from, to, index, namedHere};
}

// Of the spans at one local header (the group starting at first), the one it
// names keeps it, else the first; the others share its bytes.
std::size_t GroupOwner(const std::vector<TSpan>& spans, std::size_t first) {
  for (std::size_t j = first; j < spans.size() && spans[j].From == spans[first].From; ++j)
    if (spans[j].NamedHere) return j;
  return first;
}

// The part of a set whose missing bytes the entry needs, or null.
const TVolumePart* MissingPartOf(const TDamageScope& scope, const TSpan& span) {
  if (scope.PartsByDisk) {
    const std::uint32_t disk = scope.Entries->Items(span.Index)->DiskStart;
    const std::vector<TVolumePart>& parts = scope.Volumes->Parts();
    if (disk < parts.size() && (parts[disk].Fault == vfMissing || parts[disk].Fault == vfDoesNotFit))
      return &parts[disk];
  }
  return scope.Volumes->GapIn(static_cast<std::int64_t>(span.From), static_cast<std::int64_t>(span.To));
}

}  // namespace

std::vector<TEntryDamage> FindDamagedEntries(const TDamageScope& scope) {
  const std::int32_t count = scope.Entries ? scope.Entries->Count() : 0;
  std::vector<TEntryDamage> damage(static_cast<std::size_t>(count));
  if (count == 0 || scope.Archive == nullptr || !scope.OneVolume) return damage;
  const std::int64_t restore = scope.Archive->Position();
  const auto size = static_cast<std::uint64_t>(scope.Archive->Size());
  std::vector<TSpan> spans;
  spans.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) spans.push_back(ReadSpan(scope, i));
  scope.Archive->SetPosition(restore);
  std::stable_sort(spans.begin(), spans.end(), [](const TSpan& a, const TSpan& b) { return a.From < b.From; });

  auto mark = [&](const TSpan& span, TSkipReason reason, const TSpan* other) {
    damage[static_cast<std::size_t>(span.Index)] = {reason, other ? scope.Entries->Items(other->Index) : nullptr};
  };
  std::size_t owner = 0;  // the span that keeps the local header of the current group
  for (std::size_t i = 0; i < spans.size(); ++i) {
    if (i == 0 || spans[i].From != spans[i - 1].From) owner = GroupOwner(spans, i);
    if (i != owner) {
      mark(spans[i], skOverlaps, &spans[owner]);
      continue;
    }
    std::size_t next = i + 1;
    while (next < spans.size() && spans[next].From == spans[i].From) ++next;
    if (next < spans.size() && spans[i].To > spans[next].From) {
      // The entry that keeps that header, which is the one that comes out.
      mark(spans[i], skOverlaps, &spans[GroupOwner(spans, next)]);
    } else if (scope.HasDirectory && spans[i].From < scope.DirectoryEnd && scope.DirectoryStart < spans[i].To) {
      mark(spans[i], skOverlaps, nullptr);
    } else if (spans[i].To > size) {
      mark(spans[i], skCutShort, nullptr);
    } else if (scope.Unended->count(scope.Entries->Items(spans[i].Index)) != 0) {
      // It runs into the central directory that follows the entries.
      mark(spans[i], skOverlaps, nullptr);
    }
  }
  // Bytes a part of a set lacks explain whatever else seems wrong with the entry.
  if (scope.Volumes != nullptr)
    for (const TSpan& span : spans)
      if (const TVolumePart* part = MissingPartOf(scope, span))
        damage[static_cast<std::size_t>(span.Index)] = {skMissingPart, nullptr, part};
  return damage;
}

}  // namespace kestrel
