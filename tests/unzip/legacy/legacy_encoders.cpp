// Test encoders for shrink, reduce and implode. Each is the mirror of its decoder:
// the shrink encoder keeps the decoder's very table (free marks, partial clears),
// so that whatever the decoder will do with a code, the encoder has already done.

#include "legacy_encoders.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <queue>
#include <stdexcept>

namespace legacytest {

void TBitWriter::Bits(std::uint32_t value, int count) {
  acc_ |= static_cast<std::uint64_t>(value & ((1u << count) - 1u)) << count_;
  count_ += count;
  while (count_ >= 8) {
    bytes_.push_back(static_cast<char>(acc_ & 0xFF));
    acc_ >>= 8;
    count_ -= 8;
  }
}

std::string TBitWriter::Bytes() const {
  std::string out = bytes_;
  if (count_ > 0) out.push_back(static_cast<char>(acc_ & 0xFF));
  return out;
}

// --- Shrink -------------------------------------------------------------------

namespace {

constexpr int ShrinkCodes = 8192;
constexpr int FirstFree = 257;

// The decoder's table: prefix -1 marks a free code. child[] finds a code by its
// prefix and suffix, for the encoder's longest-match walk.
class TShrinkTable {
 public:
  TShrinkTable() : prefix_(ShrinkCodes + 1, -1), suffix_(ShrinkCodes, 0), child_(ShrinkCodes * 256, -1) {
    for (int c = 0; c < 256; ++c) {
      prefix_[c] = 0;
      suffix_[c] = c;
    }
  }

  int Child(int code, int byte) const { return child_[code * 256 + byte]; }
  int NextFree() const { return nextFree_; }

  // The decoder adds (previous code, first byte of this string) on each code.
  void Add(int prev, int byte) {
    if (nextFree_ >= ShrinkCodes) return;
    const int code = nextFree_;
    prefix_[code] = prev;
    suffix_[code] = byte;
    // A code freed by the last clear can come back as its own prefix; nothing can
    // reach it then, so the encoder never sends it.
    if (code != prev) child_[prev * 256 + byte] = code;
    Advance();
  }

  // Frees every code no defined code uses as prefix, among 257 .. next free - 1.
  void PartialClear() {
    std::vector<char> isParent(ShrinkCodes, 0);
    for (int c = FirstFree; c < nextFree_; ++c)
      if (prefix_[c] >= 0 && prefix_[c] > 256 && prefix_[prefix_[c]] >= 0) isParent[prefix_[c]] = 1;
    for (int c = FirstFree; c < nextFree_; ++c) {
      if (prefix_[c] < 0 || isParent[c]) continue;
      if (child_[prefix_[c] * 256 + suffix_[c]] == c) child_[prefix_[c] * 256 + suffix_[c]] = -1;
      prefix_[c] = -1;
    }
    nextFree_ = FirstFree;
    while (nextFree_ < ShrinkCodes && prefix_[nextFree_] >= 0) ++nextFree_;
  }

 private:
  void Advance() {
    while (nextFree_ < ShrinkCodes && prefix_[nextFree_] >= 0) ++nextFree_;
  }

