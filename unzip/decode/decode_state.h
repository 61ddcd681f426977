#pragma once
// The frame every archive entry is decoded in: the three buffers of one extraction
// run, the supply of compressed bytes from the archive (refill, volume
// continuation, decryption, cancellation), the bit readers, the output path
// (window flush, output buffer, size guard, write, CRC-32, progress), the
// authentication of WinZip AES data, and the stored copy (method 0). Which decoder
// runs in it is chosen above it (entry_decoding.h).
//
// The frame knows nothing of the component that drives it. What it needs from
// there (the archive stream, the next volume, the message pump and the cancel
// flag, the decryption event, the progress events and their byte counters, the
// message box) comes through TDecodeHost; what it needs of the entry comes as a
// TDecodeEntry.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "unzip/decode/decode_errors.h"
#include "unzip/decode/decode_result.h"
#include "unzip/decode/decrypt.h"
#include "unzip/decode/stream.h"
#include "unzip/decode/winzip_aes.h"
#include "unzip/decode/zip_format.h"

namespace kestrel {

/// The memory a stream decoded through a library may ask for its history
/// (dictionary, window): 2 GiB, what the largest settings of the tools need (xz -9
/// 65 MiB, 7-Zip's LZMA up to 1.5 GiB, zstd --ultra -22 --long=31 2 GiB). A stream
/// that asks for more is refused as drUnsupported before anything is allocated.
inline constexpr std::uint64_t LibraryHistoryLimit = std::uint64_t{1} << 31;

/// What the decoding frame asks of the component that drives it. Every hook but
/// ArchiveStream has a default that fits a host without that facility, so a test
/// or a simple caller overrides only what it has.
class TDecodeHost {
 public:
  virtual ~TDecodeHost() = default;

  /// The open archive, positioned at the entry's data: the frame reads on from
  /// there and never seeks it. After ContinueOnNextVolume it must return the new
  /// volume's stream.
  virtual TStream& ArchiveStream() = 0;

  /// True when a short read may go on in the next volume: the archive is a
  /// multi-volume set and a next-disk handler is assigned. Otherwise a short read
  /// is "Premature end of file reached".
  virtual bool CanContinueOnNextVolume() { return false; }
  /// Opens the next volume (the one after the current disk) and makes it the
  /// archive stream, positioned where the entry's data goes on. False when no
  /// volume was supplied; the frame then raises "User Aborted Operation".
  virtual bool ContinueOnNextVolume() { return false; }

  /// The DoProcessMessages setting: run the message pump before each 32 KiB
  /// refill and each stored chunk.
  virtual bool DoProcessMessages() { return false; }
  /// Runs the host's message pump once.
  virtual void ProcessMessages();
  /// True when a cancel was requested since the last call; clears the request.
  /// Asked right after ProcessMessages.
  virtual bool TakeCancelRequest() { return false; }

  /// The OnDecrypt event: when assigned, decrypts a refilled chunk of an encrypted
  /// entry's compressed input in place (with the component's password) and returns
  /// true; false leaves the chunk to the built-in cipher. Stored entries never
  /// come here.
  virtual bool DecryptInput(std::uint8_t* /*buffer*/, std::int32_t /*length*/) { return false; }

  /// Whether OnFilePercentDone is assigned, and the event itself.
  virtual bool HasFilePercentDone() { return false; }
  virtual void FilePercentDone(std::int32_t /*percent*/) {}
  /// Whether OnTotalPercentDone is assigned. Only then does the frame advance
  /// BtsDone (AddBytesDone, returning the new value), read TotalBytes and fire the
  /// event.
  virtual bool HasTotalPercentDone() { return false; }
  virtual std::int64_t AddBytesDone(std::int32_t count);
  virtual std::int64_t TotalBytes() { return 0; }
  virtual void TotalPercentDone(std::int32_t /*percent*/) {}

  /// The most memory a stream decoded through a library may ask for its history
  /// (dictionary, window); a stream that asks for more is refused. By default
  /// LibraryHistoryLimit (library_decoders.h), which every setting of the tools
  /// stays within; a host with less memory to give may lower it.
  virtual std::uint64_t HistoryLimit();

  /// Shows the modal message box (text, caption, an Ok button); the component keeps
  /// the text as the last error it showed.
  virtual void ShowError(const std::string& text, const std::string& caption);

