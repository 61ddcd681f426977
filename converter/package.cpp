#include "converter/package.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "converter/file_utils.h"
#include "converter/manifest.h"
#include "converter/stylesheet.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "unzip/dest_paths.h"
#include "unzip/kestrel_unzip.h"

namespace corvane {
namespace {

// The main XML parts of the office formats, probed in this order at the top level
// of the package; the last one found wins.
constexpr std::array<const char*, 3> MainParts = {"content.xml", "document.xml", "sheet1.xml"};
// A FictionBook book, zipped as NAME.fb2.zip or NAME.fbz.
constexpr std::string_view BookExtension = ".fb2";
// Where an OpenDocument package encrypted as a whole keeps everything it holds.
constexpr const char* EncryptedPackagePart = "encrypted-package";
// Where an OpenDocument package says which of its parts are encrypted.
constexpr const char* ManifestPath = "META-INF\\manifest.xml";
// A manifest names every part in a line or two; one of millions of parts is no
// real document's, and is not read.
constexpr std::uint32_t ManifestLimit = 64u << 20;

// What became of one entry the package step asked the component for.
enum class TEntryState { Pending, Done, BadCrc, Encrypted, NotWritten, UnknownMethod, Climbs };

struct TWantedEntry {
  TWantedEntry(std::int32_t index, std::string storedPath) : Index(index), StoredPath(std::move(storedPath)) {}
  std::int32_t Index = -1;
  std::string StoredPath;  ///< as the component lists it, backslash separators
  std::string Target;      ///< where it is unpacked to
  TEntryState State = TEntryState::Pending;
  int Error = 0;  ///< the system's code when it could not be written
};

bool SameName(const std::string& a, const std::string& b, const platform::TPathRules& rules) {
  return rules.CaseInsensitive ? platform::AnsiCompareText(a, b) == 0 : a == b;
}

bool EndsWithNoCase(const std::string& name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  return platform::AnsiLowerCase(name.substr(name.size() - suffix.size())) == suffix;
}

// Whether a stored folder part puts an entry at the top level of the package, as
// the component places it: a stored drive, roots and "." steps lead nowhere.
bool AtTopLevel(const std::string& folder) {
  std::string_view rest = folder;
  if (rest.size() >= 2 && rest[1] == ':') rest.remove_prefix(2);
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find('\\', start);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view step = rest.substr(start, end - start);
    if (!step.empty() && step != ".") return false;
    start = end + 1;
  }
  return true;
}

// A stored path as users write it, "/" between folders.
std::string ShownPath(const std::string& storedPath) {
  std::string shown = storedPath;
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

// A selection pattern that matches the stored path: the matcher's own characters
// stand for themselves through "?". The index check in OnStartUnZip makes the
// choice exact.
std::string SelectionPattern(const std::string& storedPath) {
  std::string pattern = storedPath;
  for (char& c : pattern) {
    if (c == '*' || c == '?' || c == '<' || c == '>') c = '?';
  }
  return pattern;
}

// The compression methods the component has decoders for: stored, shrunk, reduced
// (2 to 5), imploded and deflated.
bool HasDecoder(std::uint16_t method) { return method <= 6 || method == 8; }

// One line for the user on why a wanted entry did not come out.
std::string EntryFailure(const std::string& input, const TWantedEntry& entry, const std::string& workFolder) {
  const std::string part = input + ": the part " + ShownPath(entry.StoredPath);
  switch (entry.State) {
    case TEntryState::BadCrc:
      return part + " failed its CRC check: the package is damaged";
    case TEntryState::Encrypted:
      return part + " is encrypted (zip encryption), and corvane reads no passwords";
    case TEntryState::NotWritten:
      return part + " could not be unpacked into the work folder " + workFolder +
             (entry.Error != 0 ? ": " + platform::SystemErrorText(entry.Error) : std::string());
    case TEntryState::UnknownMethod:
      return part + " is compressed with a method that corvane cannot unpack";
    case TEntryState::Climbs:
      return part + " has a name that leads out of the package (\"..\"), and is not unpacked";
    default:
      return part + " did not come out of the package";
  }
}

// What the package's directory offers the conversion.
struct TPackagePlan {
  std::vector<TWantedEntry> Parts;   ///< main parts at the top level, the preferred one first
  std::optional<TWantedEntry> Book;  ///< the one book, when there are no main parts
  std::optional<TWantedEntry> Manifest;
  std::int32_t Books = 0;
  std::uint32_t ManifestSize = 0;
  std::string NestedPart;  ///< a main part in a folder, for the message
  bool WholePackageEncrypted = false;
};

TPackagePlan PlanPackage(kestrel::TKestrelUnZip& unzip, const platform::TPathRules& rules) {
  TPackagePlan plan;
  // Of two entries of one name (in two spellings, where names ignore case) the
  // later counts: it would have been unpacked over the earlier.
  std::array<std::int32_t, MainParts.size()> latest;
  latest.fill(-1);
  const kestrel::TSortedZip* list = unzip.ZipInfo();
  const std::int32_t count = list != nullptr ? list->Count() : 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const kestrel::TZipHeaderInfo& entry = *list->Items(i);
    const std::string& name = entry.FileName();
    if (name.empty()) continue;  // a folder
    const bool top = AtTopLevel(entry.Directory());
    for (std::size_t rank = 0; rank < MainParts.size(); ++rank) {
      if (!SameName(name, MainParts[rank], rules)) continue;
      if (top) {
        latest[rank] = i;
      } else if (plan.NestedPart.empty()) {
        plan.NestedPart = ShownPath(entry.StoredPath());
      }
    }
    if (top && SameName(name, EncryptedPackagePart, rules)) plan.WholePackageEncrypted = true;
    if (EndsWithNoCase(name, BookExtension)) {
      ++plan.Books;
      plan.Book.emplace(i, entry.StoredPath());
    }
    if (SameName(entry.StoredPath(), ManifestPath, rules)) {
      plan.Manifest.emplace(i, entry.StoredPath());
      plan.ManifestSize = entry.UncompressedSize;
    }
  }
  // The last one found wins: sheet1.xml over document.xml over content.xml.
  for (std::size_t rank = MainParts.size(); rank-- > 0;) {
    if (latest[rank] >= 0) plan.Parts.emplace_back(latest[rank], list->Items(latest[rank])->StoredPath());
  }
  if (!plan.Parts.empty() || plan.Books != 1) plan.Book.reset();
  return plan;
}

// Unpacks the wanted entries, each to its own Target, and nothing else. Per-entry
// outcomes go into the entries' states; a failure of the archive as a whole
// leaves as the component's exception.
void UnpackEntries(kestrel::TKestrelUnZip& unzip, const std::string& workFolder, std::vector<TWantedEntry*> wanted) {
  std::erase_if(wanted, [&](TWantedEntry* entry) {
    const kestrel::TZipHeaderInfo& info = *unzip.ZipInfo()->Items(entry->Index);
    if (kestrel::StoredPathClimbs(entry->StoredPath, platform::HostPathRules())) {
      // The component refuses such a name before anyone may place it elsewhere.
      entry->State = TEntryState::Climbs;
    } else if (!HasDecoder(info.CompressionMethod)) {
      // Without a decoder the component would only show a notice and fail the CRC.
      entry->State = TEntryState::UnknownMethod;
    } else {
      return false;
    }
    return true;
  });
  if (wanted.empty()) return;
  auto find = [&](std::int32_t index) -> TWantedEntry* {
    for (TWantedEntry* entry : wanted) {
      if (entry->Index == index) return entry;
    }
    return nullptr;
  };
  unzip.SetRecreateDirs(false);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
  std::string destination = workFolder;
  destination.pop_back();  // the component wants the folder without its separator
  unzip.SetDestDir(destination);
  unzip.FilesList().clear();
  for (const TWantedEntry* entry : wanted) unzip.FilesList().push_back(SelectionPattern(entry->StoredPath));
  unzip.OnStartUnZip = [&](kestrel::TKestrelUnZip& sender, std::int32_t index, std::string& fName, bool& skip) {
    TWantedEntry* entry = find(index);
    // The entry at the index must still be the one chosen from the listing.
    if (entry == nullptr || sender.ZipInfo()->Items(index)->StoredPath() != entry->StoredPath) {
      skip = true;
      return;
    }
    fName = entry->Target;
  };
  unzip.OnEndUnZip = [&](kestrel::TKestrelUnZip&, std::int32_t index, const std::string&) {
    if (TWantedEntry* entry = find(index)) entry->State = TEntryState::Done;
  };
  unzip.OnBadCRC = [&](kestrel::TKestrelUnZip&, std::uint32_t, std::uint32_t, std::int32_t index) {
    if (TWantedEntry* entry = find(index)) entry->State = TEntryState::BadCrc;
  };
  unzip.OnSkippingFile = [&](kestrel::TKestrelUnZip&, kestrel::TSkipReason reason, const std::string&,
                             std::int32_t index, bool&) {
    TWantedEntry* entry = find(index);
    if (entry == nullptr) return;
    if (reason == kestrel::skBadPassword) {
      entry->State = TEntryState::Encrypted;
    } else {
      entry->State = TEntryState::NotWritten;
      entry->Error = platform::LastSystemError();
    }
  };
  unzip.UnZip();
}

// A password-protected Office Open XML document is no zip package but a compound
// file that holds the encrypted package; so is an old binary .doc or .xls. Its
// signature can never begin an XML document, so nothing convertible is refused.
bool IsCompoundFile(const std::string& path) {
  static constexpr char Signature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  char head[sizeof Signature] = {};
  return file.IsOpen() && file.Read(head, sizeof head) == static_cast<std::int64_t>(sizeof head) &&
         std::equal(head, head + sizeof head, Signature);
}

// An empty file passes for an archive without entries: it has no room for an end
// record that could say otherwise.
bool IsEmptyFile(const std::string& path) {
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  return file.IsOpen() && file.Size() == 0;
}

// The component's own words for a failure of the archive as a whole.
std::string ArchiveFailure(const std::string& input, std::exception_ptr failure) {
  std::string message;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
  }
  return input + ": the zip package cannot be read" + (message.empty() ? std::string() : ": " + message);
}

}  // namespace