  std::vector<int> prefix_, suffix_;
  std::vector<std::int16_t> child_;
  int nextFree_ = FirstFree;
};

}  // namespace

std::string ShrinkEncode(const std::string& data, const TShrinkOptions& options) {
  TBitWriter w;
  if (data.empty()) return {};
  TShrinkTable table;
  int codeSize = 9;
  unsigned emitted = 0;
  auto escape = [&](int what) {
    w.Bits(256, codeSize);
    w.Bits(static_cast<std::uint32_t>(what), codeSize);
  };
  auto emit = [&](int code) {
    while (code >= (1 << codeSize)) {
      escape(1);
      ++codeSize;
    }
    w.Bits(static_cast<std::uint32_t>(code), codeSize);
    ++emitted;
  };

  int cur = static_cast<std::uint8_t>(data[0]);
  for (std::size_t i = 1; i < data.size(); ++i) {
    const int byte = static_cast<std::uint8_t>(data[i]);
    const int next = table.Child(cur, byte);
    if (next >= 0) {
      cur = next;
      continue;
    }
    emit(cur);
    const bool full = table.NextFree() >= ShrinkCodes;
    if ((options.ClearWhenFull && full) || (options.ClearEvery != 0 && emitted % options.ClearEvery == 0)) {
      escape(2);
      table.PartialClear();
    }
    table.Add(cur, byte);
    if (options.EagerSizeIncrease && codeSize < 13 && table.NextFree() >= (1 << codeSize) &&
        table.NextFree() < ShrinkCodes) {
      escape(1);
      ++codeSize;
    }
    cur = byte;
  }
  emit(cur);
  return w.Bytes();
}

// --- Reduce -------------------------------------------------------------------

namespace {

constexpr std::uint8_t Dle = 144;

int FollowerIndexBits(int n) {
  if (n == 0) return 8;
  int b = 1;
  while ((1 << b) < n) ++b;
  return b;
}

// Longest earlier match of the bytes at pos, by hash chains over 3-byte prefixes.
class TMatchFinder {
 public:
  TMatchFinder(const std::string& buffer, std::size_t maxDistance, std::size_t maxLength, int depth)
      : buf_(buffer),
        maxDist_(maxDistance),
        maxLen_(maxLength),
        depth_(depth),
        head_(1 << 16, -1),
        prev_(buffer.size(), -1),
        pair_(1 << 16, -1) {}

  void Insert(std::size_t pos) {
    if (pos + 1 < buf_.size()) {
      const unsigned p2 = Byte(pos) | Byte(pos + 1) << 8;
      pair_[p2] = static_cast<long>(pos);
    }
    if (pos + 2 >= buf_.size()) return;
    const unsigned h = Hash(pos);
    prev_[pos] = head_[h];
    head_[h] = static_cast<long>(pos);
  }

