// The decoding frame: byte supply, output path, AES authentication, stored copy.

#include "unzip/decode/decode_state.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "unzip/decode/crc32.h"

namespace kestrel {
namespace {

// round(part * 100 / whole) with ties to even, at most 100; 0 for an empty whole.
// Exact integer arithmetic gives what extended floating point gives for these
// magnitudes.
std::int32_t Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0 || part <= 0) return 0;
  if (part >= whole) return 100;
  const std::int64_t scaled = part * 100;
  std::int64_t q = scaled / whole;
  const std::int64_t r2 = (scaled % whole) * 2;
  if (r2 > whole || (r2 == whole && (q & 1) != 0)) ++q;
  return static_cast<std::int32_t>(std::min<std::int64_t>(q, 100));
}

}  // namespace

void TDecodeHost::ProcessMessages() { platform::ProcessHostMessages(); }

std::uint64_t TDecodeHost::HistoryLimit() { return LibraryHistoryLimit; }

std::int64_t TDecodeHost::AddBytesDone(std::int32_t count) { return bytesDone_ += count; }

void TDecodeHost::ShowError(const std::string& text, const std::string& caption) {
  platform::ShowMessageBox(caption, text, platform::TMessageButtons::Ok);
}

TDecodeState::TDecodeState(TDecodeHost& host)
    : Host(host), InputBuffer(InputBufferSize), OutputBuffer(OutputBufferSize), Window(WindowSize) {
  InputPtr = InputBuffer.data();
  OutputPtr = OutputBuffer.data();
}

TDecodeState::~TDecodeState() = default;

bool TDecodeState::BeginEntry(const TDecodeEntry& entry, TStream& output) {
  Entry = entry;
  OutputStream = &output;
  CompressedSize = entry.CompressedSize;
  // Sizes come from the records, which refuse any beyond 2^62: they fit.
  CompressedLeft = static_cast<std::int64_t>(entry.CompressedSize);
  EntrySize = static_cast<std::int64_t>(entry.UncompressedSize);
  CodeBitCount = 0;
  CodeBits = 0;
  InputExhausted = 0;
  EntryBytesWritten = 0;
  InputCount = 0;
  OutputCount = 0;
  MissedBytes = 0;
  InputPtr = InputBuffer.data();
  OutputPtr = OutputBuffer.data();
  CrcRegister = 0xFFFFFFFFu;
  FailureDetail.clear();
  return std::exchange(aesKeyed_, false);
}

TDecodeResult TDecodeState::RunDecoder(TDecodeResult (*decoder)(TDecodeState&)) {
  try {
    return decoder(*this);
  } catch (const EBiggerThanUncompressed&) {
    return drTooLarge;
  } catch (const std::bad_alloc&) {
    // A decoder's store or a library's context that could not be had fails the
    // entry; the run goes on.
    ReportOutOfMemory();
    return drOutOfMemory;
  }
}

TDecodeResult TDecodeState::Authenticate(TDecodeResult result) {
  // The code covers all the encrypted data, also what follows where the decoder
  // stopped (the bytes it did not ask for, or all of them after a failure).
  while (CompressedSize > 0) {
    PumpAndCheckCancel();
    const std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(CompressedSize, DecodeChunk));
    CompressedSize -= static_cast<std::uint64_t>(n);
    ReadArchive(InputBuffer.data(), n);
    aes_.Authenticate(InputBuffer.data(), static_cast<std::size_t>(n));
  }
  InputCount = 0;
  std::uint8_t code[AesCodeSize];
  ReadArchive(code, AesCodeSize);
  if (aes_.CodeMatches(code)) return result;
  // Whatever the decoder saw, the data is not what was encrypted: a library's
  // reason about it would mislead.
  FailureDetail.clear();
  return drAuthenticationFailed;
}

TDecodeState::TEncryptionHeader TDecodeState::ReadEncryptionHeaderBytes(TStream& archive, bool aesEncrypted,
                                                                        const TAesExtra& aes,
                                                                        std::uint64_t& compressedSize) {
  TEncryptionHeader header;
  if (!aesEncrypted) {
    archive.Read(header.Bytes, EncryptionHeaderSize);
    compressedSize -= EncryptionHeaderSize;
  } else if (compressedSize < aes.Overhead()) {
    header.TooShort = true;
  } else {
    archive.Read(header.Bytes, static_cast<std::int32_t>(aes.SaltSize() + AesVerifierSize));
    compressedSize -= aes.Overhead();
  }
  return header;
}

