#include "converter/package.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "converter/binaries.h"
#include "converter/file_utils.h"
#include "converter/manifest.h"
#include "converter/ooxml.h"
#include "converter/package_step.h"
#include "converter/stylesheet.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "unzip/decode/methods.h"
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

bool SameName(const std::string& a, const std::string& b, const platform::TPathRules& rules) {
  return rules.CaseInsensitive ? platform::AnsiCompareText(a, b) == 0 : a == b;
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

TPackageDirectory ProbePackage(kestrel::TKestrelUnZip& unzip, const platform::TPathRules& rules) {
  TPackageDirectory package;
  // Of two entries of one name (in two spellings, where names ignore case) the
  // later counts: it would have been unpacked over the earlier.
  std::array<std::int32_t, MainParts.size()> latest;
  latest.fill(-1);
  bool officeOpenXml = false;
  const kestrel::TSortedZip* list = unzip.ZipInfo();
  const std::int32_t count = list != nullptr ? list->Count() : 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const kestrel::TZipHeaderInfo& entry = *list->Items(i);
    const std::string& name = entry.FileName();
    if (name.empty()) continue;  // a folder
    package.Add({i, entry.StoredPath(), ShownPath(entry.StoredPath()), entry.UncompressedSize});
    const bool top = AtTopLevel(entry.Directory());
    for (std::size_t rank = 0; rank < MainParts.size(); ++rank) {
      if (!SameName(name, MainParts[rank], rules)) continue;
      if (top) {
        latest[rank] = i;
      } else if (package.NestedPart.empty()) {
        package.NestedPart = ShownPath(entry.StoredPath());
      }
    }
    if (top && SameName(name, EncryptedPackagePart, rules)) package.WholePackageEncrypted = true;
    if (EndsWithNoCase(name, BookExtension)) {
      ++package.Books;
      package.Book.emplace(i, entry.StoredPath());
    }
    if (SameName(entry.StoredPath(), ManifestPath, rules)) {
      package.Manifest.emplace(i, entry.StoredPath());
      package.ManifestSize = entry.UncompressedSize;
    }
    const std::string& shown = package.Entries.back().Name;
    if (SamePartName(shown, PackageRelationshipsPart) || SamePartName(shown, ContentTypesPart)) officeOpenXml = true;
    if (SamePartName(shown, "META-INF/container.xml")) package.EpubContainer = true;
  }
  // The last one found wins: sheet1.xml over document.xml over content.xml.
  for (std::size_t rank = MainParts.size(); rank-- > 0;) {
    if (latest[rank] >= 0) package.Parts.emplace_back(latest[rank], list->Items(latest[rank])->StoredPath());
  }
  if (!package.Parts.empty() || package.Books != 1) package.Book.reset();
  if (!package.Parts.empty()) {
    package.Kind = TPackageKind::TopLevelPart;
  } else if (officeOpenXml) {
    package.Kind = TPackageKind::OfficeOpenXml;
  } else if (package.EpubContainer) {
    package.Kind = TPackageKind::Epub;
  } else if (package.Book) {
    package.Kind = TPackageKind::Book;
  }
  return package;
}

// A file that starts with a local header is a zip archive, whole or not: no XML
// document can start so.
bool StartsWithLocalHeader(const std::string& path) {
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  char head[4] = {};
  return file.IsOpen() && file.Read(head, sizeof head) == static_cast<std::int64_t>(sizeof head) &&
         std::string_view(head, sizeof head) == "PK\x03\x04";
}

// Reads the package's directory. A package cut off before its end record (a
// download that stopped early) is read from its local headers, so that a whole
// main part still comes out; anything else without an end record is no package.
void LoadPackageDirectory(kestrel::TKestrelUnZip& unzip, const std::string& path) {
  try {
    unzip.SetZipName(path);
    unzip.LoadZipDirectory();
  } catch (const kestrel::ENotAZipFile& notZip) {
    if (notZip.RecordFound || !StartsWithLocalHeader(path)) throw;
    unzip.SetIncompleteZipMode(kestrel::izAssumeBad);
    unzip.SetZipName(path);
    unzip.LoadZipDirectory();
  }
}

