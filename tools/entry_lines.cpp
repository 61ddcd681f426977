#include "tools/entry_lines.h"

#include <algorithm>
#include <utility>

#include "platform/file_system.h"
#include "platform/path.h"
#include "tools/extraction_options.h"
#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"
#include "unzip/dest_paths.h"
#include "unzip/entry_permissions.h"

namespace kestrel::tool {
namespace {

std::string PaddedRight(const std::string& text, std::size_t width) {
  const std::size_t shown = DisplayWidth(text);
  return shown >= width ? text : text + std::string(width - shown, ' ');
}

bool IsFolderEntry(const TZipHeaderInfo& entry) { return entry.FileName().empty() && !entry.Nameless(); }

}  // namespace

std::string EntryLine(std::string_view verb, const std::string& name, const std::string& suffix) {
  std::string line(verb.size() < 11 ? 11 - verb.size() : 0, ' ');
  line.append(verb).append(": ").append(PaddedRight(name, 22)).append(" ").append(suffix).append(" ");
  return line;
}

std::string_view MethodVerb(std::uint16_t method) {
  switch (method) {
    case 0:
      return "extracting";
    case 1:
      return "unshrinking";
    case 2:
    case 3:
    case 4:
    case 5:
      return "unreducing";
    case 6:
      return "exploding";
    case 8:
    case 9:
      return "inflating";
    case 12:
      return "bunzipping";
    default:
      return "decoding";
  }
}

std::string ExtractionRoot(const std::string& componentDestDir) {
  const platform::TPathRules& rules = platform::HostPathRules();
  std::string root = componentDestDir.empty() ? std::string(".") : componentDestDir;
  if (!platform::IsPathSeparator(root.back(), rules)) root += rules.Separator;
  return root;
}

std::string ShownDestination(const std::string& fName, const std::string& componentDestDir,
                             const std::string& givenDestDir) {
  const platform::TPathRules& rules = platform::HostPathRules();
  const std::string root = ExtractionRoot(componentDestDir);
  std::string shown = fName;
  if (fName.starts_with(root)) {
    std::string given = givenDestDir;
    if (!given.empty() && (given.back() == '/' || platform::IsPathSeparator(given.back(), rules))) given.pop_back();
    shown = (givenDestDir.empty() ? std::string() : given + "/") + fName.substr(root.size());
  }
  // unzip shows "/" between folders wherever it runs.
  if (rules.Separator != '/')
    for (char& c : shown)
      if (c == rules.Separator) c = '/';
  return TerminalText(shown);
}

void MakeFolderEntries(TKestrelUnZip& unzip, const std::vector<bool>& selected) {
  const platform::TPathRules& rules = platform::HostPathRules();
  const std::string root = ExtractionRoot(unzip.DestDir());
  const TSortedZip* entries = unzip.ZipInfo();
  std::vector<std::pair<std::string, TEntryPermissions>> made;
  for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) {
    const TZipHeaderInfo& entry = *entries->Items(i);
    if (static_cast<std::size_t>(i) >= selected.size() || !selected[static_cast<std::size_t>(i)] ||
        !IsFolderEntry(entry) || StoredPathClimbs(entry.StoredPath(), rules))
      continue;
    const std::string folder = EntryDestFolder(unzip.DestDir(), unzip.RootDir(), entry.Directory(), true, rules);
    bool throughLink = false;
    for (std::size_t at = root.size(); at < folder.size() && !throughLink; ++at)
      if (platform::IsPathSeparator(folder[at], rules)) throughLink = platform::IsSymbolicLink(folder.substr(0, at));
    if (throughLink) continue;
    platform::ForceFolders(folder);
    if (unzip.ExactModes()) made.emplace_back(folder, EntryPermissions(entry, unzip.KeepSpecialBits()));
  }
  // The folders' own modes once all are made, the deepest first, as the component
  // gives them after their files: a folder that keeps out its owner still gets
  // the folders below it.
  std::sort(made.begin(), made.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  for (const auto& [folder, permissions] : made)
    platform::SetPathPermissions(folder, permissions.Mode, permissions.ReadOnly);
}

TEntryLines::TEntryLines(const TToolCommand& command, TKestrelUnZip& unzip, TRunReport& report,
                         std::vector<bool> selected)
    : command_(command), unzip_(unzip), report_(report), selected_(std::move(selected)) {}

void TEntryLines::Print(const std::string& line) { report_.Print(line); }

std::string TEntryLines::Shown(const std::string& fName) const {
  return ShownDestination(fName, unzip_.DestDir(), command_.DestDir);
}

std::string TEntryLines::FolderDestination(const TZipHeaderInfo& entry) const {
  return EntryDestFolder(unzip_.DestDir(), unzip_.RootDir(), entry.Directory(), true, platform::HostPathRules());
}

void TEntryLines::ReadLinkTargets() {
  if (!Printing() || command_.Action != TToolAction::Extract || unzip_.InputStream() != nullptr) return;
  // The component makes the links last; unzip says each in its turn, with its target.
  const TSortedZip* entries = unzip_.ZipInfo();
  for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) {
    if (static_cast<std::size_t>(i) >= selected_.size() || !selected_[static_cast<std::size_t>(i)]) continue;
    if (!entries->Items(i)->IsSymbolicLink()) continue;
    if (std::optional<std::string> target = unzip_.LinkTarget(i)) linkTargets_[i] = std::move(*target);
  }
}