 private:
  std::int64_t bytesDone_ = 0;
};

/// The fields of the entry being decoded: the driver's working copy of its
/// central header.
struct TDecodeEntry {
  /// General-purpose flags: bit 0 encrypted; bits 1 and 2 select the implode
  /// variant; bit 3 sizes and CRC follow the data.
  std::uint16_t Flags = 0;
  std::uint16_t CompressionMethod = 0;
  /// Bytes of the entry's data in the archive, less the 12 of the encryption
  /// header once the password check has read it.
  std::uint64_t CompressedSize = 0;
  std::uint64_t UncompressedSize = 0;
  /// Where its local header starts: for a reader of the archive of its own (a
  /// decode-ahead worker), which must find the data itself. The frame reads from
  /// wherever the archive stands.
  std::uint64_t LocalHeaderOffset = 0;
  /// The entry's 0x9901 block (from its central header).
  TAesExtra Aes;

  bool Encrypted() const { return (Flags & FlagEncrypted) != 0; }
  /// Encrypted with WinZip's AES rather than the traditional cipher.
  bool AesEncrypted() const { return IsAesEntry(Flags, CompressionMethod, Aes); }
  /// The method of the data once it is decrypted.
  std::uint16_t DataMethod() const { return AesEncrypted() ? Aes.Method : CompressionMethod; }
};

/// Size of one refill, one output chunk and the sliding window.
inline constexpr std::int32_t DecodeChunk = 32768;
/// The input and output buffers hold one chunk and a spare byte.
inline constexpr std::size_t InputBufferSize = 32769;
inline constexpr std::size_t OutputBufferSize = 32769;
/// The window: the 32 KiB dictionary of inflate and explode, the 16 KiB window
/// and follower table of unreduce, the code tables and stack of unshrink (whose
/// string stack ends at byte 32,777).
inline constexpr std::size_t WindowSize = 32780;

/// Masks of the low 0 to 16 bits.
inline constexpr std::uint16_t BitMask[17] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F, 0x00FF,
                                              0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

/// What a decoder keeps for the entries of one run beyond the shared buffers: its
/// tables, workspace or library context, made for the run's first entry that
/// needs it (see TDecodeState::Store).
class TDecoderStore {
 public:
  virtual ~TDecoderStore() = default;
};

/// The decoding buffers of one extraction run and the per-entry state all decoders
/// share. One object serves a whole run: the driver creates it before the first
/// entry and drops it after the last; the window is not cleared between entries.
class TDecodeState {
 public:
  explicit TDecodeState(TDecodeHost& host);
  ~TDecodeState();
  TDecodeState(const TDecodeState&) = delete;
  TDecodeState& operator=(const TDecodeState&) = delete;

  /// Starts one entry, to be written to output, which the driver has just
  /// created: the per-entry counters, the CRC and the reason of a failure start
  /// anew. The archive stands at the entry's data (past the encryption header of
  /// an encrypted entry, which the password check has read, leaving Keys at the
  /// data; past the salt and verifier of an AES entry, which ReadAesHeader has
  /// read). Returns whether ReadAesHeader keyed the AES cipher for this entry;
  /// keys serve the one entry they were derived for.
  bool BeginEntry(const TDecodeEntry& entry, TStream& output);
  /// Runs the entry's decoder; the size guard (drTooLarge) and a failed
  /// allocation (drOutOfMemory, after "*** inflate out of memory ***") end it as
  /// results, every other exception passes.
  TDecodeResult RunDecoder(TDecodeResult (*decoder)(TDecodeState&));
  /// After an AES entry's decoder: takes the data it left unread into the
  /// authentication code and compares the code stored after the data. Returns
  /// result when it matches, drAuthenticationFailed otherwise.
  TDecodeResult Authenticate(TDecodeResult result);
  /// Takes an entry that another state decoded completely into memory: writes its
  /// bytes to output, then fires the progress of each piece that decoding wrote
  /// (pieces: their sizes, in order), as it would have fired them, with the
  /// message pump and cancel test before each; afterwards Crc() is that
  /// decoding's. A failed write throws as the decoding's would.
  TDecodeResult TakeDecoded(const TDecodeEntry& entry, std::string_view bytes, std::span<const std::int32_t> pieces,
                            std::uint32_t crc, TStream& output);
  /// The CRC-32 of the bytes the last entry decoded so far.
  std::uint32_t Crc() const { return ~CrcRegister; }

