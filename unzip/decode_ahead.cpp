#include "unzip/decode_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "unzip/decode/entry_decoding.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/lfn_file_stream.h"

namespace kestrel {
namespace {

// A worker's view for the decoding frame: its own reading of the archive, no
// volumes, no message pump, no cancel and no message box; the pieces written are
// counted, so that the caller's thread fires their progress in the entry's turn.
class TAheadHost final : public TDecodeHost {
 public:
  explicit TAheadHost(TStream& archive) : archive_(archive) {}
  TStream& ArchiveStream() override { return archive_; }
  bool HasTotalPercentDone() override { return true; }
  std::int64_t AddBytesDone(std::int32_t count) override {
    if (pieces_ != nullptr) pieces_->push_back(count);
    return 0;
  }
  // An unknown method fails the entry here; its message comes when the caller's
  // thread decodes it in its turn.
  void ShowError(const std::string&, const std::string&) override {}
  void CountPiecesInto(std::vector<std::int32_t>* pieces) { pieces_ = pieces; }

 private:
  TStream& archive_;
  std::vector<std::int32_t>* pieces_ = nullptr;
};

}  // namespace

struct TDecodeAhead::TWorkspace {
  explicit TWorkspace(std::unique_ptr<TStream> archive) : Archive(std::move(archive)), Host(*Archive), State(Host) {}
  std::unique_ptr<TStream> Archive;
  TAheadHost Host;
  TDecodeState State;
};

TDecodeAhead::TDecodeAhead(TArchiveOpener openArchive, std::int32_t workers) : openArchive_(std::move(openArchive)) {
  try {
    for (std::int32_t i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // The system gives no more threads: those there are do the work.
  }
}

TDecodeAhead::~TDecodeAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    while (!queue_.empty()) RemoveFront();
  }
  jobQueued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::unique_ptr<TDecodeAhead::TWorkspace> TDecodeAhead::MakeWorkspace() const {
  try {
    return std::make_unique<TWorkspace>(openArchive_());
  } catch (...) {
    // No archive or no buffers for this thread: the entries are decoded in their turn.
    return nullptr;
  }
}

bool TDecodeAhead::WantsMore() const {
  std::lock_guard lock(mutex_);
  return queue_.size() <= MaxQueued / 2 && queuedBytes_ <= ByteBudget / 2;
}

bool TDecodeAhead::Offer(std::int32_t index, const TDecodeEntry& entry, std::uint32_t crc) {
  std::unique_lock lock(mutex_);
  if (queue_.size() >= MaxQueued || queuedBytes_ + entry.UncompressedSize > ByteBudget) return false;
  auto job = std::make_shared<TJob>();
  job->Index = index;
  job->Entry = entry;
  job->StoredCrc = crc;
  queuedBytes_ += entry.UncompressedSize;
  queue_.push_back(job);
  waiting_.push_back(std::move(job));
  const bool wake = idleWorkers_ > 0;
  lock.unlock();
  if (wake) jobQueued_.notify_one();
  return true;
}

void TDecodeAhead::RemoveFront() {
  // Entries leave in order, so one no thread has begun is the first waiting one.
  // One a thread has finishes, and its result goes with its last owner.
  const std::shared_ptr<TJob>& job = queue_.front();
  if (job->State == TState::Waiting && !waiting_.empty() && waiting_.front() == job) waiting_.pop_front();
  queuedBytes_ -= job->Entry.UncompressedSize;
  queue_.pop_front();
}

void TDecodeAhead::DropThrough(std::int32_t index) {
  std::lock_guard lock(mutex_);
  while (!queue_.empty() && queue_.front()->Index <= index) RemoveFront();
}

std::optional<TDecodedAhead> TDecodeAhead::Take(std::int32_t index) {
  std::unique_lock lock(mutex_);
  while (!queue_.empty() && queue_.front()->Index < index) RemoveFront();
  if (queue_.empty() || queue_.front()->Index != index) return std::nullopt;
  const std::shared_ptr<TJob> job = queue_.front();
  RemoveFront();
  // Not begun: the caller's thread decodes it straight into its file, which is
  // sooner than waiting for a worker, and spares the copy.
  if (job->State == TState::Waiting) return std::nullopt;
  while (job->State != TState::Done) {
    // Rather than sleep while a worker finishes it, this thread decodes the next
    // entry that none has begun: no thread idles while there is work.
    if (!waiting_.empty()) {
      if (!helperTried_) {
        helperTried_ = true;
        helper_ = MakeWorkspace();
      }
      if (helper_) {
        RunFirstWaiting(*helper_, lock);
        continue;
      }
    }
    takerWaiting_ = true;
    jobDone_.wait(lock);
    takerWaiting_ = false;
  }
  if (!job->Clean) return std::nullopt;
  return std::move(job->Result);
}

void TDecodeAhead::RunFirstWaiting(TWorkspace& workspace, std::unique_lock<std::mutex>& lock) {
  const std::shared_ptr<TJob> job = waiting_.front();
  waiting_.pop_front();
  job->State = TState::Working;
  lock.unlock();
  workspace.Host.CountPiecesInto(&job->Result.Pieces);
  Decode(workspace, *job);
  workspace.Host.CountPiecesInto(nullptr);
  lock.lock();
  job->State = TState::Done;
  if (takerWaiting_) jobDone_.notify_one();
}

void TDecodeAhead::Work() {
  const std::unique_ptr<TWorkspace> workspace = MakeWorkspace();
  if (!workspace) return;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (waiting_.empty()) {
      ++idleWorkers_;
      jobQueued_.wait(lock);
      --idleWorkers_;
      continue;
    }
    RunFirstWaiting(*workspace, lock);
  }
}

void TDecodeAhead::Decode(TWorkspace& workspace, TJob& job) {
  try {
    TStream& archive = *workspace.Archive;
    std::uint8_t header[TLocalHeaderLayout::Size] = {};
    archive.Seek(static_cast<std::int64_t>(job.Entry.LocalHeaderOffset), soFromBeginning);
    if (archive.Read(header, TLocalHeaderLayout::Size) != TLocalHeaderLayout::Size ||
        GetU32(header) != TLocalHeaderLayout::Signature)
      return;
    // To the data, past the local header's own name and extra field.
    archive.Seek(GetU16(header + TLocalHeaderLayout::NameLengthAt) + GetU16(header + TLocalHeaderLayout::ExtraLengthAt),
                 soFromCurrent);
    TMemoryOutput output;
    output.Text.reserve(static_cast<std::size_t>(job.Entry.UncompressedSize));
    const TDecodeResult result = DecodeEntryData(workspace.State, job.Entry, output);
    job.Clean = result == drDecoded && workspace.State.Crc() == job.StoredCrc &&
                output.Text.size() == job.Entry.UncompressedSize;
    if (!job.Clean) return;
    job.Result.Bytes = std::move(output.Text);
    job.Result.Crc = job.StoredCrc;
  } catch (...) {
    job.Clean = false;
  }
}

}  // namespace kestrel