void TEntryLines::Begin() {
  if (Printing()) LookAhead(-1);
}

void TEntryLines::LookAhead(std::int32_t index) {
  // Only an extraction with folders makes them, and unzip says "creating" only of
  // a folder it made.
  if (command_.Action != TToolAction::Extract || command_.JunkPaths || command_.Freshen) return;
  const TSortedZip* entries = unzip_.ZipInfo();
  for (std::int32_t i = index + 1; entries != nullptr && i < entries->Count(); ++i) {
    if (static_cast<std::size_t>(i) >= selected_.size()) break;
    if (!selected_[static_cast<std::size_t>(i)]) continue;
    if (!IsFolderEntry(*entries->Items(i))) break;
    if (platform::FolderExists(FolderDestination(*entries->Items(i))))
      folderStood_.insert(i);
    else
      folderStood_.erase(i);
  }
}

void TEntryLines::FolderLines(std::int32_t from, std::int32_t to) {
  const TSortedZip* entries = unzip_.ZipInfo();
  std::vector<std::string> made;
  for (std::int32_t i = from; entries != nullptr && i < to && i < entries->Count(); ++i) {
    if (static_cast<std::size_t>(i) >= selected_.size() || !selected_[static_cast<std::size_t>(i)]) continue;
    const TZipHeaderInfo& entry = *entries->Items(i);
    if (!IsFolderEntry(entry)) continue;
    const std::string listed = ListedPath(entry);
    if (command_.Action == TToolAction::Test) {
      Print(EntryLine("testing", listed, "") + " OK");
    } else if (command_.Action == TToolAction::ToScreen) {
      Print(EntryLine(MethodVerb(entry.DataMethod()), listed, ""));
      Print("");
    } else if (command_.Action == TToolAction::Extract && !command_.JunkPaths && !command_.Freshen) {
      const std::string folder = FolderDestination(entry);
      // Made by an entry before it (a folder below it listed first) is no making.
      bool madeBefore = folderStood_.contains(i) || !platform::FolderExists(folder);
      for (const std::string& other : made) madeBefore = madeBefore || other.starts_with(folder);
      if (madeBefore) continue;
      made.push_back(folder);
      Print("   creating: " + Shown(folder));
    }
  }
}

void TEntryLines::Reach(std::int32_t index) {
  if (!Printing() || index < next_) return;
  Close();
  FolderLines(next_, index);
  current_ = index;
  next_ = index + 1;
  headerPending_ = headerPrinted_ = failed_ = false;
  currentName_.clear();
  // Whatever this entry's last event is, the folders after it are looked at
  // before it makes anything, and again after (Done, Failed, Dropped).
  LookAhead(index);
}