// An empty file passes for an archive without entries: it has no room for an end
// record that could say otherwise.
bool IsEmptyFile(const std::string& path) {
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  return file.IsOpen() && file.Size() == 0;
}

// A part that the office suite encrypted looks like any other entry to the zip
// layer; its ciphertext is no document. Only an OpenDocument manifest tells. False
// (the reason set) when the document must not be converted.
bool PassesManifest(TPackageStep& step, TPackageDirectory& package, const TWantedEntry& document) {
  if (!package.Manifest) return true;
  if (package.ManifestSize > PartTextLimit) {
    step.Fail(step.Input() + ": the part " + ShownPath(ManifestPath) +
              " is too large for a manifest; the package is damaged");
    return false;
  }
  if (package.Manifest->State != TEntryState::Done) {
    step.Fail(*package.Manifest);
    return false;
  }
  TFileText manifest;
  if (LoadFileText(package.Manifest->Target, manifest) &&
      ManifestMarksEncrypted(manifest.View(), ShownPath(document.StoredPath),
                             platform::HostPathRules().CaseInsensitive)) {
    step.Fail(step.Input() + ": the part " + ShownPath(document.StoredPath) +
              " is encrypted by the office suite (the document has a password); save it without one to convert it");
    return false;
  }
  return true;
}

// The document and, when there is one, the manifest, in one unpacking.
bool UnpackWithManifest(TPackageStep& step, TPackageDirectory& package,
                        std::vector<std::pair<TWantedEntry*, std::string>> entries) {
  if (package.Manifest && package.ManifestSize <= PartTextLimit)
    entries.emplace_back(&*package.Manifest, "manifest.xml");
  return step.Unpack(entries);
}

// content.xml, document.xml or sheet1.xml at the top level: the first of them that
// comes out, in the order of preference.
TPackageOutcome UnpackTopLevelPart(TPackageStep& step, TPackageDirectory& package) {
  const std::string packageName = step.InputFileName();
  std::vector<std::pair<TWantedEntry*, std::string>> entries;
  for (TWantedEntry& part : package.Parts) entries.emplace_back(&part, packageName);
  if (!UnpackWithManifest(step, package, entries)) return TPackageOutcome::Failed;
  // The preferred part that came out; the reason of the first one when none did.
  const TWantedEntry* document = &package.Parts.front();
  for (const TWantedEntry& part : package.Parts) {
    if (part.State == TEntryState::Done) {
      document = &part;
      break;
    }
  }
  if (document->State != TEntryState::Done) return step.Fail(*document);
  if (!PassesManifest(step, package, *document)) return TPackageOutcome::Failed;
  const TPackageOutcome found = step.Found(*document);
  // An OpenDocument package: its pictures, and with Flat its whole.
  if (!SameName(PathNamePart(document->StoredPath), MainParts[0], platform::HostPathRules())) return found;
  const bool flat = step.Run().Flat;
  if (step.Run().ExtractFlag && !TakeOdfPictures(step, package, flat)) return TPackageOutcome::Failed;
  return flat ? MakeFlatOdf(step, package) : found;
}

// The one FictionBook book of a zipped book, named after the package (book.fb2.zip
// gives book.fb2.XML).
TPackageOutcome UnpackBook(TPackageStep& step, TPackageDirectory& package) {
  TWantedEntry& book = *package.Book;
  if (!UnpackWithManifest(step, package, {{&book, step.InputFileName()}})) return TPackageOutcome::Failed;
  if (book.State != TEntryState::Done) return step.Fail(book);
  if (!PassesManifest(step, package, book)) return TPackageOutcome::Failed;
  return step.Found(book);
}

// The way through an Office Open XML package's relationships to its document.
class TOfficeOpenXml {
 public:
  TOfficeOpenXml(TPackageStep& step, const TPackageDirectory& package) : step_(step), package_(package) {}

