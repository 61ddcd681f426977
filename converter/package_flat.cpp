// The flat forms of packages (converter/flat_package.h) as the package step makes
// them: which parts go in, read from the package in one pass, and which of its
// files (the images) go into the output folder for the page.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "converter/binaries.h"
#include "converter/flat_package.h"
#include "converter/package_step.h"
#include "platform/code_page.h"

namespace corvane {
namespace {

// All the parts of one flat form together: a real document's text is a few
// megabytes even for a long book or a large workbook; a package that would make
// more is a zip bomb, and the page would be none a browser could show.
constexpr std::uint64_t FlatTextLimit = 512u << 20;
// The work folder's place for the flat form; the entries' folders are numbers.
constexpr const char* FlatFolder = "flat";
// The OpenDocument parts that the flat form merges, besides content.xml.
constexpr const char* OdfMimetype = "mimetype";
constexpr const char* OdfStyles = "styles.xml";
constexpr const char* OdfMeta = "meta.xml";
constexpr const char* OdfSettings = "settings.xml";
// Where an EPUB book names its package document.
constexpr const char* EpubContainer = "META-INF/container.xml";
// The file types that pictures of an OpenDocument package come in.
constexpr std::array<std::string_view, 15> PictureExtensions = {".png",  ".jpg",  ".jpeg", ".gif", ".bmp",
                                                                ".svg",  ".svgz", ".webp", ".tif", ".tiff",
                                                                ".avif", ".wmf",  ".emf",  ".svm", ".ico"};

// A part name as a path inside the output folder, or nothing when a step of it
// could name something other than a file there ("..", a drive, an empty step; on
// Windows a device such as "CON.png", or a name it cannot create).
std::optional<std::string> OutputPathOf(std::string_view part) {
  std::string path;
  std::size_t start = 0;
  while (start <= part.size()) {
    std::size_t end = part.find('/', start);
    if (end == std::string_view::npos) end = part.size();
    const std::string_view step = part.substr(start, end - start);
    if (!PayloadIdIsSafe(step)) return std::nullopt;
    if (!path.empty()) path += '/';
    path.append(step);
    start = end + 1;
  }
  return path;
}

// Where a file of the package goes in the output folder: at its own path, or
// below the flat form's folder.
std::string FileName(TPackageStep& step, const std::string& outputPath, bool flat) {
  return flat ? FilesFolderName(step.InputFileName()) + "/" + outputPath : outputPath;
}

// The parts left out of a flat form, for the user.
void Warn(TPackageStep& step, const std::vector<TFlatProblem>& skipped) {
  for (const TFlatProblem& problem : skipped) {
    step.Run().Warnings.push_back(step.Input() + ": the part " + problem.Part +
                                  " is left out of the page: " + problem.Reason);
  }
}

// The text of a part that must be there, or nothing (the reason set).
std::optional<std::string> ReadRequiredPart(TPackageStep& step, const TPackageDirectory& package, std::string_view name,
                                            const std::string& missing) {
  const TPackageEntry* entry = package.Find(name);
  if (entry == nullptr) {
    step.Fail(step.Input() + ": " + missing);
    return std::nullopt;
  }
  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> problems;
  if (!step.ReadParts({entry}, texts, problems)) return std::nullopt;
  if (!texts[0]) step.Fail(step.Input() + ": the part " + entry->Name + " " + problems[0]);
  return texts[0];
}

}  // namespace

std::string FilesFolderName(const std::string& inputFileName) {
  return SplitFileName(inputFileName, platform::HostPathRules()).Name + "_files";
}

bool TPackageStep::ReadParts(const std::vector<const TPackageEntry*>& parts,
                             std::vector<std::optional<std::string>>& texts, std::vector<std::string>& problems) {
  texts.assign(parts.size(), std::nullopt);
  problems.assign(parts.size(), std::string());
  std::uint64_t total = 0;
  std::vector<TWantedEntry> entries;
  entries.reserve(parts.size());
  std::vector<std::pair<TWantedEntry*, std::string>> wanted;
  for (const TPackageEntry* part : parts) {
    total += part->Size;
    entries.emplace_back(part->Index, part->StoredPath);
  }
  if (total > FlatTextLimit) {
    Fail(Input() + ": its parts hold " + std::to_string(total >> 20) +
         " MiB of text, more than a page can show; the package is damaged (or a zip bomb)");
    return false;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i]->Size <= PartTextLimit) wanted.emplace_back(&entries[i], "part.xml");
  }
  if (!Unpack(wanted, false)) return false;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    TFileText text;
    if (parts[i]->Size > PartTextLimit) {
      problems[i] = "is too large for what it holds; the package is damaged";
    } else if (entries[i].State != TEntryState::Done) {
      problems[i] = EntryProblem(entries[i], run_.WorkFolderPath);
    } else if (!LoadFileText(entries[i].Target, text)) {
      problems[i] = "cannot be read back from the work folder " + run_.WorkFolderPath + ": " +
                    platform::SystemErrorText(platform::LastSystemError());
    } else {
      texts[i].emplace(text.View());
    }
  }
  return true;
}