  // Best (length, distance) at pos, length 0 when none of at least minLength.
  std::pair<std::size_t, std::size_t> Find(std::size_t pos, std::size_t minLength) const {
    std::size_t bestLen = 0, bestDist = 0;
    const std::size_t limit = std::min(maxLen_, buf_.size() - pos);
    if (limit >= 3) {
      long cand = head_[Hash(pos)];
      for (int d = 0; d < depth_ && cand >= 0; ++d, cand = prev_[static_cast<std::size_t>(cand)]) {
        const std::size_t dist = pos - static_cast<std::size_t>(cand);
        if (dist > maxDist_) break;
        std::size_t len = 0;
        while (len < limit && buf_[static_cast<std::size_t>(cand) + len] == buf_[pos + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = dist;
          if (len == limit) break;
        }
      }
    }
    if (bestLen < 3 && minLength <= 2 && limit >= 2) {
      const long cand = pair_[Byte(pos) | Byte(pos + 1) << 8];
      if (cand >= 0 && pos - static_cast<std::size_t>(cand) <= maxDist_) {
        bestLen = 2;
        bestDist = pos - static_cast<std::size_t>(cand);
      }
    }
    if (bestLen < minLength) return {0, 0};
    return {bestLen, bestDist};
  }

 private:
  unsigned Byte(std::size_t i) const { return static_cast<std::uint8_t>(buf_[i]); }
  unsigned Hash(std::size_t i) const {
    return ((Byte(i) << 8) ^ (Byte(i + 1) << 4) ^ Byte(i + 2) * 2654435761u) & 0xFFFF;
  }

  const std::string& buf_;
  std::size_t maxDist_, maxLen_;
  int depth_;
  std::vector<long> head_, prev_, pair_;
};

}  // namespace

std::string ReduceEncode(const std::string& data, int factor, const TReduceOptions& options) {
  if (factor < 1 || factor > 4) throw std::invalid_argument("reduce factor");
  const unsigned lengthMask = 0xFFu >> factor;  // 0x7F .. 0x0F
  const int distanceShift = 8 - factor;         // 7 .. 4
  const std::size_t maxDistance = static_cast<std::size_t>(256) << factor;
  const std::size_t maxLength = std::min<std::size_t>(lengthMask + 255 + 3, options.MaxMatch);

  // Pass 1: the byte stream with DLE escapes.
  const std::size_t lead = options.CopyBeforeStart ? maxDistance : 0;
  const std::string buffer = std::string(lead, '\0') + data;
  TMatchFinder finder(buffer, maxDistance, maxLength, 32);
  for (std::size_t i = 0; i < lead; ++i) finder.Insert(i);
  std::vector<std::uint8_t> stream;
  for (std::size_t pos = lead; pos < buffer.size();) {
    auto [len, dist] = maxLength >= 3 ? finder.Find(pos, 3) : std::pair<std::size_t, std::size_t>{0, 0};
    const std::size_t high = len ? (dist - 1) >> 8 : 0;
    // DLE 0 means a literal DLE, so a match whose V byte would be 0 cannot be sent.
    if (len >= 3 && !(len == 3 && high == 0)) {
      const std::size_t lenField = std::min<std::size_t>(len - 3, lengthMask);
      stream.push_back(Dle);
      stream.push_back(static_cast<std::uint8_t>(high << distanceShift | lenField));
      if (lenField == lengthMask) stream.push_back(static_cast<std::uint8_t>(len - 3 - lengthMask));
      stream.push_back(static_cast<std::uint8_t>((dist - 1) & 0xFF));
      for (std::size_t k = 0; k < len; ++k) finder.Insert(pos + k);
      pos += len;
    } else {
      const auto b = static_cast<std::uint8_t>(buffer[pos]);
      stream.push_back(b);
      if (b == Dle) stream.push_back(0);
      finder.Insert(pos);
      ++pos;
    }
  }

  // Pass 2: follower sets from the pairs of that stream, then the stream coded with them.
  std::vector<std::vector<std::uint64_t>> pairs(256, std::vector<std::uint64_t>(256, 0));
  int prev = 0;
  for (std::uint8_t b : stream) {
    ++pairs[prev][b];
    prev = b;
  }
  std::vector<std::vector<int>> followers(256);
  std::vector<std::vector<int>> indexOf(256, std::vector<int>(256, -1));
  if (!options.EmptyFollowerSets) {
    for (int x = 0; x < 256; ++x) {
      std::vector<int> order;
      for (int y = 0; y < 256; ++y)
        if (pairs[x][y] >= 2) order.push_back(y);
      std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return pairs[x][a] > pairs[x][b]; });
      if (order.size() > 63) order.resize(63);
      followers[x] = order;
      for (std::size_t i = 0; i < order.size(); ++i) indexOf[x][order[i]] = static_cast<int>(i);
    }
  }
  TBitWriter w;
  for (int x = 255; x >= 0; --x) {
    w.Bits(static_cast<std::uint32_t>(followers[x].size()), 6);
    for (int y : followers[x]) w.Bits(static_cast<std::uint32_t>(y), 8);
  }
  prev = 0;
  for (std::uint8_t b : stream) {
    const int n = static_cast<int>(followers[prev].size());
    if (n == 0) {
      w.Bits(b, 8);
    } else if (indexOf[prev][b] >= 0) {
      w.Bits(0, 1);
      w.Bits(static_cast<std::uint32_t>(indexOf[prev][b]), FollowerIndexBits(n));
    } else {
      w.Bits(1, 1);
      w.Bits(b, 8);
    }
    prev = b;
  }
  return w.Bytes();
}

// --- Implode ------------------------------------------------------------------