  TPackageOutcome Unpack() {
    std::vector<TRelationship> relationships;
    if (!ReadRelationshipsOf("", relationships, true)) return TPackageOutcome::Failed;
    const auto office = std::find_if(relationships.begin(), relationships.end(),
                                     [](const TRelationship& r) { return IsRelationship(r, "officeDocument"); });
    if (office == relationships.end()) {
      return step_.Fail(step_.Input() + ": " + std::string(PackageRelationshipsPart) +
                        " names no main part (it has no officeDocument relationship)");
    }
    const TPackageEntry* main = Follow("", *office, "the main part");
    if (main == nullptr) return TPackageOutcome::Failed;

    const TPackageEntry* types = package_.Find(ContentTypesPart);
    if (types == nullptr) {
      return step_.Fail(step_.Input() + ": the Office Open XML package has no " + std::string(ContentTypesPart) +
                        ", which gives the type of its main part " + main->Name);
    }
    TFileText typesText;
    if (!step_.ReadPart(*types, typesText)) return TPackageOutcome::Failed;
    TContentTypes contentTypes;
    if (const auto fault = ReadContentTypes(typesText.View(), contentTypes)) {
      return step_.Fail(XmlFailure(step_.Input(), types->Name, *fault));
    }
    const std::string type = platform::AnsiLowerCase(contentTypes.Of(main->Name));
    if (type.empty()) {
      return step_.Fail(step_.Input() + ": " + std::string(ContentTypesPart) +
                        " gives no content type for the main part " + main->Name);
    }
    // "...+xml" names an XML part; a binary workbook (.xlsb) is none.
    const bool xml = type.ends_with("+xml") || type == "application/xml" || type == "text/xml";
    if (!xml) {
      return step_.Fail(step_.Input() + ": the main part " + main->Name + " is not XML (its content type is " +
                        contentTypes.Of(main->Name) + ")");
    }
    // The whole package, which the template finds its way through itself.
    if (step_.Run().Flat) return UnpackFlatOpc(step_, package_, contentTypes);
    const TPackageEntry* document = main;
    // A workbook is a list of its sheets; its first sheet is what a reader sees.
    if (type.find("spreadsheetml") != std::string::npos || type.find("ms-excel") != std::string::npos) {
      document = FirstSheet(*main);
      if (document == nullptr) return TPackageOutcome::Failed;
    }
    return UnpackDocument(*document);
  }

 private:
  // Reads the relationships of a part (of the package for an empty name). A part
  // without a relationships part has none, unless they are required.
  bool ReadRelationshipsOf(const std::string& part, std::vector<TRelationship>& relationships, bool required,
                           const TPackageEntry** found = nullptr) {
    relationships.clear();
    const std::string name = RelationshipsPartOf(part);
    const TPackageEntry* entry = package_.Find(name);
    if (found != nullptr) *found = entry;
    if (entry == nullptr) {
      if (!required) return true;
      step_.Fail(step_.Input() + ": the Office Open XML package has no " + name + ", which names " +
                 (part.empty() ? std::string("its main part") : "the sheets of " + part));
      return false;
    }
    TFileText text;
    if (!step_.ReadPart(*entry, text)) return false;
    if (const auto fault = ReadRelationships(text.View(), relationships)) {
      step_.Fail(XmlFailure(step_.Input(), entry->Name, *fault));
      return false;
    }
    return true;
  }

  // The part a relationship of the source part leads to: inside the package,
  // present, and none met on the way to it (nor a part of the package's own
  // bookkeeping). Nothing (the reason set) otherwise.
  const TPackageEntry* Follow(const std::string& source, const TRelationship& relationship, const std::string& role) {
    const std::string from = RelationshipsPartOf(source);
    const std::optional<std::string> part =
        relationship.External ? std::nullopt : ResolvePartName(source, relationship.Target);
    if (!part) {
      step_.Fail(step_.Input() + ": " + from + " puts " + role + " outside the package (" + relationship.Target + ")");
      return nullptr;
    }
    const bool bookkeeping = SamePartName(*part, ContentTypesPart) || EndsWithNoCase(*part, ".rels");
    const bool met = SamePartName(*part, source) || std::any_of(visited_.begin(), visited_.end(),
                                                                [&](const auto& p) { return SamePartName(p, *part); });
    if (bookkeeping || met) {
      step_.Fail(step_.Input() + ": the relationships of the package run in a loop: " + from + " names " + *part +
                 " as " + role);
      return nullptr;
    }
    const TPackageEntry* entry = package_.Find(*part);
    if (entry == nullptr) {
      step_.Fail(step_.Input() + ": " + from + " names " + *part + " as " + role +
                 ", which is missing from the package");
      return nullptr;
    }
    visited_.push_back(*part);
    return entry;
  }

