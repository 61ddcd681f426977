#include "unzip/decode/library_decoders.h"

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstddef>
#include <new>
#include <span>
#include <string>

#include "unzip/decode/decode_state.h"

namespace kestrel {
namespace {

// How one call of a library's decoder ended.
enum class TStep {
  More,    // it wants more input or more room: go on
  End,     // its stream ended
  Failed,  // it refused the data; the result and the reason say why
};

// One library's streaming decoder, as the common loop drives it.
class TLibraryStream {
 public:
  virtual ~TLibraryStream() = default;
  // Decodes from in (advanced past what was taken) into out, which has room
  // bytes; produced receives the count written. inputEnds: in holds the last of
  // the entry's data. On Failed, sets result and reason.
  virtual TStep Decode(std::span<const std::uint8_t>& in, bool inputEnds, std::uint8_t* out, std::size_t room,
                       std::size_t& produced) = 0;
  // After End: whether rest (the data after the stream, maybe empty) starts
  // another stream, which the decoder is then ready for.
  virtual bool Restart(std::span<const std::uint8_t> /*rest*/) { return false; }

  TDecodeResult Result = drBadData;
  std::string Reason;
};

// The common loop: input in the frame's 32 KiB pieces, output straight into the
// frame's output buffer, written out as it fills. A stream whose input ends
// before the library saw its end, or that the library makes no progress on, is
// cut short. The library's reason is given with its name.
TDecodeResult RunLibraryStream(TDecodeState& state, TLibraryStream& stream, const char* library) {
  std::span<const std::uint8_t> in;
  bool inputEnds = false;
  auto fail = [&](TDecodeResult result, const std::string& reason) {
    state.FailureDetail = std::string(library) + ": " + reason;
    return result;
  };
  for (;;) {
    if (in.empty() && !inputEnds) {
      in = state.TakeInput();
      inputEnds = in.empty();
    }
    std::size_t room = 0;
    std::uint8_t* const out = state.OutputSpace(room);
    const std::size_t before = in.size();
    std::size_t produced = 0;
    const TStep step = stream.Decode(in, inputEnds, out, room, produced);
    state.OutputWritten(produced);
    if (step == TStep::Failed) return fail(stream.Result, stream.Reason);
    if (step == TStep::End) {
      if (in.empty() && !inputEnds) {
        in = state.TakeInput();
        inputEnds = in.empty();
      }
      if (!stream.Restart(in)) break;
      continue;
    }
    if (produced == 0 && in.size() == before && (inputEnds || !in.empty()))
      return fail(drBadData, inputEnds ? "the data ends inside the stream" : "the decoder makes no progress");
  }
  state.FlushOutput();
  return drDecoded;
}

// The library's pointers and counts take at most what fits their types.
unsigned BoundedUnsigned(std::size_t n) { return static_cast<unsigned>(std::min<std::size_t>(n, UINT_MAX)); }

// ---- bzip2 -----------------------------------------------------------------------

class TBzip2Stream final : public TLibraryStream {
 public:
  TBzip2Stream() { Start(); }
  ~TBzip2Stream() override { Stop(); }
  TBzip2Stream(const TBzip2Stream&) = delete;
  TBzip2Stream& operator=(const TBzip2Stream&) = delete;

  bool Started() const { return started_; }

  TStep Decode(std::span<const std::uint8_t>& in, bool, std::uint8_t* out, std::size_t room,
               std::size_t& produced) override {
    // libbz2 takes non-const input that it never writes.
    stream_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    stream_.avail_in = BoundedUnsigned(in.size());
    stream_.next_out = reinterpret_cast<char*>(out);
    stream_.avail_out = BoundedUnsigned(room);
    const int code = BZ2_bzDecompress(&stream_);
    in = in.subspan(in.size() - stream_.avail_in);
    produced = room - stream_.avail_out;
    switch (code) {
      case BZ_OK:
        return TStep::More;
      case BZ_STREAM_END:
        return TStep::End;
      case BZ_DATA_ERROR_MAGIC:
        Reason = "not a bzip2 stream (bad magic)";
        break;
      case BZ_MEM_ERROR:
        Result = drOutOfMemory;
        Reason = "out of memory";
        break;
      default:
        Reason = "data integrity error";
        break;
    }
    return TStep::Failed;
  }

  bool Restart(std::span<const std::uint8_t> rest) override {
    // A stream of its own begins with "BZh"; anything else after the last stream
    // is left alone.
    if (rest.empty() || rest[0] != 'B') return false;
    Stop();
    Start();
    return started_;
  }