std::vector<int> LimitedCodeLengths(const std::vector<std::uint64_t>& frequencies, int maxBits) {
  std::vector<std::uint64_t> f = frequencies;
  for (auto& x : f) x = std::max<std::uint64_t>(x, 1);
  const std::size_t n = f.size();
  for (;;) {
    // Huffman: leaves 0..n-1, inner nodes after them.
    std::vector<int> parent(2 * n, -1);
    using TNode = std::pair<std::uint64_t, int>;
    std::priority_queue<TNode, std::vector<TNode>, std::greater<>> heap;
    for (std::size_t i = 0; i < n; ++i) heap.push({f[i], static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (heap.size() > 1) {
      const TNode a = heap.top();
      heap.pop();
      const TNode b = heap.top();
      heap.pop();
      parent[a.second] = parent[b.second] = next;
      heap.push({a.first + b.first, next++});
    }
    std::vector<int> lengths(n, 0);
    int longest = 0;
    for (std::size_t i = 0; i < n; ++i) {
      int depth = 0;
      for (int p = static_cast<int>(i); parent[p] >= 0; p = parent[p]) ++depth;
      lengths[i] = depth;
      longest = std::max(longest, depth);
    }
    if (longest <= maxBits) return lengths;
    for (auto& x : f) x = (x >> 1) | 1;
  }
}

std::string TreeDescription(const std::vector<int>& lengths) {
  std::string body;
  for (std::size_t i = 0; i < lengths.size();) {
    std::size_t run = 1;
    while (run < 16 && i + run < lengths.size() && lengths[i + run] == lengths[i]) ++run;
    body.push_back(static_cast<char>((run - 1) << 4 | static_cast<std::size_t>(lengths[i] - 1)));
    i += run;
  }
  return std::string(1, static_cast<char>(body.size() - 1)) + body;
}

void ImplodeCode(TBitWriter& w, std::uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) w.Bits(((code >> i) & 1u) ^ 1u, 1);
}

std::string ImplodeEncode(const std::string& data, const TImplodeOptions& options) {
  const std::size_t minLength = options.ThreeTrees ? 3 : 2;
  const int lowBits = options.Dictionary8K ? 7 : 6;
  const std::size_t dictionary = options.Dictionary8K ? 8192 : 4096;
  const std::size_t maxLength = minLength + 63 + 255;

  struct TToken {
    std::uint32_t length;  // 0 for a literal
    std::uint32_t value;   // the literal, or the distance
  };
  const std::size_t lead = options.CopyBeforeStart ? dictionary : 0;
  const std::string buffer = std::string(lead, '\0') + data;
  TMatchFinder finder(buffer, dictionary, maxLength, 48);
  for (std::size_t i = 0; i < lead; ++i) finder.Insert(i);
  std::vector<TToken> tokens;
  std::vector<std::uint64_t> litFreq(256, 0), lenFreq(64, 0), distFreq(64, 0);
  for (std::size_t pos = lead; pos < buffer.size();) {
    auto [len, dist] = finder.Find(pos, minLength);
    if (len >= minLength) {
      tokens.push_back({static_cast<std::uint32_t>(len), static_cast<std::uint32_t>(dist)});
      ++lenFreq[std::min<std::size_t>(len - minLength, 63)];
      ++distFreq[(dist - 1) >> lowBits];
      for (std::size_t k = 0; k < len; ++k) finder.Insert(pos + k);
      pos += len;
    } else {
      const auto b = static_cast<std::uint8_t>(buffer[pos]);
      tokens.push_back({0, b});
      ++litFreq[b];
      finder.Insert(pos);
      ++pos;
    }
  }

  auto lengthsOf = [&](const std::vector<std::uint64_t>& freq, int flat) {
    return options.FlatTrees ? std::vector<int>(freq.size(), flat) : LimitedCodeLengths(freq, 16);
  };
  const std::vector<int> litLengths = lengthsOf(litFreq, 8);
  const std::vector<int> lenLengths = lengthsOf(lenFreq, 6);
  const std::vector<int> distLengths = lengthsOf(distFreq, 6);
  const auto litCodes = CanonicalCodes(litLengths);
  const auto lenCodes = CanonicalCodes(lenLengths);
  const auto distCodes = CanonicalCodes(distLengths);

  std::string out;
  if (options.ThreeTrees) out += TreeDescription(litLengths);
  out += TreeDescription(lenLengths);
  out += TreeDescription(distLengths);
  TBitWriter w;
  for (const TToken& t : tokens) {
    if (t.length == 0) {
      w.Bits(1, 1);
      if (options.ThreeTrees)
        ImplodeCode(w, litCodes[t.value], litLengths[t.value]);
      else
        w.Bits(t.value, 8);
      continue;
    }
    w.Bits(0, 1);
    const std::uint32_t d = t.value - 1;
    w.Bits(d, lowBits);
    const std::uint32_t ds = d >> lowBits;
    ImplodeCode(w, distCodes[ds], distLengths[ds]);
    const std::uint32_t l = t.length - static_cast<std::uint32_t>(minLength);
    const std::uint32_t ls = std::min<std::uint32_t>(l, 63);
    ImplodeCode(w, lenCodes[ls], lenLengths[ls]);
    if (ls == 63) w.Bits(l - 63, 8);
  }
  return out + w.Bytes();
}

}  // namespace legacytest