bool TPackageStep::TakeFiles(const std::vector<std::pair<const TPackageEntry*, std::string>>& files) {
  std::vector<TWantedEntry> entries;
  entries.reserve(files.size());
  std::vector<std::string> names;
  std::vector<std::pair<TWantedEntry*, std::string>> wanted;
  for (const auto& [entry, name] : files) {
    const std::optional<std::string> path = OutputPathOf(name);
    if (!path) continue;
    entries.emplace_back(entry->Index, entry->StoredPath);
    names.push_back(*path);
  }
  for (TWantedEntry& entry : entries) wanted.emplace_back(&entry, "file");
  if (!Unpack(wanted, false)) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A file that did not come out is missing from the page, as a payload that
    // cannot be written is.
    if (entries[i].State == TEntryState::Done) run_.PackageFiles.push_back({entries[i].Target, names[i]});
  }
  return true;
}

TPackageOutcome TPackageStep::FoundFlat(std::string_view flatText) {
  const auto& rules = platform::HostPathRules();
  const std::string folder = run_.WorkFolderPath + FlatFolder;
  const std::string path = folder + rules.Separator + InputFileName();
  if (!platform::MakeFolder(folder) && !FolderExists(folder)) {
    return Fail(Input() + ": its flat form cannot be written into the work folder " + run_.WorkFolderPath + ": " +
                platform::SystemErrorText(platform::LastSystemError()));
  }
  if (!SaveFileText(path, flatText)) {
    return Fail(Input() + ": its flat form cannot be written to " + path + ": " +
                platform::SystemErrorText(platform::LastSystemError()));
  }
  run_.DocumentPath = path;
  run_.PartName.clear();
  return TPackageOutcome::PartFound;
}

std::string TPackageStep::FilesBase()
    const {  // The characters a URL path may hold as they are; "%" and ":" (which would
  // make the folder's name a scheme) never.
  return PercentEscaped(AnsiToUtf8(FilesFolderName(InputFileName())), "-._~!$&'()*+,;=@") + "/";
}

