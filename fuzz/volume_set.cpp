// A set of up to 24 small parts, some missing, cut short or not fitting, read
// through TVolumeSetStream by seeks and reads the input chooses: every read must
// give exactly the joined bytes from its position up to the first gap, the end or
// its count, every seek land where the model says, and the part queries agree with
// a walk over the model. More than 16 parts make the stream close and reopen files.
//
// Input: byte 0 the part count; three bytes per part (kind, size, extra); the
// present parts' bytes one after the other; then four bytes per operation (origin,
// two bytes of offset, count). Files are written into this process's work folder.

#include "unzip/volume_set.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

/// The joined bytes as the set should have them: a byte, or -1 in a gap.
using TModel = std::vector<int>;

/// Reads [offset, offset + count) of the model up to its first gap or its end.
std::string Expected(const TModel& model, std::int64_t offset, std::int32_t count) {
  std::string bytes;
  for (std::int64_t at = offset; at < offset + count && at >= 0 && at < static_cast<std::int64_t>(model.size()); ++at) {
    if (model[static_cast<std::size_t>(at)] < 0) break;
    bytes.push_back(static_cast<char>(model[static_cast<std::size_t>(at)]));
  }
  return bytes;
}

/// Builds the set and its model from the input; the position after the parts' bytes.
std::size_t BuildSet(const std::uint8_t* data, std::size_t size, kestrel::TVolumeSet& set, TModel& model) {
  const std::size_t parts = 1 + data[0] % 24;
  std::size_t content = 1 + 3 * parts;
  for (std::size_t i = 0; i < parts; ++i) {
    const std::uint8_t kind = data[1 + 3 * i] % 5, extra = data[3 + 3 * i];
    const std::size_t partSize = data[2 + 3 * i];
    const std::string name = fuzzsupport::WorkFolder("volume_set-") + "p" + std::to_string(i);
    if (kind == 2) {  // missing
      set.AddMissing(name, static_cast<std::int64_t>(partSize));
      model.insert(model.end(), partSize, -1);
      continue;
    }
    std::string bytes;
    for (std::size_t j = 0; j < partSize; ++j, ++content)
      bytes.push_back(static_cast<char>(content < size ? data[content] : (i * 31 + j) & 0xFF));
    if (!fuzzsupport::WriteInput(name, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) std::abort();
    set.AddPresent(name);
    std::size_t keep = partSize, span = partSize;
    if (kind == 3) {  // cut short: the records want more than is kept
      keep = extra % (partSize + 1);
      span = std::max(partSize, keep + (extra >> 2));
      set.MarkFault(i, kestrel::vfCutShort, static_cast<std::int64_t>(keep), static_cast<std::int64_t>(span));
    } else if (kind == 4) {  // another set's part
      keep = 0;
      span = extra;
      set.MarkFault(i, kestrel::vfDoesNotFit, 0, extra);
      span = std::max(span, partSize);
    }
    for (std::size_t j = 0; j < span; ++j) model.push_back(j < keep ? static_cast<std::uint8_t>(bytes[j]) : -1);
  }
  return content;
}

/// The first part, by the model's layout, whose gap meets [begin, end); -1 for none.
int ModelGap(const kestrel::TVolumeSet& set, const TModel& model, std::int64_t begin, std::int64_t end) {
  for (std::int64_t at = std::max<std::int64_t>(begin, 0); at < end && at < static_cast<std::int64_t>(model.size());
       ++at)
    if (model[static_cast<std::size_t>(at)] < 0) return static_cast<int>(set.PartAt(at) - set.Parts().data());
  return -1;
}

void CheckLayout(const kestrel::TVolumeSet& set, const TModel& model) {
  if (set.Size() != static_cast<std::int64_t>(model.size())) std::abort();
  std::int64_t start = 0;
  for (std::size_t i = 0; i < set.Parts().size(); ++i) {
    const kestrel::TVolumePart& part = set.Parts()[i];
    if (part.Start != start || part.Size > part.Span || set.Joined(static_cast<std::uint32_t>(i), 3) != start + 3)
      std::abort();
    for (std::int64_t at = start; at < start + part.Span; ++at)
      if (set.PartAt(at) != &part) std::abort();
    start += part.Span;
  }
  if (set.PartAt(start) != nullptr || set.Joined(static_cast<std::uint32_t>(set.Parts().size()), 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + 3 * (1 + std::size_t{data[0]} % 24) || fuzzsupport::WorkFolder("volume_set-").empty()) return 0;
  auto set = std::make_shared<kestrel::TVolumeSet>();
  TModel model;
  std::size_t at = BuildSet(data, size, *set, model);
  CheckLayout(*set, model);

  kestrel::TVolumeSetStream stream(set);
  std::int64_t position = 0;
  const auto joined = static_cast<std::int64_t>(model.size());
  for (; at + 4 <= size; at += 4) {
    const auto origin = static_cast<std::int16_t>(data[at] % 3);
    const auto offset = static_cast<std::int64_t>(static_cast<std::int16_t>(data[at + 1] | data[at + 2] << 8)) % 4096;
    const std::int32_t count = data[at + 3] * 3;
    const std::int64_t target = (origin == 0 ? 0 : origin == 1 ? position : joined) + offset;
    const std::int64_t landed = stream.Seek(offset, origin);
    if (landed != (target < 0 ? -1 : target)) std::abort();
    if (target >= 0) position = target;
    std::string got(static_cast<std::size_t>(count), '\0');
    got.resize(static_cast<std::size_t>(stream.Read(got.data(), count)));
    if (got != Expected(model, position, count)) std::abort();
    position += static_cast<std::int64_t>(got.size());
    const kestrel::TVolumePart* gap = set->GapIn(position - count, position + count);
    if ((gap == nullptr ? -1 : static_cast<int>(gap - set->Parts().data())) !=
        ModelGap(*set, model, position - count, position + count))
      std::abort();
  }

  // The component's window over the set: the bytes from the start up to the first gap.
  kestrel::TVolumeSetReader reader(set, 7);
  std::string whole;
  char block[5];
  for (std::int32_t got; (got = reader.Read(block, sizeof block)) > 0;)
    whole.append(block, static_cast<std::size_t>(got));
  if (whole != Expected(model, 0, static_cast<std::int32_t>(model.size()))) std::abort();
  return 0;
}
