#include "unzip/sorted_zip.h"

#include <algorithm>
#include <cmath>

#include "unzip/dos_date_time.h"

namespace kestrel {
namespace {

int FoldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }

/// A date that does not convert counts as the earliest.
platform::TCalendar CalendarOrZero(std::uint32_t value) {
  try {
    return DosDateTimeToCalendar(value);
  } catch (const EConvertError&) {
    return platform::TCalendar{};
  }
}

/// 1 when b's size is above a's, else -1: the larger first, and an equal size
/// behind its equals.
int CompareSizes(std::uint64_t a, std::uint64_t b) { return b > a ? 1 : -1; }

}  // namespace

int CompareFoldedText(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const int diff = FoldAscii(static_cast<unsigned char>(a[i])) - FoldAscii(static_cast<unsigned char>(b[i]));
    if (diff != 0) return diff;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompressionRate(const TZipHeaderInfo& entry) {
  if (entry.UncompressedSize == 0) return 0;
  // nearbyint rounds halves to even under the default rounding mode.
  const double rate =
      std::nearbyint(static_cast<double>(entry.CompressedSize) * 100.0 / static_cast<double>(entry.UncompressedSize));
  return rate > 100.0 ? 100 : static_cast<int>(rate);
}

int TSortedZip::Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const {
  switch (SortKey) {
    case ByName:
      return CompareFoldedText(a->StoredPath(), b->StoredPath());
    case ByFileName:
      return CompareFoldedText(a->FileName(), b->FileName());
    case ByDirectoryName:
      return CompareFoldedText(a->Directory(), b->Directory());
    case ByDate:
      // Never equal: the newest first, and an equal date behind its equals.
      return CompareCalendar(CalendarOrZero(b->DateTime), CalendarOrZero(a->DateTime)) > 0 ? 1 : -1;
    case ByCompressedSize:
      return CompareSizes(a->CompressedSize, b->CompressedSize);
    case ByUnCompressedSize:
      return CompareSizes(a->UncompressedSize, b->UncompressedSize);
    case ByRate:
      return CompressionRate(*b) - CompressionRate(*a);
    case ByNone: {
      if (a->DiskStart != b->DiskStart) return a->DiskStart > b->DiskStart ? 1 : -1;
      return a->LocalHeaderOffset > b->LocalHeaderOffset ? 1 : a->LocalHeaderOffset < b->LocalHeaderOffset ? -1 : 0;
    }
  }
  return -1;
}

}  // namespace kestrel
