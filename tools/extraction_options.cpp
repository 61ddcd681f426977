#include "tools/extraction_options.h"

#include <optional>

#include "platform/file_system.h"
#include "unzip/dos_date_time.h"

namespace kestrel::tool {

void ApplyExtractionOptions(TKestrelUnZip& unzip, const TToolCommand& command) {
  unzip.SetTextMode(static_cast<TTextMode>(command.Text));
  unzip.SetNameCase(static_cast<TNameCase>(command.LowerCase));
  unzip.SetTimeRestore(static_cast<TTimeRestore>(command.SkipTimes));
  // unzip gives every file and folder the bits its entry stores, exactly; a
  // read-only file it was allowed to replace gives way like any other.
  unzip.SetExactModes(true);
  unzip.SetReplaceReadOnly(true);
  unzip.SetKeepSpecialBits(command.KeepSpecialBits);
  unzip.SetRestoreOwners(command.RestoreOwners);
}

void ReportRefusedOwners(TKestrelUnZip& unzip, TRunReport& report) {
  unzip.OnOwnerNotSet = [&report](TKestrelUnZip& sender, std::int32_t index, const std::string&,
                                  const platform::TFileOwner& owner) {
    const TZipHeaderInfo& entry = *sender.ZipInfo()->Items(index);
    report.SayEntry(entry, "warning: cannot set its owner (UID " + std::to_string(owner.User) + ", GID " +
                               std::to_string(owner.Group) +
                               "): " + platform::SystemErrorText(platform::LastSystemError()));
    if (entry.FileName().empty()) report.Raise(ExitWarning);
  };
}

std::string_view TextMark(const TZipHeaderInfo& entry, const TToolCommand& command) {
  if (command.Text != 1) return {};
  if (entry.UncompressedSize == 0) return "[empty]";
  return TKestrelUnZip::ConvertsAsText(entry, tmMarkedText) ? "[text]" : "[binary]";
}

int StampArchiveTime(TKestrelUnZip& unzip, const std::vector<bool>& selected, const std::string& archive,
                     const TToolCommand& command, TRunReport& report) {
  const TSortedZip* entries = unzip.ZipInfo();
  std::optional<platform::TFileTime> newest;
  for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) {
    const TZipHeaderInfo& entry = *entries->Items(i);
    if (!selected[static_cast<std::size_t>(i)] || entry.FileName().empty()) continue;
    const std::optional<platform::TFileTime> time =
        entry.ModifiedTime ? entry.ModifiedTime : DosDateTimeToUtc(RepairDosDateTime(entry.DateTime));
    if (time && (!newest || time->Seconds > newest->Seconds ||
                 (time->Seconds == newest->Seconds && time->Nanoseconds > newest->Nanoseconds)))
      newest = time;
  }
  if (!newest) return ExitNoMatch;
  if (archive == "-") {
    report.Say("warning: an archive read from standard input has no time to set");
    return ExitWarning;
  }
  if (!platform::SetFileLastWriteTime(archive, *newest)) {
    report.Say("warning: cannot set the time of the archive: " +
               platform::SystemErrorText(platform::LastSystemError()));
    return ExitWarning;
  }
  if (command.Quiet == 0)
    platform::WriteConsoleLine(platform::TConsoleStream::Output, "Updated time stamp for " + archive + ".");
  return ExitSuccess;
}

}  // namespace kestrel::tool
