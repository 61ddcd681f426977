#pragma once
// unzip's options that shape what an extraction makes of each entry beyond its
// bytes' place (-a text, -L case of names, -X owners, -D times, -K special bits,
// and the permission bits unzip always restores), as the component's settings;
// the mark that -a puts on an entry's line; and -T, which extracts nothing and
// gives the archive the time of its newest file.

#include <string>
#include <string_view>
#include <vector>

#include "tools/run_report.h"
#include "tools/unzip_options.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {

/// Gives the component the settings of these options.
void ApplyExtractionOptions(TKestrelUnZip& unzip, const TToolCommand& command);

/// Says, through the report, each owner that -X could not give (OnOwnerNotSet): a
/// folder's makes the run's status a warning, as with unzip; a file's is said only.
void ReportRefusedOwners(TKestrelUnZip& unzip, TRunReport& report);

/// The mark after an entry's name on its line under -a: "[text]" for an entry
/// written as text, "[binary]" for another, "[empty]" for one without bytes; empty
/// without -a and under -aa,
/// which mark nothing.
std::string_view TextMark(const TZipHeaderInfo& entry, const TToolCommand& command);

/// -T: the archive's last-write time becomes that of its newest selected entry
/// that is no folder (its exact time, else its DOS time), and standard output
/// says so unless -q. Returns the status: no such entry 11; a time that cannot
/// be set (or an archive read from standard input) is a warning.
int StampArchiveTime(TKestrelUnZip& unzip, const std::vector<bool>& selected, const std::string& archive,
                     const TToolCommand& command, TRunReport& report);

}  // namespace kestrel::tool
