#pragma once
// Entries decoded ahead of their turn, on worker threads, into memory. The
// extraction itself stays on the caller's thread and in archive order: it makes
// every decision, fires every event and writes every file as before, and only
// takes the bytes of an entry from here instead of decoding them itself. So
// nothing a caller sees depends on how many workers there are.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "unzip/decode/decode_state.h"

namespace kestrel {

/// Decoded bytes kept in memory, for the decoding frame's output.
class TMemoryOutput final : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (count > 0) Text.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }
  /// Written front to back: it stands at the end of what was written.
  std::int64_t Seek(std::int64_t, std::int16_t) override { return static_cast<std::int64_t>(Text.size()); }
  std::string Text;
};

/// An entry decoded completely and correctly: its bytes, the sizes of the pieces
/// its decoder wrote (for the progress events) and their CRC, which matched the
/// stored one.
struct TDecodedAhead {
  std::string Bytes;
  std::vector<std::int32_t> Pieces;
  std::uint32_t Crc = 0;
};

/// Workers that decode queued entries of one archive file, each through its own
/// reading of the file and its own decoding state; the caller's thread helps them
/// while it waits for one. Memory stays bounded: a worker holds one entry's
/// workspace, and the queue at most MaxQueued entries and ByteBudget bytes of
/// decoded data.
class TDecodeAhead {
 public:
  /// The largest entry decoded ahead; a larger one is decoded in its turn,
  /// straight into its file.
  static constexpr std::uint64_t LargestEntry = 8u << 20;
  static constexpr std::uint64_t ByteBudget = 64u << 20;
  static constexpr std::size_t MaxQueued = 256;

  /// Opens a reading of the archive of its own for a worker (a file, or the
  /// joined parts of a set); it may throw.
  using TArchiveOpener = std::function<std::unique_ptr<TStream>()>;
  /// Starts workers, each on a reading of the archive that openArchive makes.
  TDecodeAhead(TArchiveOpener openArchive, std::int32_t workers);
  /// Stops the workers; one in the middle of an entry finishes it first.
  ~TDecodeAhead();
  TDecodeAhead(const TDecodeAhead&) = delete;
  TDecodeAhead& operator=(const TDecodeAhead&) = delete;

  /// Whether the queue wants entries: once half of it has gone, so that a worker
  /// that ran out wakes once for many.
  bool WantsMore() const;
  /// Queues entry index (increasing from call to call); crc is the stored CRC that
  /// its decoding must give. False, and nothing queued, when the queue is full.
  bool Offer(std::int32_t index, const TDecodeEntry& entry, std::uint32_t crc);
  /// The entry's bytes once they are decoded, helping the workers meanwhile;
  /// nothing when it was not queued, no worker has begun it (it is withdrawn:
  /// the caller decodes it), or its decoding failed in any way (the caller
  /// decodes it again, and meets the failure itself). The entry, and every one
  /// before it, leaves the queue.
  std::optional<TDecodedAhead> Take(std::int32_t index);
  /// Withdraws every entry up to index that was not taken.
  void DropThrough(std::int32_t index);

 private:
  enum class TState { Waiting, Working, Done };
  struct TJob {
    std::int32_t Index = 0;
    TDecodeEntry Entry;
    std::uint32_t StoredCrc = 0;
    TState State = TState::Waiting;
    bool Clean = false;
    TDecodedAhead Result;
  };
  /// One thread's reading of the archive and decoding state.
  struct TWorkspace;
  std::unique_ptr<TWorkspace> MakeWorkspace() const;
  void Work();
  /// Decodes the first waiting entry with the workspace; called and returning
  /// with the lock held, which it lets go meanwhile.
  void RunFirstWaiting(TWorkspace& workspace, std::unique_lock<std::mutex>& lock);
  static void Decode(TWorkspace& workspace, TJob& job);
  void RemoveFront();

  TArchiveOpener openArchive_;
  mutable std::mutex mutex_;
  std::condition_variable jobQueued_;
  std::condition_variable jobDone_;
  std::deque<std::shared_ptr<TJob>> queue_;    ///< every entry not yet taken, in order
  std::deque<std::shared_ptr<TJob>> waiting_;  ///< those no thread has begun, in order
  std::uint64_t queuedBytes_ = 0;
  std::int32_t idleWorkers_ = 0;
  bool takerWaiting_ = false;
  bool stopping_ = false;
  /// The caller's thread's workspace, made when it first helps; null also when
  /// it could not be made.
  std::unique_ptr<TWorkspace> helper_;
  bool helperTried_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kestrel
