#pragma once
// A CHM file opened through chmlib, offering its objects to the default-topic lookup.

#include <memory>
#include <string>

#include "chmtopic/chm_object_reader.h"

struct chmFile;

namespace tessaly {

class TChmlibFile final : public TChmObjectReader {
 public:
  /// Opens the file; IsOpen() is false when it is missing, unreadable or not a CHM
  /// container.
  explicit TChmlibFile(const std::string& path);

  bool IsOpen() const { return handle_ != nullptr; }

  std::unique_ptr<TChmObject> ResolveObject(const std::string& path) override;

 private:
  struct TCloser {
    void operator()(chmFile* handle) const;
  };
  std::unique_ptr<chmFile, TCloser> handle_;
};

}  // namespace tessaly
