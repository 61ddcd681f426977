#pragma once
// What kestrel-unzip says of an archive kept in several files: the parts that
// are missing, cut short or do not fit, the parts a damaged entry runs across,
// and the volume that may be missing when numbered volumes end without their
// end record.

#include <string>

#include "tools/run_report.h"
#include "unzip/kestrel_unzip.h"

namespace kestrel::tool {

/// One warning line for each part of the archive's set that is missing, cut
/// short or does not fit ("warning: part 2 of 6, x.z02, is missing"); each
/// raises the status to ExitFormatError.
void SayFaultyParts(const TKestrelUnZip& unzip, TRunReport& report);

/// For an entry whose data failed: where its bytes run across more than one part
/// of a set, the words that name those parts ("; its bytes run across x.z01,
/// x.z02 and x.zip: one of them may not belong to this set"); else nothing.
std::string CrossedPartsText(const TKestrelUnZip& unzip, const TZipHeaderInfo& entry);

/// For an archive read without its end record, when its name or its last
/// volume is numbered (NAME.zip.001, ...): the next volume's name, which may be
/// missing; else nothing.
std::string NextVolumeName(const TKestrelUnZip& unzip, const std::string& archive);

/// When archive is named as a part of a split set other than its last
/// (NAME.z01, NAME.Z02, NAME.zx03) and that last part is beside it (NAME.zip,
/// NAME.zipx, in either case): the last part's name, which the set is read by;
/// else nothing.
std::string SplitSetLastPart(const std::string& archive);

}  // namespace kestrel::tool
