#pragma once
// The two things the default-topic lookup asks of a CHM container: find an internal
// object by its path, and copy bytes of it from an offset. chmlib answers them for a
// real file; tests and the fuzzer answer them from memory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace tessaly {

/// One internal object of a CHM file, found by path.
class TChmObject {
 public:
  virtual ~TChmObject() = default;

  /// The object's length as the container's directory records it.
  virtual std::uint64_t Length() const = 0;

  /// Copies up to buffer.size() bytes of the object, starting at offset, into the
  /// buffer and returns the count copied: 0 when the offset lies at or past the end,
  /// fewer than asked when the object (or the part of it that can be decoded) ends
  /// first. Never more than buffer.size().
  virtual std::size_t Retrieve(std::uint64_t offset, std::span<std::uint8_t> buffer) = 0;
};

/// An open CHM container.
class TChmObjectReader {
 public:
  virtual ~TChmObjectReader() = default;

  /// The object at path (such as "/#SYSTEM"), or null when the file has none.
  virtual std::unique_ptr<TChmObject> ResolveObject(const std::string& path) = 0;
};

}  // namespace tessaly