 private:
  void Start() {
    stream_ = bz_stream{};
    started_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
  }
  void Stop() {
    if (started_) BZ2_bzDecompressEnd(&stream_);
    started_ = false;
  }
  bz_stream stream_{};
  bool started_ = false;
};

// ---- LZMA and xz -----------------------------------------------------------------

// liblzma's words for its results, as the xz tool gives them.
const char* LzmaReason(lzma_ret code) {
  switch (code) {
    case LZMA_MEM_ERROR:
      return "cannot allocate memory";
    case LZMA_MEMLIMIT_ERROR:
      return "memory usage limit reached";
    case LZMA_FORMAT_ERROR:
      return "file format not recognized";
    case LZMA_OPTIONS_ERROR:
      return "unsupported options";
    case LZMA_BUF_ERROR:
      return "unexpected end of input";
    default:
      return "compressed data is corrupt";
  }
}

TDecodeResult LzmaResult(lzma_ret code) {
  switch (code) {
    case LZMA_MEM_ERROR:
      return drOutOfMemory;
    case LZMA_MEMLIMIT_ERROR:
    case LZMA_OPTIONS_ERROR:
      return drUnsupported;
    default:
      return drBadData;
  }
}

// liblzma's stream keeps its allocations from one entry to the next of a run when
// the next needs no more: one for the run.
struct TLzmaStore final : TDecoderStore {
  TLzmaStore() = default;
  ~TLzmaStore() override { lzma_end(&Stream); }
  TLzmaStore(const TLzmaStore&) = delete;
  TLzmaStore& operator=(const TLzmaStore&) = delete;
  lzma_stream Stream = LZMA_STREAM_INIT;
};

class TLzmaStream final : public TLibraryStream {
 public:
  explicit TLzmaStream(lzma_stream& stream) : stream_(stream) {}

  // Sets the stream up by the result of a liblzma initialisation; false (with the
  // result and the reason) when it failed.
  bool Started(lzma_ret code) {
    if (code == LZMA_OK) return true;
    Result = LzmaResult(code);
    Reason = LzmaReason(code);
    return false;
  }

  TStep Decode(std::span<const std::uint8_t>& in, bool inputEnds, std::uint8_t* out, std::size_t room,
               std::size_t& produced) override {
    stream_.next_in = in.data();
    stream_.avail_in = in.size();
    stream_.next_out = out;
    stream_.avail_out = room;
    // LZMA_FINISH tells the xz decoder that no further stream follows.
    const lzma_ret code = lzma_code(&stream_, inputEnds ? LZMA_FINISH : LZMA_RUN);
    in = in.subspan(in.size() - stream_.avail_in);
    produced = room - stream_.avail_out;
    if (code == LZMA_OK) return TStep::More;
    if (code == LZMA_STREAM_END) return TStep::End;
    Result = LzmaResult(code);
    Reason = LzmaReason(code);
    return TStep::Failed;
  }

 private:
  lzma_stream& stream_;
};

// ---- Zstandard -------------------------------------------------------------------

// The decoding context, reset for each entry and kept for the run.
struct TZstdStore final : TDecoderStore {
  TZstdStore() : Context(ZSTD_createDCtx()) {
    if (Context == nullptr) throw std::bad_alloc();
  }
  ~TZstdStore() override { ZSTD_freeDCtx(Context); }
  TZstdStore(const TZstdStore&) = delete;
  TZstdStore& operator=(const TZstdStore&) = delete;
  ZSTD_DCtx* Context;
};

class TZstdStream final : public TLibraryStream {
 public:
  explicit TZstdStream(ZSTD_DCtx* context) : context_(context) {}

  TStep Decode(std::span<const std::uint8_t>& in, bool inputEnds, std::uint8_t* out, std::size_t room,
               std::size_t& produced) override {
    if (!in.empty()) sawInput_ = true;
    if (inputEnds && frameDone_) return TStep::End;
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{out, room, 0};
    const std::size_t code = ZSTD_decompressStream(context_, &output, &input);
    in = in.subspan(input.pos);
    produced = output.pos;
    if (ZSTD_isError(code)) {
      Result = ZSTD_getErrorCode(code) == ZSTD_error_frameParameter_windowTooLarge ? drUnsupported : drBadData;
      Reason = ZSTD_getErrorName(code);
      return TStep::Failed;
    }
    // 0: a frame ended and all of it is out. A call that moved nothing (the
    // output of the last call flushed, no input left) says nothing of the frame.
    if (input.pos > 0 || output.pos > 0) frameDone_ = code == 0;
    if (inputEnds && output.pos == 0) {
      Reason = sawInput_ ? "the data ends inside a frame" : "no frame";
      return TStep::Failed;
    }
    return TStep::More;
  }