TPackageOutcome ExtractPackage(TConversionRun& run) {
  const auto& rules = platform::HostPathRules();
  run.DocumentPath = run.InputPath;
  run.PartName.clear();
  run.FailureReason.clear();
  // A pipe, a FIFO or a device has no directory at its end to look at, and what
  // was read from it would be lost to the copy: it is the document itself.
  if (platform::QueryFileKind(run.InputPath) == platform::TFileKind::Other) return TPackageOutcome::NotAPackage;

  kestrel::TKestrelUnZip unzip;
  TPackagePlan plan;
  try {
    unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
    unzip.SetDoProcessMessages(true);
    unzip.SetZipName(run.InputPath);
    unzip.LoadZipDirectory();
    plan = PlanPackage(unzip, rules);
  } catch (const kestrel::ENotAZipFile&) {
    if (IsCompoundFile(run.InputPath)) {
      run.FailureReason = run.InputPath +
                          ": the file is an office compound file (a password-protected .docx or .xlsx, or an old "
                          "binary .doc or .xls), not XML";
      return TPackageOutcome::Failed;
    }
    return TPackageOutcome::NotAPackage;  // a plain document
  } catch (const kestrel::EFOpenError&) {
    return TPackageOutcome::NotAPackage;  // the copy step reports what is wrong with it
  } catch (...) {
    // A zip archive whose directory cannot be read: its own bytes are no document.
    run.FailureReason = ArchiveFailure(run.InputPath, std::current_exception());
    return TPackageOutcome::Failed;
  }

  if (plan.Parts.empty() && !plan.Book) {
    if (unzip.EntryCount() == 0 && IsEmptyFile(run.InputPath)) {
      return TPackageOutcome::NotAPackage;  // no archive, only a document without markup
    }
    if (plan.WholePackageEncrypted) {
      run.FailureReason = run.InputPath +
                          ": the package is encrypted by the office suite (the document has a password); save it "
                          "without one to convert it";
    } else if (plan.Books > 1) {
      run.FailureReason = run.InputPath + ": the zip package holds " + std::to_string(plan.Books) +
                          " FictionBook books (.fb2); only a package of one book can be converted";
    } else if (!plan.NestedPart.empty()) {
      run.FailureReason = run.InputPath + ": the main part of the zip package lies in a folder (" + plan.NestedPart +
                          "); only content.xml, document.xml or sheet1.xml at the top level of a package is read";
    } else {
      run.FailureReason = run.InputPath +
                          ": the zip package holds none of content.xml, document.xml and sheet1.xml at its top "
                          "level, and no FictionBook book (.fb2)";
    }
    return TPackageOutcome::Failed;
  }

  // A fresh folder of this run's own: concurrent runs never meet, and nothing an
  // earlier run left behind takes part.
  run.WorkFolderPath = platform::MakePrivateFolder(platform::TempFolder(), "corvane-");
  if (run.WorkFolderPath.empty()) {
    const int error = platform::LastSystemError();
    run.FailureReason = run.InputPath + ": no work folder can be made in " + platform::TempFolder() +
                        (error != 0 ? ": " + platform::SystemErrorText(error) : std::string());
    return TPackageOutcome::Failed;
  }

  // Each entry goes into a folder of its own, numbered after it, under a name of
  // its own: the document part under the package's name, so that the copy is
  // named after the package (book.fb2.zip gives book.fb2.XML).
  const std::string packageName = PathNamePart(run.InputPath, rules);
  std::vector<TWantedEntry*> wanted;
  auto place = [&](TWantedEntry& entry, const std::string& name) {
    entry.Target = run.WorkFolderPath + std::to_string(entry.Index) + rules.Separator + name;
    wanted.push_back(&entry);
  };
  for (TWantedEntry& part : plan.Parts) place(part, packageName);
  if (plan.Book) place(*plan.Book, packageName);
  const bool readManifest = plan.Manifest && plan.ManifestSize <= ManifestLimit;
  if (readManifest) place(*plan.Manifest, "manifest.xml");

  try {
    UnpackEntries(unzip, run.WorkFolderPath, wanted);
  } catch (...) {
    // The unpacking broke off: its own bytes are no document.
    run.FailureReason = ArchiveFailure(run.InputPath, std::current_exception());
    return TPackageOutcome::Failed;
  }

  // The preferred part that came out; the reason of the first one when none did.
  const TWantedEntry* document = nullptr;
  if (plan.Book) {
    document = &*plan.Book;
  } else {
    document = &plan.Parts.front();
    for (const TWantedEntry& part : plan.Parts) {
      if (part.State == TEntryState::Done) {
        document = &part;
        break;
      }
    }
  }
  if (document->State != TEntryState::Done) {
    run.FailureReason = EntryFailure(run.InputPath, *document, run.WorkFolderPath);
    return TPackageOutcome::Failed;
  }

  // A part that the office suite encrypted looks like any other entry to the zip
  // layer; its ciphertext is no document. Only the manifest tells.
  if (plan.Manifest) {
    if (!readManifest) {
      run.FailureReason = run.InputPath + ": the part " + ShownPath(ManifestPath) +
                          " is too large for a manifest; the package is damaged";
      return TPackageOutcome::Failed;
    }
    if (plan.Manifest->State != TEntryState::Done) {
      run.FailureReason = EntryFailure(run.InputPath, *plan.Manifest, run.WorkFolderPath);
      return TPackageOutcome::Failed;
    }
    TFileText manifest;
    if (LoadFileText(plan.Manifest->Target, manifest) &&
        ManifestMarksEncrypted(manifest.View(), ShownPath(document->StoredPath), rules.CaseInsensitive)) {
      run.FailureReason = run.InputPath + ": the part " + ShownPath(document->StoredPath) +
                          " is encrypted by the office suite (the document has a password); save it without one "
                          "to convert it";
      return TPackageOutcome::Failed;
    }
  }

  run.DocumentPath = document->Target;
  run.PartName = ShownPath(document->StoredPath);
  return TPackageOutcome::PartFound;
}

}  // namespace corvane