  const TPackageEntry* FirstSheet(const TPackageEntry& workbook) {
    std::vector<TRelationship> relationships;
    if (!ReadRelationshipsOf(workbook.Name, relationships, true)) return nullptr;
    TFileText text;
    if (!step_.ReadPart(workbook, text)) return nullptr;
    std::string id;
    if (const auto fault = ReadFirstSheetId(text.View(), id)) {
      step_.Fail(XmlFailure(step_.Input(), workbook.Name, *fault));
      return nullptr;
    }
    if (id.empty()) {
      step_.Fail(step_.Input() + ": the workbook " + workbook.Name + " names no sheet");
      return nullptr;
    }
    const auto sheet =
        std::find_if(relationships.begin(), relationships.end(), [&](const TRelationship& r) { return r.Id == id; });
    if (sheet == relationships.end()) {
      step_.Fail(step_.Input() + ": the first sheet of the workbook " + workbook.Name + " (" + id +
                 ") has no relationship in " + RelationshipsPartOf(workbook.Name));
      return nullptr;
    }
    return Follow(workbook.Name, *sheet, "the first sheet");
  }

  // The document under the package's name; with the payloads asked for, also its
  // images and the relationships that name them, each under its own name.
  TPackageOutcome UnpackDocument(const TPackageEntry& part) {
    TWantedEntry document(part.Index, part.StoredPath);
    std::vector<std::pair<TWantedEntry*, std::string>> entries{{&document, step_.InputFileName()}};
    std::vector<TWantedEntry> files;
    std::vector<std::string> names;
    if (step_.Run().ExtractFlag) {
      std::vector<TRelationship> relationships;
      const TPackageEntry* relationshipsPart = nullptr;
      if (!ReadRelationshipsOf(part.Name, relationships, false, &relationshipsPart)) return TPackageOutcome::Failed;
      // A file whose name would leave the output folder is passed over, as a
      // payload is.
      auto take = [&](const TPackageEntry& entry) {
        const std::string name = PathNamePart(entry.Name, platform::PosixPathRules);
        if (!PayloadIdIsSafe(name)) return;
        files.emplace_back(entry.Index, entry.StoredPath);
        names.push_back(name);
      };
      for (const TRelationship& relationship : relationships) {
        if (relationship.External || !IsRelationship(relationship, "image")) continue;
        // An image outside the package, or missing from it, is passed over too.
        const std::optional<std::string> image = ResolvePartName(part.Name, relationship.Target);
        if (const TPackageEntry* entry = image ? package_.Find(*image) : nullptr) take(*entry);
      }
      if (!files.empty()) take(*relationshipsPart);
    }
    for (std::size_t i = 0; i < files.size(); ++i) entries.emplace_back(&files[i], names[i]);
    if (!step_.Unpack(entries)) return TPackageOutcome::Failed;
    if (document.State != TEntryState::Done) return step_.Fail(document);
    for (const TWantedEntry& file : files) {
      if (file.State == TEntryState::Done) {
        step_.Run().PackageFiles.push_back({file.Target, PathNamePart(file.Target)});
      }
    }
    return step_.Found(document);
  }

  TPackageStep& step_;
  const TPackageDirectory& package_;
  std::vector<std::string> visited_;
};

// Why a zip archive gave no document at all.
std::string NoDocumentReason(const std::string& input, const TPackageDirectory& package) {
  if (package.WholePackageEncrypted) {
    return input +
           ": the package is encrypted by the office suite (the document has a password); save it without one to "
           "convert it";
  }
  if (package.Books > 1) {
    return input + ": the zip package holds " + std::to_string(package.Books) +
           " FictionBook books (.fb2); only a package of one book can be converted";
  }
  if (!package.NestedPart.empty()) {
    return input + ": the main part of the zip package lies in a folder (" + package.NestedPart +
           "), and the package has no " + std::string(PackageRelationshipsPart) + " that names it";
  }
  return input +
         ": the zip package holds none of content.xml, document.xml and sheet1.xml at its top level, no "
         "Office Open XML main part, no EPUB book and no FictionBook book (.fb2)";
}

}  // namespace

