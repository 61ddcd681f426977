#pragma once
// The package step's own workings, shared by the ways to a document of each kind
// of package (package.cpp) and by the flat forms (package_flat.cpp): the entries
// of a package as its directory lists them, and the step that unpacks them into
// the run's work folder.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "converter/file_utils.h"
#include "converter/ooxml.h"
#include "converter/package.h"
#include "converter/stylesheet.h"
#include "converter/xml_reader.h"
#include "platform/file_system.h"
#include "unzip/kestrel_unzip.h"

namespace corvane {

// The package's own XML parts that are read into memory (a manifest, the
// relationships, content types and workbook of an Office Open XML package) name
// each part in a line or two; one that would name millions is no real
// document's, and is not read.
constexpr std::uint32_t PartTextLimit = 64u << 20;
// Where an Office Open XML package names its main part.
constexpr std::string_view PackageRelationshipsPart = "_rels/.rels";

// What became of one entry the package step asked the component for.
enum class TEntryState { Pending, Done, BadCrc, Encrypted, NotWritten, UnknownMethod, Climbs, Overlaps, CutShort };

struct TWantedEntry {
  TWantedEntry(std::int32_t index, std::string storedPath) : Index(index), StoredPath(std::move(storedPath)) {}
  std::int32_t Index = -1;
  std::string StoredPath;  ///< as the component lists it, backslash separators
  std::string Target;      ///< where it is unpacked to
  TEntryState State = TEntryState::Pending;
  int Error = 0;      ///< the system's code when it could not be written
  std::string Other;  ///< what it overlaps, as users write it
};

// One entry of the package as the probe lists it.
struct TPackageEntry {
  std::int32_t Index = -1;
  std::string StoredPath;  ///< backslash separators, as the component lists it
  std::string Name;        ///< the part name, "/" between folders
  std::uint64_t Size = 0;  ///< uncompressed
};

// The kinds of package, each with its own way to the document.
enum class TPackageKind { None, TopLevelPart, OfficeOpenXml, Epub, Book };

// What one look at the package's directory found.
struct TPackageDirectory {
  TPackageKind Kind = TPackageKind::None;
  std::vector<TWantedEntry> Parts;   ///< main parts at the top level, the preferred one first
  std::optional<TWantedEntry> Book;  ///< the one book, when there are no main parts
  std::optional<TWantedEntry> Manifest;
  std::int32_t Books = 0;
  std::uint64_t ManifestSize = 0;
  std::string NestedPart;  ///< a main part in a folder, for the message
  bool WholePackageEncrypted = false;
  bool EpubContainer = false;          ///< META-INF/container.xml is there: an EPUB book
  std::vector<TPackageEntry> Entries;  ///< every file entry, for the parts a package names

  /// Lists a file entry, which a later one of the same name (in either spelling)
  /// takes the place of: it would have been unpacked over it.
  void Add(TPackageEntry entry) {
    Entries.push_back(std::move(entry));
    byName_[PartNameKey(Entries.back().Name)] = Entries.size() - 1;
  }
  /// The entry of a part name, as Add left it; looked up, since a flat form asks
  /// for every part.
  const TPackageEntry* Find(std::string_view part) const {
    const auto found = byName_.find(PartNameKey(part));
    return found != byName_.end() ? &Entries[found->second] : nullptr;
  }

 private:
  std::unordered_map<std::string, std::size_t> byName_;
};

/// True when the name ends with the suffix (lower case), whatever the name's case.
bool EndsWithNoCase(const std::string& name, std::string_view suffix);
/// A stored path as users write it, "/" between folders.
std::string ShownPath(const std::string& storedPath);
/// Why a wanted entry did not come out, as a phrase that follows its name ("failed
/// its CRC check: the package is damaged").
std::string EntryProblem(const TWantedEntry& entry, const std::string& workFolder);
/// One line for the user on why a wanted entry did not come out.
std::string EntryFailure(const std::string& input, const TWantedEntry& entry, const std::string& workFolder);
/// Unpacks the wanted entries, each to its own Target, and nothing else. Per-entry
/// outcomes go into the entries' states; a failure of the archive as a whole
/// leaves as the component's exception.
void UnpackEntries(kestrel::TKestrelUnZip& unzip, const std::string& workFolder, std::vector<TWantedEntry*> wanted);
/// The component's own words for a failure of the archive as a whole.
std::string ArchiveFailure(const std::string& input, std::exception_ptr failure);
/// Why a part is no well-formed XML, in one line for the user.
std::string XmlFailure(const std::string& input, const std::string& part, const TXmlFault& fault);

// The package step of one run: the component with the package's directory read,
// and the work folder, made when the first entry is to be unpacked.
class TPackageStep {
 public:
  TPackageStep(TConversionRun& run, kestrel::TKestrelUnZip& unzip) : run_(run), unzip_(unzip) {}