TPackageOutcome MakeFlatOdf(TPackageStep& step, const TPackageDirectory& package) {
  TFileText content;
  if (!LoadFileText(step.Run().DocumentPath, content)) {
    return step.Fail(step.Input() + ": its content.xml cannot be read back from the work folder: " +
                     platform::SystemErrorText(platform::LastSystemError()));
  }
  TOdfParts parts;
  parts.Content.assign(content.View());
  const std::array<std::pair<const char*, std::string*>, 4> optional = {{{OdfMimetype, &parts.Mimetype},
                                                                         {OdfStyles, &parts.Styles},
                                                                         {OdfMeta, &parts.Meta},
                                                                         {OdfSettings, &parts.Settings}}};
  std::vector<const TPackageEntry*> entries;
  std::vector<std::string*> targets;
  for (const auto& [name, target] : optional) {
    if (const TPackageEntry* entry = package.Find(name)) {
      entries.push_back(entry);
      targets.push_back(target);
    }
  }
  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> problems;
  if (!step.ReadParts(entries, texts, problems)) return TPackageOutcome::Failed;
  std::vector<TFlatProblem> skipped;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (texts[i]) {
      *targets[i] = std::move(*texts[i]);
    } else {
      skipped.push_back({entries[i]->Name, "it " + problems[i]});
    }
  }
  TFlatProblem failure;
  const std::optional<std::string> flat = BuildFlatOdf(parts, step.FilesBase(), skipped, failure);
  if (!flat) return step.Fail(step.Input() + ": the part content.xml cannot be read: " + failure.Reason);
  Warn(step, skipped);
  return step.FoundFlat(*flat);
}

bool TakeOdfPictures(TPackageStep& step, const TPackageDirectory& package, bool flat) {
  std::vector<std::pair<const TPackageEntry*, std::string>> files;
  for (const TPackageEntry& entry : package.Entries) {
    const std::string lower = PartNameKey(entry.Name);
    // The package's own preview is no picture of the document.
    if (lower.starts_with("thumbnails/") || lower.starts_with("meta-inf/")) continue;
    const bool picture = std::any_of(PictureExtensions.begin(), PictureExtensions.end(),
                                     [&](std::string_view extension) { return lower.ends_with(extension); });
    if (picture) files.emplace_back(&entry, FileName(step, entry.Name, flat));
  }
  return files.empty() || step.TakeFiles(files);
}

TPackageOutcome UnpackFlatOpc(TPackageStep& step, const TPackageDirectory& package, const TContentTypes& types) {
  // Every XML part, the relationships among them; the content types become the
  // parts' own attributes.
  std::vector<const TPackageEntry*> entries;
  for (const TPackageEntry& entry : package.Entries) {
    if (SamePartName(entry.Name, ContentTypesPart) || package.Find(entry.Name) != &entry) continue;
    const std::string type = PartNameKey(types.Of(entry.Name));
    const bool xml = type.ends_with("+xml") || type.ends_with("/xml") || EndsWithNoCase(entry.Name, ".rels");
    if (xml) entries.push_back(&entry);
  }
  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> problems;
  if (!step.ReadParts(entries, texts, problems)) return TPackageOutcome::Failed;
  std::vector<TFlatPart> parts;
  std::vector<TFlatProblem> skipped;
  std::vector<std::pair<const TPackageEntry*, std::string>> images;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i]->Name;
    if (!texts[i]) {
      skipped.push_back({name, "it " + problems[i]});
      continue;
    }
    if (step.Run().ExtractFlag && EndsWithNoCase(name, ".rels")) {
      // The images that the part's relationships name (the part of
      // "word/_rels/document.xml.rels" is "word/document.xml").
      std::vector<TRelationship> relationships;
      const std::size_t rels = name.rfind("_rels/");
      const std::string source = rels == std::string::npos
                                     ? std::string()
                                     : name.substr(0, rels) + name.substr(rels + 6, name.size() - rels - 11);
      if (!ReadRelationships(*texts[i], relationships)) {
        for (const TRelationship& relationship : relationships) {
          if (relationship.External || !IsRelationship(relationship, "image")) continue;
          const std::optional<std::string> image = ResolvePartName(source, relationship.Target);
          const TPackageEntry* entry = image ? package.Find(*image) : nullptr;
          if (entry != nullptr) images.emplace_back(entry, FileName(step, entry->Name, true));
        }
      }
    }
    parts.push_back({name, types.Of(name), std::move(*texts[i])});
  }
  std::sort(images.begin(), images.end());
  images.erase(std::unique(images.begin(), images.end()), images.end());
  const std::string flat = BuildFlatOpc(parts, step.FilesBase(), skipped);
  Warn(step, skipped);
  if (!step.TakeFiles(images)) return TPackageOutcome::Failed;
  return step.FoundFlat(flat);
}