std::uint8_t TDecodeState::StartKeys(std::string_view password, const TEncryptionHeader& header) {
  std::uint8_t bytes[EncryptionHeaderSize];
  std::memcpy(bytes, header.Bytes, EncryptionHeaderSize);
  Keys.InitKeys(password);
  Keys.DecryptBuffer(bytes, EncryptionHeaderSize);
  return bytes[EncryptionHeaderSize - 1];
}

bool TDecodeState::StartAes(std::string_view password, const TAesExtra& aes, const TEncryptionHeader& header) {
  aesKeyed_ = false;
  if (header.TooShort) return true;
  aesKeyed_ = aes_.Start(password, aes, header.Bytes, header.Bytes + aes.SaltSize());
  return aesKeyed_;
}

bool TDecodeState::ReadAesHeader(std::string_view password, TStream& archive, const TAesExtra& aes,
                                 std::uint64_t& compressedSize) {
  return StartAes(password, aes, ReadEncryptionHeaderBytes(archive, true, aes, compressedSize));
}

std::uint8_t TDecodeState::ReadEncryptionHeader(std::string_view password, TStream& archive,
                                                std::uint64_t& compressedSize) {
  return StartKeys(password, ReadEncryptionHeaderBytes(archive, false, TAesExtra{}, compressedSize));
}

void TDecodeState::PumpAndCheckCancel() {
  if (Host.DoProcessMessages()) {
    Host.ProcessMessages();
    if (Host.TakeCancelRequest()) throw EUserCanceled("User Aborted Operation");
  }
}

// Reads n bytes of the entry's data, going on in the next volumes of a set.
void TDecodeState::ReadArchive(std::uint8_t* buffer, std::int32_t n) {
  std::int32_t got = std::max<std::int32_t>(Host.ArchiveStream().Read(buffer, n), 0);
  if (got >= n) return;
  if (!Host.CanContinueOnNextVolume()) throw EFatalUnzipError("Premature end of file reached");
  while (got < n) {
    if (!Host.ContinueOnNextVolume()) throw EUserCanceled("User Aborted Operation");
    const std::int32_t more = Host.ArchiveStream().Read(buffer + got, n - got);
    // A volume that adds nothing would have us ask for volumes without end.
    if (more <= 0) throw EFatalUnzipError("Premature end of file reached");
    got += more;
  }
}

bool TDecodeState::RefillInput() {
  PumpAndCheckCancel();
  const std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(CompressedSize, DecodeChunk));
  CompressedSize -= static_cast<std::uint64_t>(n);
  ReadArchive(InputBuffer.data(), n);
  InputCount = static_cast<std::uint32_t>(n);
  if (Entry.Encrypted() && n > 0) DecryptChunk(InputBuffer.data(), n, true);
  if (InputCount == 0) return false;
  InputPtr = InputBuffer.data();
  return true;
}

std::span<const std::uint8_t> TDecodeState::TakeInput() {
  if (InputCount == 0 && (CompressedLeft <= 0 || !RefillInput())) return {};
  const std::span<const std::uint8_t> piece(InputPtr, InputCount);
  CompressedLeft -= InputCount;
  InputPtr += InputCount;
  InputCount = 0;
  return piece;
}

void TDecodeState::RefillCodeBits() {
  InputExhausted = -1;
  std::uint16_t byte = 0;
  while (CodeBitCount < 25 && ReadCompressedByte(byte) != 0) {
    CodeBits |= static_cast<std::uint32_t>(byte) << CodeBitCount;
    CodeBitCount = static_cast<std::uint16_t>(CodeBitCount + 8);
    InputExhausted = 0;
  }
}

