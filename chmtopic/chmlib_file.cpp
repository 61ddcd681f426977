#include "chmtopic/chmlib_file.h"

#include <chm_lib.h>

#include <algorithm>
#include <limits>

namespace tessaly {
namespace {

class TChmlibObject final : public TChmObject {
 public:
  TChmlibObject(chmFile* handle, const chmUnitInfo& unit) : handle_(handle), unit_(unit) {}

  std::uint64_t Length() const override { return unit_.length; }

  std::size_t Retrieve(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
    if (buffer.empty()) return 0;
    const auto ask = static_cast<LONGINT64>(
        std::min<std::uint64_t>(buffer.size(), static_cast<std::uint64_t>(std::numeric_limits<LONGINT64>::max())));
    const LONGINT64 got = chm_retrieve_object(handle_, &unit_, buffer.data(), offset, ask);
    if (got <= 0) return 0;
    return static_cast<std::size_t>(std::min<LONGINT64>(got, ask));
  }

 private:
  chmFile* handle_;  // owned by the TChmlibFile, which outlives the lookup's objects
  chmUnitInfo unit_;
};

}  // namespace

void TChmlibFile::TCloser::operator()(chmFile* handle) const { chm_close(handle); }

TChmlibFile::TChmlibFile(const std::string& path) : handle_(chm_open(path.c_str())) {}

std::unique_ptr<TChmObject> TChmlibFile::ResolveObject(const std::string& path) {
  if (!handle_) return nullptr;
  chmUnitInfo unit{};
  if (chm_resolve_object(handle_.get(), path.c_str(), &unit) != CHM_RESOLVE_SUCCESS) return nullptr;
  return std::make_unique<TChmlibObject>(handle_.get(), unit);
}

}  // namespace tessaly
