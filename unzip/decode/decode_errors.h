#pragma once
// The exceptions the decoding frame raises. The component lets them pass to its
// caller (apart from the output-size guard, which only fails the entry), so they
// belong to the component's public vocabulary; each derives straight from the
// project's base exception and carries its message text.

#include "unzip/decode/stream.h"

namespace kestrel {

/// The archive ended inside an entry's data: "Premature end of file reached".
class EFatalUnzipError : public Exception {
 public:
  using Exception::Exception;
};

/// The user cancelled, or a needed volume was not supplied: "User Aborted Operation".
class EUserCanceled : public Exception {
 public:
  using Exception::Exception;
};

/// An entry decoded to more bytes than its header declares:
/// "File is larger than uncompressed size!".
class EBiggerThanUncompressed : public Exception {
 public:
  using Exception::Exception;
};

/// The destination accepted fewer bytes than it was given: "Cant write uncompressed file".
/// Carries the system's error code of the failed write (0 when there was none),
/// so that a caller can say why: a full disk, a quota, a broken device.
class ECantWriteUCF : public Exception {
 public:
  explicit ECantWriteUCF(const std::string& message, int systemError = 0)
      : Exception(message), SystemError(systemError) {}
  int SystemError;
};

}  // namespace kestrel