TPackageOutcome UnpackEpub(TPackageStep& step, const TPackageDirectory& package) {
  const std::optional<std::string> container =
      ReadRequiredPart(step, package, EpubContainer, std::string("the EPUB book has no ") + EpubContainer);
  if (!container) return TPackageOutcome::Failed;
  const std::optional<std::string> rootfile = ReadEpubRootfile(*container);
  if (!rootfile) {
    return step.Fail(step.Input() + ": " + EpubContainer + " names no package document (no rootfile full-path)");
  }
  const std::optional<std::string> opf =
      ReadRequiredPart(step, package, *rootfile,
                       EpubContainer + std::string(" names ") + *rootfile + ", which is missing from the book");
  if (!opf) return TPackageOutcome::Failed;
  TEpubBook book;
  if (const auto fault = ReadEpubPackage(*opf, *rootfile, book)) {
    return step.Fail(XmlFailure(step.Input(), *rootfile, *fault));
  }
  // Each document's media type from the manifest, looked up: a spine may be long.
  std::unordered_map<std::string, std::string> mediaTypeOf;
  for (const TEpubItem& item : book.Manifest) mediaTypeOf.emplace(PartNameKey(item.Part), item.MediaType);
  std::vector<const TPackageEntry*> entries;
  std::vector<std::string> mediaTypes;
  std::vector<std::string> missing;
  for (const std::string& part : book.Spine) {
    const TPackageEntry* entry = package.Find(part);
    if (entry == nullptr) {
      missing.push_back(part);
      continue;
    }
    entries.push_back(entry);
    const auto type = mediaTypeOf.find(PartNameKey(part));
    mediaTypes.push_back(type != mediaTypeOf.end() ? type->second : std::string());
  }
  // One line, however many: a damaged book may name thousands.
  if (!missing.empty()) {
    step.Run().Warnings.push_back(
        step.Input() + ": the book's reading order names " +
        (missing.size() == 1 ? missing.front()
                             : std::to_string(missing.size()) + " documents (" + missing.front() + " the first)") +
        (missing.size() == 1 ? ", which is missing" : " that are missing") + " from the book");
  }
  if (entries.empty()) return step.Fail(step.Input() + ": the book's reading order (its spine) names no document");
  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> problems;
  if (!step.ReadParts(entries, texts, problems)) return TPackageOutcome::Failed;
  std::vector<TFlatPart> parts{{EpubContainer, "application/xml", *container},
                               {*rootfile, "application/oebps-package+xml", *opf}};
  std::vector<TFlatProblem> skipped;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (texts[i]) {
      parts.push_back({entries[i]->Name, mediaTypes[i], std::move(*texts[i])});
    } else {
      skipped.push_back({entries[i]->Name, "it " + problems[i]});
    }
  }
  const std::string flat = BuildFlatOpc(parts, step.FilesBase(), skipped);
  if (skipped.size() == entries.size()) {
    return step.Fail(step.Input() + ": none of the book's documents can be read (" + skipped.front().Part + ": " +
                     skipped.front().Reason + "); a book with DRM is encrypted");
  }
  Warn(step, skipped);
  if (step.Run().ExtractFlag) {
    std::vector<std::pair<const TPackageEntry*, std::string>> images;
    for (const TEpubItem& item : book.Manifest) {
      if (!PartNameKey(item.MediaType).starts_with("image/")) continue;
      if (const TPackageEntry* entry = package.Find(item.Part)) {
        images.emplace_back(entry, FileName(step, entry->Name, true));
      }
    }
    if (!step.TakeFiles(images)) return TPackageOutcome::Failed;
  }
  return step.FoundFlat(flat);
}

}  // namespace corvane