  /// Reads the 12-byte encryption header at the archive's position, lowers
  /// compressedSize by 12, starts Keys from the password and returns the last
  /// decrypted header byte, to be compared with EncryptionCheckByte. Keys are left
  /// at the start of the entry's data. A header cut short by the end of the
  /// archive reads as zero bytes.
  std::uint8_t ReadEncryptionHeader(std::string_view password, TStream& archive, std::uint64_t& compressedSize);
  /// The same for an AES entry: reads the salt and the password verifier at the
  /// archive's position, derives the keys for the next entry from the password
  /// and lowers compressedSize to the encrypted data alone (less salt, verifier
  /// and authentication code). True when the verifier fits the password; also
  /// when the data is too short to hold what it must, which the entry's decoding
  /// then fails as damaged.
  bool ReadAesHeader(std::string_view password, TStream& archive, const TAesExtra& aes, std::uint64_t& compressedSize);

  /// The same in two steps, for a check that offers one password after another:
  /// the header is read once (ReadEncryptionHeaderBytes, which leaves the archive
  /// at the data), then each password is tried on its bytes.
  /// TEncryptionHeader holds the bytes either cipher puts before the data.
  struct TEncryptionHeader {
    std::uint8_t Bytes[16 + AesVerifierSize] = {};
    /// An AES entry's data is too short for salt, verifier and authentication
    /// code: nothing was read, and no password is refused.
    bool TooShort = false;
  };
  /// Reads the header of an entry, AES-encrypted (with its 0x9901 block) or not, at
  /// the archive's position and lowers compressedSize past it (see above).
  static TEncryptionHeader ReadEncryptionHeaderBytes(TStream& archive, bool aesEncrypted, const TAesExtra& aes,
                                                     std::uint64_t& compressedSize);
  /// Keys the traditional cipher from password over the header's 12 bytes; the
  /// last decrypted byte, to be compared with EncryptionCheckByte.
  std::uint8_t StartKeys(std::string_view password, const TEncryptionHeader& header);
  /// Keys the AES cipher from password over the header's salt and verifier; true
  /// when the verifier fits the password, or the data is too short.
  bool StartAes(std::string_view password, const TAesExtra& aes, const TEncryptionHeader& header);

  // --- Byte source ------------------------------------------------------------

  /// Delivers the next compressed byte into byte and returns 8; returns 0 and
  /// leaves byte alone when the entry's data is used up.
  int ReadCompressedByte(std::uint16_t& byte) {
    if (CompressedLeft <= 0) {
      if (CompressedLeft > INT64_MIN) --CompressedLeft;
      ++MissedBytes;
      return 0;
    }
    --CompressedLeft;
    if (InputCount == 0 && !RefillInput()) {
      ++MissedBytes;
      return 0;
    }
    byte = *InputPtr++;
    --InputCount;
    LastByte = byte;
    return 8;
  }

  /// For a decoder that takes its input in pieces, as a library does: the rest of
  /// the input buffer, taken whole, after a refill (with its message pump, cancel
  /// test, decryption and next volume) when it is empty. Empty at the end of the
  /// entry's data.
  std::span<const std::uint8_t> TakeInput();

  /// For a decoder that reads the input buffer itself, as inflate's stored
  /// blocks and fast loop do: takes the next n (1 or more) bytes at InputPtr, no
  /// more than InputCount or CompressedLeft, as read.
  void ConsumeInput(std::uint32_t n) {
    InputPtr += n;
    InputCount -= n;
    CompressedLeft -= n;
    LastByte = InputPtr[-1];
  }

  /// Appends whole bytes to the caller's bit buffer `bits` (holding `count` bits)
  /// until it holds at least n bits. Past the end of the data the last byte is
  /// shifted in again.
  template <class TBits>
  void EnsureBits(unsigned n, TBits& bits, unsigned& count) {
    while (count < n) {
      ReadCompressedByte(LastByte);
      bits |= static_cast<TBits>(LastByte) << count;
      count += 8;
    }
  }
  /// Shifts n bits out of the caller's bit buffer.
  template <class TBits>
  static void DropBits(unsigned n, TBits& bits, unsigned& count) {
    bits >>= n;
    count -= n;
  }

  /// The shared code reader of unshrink and unreduce: fills CodeBits to at least
  /// 25 bits while bytes come; InputExhausted is -1 when the first request found none.
  void RefillCodeBits();
  /// The next n (1 to 16) bits of the shared code reader.
  std::uint16_t ReadCodeBits(unsigned n) {
    if (n > CodeBitCount) RefillCodeBits();
    const std::uint16_t value = static_cast<std::uint16_t>(CodeBits & BitMask[n]);
    CodeBits >>= n;
    CodeBitCount = static_cast<std::uint16_t>(CodeBitCount - n);
    return value;
  }

  // --- Output path ------------------------------------------------------------