void TDecodeState::FlushWindow(const std::uint8_t* from, std::uint32_t n) {
  // A whole window into an empty output buffer goes straight out: same bytes, same
  // chunk, one copy less.
  if (n == DecodeChunk && OutputCount == 0) {
    WriteChunk(from, DecodeChunk);
    return;
  }
  while (n > 0) {
    const std::uint32_t take = std::min<std::uint32_t>(n, DecodeChunk - OutputCount);
    std::memcpy(OutputPtr, from, take);
    OutputPtr += take;
    OutputCount += take;
    from += take;
    n -= take;
    if (OutputCount == DecodeChunk) FlushOutput();
  }
}

void TDecodeState::FlushOutput() {
  if (OutputCount == 0) return;
  const std::int32_t count = static_cast<std::int32_t>(OutputCount);
  WriteChunk(OutputBuffer.data(), count);
  OutputCount = 0;
  OutputPtr = OutputBuffer.data();
}

void TDecodeState::WriteChunk(const std::uint8_t* data, std::int32_t count) {
  // The guard counts what this entry wrote itself: the output need not know a
  // position, nor start at 0 (a caller's stream takes one entry after another).
  if (EntryBytesWritten + count > static_cast<std::int64_t>(Entry.UncompressedSize))
    throw EBiggerThanUncompressed("File is larger than uncompressed size!");
  if (OutputStream->Write(data, count) < count)
    throw ECantWriteUCF("Cant write uncompressed file", platform::LastSystemError());
  UpdateCrc(data, static_cast<std::size_t>(count));
  ReportWritten(count);
}

void TDecodeState::ReportWritten(std::int32_t count) {
  EntryBytesWritten += count;
  if (Host.HasFilePercentDone()) Host.FilePercentDone(Percent(EntryBytesWritten, Entry.UncompressedSize));
  if (Host.HasTotalPercentDone()) {
    const std::int64_t done = Host.AddBytesDone(count);
    Host.TotalPercentDone(Percent(done, Host.TotalBytes()));
  }
}

TDecodeResult TDecodeState::TakeDecoded(const TDecodeEntry& entry, std::string_view bytes,
                                        std::span<const std::int32_t> pieces, std::uint32_t crc, TStream& output) {
  Entry = entry;
  OutputStream = &output;
  EntryBytesWritten = 0;
  FailureDetail.clear();
  aesKeyed_ = false;
  // Whole, in one call: the output's window passes so many bytes straight on.
  const auto size = static_cast<std::int32_t>(bytes.size());
  if (size > 0 && output.Write(bytes.data(), size) < size)
    throw ECantWriteUCF("Cant write uncompressed file", platform::LastSystemError());
  for (const std::int32_t count : pieces) {
    PumpAndCheckCancel();
    ReportWritten(count);
  }
  CrcRegister = ~crc;
  return drDecoded;
}

void TDecodeState::CopyStored() {
  // Chunks go from the archive straight into the output buffer.
  OutputCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(CompressedSize, DecodeChunk));
  while (CompressedSize > 0) {
    PumpAndCheckCancel();
    const std::int32_t n = static_cast<std::int32_t>(std::min<std::uint64_t>(CompressedSize, DecodeChunk));
    CompressedSize -= static_cast<std::uint64_t>(n);
    ReadArchive(OutputBuffer.data(), n);
    if (Entry.Encrypted()) DecryptChunk(OutputBuffer.data(), n, false);
    FlushOutput();
    OutputCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(CompressedSize, DecodeChunk));
  }
}

void TDecodeState::DecryptChunk(std::uint8_t* data, std::int32_t n, bool hostCipher) {
  // OnDecrypt stands in for the traditional cipher only.
  if (Entry.AesEncrypted())
    aes_.Decrypt(data, static_cast<std::size_t>(n));
  else if (!hostCipher || !Host.DecryptInput(data, n))
    Keys.DecryptBuffer(data, static_cast<std::size_t>(n));
}

void TDecodeState::UpdateCrc(const std::uint8_t* buffer, std::size_t length) {
  CrcRegister = kestrel::UpdateCrc(CrcRegister, buffer, length);
}

void TDecodeState::ReportOutOfMemory() { Host.ShowError("*** inflate out of memory ***", "Error"); }

void TDecodeState::ReportUnknownMethod() { Host.ShowError("Unknown Compression Method", "Zip Error"); }

}  // namespace kestrel