  TConversionRun& Run() { return run_; }
  /// The input as messages name it.
  const std::string& Input() const { return run_.InputName; }
  /// The input's own name, which the document is converted under.
  std::string InputFileName() const { return PathNamePart(run_.InputPath); }

  TPackageOutcome Fail(std::string reason) {
    run_.FailureReason = std::move(reason);
    return TPackageOutcome::Failed;
  }
  TPackageOutcome Fail(const TWantedEntry& entry) { return Fail(EntryFailure(Input(), entry, run_.WorkFolderPath)); }

  /// The document found: it is converted under the package's name.
  TPackageOutcome Found(const TWantedEntry& document) {
    run_.DocumentPath = document.Target;
    run_.PartName = ShownPath(document.StoredPath);
    return TPackageOutcome::PartFound;
  }

  /// Unpacks the entries, each into a folder of its own, numbered after it, under
  /// the name given. False (the reason set) when the work folder cannot be made or
  /// the unpacking breaks off; the entries' states tell the rest.
  /// With folderEach false, the entries go into the work folder itself as
  /// "NUMBER-NAME": for the names of our own, which no two entries share, and
  /// without a folder made (and removed) for each of thousands of parts.
  bool Unpack(const std::vector<std::pair<TWantedEntry*, std::string>>& entries, bool folderEach = true) {
    const auto& rules = platform::HostPathRules();
    if (!MakeWorkFolder(run_)) return false;
    std::vector<TWantedEntry*> wanted;
    for (const auto& [entry, name] : entries) {
      entry->Target = run_.WorkFolderPath + std::to_string(entry->Index) + (folderEach ? rules.Separator : '-') + name;
      wanted.push_back(entry);
    }
    try {
      UnpackEntries(unzip_, run_.WorkFolderPath, wanted);
    } catch (...) {
      // The unpacking broke off: the package's own bytes are no document.
      Fail(ArchiveFailure(Input(), std::current_exception()));
      return false;
    }
    return true;
  }

  /// Unpacks a small XML part of the package and reads it whole. False (the
  /// reason set) when it is too large, does not come out or cannot be read.
  bool ReadPart(const TPackageEntry& part, TFileText& text) {
    if (part.Size > PartTextLimit) {
      Fail(Input() + ": the part " + part.Name + " is too large for what it holds; the package is damaged");
      return false;
    }
    TWantedEntry entry(part.Index, part.StoredPath);
    // Only read back, never shown: a name of our own, so that no name from the
    // package (a device's, a stream's) decides what is opened for writing.
    if (!Unpack({{&entry, "part.xml"}})) return false;
    if (entry.State != TEntryState::Done) {
      Fail(entry);
      return false;
    }
    if (!LoadFileText(entry.Target, text)) {
      Fail(Input() + ": the part " + part.Name + " cannot be read back from the work folder " + run_.WorkFolderPath +
           ": " + platform::SystemErrorText(platform::LastSystemError()));
      return false;
    }
    return true;
  }

  /// Unpacks the parts in one pass and reads each whole into texts (in the same
  /// order). For a part that did not come out, is too large or cannot be read
  /// back, nothing, and in problems why, as a phrase that follows its name. False
  /// (the reason set) when the unpacking broke off, or the parts together are too
  /// large to hold.
  bool ReadParts(const std::vector<const TPackageEntry*>& parts, std::vector<std::optional<std::string>>& texts,
                 std::vector<std::string>& problems);

  /// Takes the entries as files for the output folder, each at its name there (a
  /// relative path, "/" between folders): unpacked now, written beside the copy
  /// with the payloads. A name that would leave the output folder is passed over.
  /// False (the reason set) when the unpacking broke off.
  bool TakeFiles(const std::vector<std::pair<const TPackageEntry*, std::string>>& files);

  /// The flat form made: it is the document, converted under the package's name.
  TPackageOutcome FoundFlat(std::string_view flatText);

  /// Where the images of the flat form go, as its xml:base names it: a URL
  /// relative to the copy, ending with "/".
  std::string FilesBase() const;

 private:
  TConversionRun& run_;
  kestrel::TKestrelUnZip& unzip_;
};

/// The flat OpenDocument of a package whose content.xml is the run's document
/// already: made of it and the package's other parts, it takes its place.
TPackageOutcome MakeFlatOdf(TPackageStep& step, const TPackageDirectory& package);
/// The pictures of an OpenDocument package, for the output folder: at their own
/// paths, or below the flat form's folder.
bool TakeOdfPictures(TPackageStep& step, const TPackageDirectory& package, bool flat);
/// The Flat OPC document of an Office Open XML package, and the images its parts'
/// relationships name.
TPackageOutcome UnpackFlatOpc(TPackageStep& step, const TPackageDirectory& package, const TContentTypes& types);
/// The flat form of an EPUB book, and its images.
TPackageOutcome UnpackEpub(TPackageStep& step, const TPackageDirectory& package);

}  // namespace corvane
