#pragma once
// The exceptions of the zip component. Each derives straight from the project's
// base exception and carries its message text; there is no common zip base class,
// so a caller names exactly the failures it handles. The decoding frame's own
// (EFatalUnzipError, EUserCanceled, EBiggerThanUncompressed, ECantWriteUCF) come
// from decode_errors.h and belong to the same vocabulary.

#include <string>
#include <utility>

#include "unzip/decode/decode_errors.h"
#include "unzip/decode/stream.h"

namespace kestrel {

/// The input has no end-of-central-directory record and IncompleteZipMode is
/// izAssumeNotAZip: "Not a valid zip file!". Cause says what was found, for a
/// caller that tells its user more than the message.
class ENotAZipFile : public Exception {
 public:
  explicit ENotAZipFile(const std::string& message, std::string cause = {}, bool recordFound = false)
      : Exception(message), Cause(std::move(cause)), RecordFound(recordFound) {}
  std::string Cause;
  /// An end record was there, but no archive can have it: a damaged archive
  /// rather than another kind of file.
  bool RecordFound;
};

/// The directory could not be read, not even rebuilt from the local headers:
/// "Not a valid zip file!". Cause says what was found.
class EBadZipFile : public Exception {
 public:
  explicit EBadZipFile(const std::string& message, std::string cause = {})
      : Exception(message), Cause(std::move(cause)) {}
  std::string Cause;
};

/// No end record and IncompleteZipMode is izAssumeMulti: "Incomplete Zip File".
class EIncompleteZip : public Exception {
 public:
  using Exception::Exception;
};

/// A list index, capacity or count out of bounds, a rejected duplicate, or a
/// Put on a sorted list.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

/// A date or time with no calendar form: "Invalid argument to date encode",
/// "Invalid argument to time encode".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kestrel