void TEntryLines::Close() {
  if (current_ < 0) return;
  const std::int32_t index = std::exchange(current_, -1);
  if (command_.Action == TToolAction::ToScreen && headerPrinted_) Print("");
  // A link is made once every file is in; unzip says it in its turn.
  if (command_.Action == TToolAction::Extract && !failed_ && !currentName_.empty() && unzip_.InputStream() == nullptr &&
      unzip_.ZipInfo()->Items(index)->IsSymbolicLink()) {
    // unzip says "linking" of a stored link, and of another the method's verb,
    // with -a's mark right before the target.
    const TZipHeaderInfo& entry = *unzip_.ZipInfo()->Items(index);
    const bool stored = entry.DataMethod() == MethodStored;
    std::string line = EntryLine(stored ? "linking" : MethodVerb(entry.DataMethod()), currentName_,
                                 stored ? std::string() : std::string(TextMark(entry, command_)));
    if (!stored && command_.Text == 1) line.pop_back();
    const auto target = linkTargets_.find(index);
    Print(line + (target != linkTargets_.end() ? "-> " + TerminalText(target->second) + " " : std::string()));
  }
}

void TEntryLines::Started(std::int32_t index, const std::string& fName) {
  if (!Printing()) return;
  Reach(index);
  if (command_.Action == TToolAction::ToScreen) headerPending_ = true;
  if (command_.Action == TToolAction::Extract) currentName_ = Shown(fName);
}

void TEntryLines::BeforeData() {
  if (!headerPending_) return;
  headerPending_ = false;
  headerPrinted_ = true;
  const TZipHeaderInfo& entry = *unzip_.ZipInfo()->Items(current_);
  Print(EntryLine(MethodVerb(entry.DataMethod()), ListedPath(entry), ""));
}

void TEntryLines::Done(std::int32_t index, const std::string& fName) {
  if (!Printing()) return;
  const TZipHeaderInfo& entry = *unzip_.ZipInfo()->Items(index);
  if (command_.Action == TToolAction::Extract && entry.IsSymbolicLink() && unzip_.InputStream() == nullptr) {
    // The links come last, once every entry is done.
    End();
    if (!std::exchange(linksFinishing_, true)) Print("finishing deferred symbolic links:");
    const auto target = linkTargets_.find(index);
    Print("  " + PaddedRight(Shown(fName), 22) + " -> " +
          (target != linkTargets_.end() ? TerminalText(target->second) : std::string()));
    return;
  }
  Reach(index);
  switch (command_.Action) {
    case TToolAction::Test:
      Print(EntryLine("testing", ListedPath(entry), "") + " OK");
      break;
    case TToolAction::ToScreen:
      BeforeData();
      break;
    case TToolAction::Extract:
      Print(EntryLine(MethodVerb(entry.DataMethod()), Shown(fName), std::string(TextMark(entry, command_))));
      LookAhead(index);
      break;
    default:
      break;
  }
}

void TEntryLines::Failed(std::int32_t index, std::uint32_t computed, std::uint32_t stored, bool damaged) {
  const std::string crcText = " bad CRC " + CrcText(computed) + "  (should be " + CrcText(stored) + ")";
  // A quiet test still names what failed its CRC.
  if (command_.Action == TToolAction::Test && command_.Quiet > 0 && !damaged)
    Print(PaddedRight(ListedPath(*unzip_.ZipInfo()->Items(index)), 23) + crcText);
  if (!Printing()) return;
  Reach(index);
  failed_ = true;
  headerPending_ = false;
  LookAhead(index);
  if (command_.Action != TToolAction::Test) return;
  const std::string line = EntryLine("testing", ListedPath(*unzip_.ZipInfo()->Items(index)), "");
  // Damage the decoder saw is said on stderr, in our words; unzip prints the
  // entry's line and its own words on the next.
  if (damaged) {
    Print(line);
    return;
  }
  Print(line + crcText);
}

void TEntryLines::Dropped(std::int32_t index) {
  if (!Printing()) return;
  Reach(index);
  failed_ = true;
  headerPending_ = false;
  LookAhead(index);
}

void TEntryLines::End() {
  if (!Printing()) return;
  Close();
  const TSortedZip* entries = unzip_.ZipInfo();
  const std::int32_t count = entries != nullptr ? entries->Count() : 0;
  if (next_ < count) FolderLines(next_, count);
  next_ = std::max(next_, count);
}

std::int32_t TEntrySink::Write(const void* buffer, std::int32_t count) {
  if (lines_ != nullptr) lines_->BeforeData();
  if (toStandardOutput_ &&
      !platform::WriteConsoleText(platform::TConsoleStream::Output,
                                  {static_cast<const char*>(buffer), static_cast<std::size_t>(count)}))
    return 0;
  return count;
}

}  // namespace kestrel::tool