  void PutOutputByte(std::uint8_t c) {
    *OutputPtr++ = c;
    if (++OutputCount == DecodeChunk) FlushOutput();
  }
  /// For a decoder that writes into the output buffer itself, as a library does:
  /// where its next byte goes; room receives the bytes free there (1 to 32,768).
  std::uint8_t* OutputSpace(std::size_t& room) {
    room = DecodeChunk - OutputCount;
    return OutputPtr;
  }
  /// Takes n bytes written at OutputSpace into the output, writing the buffer out
  /// once it is full.
  void OutputWritten(std::size_t n) {
    OutputPtr += n;
    OutputCount += static_cast<std::uint32_t>(n);
    if (OutputCount == DecodeChunk) FlushOutput();
  }
  /// Moves the first n (0 to 32,768) window bytes to the output, flushing every
  /// full 32 KiB.
  void FlushWindow(std::uint32_t n) { FlushWindow(Window.data(), n); }
  /// The same for a decoder that keeps its window elsewhere: n bytes from `from`.
  void FlushWindow(const std::uint8_t* from, std::uint32_t n);
  /// Writes the output buffer: size guard, write, CRC, progress events.
  void FlushOutput();
  /// Method 0: copies the data chunk by chunk, decrypting an encrypted entry.
  void CopyStored();
  /// Runs CrcRegister over the bytes.
  void UpdateCrc(const std::uint8_t* buffer, std::size_t length);

  /// Shows "*** inflate out of memory ***" (the code tables could not be built).
  void ReportOutOfMemory();
  /// Shows "Unknown Compression Method".
  void ReportUnknownMethod();

  TDecodeHost& Host;
  TDecodeEntry Entry;

  std::vector<std::uint8_t> InputBuffer;
  std::vector<std::uint8_t> OutputBuffer;
  std::vector<std::uint8_t> Window;

  const std::uint8_t* InputPtr = nullptr;
  std::uint32_t InputCount = 0;
  /// Compressed bytes the decoder may still take; goes below 0 as requests find
  /// the data used up. Wider than any entry size, so neither a size past 2 GiB
  /// nor the count below 0 wraps.
  std::int64_t CompressedLeft = 0;
  /// Compressed bytes not yet read from the archive.
  std::uint64_t CompressedSize = 0;
  std::uint8_t* OutputPtr = nullptr;
  std::uint32_t OutputCount = 0;
  /// Decoded bytes written for this entry, for the file percentage.
  std::int64_t EntryBytesWritten = 0;
  std::uint32_t CodeBits = 0;
  std::uint16_t CodeBitCount = 0;
  std::int32_t InputExhausted = 0;
  std::uint16_t LastByte = 0;
  /// Byte requests of this entry that found the data used up (saturating).
  std::uint32_t MissedBytes = 0;
  /// The entry's uncompressed size: the loop bound of explode and unreduce.
  std::int64_t EntrySize = 0;
  TStream* OutputStream = nullptr;
  /// Running CRC of the entry's decoded bytes (preset, not yet complemented).
  std::uint32_t CrcRegister = 0xFFFFFFFFu;
  /// The cipher of the current entry.
  TZipKeys Keys;

  /// Why the decoder failed the entry, in its own words (a library's message);
  /// empty when it decoded or gave no reason.
  std::string FailureDetail;

  /// The decoder's store of type TStore for this run, made on first use (it may
  /// throw std::bad_alloc then). One object of each type serves every entry of
  /// the run and goes with the state.
  template <class TStore>
  TStore& Store() {
    for (const std::unique_ptr<TDecoderStore>& store : stores_)
      if (auto* found = dynamic_cast<TStore*>(store.get())) return *found;
    auto made = std::make_unique<TStore>();
    TStore& result = *made;
    stores_.push_back(std::move(made));
    return result;
  }

 private:
  std::vector<std::unique_ptr<TDecoderStore>> stores_;
  /// The AES cipher and authentication of the current entry, and whether
  /// ReadAesHeader has keyed it for the next entry.
  TWinZipAes aes_;
  bool aesKeyed_ = false;

  /// Decrypts a chunk of an encrypted entry's data in place; hostCipher lets the
  /// host's OnDecrypt take a chunk of traditional encryption.
  void DecryptChunk(std::uint8_t* data, std::int32_t n, bool hostCipher);
  bool RefillInput();
  void PumpAndCheckCancel();
  void ReadArchive(std::uint8_t* buffer, std::int32_t n);
  void WriteChunk(const std::uint8_t* data, std::int32_t count);
  /// The progress events of count more bytes written.
  void ReportWritten(std::int32_t count);
};

}  // namespace kestrel
