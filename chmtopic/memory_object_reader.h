#pragma once
// A CHM container held in memory: objects given as bytes, each with the length its
// directory entry claims. Lets the default-topic lookup be tried on objects no help
// compiler writes (truncated records, lying lengths) without a CHM file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "chmtopic/chm_object_reader.h"

namespace tessaly {

class TMemoryObjectReader final : public TChmObjectReader {
 public:
  /// Adds (or replaces) an object. Without claimedLength the directory records the
  /// true size; with it, the object claims that length while only bytes can be read,
  /// as chmlib behaves on a damaged compressed section.
  void AddObject(const std::string& path, std::string bytes, std::optional<std::uint64_t> claimedLength = {}) {
    const std::uint64_t length = claimedLength.value_or(bytes.size());
    objects_[path] = TEntry{std::move(bytes), length};
  }

  std::unique_ptr<TChmObject> ResolveObject(const std::string& path) override {
    const auto found = objects_.find(path);
    if (found == objects_.end()) return nullptr;
    return std::make_unique<TMemoryObject>(found->second);
  }

 private:
  struct TEntry {
    std::string Bytes;
    std::uint64_t Length = 0;
  };

  class TMemoryObject final : public TChmObject {
   public:
    explicit TMemoryObject(const TEntry& entry) : entry_(entry) {}
    std::uint64_t Length() const override { return entry_.Length; }
    std::size_t Retrieve(std::uint64_t offset, std::span<std::uint8_t> buffer) override {
      // Bytes exist only up to the smaller of the claimed length and the data held.
      const std::uint64_t end = std::min<std::uint64_t>(entry_.Length, entry_.Bytes.size());
      if (offset >= end) return 0;
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, buffer.size()));
      std::memcpy(buffer.data(), entry_.Bytes.data() + offset, count);
      return count;
    }

   private:
    const TEntry& entry_;
  };

  std::map<std::string, TEntry> objects_;
};

}  // namespace tessaly
