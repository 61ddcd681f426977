#pragma once
// The decoding frame's view of the component, for its extraction drivers: the
// archive stream and its volumes, the message pump and cancel flag, OnDecrypt,
// and the progress events with the byte counters of the run going on.

#include "unzip/decode/decode_errors.h"
#include "unzip/decode/decode_state.h"
#include "unzip/extraction_run.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel {

class TKestrelUnZip::TDriverHost final : public TDecodeHost {
 public:
  explicit TDriverHost(TKestrelUnZip& unzip) : unzip_(unzip) {}

  TStream& ArchiveStream() override { return unzip_.EntrySource(); }
  bool CanContinueOnNextVolume() override { return unzip_.PerVolume() && static_cast<bool>(unzip_.OnGetNextDisk); }
  bool ContinueOnNextVolume() override {
    unzip_.OpenVolume(unzip_.currentDisk_ + 2);
    return unzip_.archiveStream_ != nullptr;
  }
  bool DoProcessMessages() override { return unzip_.doProcessMessages_; }
  bool TakeCancelRequest() override {
    const bool requested = unzip_.CancelRequested;
    unzip_.CancelRequested = false;
    return requested;
  }
  bool DecryptInput(std::uint8_t* buffer, std::int32_t length) override {
    if (!unzip_.OnDecrypt) return false;
    unzip_.OnDecrypt(unzip_, buffer, length, unzip_.password_);
    return true;
  }
  bool HasFilePercentDone() override { return static_cast<bool>(unzip_.OnFilePercentDone); }
  void FilePercentDone(std::int32_t percent) override { unzip_.OnFilePercentDone(unzip_, percent); }
  bool HasTotalPercentDone() override { return static_cast<bool>(unzip_.OnTotalPercentDone); }
  std::int64_t AddBytesDone(std::int32_t count) override { return unzip_.run_->AddBytesDone(count); }
  std::int64_t TotalBytes() override { return unzip_.run_->TotalBytes(); }
  void TotalPercentDone(std::int32_t percent) override { unzip_.OnTotalPercentDone(unzip_, percent); }

 private:
  TKestrelUnZip& unzip_;
};

}  // namespace kestrel