 private:
  ZSTD_DCtx* context_;
  bool frameDone_ = false;
  bool sawInput_ = false;
};

}  // namespace

TDecodeResult Bunzip2(TDecodeState& state) {
  TBzip2Stream stream;
  if (!stream.Started()) return drOutOfMemory;
  return RunLibraryStream(state, stream, "libbz2");
}

TDecodeResult DecodeLzma(TDecodeState& state) {
  // The header: version (2 bytes), size of the properties (2), the properties.
  std::uint8_t header[9] = {};
  std::uint16_t byte = 0;
  for (std::uint8_t& b : header) {
    if (state.ReadCompressedByte(byte) == 0) {
      state.FailureDetail = "liblzma: the data ends inside the LZMA header";
      return drBadData;
    }
    b = static_cast<std::uint8_t>(byte);
  }
  const unsigned propertiesSize = header[2] | header[3] << 8;
  if (propertiesSize != 5) {
    state.FailureDetail = "liblzma: LZMA properties of " + std::to_string(propertiesSize) + " bytes";
    return drUnsupported;
  }
  // lc, lp and pb in one byte, (pb * 5 + lp) * 9 + lc; the dictionary size.
  unsigned coder = header[4];
  if (coder >= 9 * 5 * 5) {
    state.FailureDetail = "liblzma: invalid LZMA properties";
    return drBadData;
  }
  lzma_options_lzma options{};
  options.lc = coder % 9;
  coder /= 9;
  options.lp = coder % 5;
  options.pb = coder / 5;
  const std::uint64_t dictionary = header[5] | header[6] << 8 | header[7] << 16 | std::uint64_t{header[8]} << 24;
  // No distance reaches further back than the entry is long: a dictionary larger
  // than the entry is never filled, and is not allocated.
  const std::uint64_t size = state.Entry.UncompressedSize;
  const std::uint64_t limit = state.Host.HistoryLimit();
  if (std::min(dictionary, size) > limit) {
    state.FailureDetail = "liblzma: a dictionary of " + std::to_string(dictionary >> 20) + " MiB, above the limit of " +
                          std::to_string(limit >> 20) + " MiB";
    return drUnsupported;
  }
  options.dict_size =
      static_cast<std::uint32_t>(std::max<std::uint64_t>(std::min(dictionary, size), LZMA_DICT_SIZE_MIN));
  // The entry's size ends the data; an end marker may follow it (flag bit 1
  // promises one, but writers differ), nowhere else.
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(options, size);
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  TLzmaStore& store = state.Store<TLzmaStore>();
  TLzmaStream stream(store.Stream);
  if (!stream.Started(lzma_raw_decoder(&store.Stream, filters))) {
    state.FailureDetail = "liblzma: " + stream.Reason;
    return stream.Result;
  }
  return RunLibraryStream(state, stream, "liblzma");
}

TDecodeResult DecodeXz(TDecodeState& state) {
  TLzmaStore& store = state.Store<TLzmaStore>();
  TLzmaStream stream(store.Stream);
  if (!stream.Started(lzma_stream_decoder(&store.Stream, state.Host.HistoryLimit() + (1u << 20), LZMA_CONCATENATED))) {
    state.FailureDetail = "liblzma: " + stream.Reason;
    return stream.Result;
  }
  return RunLibraryStream(state, stream, "liblzma");
}

TDecodeResult DecodeZstd(TDecodeState& state) {
  ZSTD_DCtx* context = state.Store<TZstdStore>().Context;
  ZSTD_DCtx_reset(context, ZSTD_reset_session_and_parameters);
  // The largest window within the limit, as a power of two (2^31 is the format's
  // largest on 64-bit systems).
  const int windowLog = static_cast<int>(std::bit_width(std::max<std::uint64_t>(state.Host.HistoryLimit(), 1024))) - 1;
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, std::min(windowLog, 31));
  TZstdStream stream(context);
  return RunLibraryStream(state, stream, "libzstd");
}

}  // namespace kestrel