bool EndsWithNoCase(const std::string& name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  return platform::AnsiLowerCase(name.substr(name.size() - suffix.size())) == suffix;
}

// A stored path as users write it, "/" between folders.
std::string ShownPath(const std::string& storedPath) {
  std::string shown = storedPath;
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

std::string EntryProblem(const TWantedEntry& entry, const std::string& workFolder) {
  switch (entry.State) {
    case TEntryState::BadCrc:
      return "failed its CRC check: the package is damaged";
    case TEntryState::Encrypted:
      return "is encrypted (zip encryption), and corvane reads no passwords";
    case TEntryState::NotWritten:
      return "could not be unpacked into the work folder " + workFolder +
             (entry.Error != 0 ? ": " + platform::SystemErrorText(entry.Error) : std::string());
    case TEntryState::UnknownMethod:
      return "is compressed with a method that corvane cannot unpack";
    case TEntryState::Climbs:
      return "has a name that leads out of the package (\"..\"), and is not unpacked";
    case TEntryState::Overlaps:
      return "overlaps " + entry.Other + ": the package is damaged (or a zip bomb)";
    case TEntryState::CutShort:
      return "is cut short: the package ends inside it";
    default:
      return "did not come out of the package";
  }
}

std::string EntryFailure(const std::string& input, const TWantedEntry& entry, const std::string& workFolder) {
  return input + ": the part " + ShownPath(entry.StoredPath) + " " + EntryProblem(entry, workFolder);
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
    } else if (!kestrel::MethodDecoded(info.DataMethod())) {
      // Without a decoder the component would only show a notice and fail the CRC.
      entry->State = TEntryState::UnknownMethod;
    } else {
      return false;
    }
    return true;
  });
  if (wanted.empty()) return;
  // Every event asks for its entry: looked up, as a flat form wants thousands.
  std::unordered_map<std::int32_t, TWantedEntry*> byIndex;
  for (TWantedEntry* entry : wanted) byIndex.emplace(entry->Index, entry);
  auto find = [&](std::int32_t index) -> TWantedEntry* {
    const auto found = byIndex.find(index);
    return found != byIndex.end() ? found->second : nullptr;
  };
  unzip.SetRecreateDirs(false);
  // The package's files become files of the user's (images beside the copy), made
  // as every file corvane writes: not with the modes the entries were zipped with
  // (0600 is common), which would hide the images from a web server.
  unzip.SetRetainAttributes(false);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
  std::string destination = workFolder;
  destination.pop_back();  // the component wants the folder without its separator
  unzip.SetDestDir(destination);
  unzip.FilesList().clear();
  for (const TWantedEntry* entry : wanted) unzip.FilesList().push_back(SelectionPattern(entry->StoredPath));
  // Ctrl-C stops the unpacking before the next entry, and inside a large one at
  // its next chunk (the component deletes the partial file); the run takes back
  // the work folder.
  unzip.OnFilePercentDone = [](kestrel::TKestrelUnZip& sender, std::int32_t) {
    if (platform::InterruptRequested()) sender.CancelRequested = true;
  };
  unzip.OnStartUnZip = [&](kestrel::TKestrelUnZip& sender, std::int32_t index, std::string& fName, bool& skip) {
    if (platform::InterruptRequested()) throw kestrel::EUserCanceled("User Aborted Operation");
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
    } else if (reason == kestrel::skOverlaps) {
      const kestrel::TZipHeaderInfo* other = unzip.EntryDamage(index).Other;
      entry->State = TEntryState::Overlaps;
      entry->Other = other != nullptr ? ShownPath(other->StoredPath()) : "the central directory";
    } else if (reason == kestrel::skCutShort) {
      entry->State = TEntryState::CutShort;
    } else {
      entry->State = TEntryState::NotWritten;
      entry->Error = platform::LastSystemError();
    }
  };
  unzip.UnZip();
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

