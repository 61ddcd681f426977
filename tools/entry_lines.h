#pragma once
// The lines kestrel-unzip prints on stdout for each entry of an extraction, a
// test (-t) or an extraction to the screen (-c), laid out as unzip's: "  inflating:
// NAME", "   creating: DIR/", "    linking: NAME -> TARGET", "    testing: NAME
// OK". They go out as each entry is done, in the order of the entries: the
// component reports its entries in that order, whatever the threads decoding.
// Folder entries fire no event of the component: their lines go out when the
// entry after them is reached, or at the end.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/run_report.h"
#include "tools/unzip_options.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {

/// One line about an entry: the verb right-aligned in 11 columns, the name in 22,
/// then the suffix ("[text]", "[binary]" after a conversion; empty otherwise).
std::string EntryLine(std::string_view verb, const std::string& name, const std::string& suffix);

/// The folder the component's names of files start with: its DestDir (the
/// current folder "." when empty) and a separator.
std::string ExtractionRoot(const std::string& componentDestDir);

/// The name of a file or folder made (fName, the component's) as unzip shows it:
/// below the -d folder as given (givenDestDir, one trailing separator dropped),
/// or below nothing when there is no -d; "/" between folders; control characters
/// escaped.
std::string ShownDestination(const std::string& fName, const std::string& componentDestDir,
                             const std::string& givenDestDir);

/// The folders of the selected folder entries of an archive that gives the
/// component no file to extract (and so nothing to visit), made as unzip makes
/// them, with the component's checks: none whose stored path climbs out of the
/// destination, none through a symbolic link below it. Their "creating" lines
/// follow at the run's end.
void MakeFolderEntries(TKestrelUnZip& unzip, const std::vector<bool>& selected);

/// The verb that says how an entry of a method is decoded: "extracting" for a
/// stored one, "inflating" for a deflated one, ...
std::string_view MethodVerb(std::uint16_t method);

/// The entry lines of one run over one archive.
class TEntryLines {
 public:
  /// selected: which entries of the component's list the run takes (folder
  /// entries among them get their lines here).
  TEntryLines(const TToolCommand& command, TKestrelUnZip& unzip, TRunReport& report, std::vector<bool> selected);

  /// Before the extraction: the targets of the links, for their lines, read while
  /// no run holds the archive.
  void ReadLinkTargets();
  /// Before the first entry (the component's OnStartUnZipInfo): the folders of the
  /// first folder entries are looked at.
  void Begin();
  /// Before any event of entry index: the entries before it are done.
  void Reach(std::int32_t index);
  /// The component starts on an entry that it does not skip: fName is where it goes.
  void Started(std::int32_t index, const std::string& fName);
  /// The first bytes of the started entry reach standard output (-c).
  void BeforeData();
  /// An entry checked out (OnEndUnZip).
  void Done(std::int32_t index, const std::string& fName);
  /// An entry failed its CRC or its decoder saw damage (-t prints the verdict).
  void Failed(std::int32_t index, std::uint32_t computed, std::uint32_t stored, bool damaged);
  /// An entry was skipped after it started: it gets no line.
  void Dropped(std::int32_t index);
  /// After the last entry: what is left of the folder entries.
  void End();

 private:
  /// Lines are printed for this run at all.
  bool Printing() const { return command_.Quiet == 0 && command_.Action != TToolAction::Pipe; }
  void Print(const std::string& line);
  /// The name of a file or folder made, as unzip shows it: below the -d folder as
  /// given.
  std::string Shown(const std::string& fName) const;
  /// Closes the entry at hand: the line of a link made later, the blank line
  /// after the bytes of -c.
  void Close();
  void FolderLines(std::int32_t from, std::int32_t to);
  /// Looks at the destinations of the folder entries that follow index, before
  /// the component reaches them.
  void LookAhead(std::int32_t index);
  std::string FolderDestination(const TZipHeaderInfo& entry) const;

  const TToolCommand& command_;
  TKestrelUnZip& unzip_;
  TRunReport& report_;
  std::vector<bool> selected_;
  /// The entries before this one are done.
  std::int32_t next_ = 0;
  /// The entry at hand, and what it has printed.
  std::int32_t current_ = -1;
  bool headerPending_ = false, headerPrinted_ = false, failed_ = false;
  std::string currentName_;
  /// Folder entries whose folder stood before the component reached them.
  std::set<std::int32_t> folderStood_;
  /// Link targets, read before the run.
  std::map<std::int32_t, std::string> linkTargets_;
  bool linksFinishing_ = false;
};

/// Where -t, -p and -c send the entries' bytes: nowhere, so that only the CRC is
/// left (-t), or to standard output as they are (-p; -c after each entry's line,
/// which lines prints before an entry's first bytes).
class TEntrySink final : public TStream {
 public:
  TEntrySink(bool toStandardOutput, TEntryLines* lines) : toStandardOutput_(toStandardOutput), lines_(lines) {}
  std::int32_t Read(void*, std::int32_t) override { return 0; }
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  // The component counts each entry's bytes itself and never asks the sink for
  // a position.
  std::int64_t Seek(std::int64_t, std::int16_t) override { return 0; }

 private:
  bool toStandardOutput_;
  TEntryLines* lines_;
};

}  // namespace kestrel::tool