std::string XmlFailure(const std::string& input, const std::string& part, const TXmlFault& fault) {
  return input + ": the part " + part + " is not well-formed XML" +
         (fault.Line > 0 ? " (line " + std::to_string(fault.Line) + ": " : " (") + fault.Message + ")";
}

bool MakeWorkFolder(TConversionRun& run) {
  if (!run.WorkFolderPath.empty()) return true;
  // A fresh folder of this run's own: concurrent runs never meet, and nothing an
  // earlier run left behind takes part.
  run.WorkFolderPath = platform::MakePrivateFolder(platform::TempFolder(), "corvane-");
  if (!run.WorkFolderPath.empty()) return true;
  const int error = platform::LastSystemError();
  run.FailureReason = run.InputName + ": no work folder can be made in " + platform::TempFolder() +
                      (error != 0 ? ": " + platform::SystemErrorText(error) : std::string());
  return false;
}

bool TakeStandardInput(TConversionRun& run) {
  run.InputName = "standard input";
  if (!MakeWorkFolder(run)) return false;
  const std::string path = run.WorkFolderPath + StandardInputFileName;
  platform::TFile input = platform::TFile::StandardInput();
  platform::TFile kept;
  if (input.IsOpen()) {
    kept = platform::TFile::Open(path, platform::TFileAccess::Write, platform::TFileShare::None,
                                 platform::TFileCreation::CreateAlways);
  }
  auto fail = [&](const std::string& what) {
    const int error = platform::LastSystemError();
    run.FailureReason = run.InputName + ": " + what + (error != 0 ? ": " + platform::SystemErrorText(error) : "");
    return false;
  };
  if (!input.IsOpen()) return fail("it cannot be opened");
  if (!kept.IsOpen()) return fail("it cannot be kept in " + path);
  std::vector<std::uint8_t> buffer(1 << 20);
  for (;;) {
    const std::int64_t got = input.Read(buffer.data(), buffer.size());
    if (got < 0) return fail("it cannot be read");
    if (got == 0) break;
    if (kept.Write(buffer.data(), static_cast<std::size_t>(got)) != got) return fail("it cannot be kept in " + path);
  }
  if (!kept.Close()) return fail("it cannot be kept in " + path);
  run.InputPath = path;
  return true;
}

TPackageOutcome ExtractPackage(TConversionRun& run) {
  run.DocumentPath = run.InputPath;
  run.PartName.clear();
  run.FailureReason.clear();
  run.PackageFiles.clear();
  // A pipe, a FIFO or a device has no directory at its end to look at, and what
  // was read from it would be lost to the copy: it is the document itself.
  if (platform::QueryFileKind(run.InputPath) == platform::TFileKind::Other) return TPackageOutcome::NotAPackage;

  kestrel::TKestrelUnZip unzip;
  TPackageDirectory package;
  try {
    unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
    unzip.SetDoProcessMessages(true);
    LoadPackageDirectory(unzip, run.InputPath);
    package = ProbePackage(unzip, platform::HostPathRules());
  } catch (const kestrel::ENotAZipFile&) {
    // A plain document, or a file that the copy step finds to be no XML (an office
    // compound file, a PDF, an image).
    return TPackageOutcome::NotAPackage;
  } catch (const kestrel::EFOpenError&) {
    return TPackageOutcome::NotAPackage;  // the copy step reports what is wrong with it
  } catch (...) {
    // A zip archive whose directory cannot be read: its own bytes are no document.
    run.FailureReason = ArchiveFailure(run.InputName, std::current_exception());
    return TPackageOutcome::Failed;
  }

  TPackageStep step(run, unzip);
  switch (package.Kind) {
    case TPackageKind::TopLevelPart:
      return UnpackTopLevelPart(step, package);
    case TPackageKind::OfficeOpenXml:
      return TOfficeOpenXml(step, package).Unpack();
    case TPackageKind::Epub:
      return UnpackEpub(step, package);
    case TPackageKind::Book:
      return UnpackBook(step, package);
    case TPackageKind::None:
      break;
  }
  if (unzip.EntryCount() == 0 && IsEmptyFile(run.InputPath)) {
    return TPackageOutcome::NotAPackage;  // no archive, only a document without markup
  }
  return step.Fail(NoDocumentReason(run.InputName, package));
}

}  // namespace corvane
