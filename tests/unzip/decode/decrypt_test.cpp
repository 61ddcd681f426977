// Traditional decryption of entries written by Info-ZIP zip -P: the header check
// with the right and a wrong password, stored and deflated entries, and an entry
// streamed from standard input (sizes and CRC after the data, check byte from the
// modification time).

#include "unzip/decode/decrypt.h"

#include <gtest/gtest.h>

#include "decode_test_support.h"
#include "tests/support/test_support.h"

namespace {
using namespace decodetest;

struct TArchive {
  std::string bytes;
  std::vector<TZipEntry> entries;
};

TArchive MakeZip(const std::string& options, const std::string& content, bool fromStdin) {
  testsupport::TTempFolder folder;
  testsupport::WriteFile(folder / "file.txt", content);
  const std::string zip = folder / "a.zip";
  const std::string command =
      fromStdin
          ? "cd " + testsupport::ShellQuote(folder.Path().string()) + " && zip -q " + options + " a.zip - < file.txt"
          : "cd " + testsupport::ShellQuote(folder.Path().string()) + " && zip -q " + options + " a.zip file.txt";
  EXPECT_EQ(testsupport::RunShell(command), 0) << command;
  TArchive a;
  a.bytes = testsupport::ReadFile(zip);
  a.entries = ReadZipEntries(a.bytes);
  return a;
}

// The driver's part: header check, then decoding with the keys it left.
struct TOutcome {
  bool passwordFits = false;
  std::string output;
  std::uint32_t crc = 0;
};

TOutcome Extract(const TArchive& a, const std::string& password) {
  TOutcome o;
  const TZipEntry& z = a.entries.at(0);
  TTestHost host(a.bytes);
  kestrel::TDecodeState state(host);
  kestrel::TDecodeEntry entry = z.entry;
  host.archive_.Seek(static_cast<std::int64_t>(z.dataOffset), kestrel::soFromBeginning);
  const std::uint8_t check = state.ReadEncryptionHeader(password, host.archive_, entry.CompressedSize);
  o.passwordFits = check == kestrel::EncryptionCheckByte(entry.Flags, z.dosDateTime, z.crc);
  if (!o.passwordFits) return o;
  TMemoryStream out;
  kestrel::DecodeEntryData(state, entry, out);
  o.output = out.data;
  o.crc = state.Crc();
  return o;
}

TEST(DecryptEntries, KeysAndCipherStep) {
  kestrel::TZipKeys keys;
  keys.InitKeys("");
  EXPECT_EQ(keys.Key0, 0x12345678u);
  EXPECT_EQ(keys.Key1, 0x23456789u);
  EXPECT_EQ(keys.Key2, 0x34567890u);
  // Decrypting what encryption with the same key stream made gives the plain text.
  const std::string plain = "The quick brown fox";
  kestrel::TZipKeys enc;
  enc.InitKeys("secret");
  std::string cipher = plain;
  for (auto& c : cipher) {
    const auto p = static_cast<std::uint8_t>(c);
    c = static_cast<char>(p ^ enc.DecryptByte());
    enc.UpdateKeys(p);
  }
  kestrel::TZipKeys dec;
  dec.InitKeys("secret");
  dec.DecryptBuffer(reinterpret_cast<std::uint8_t*>(cipher.data()), cipher.size());
  EXPECT_EQ(cipher, plain);
}

TEST(DecryptEntries, BufferDecryptionInAnyPiecesEqualsTheByteStep) {
  // The chunked decryption keeps its keys in another form inside the loop: every
  // split of the same bytes must give the bytes and the keys of the byte step.
  const std::string data = RandomData(70000, 11);
  std::uint32_t seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 8; ++round) {
    kestrel::TZipKeys byByte, chunked;
    byByte.InitKeys(round == 0 ? "" : std::string(static_cast<std::size_t>(round), static_cast<char>('a' + round)));
    byByte.Key2 ^= round > 4 ? next() : 0;  // key states no password gives
    chunked = byByte;
    std::string expected = data;
    for (auto& c : expected) {
      c = static_cast<char>(static_cast<std::uint8_t>(c) ^ byByte.DecryptByte());
      byByte.UpdateKeys(static_cast<std::uint8_t>(c));
    }
    std::string got = data;
    std::size_t at = 0;
    while (at < got.size()) {
      const std::size_t piece = std::min<std::size_t>(got.size() - at, (next() >> 8) % (round % 2 ? 3 : 40000));
      chunked.DecryptBuffer(reinterpret_cast<std::uint8_t*>(got.data()) + at, piece);
      at += piece;
    }
    EXPECT_TRUE(got == expected) << round;
    EXPECT_EQ(chunked.Key0, byByte.Key0) << round;
    EXPECT_EQ(chunked.Key1, byByte.Key1) << round;
    EXPECT_EQ(chunked.Key2, byByte.Key2) << round;
  }
}

TEST(DecryptEntries, DeflatedAndStoredEntriesWithTheRightPassword) {
  const std::string content = TextData(150000, 3) + RandomData(60000, 4);
  for (const char* method : {"-6", "-0", "-1"}) {
    const TArchive a = MakeZip(std::string("-P 'pa55 w0rd' ") + method, content, false);
    ASSERT_EQ(a.entries.size(), 1u);
    ASSERT_TRUE(a.entries[0].entry.Encrypted());
    const TOutcome o = Extract(a, "pa55 w0rd");
    ASSERT_TRUE(o.passwordFits) << method;
    EXPECT_TRUE(o.output == content) << method;
    EXPECT_EQ(o.crc, a.entries[0].crc) << method;
  }
}

TEST(DecryptEntries, WrongPasswordIsCaughtByTheHeaderOrTheCrc) {
  const std::string content = TextData(50000, 5);
  const TArchive a = MakeZip("-P right -6", content, false);
  for (const char* wrong : {"wrong", "", "Right", "right "}) {
    const TOutcome o = Extract(a, wrong);
    // One wrong password in 256 passes the header check; its CRC then fails.
    if (o.passwordFits) {
      EXPECT_NE(o.crc, a.entries[0].crc) << wrong;
    }
  }
}

TEST(DecryptEntries, StreamedEntryChecksAgainstTheModificationTime) {
  const std::string content = TextData(40000, 6);
  const TArchive a = MakeZip("-P streamed", content, true);
  ASSERT_EQ(a.entries.size(), 1u);
  ASSERT_TRUE(a.entries[0].entry.Flags & 0x0008) << "zip did not set the data-descriptor bit";
  const TOutcome o = Extract(a, "streamed");
  ASSERT_TRUE(o.passwordFits);
  EXPECT_TRUE(o.output == content);
  EXPECT_EQ(o.crc, a.entries[0].crc);
}

TEST(DecryptEntries, EmptyPasswordDecodesWhenTheEntryUsedOne) {
  // zip cannot be given an empty password; build the entry ourselves: stored
  // "hello", encrypted with the empty password.
  const std::string plain = "hello";
  const std::uint32_t crc = ~kestrel::UpdateCrc(0xFFFFFFFFu, plain.data(), plain.size());
  std::string header(12, '\0');
  header[11] = static_cast<char>(crc >> 24);
  std::string data = header + plain;
  kestrel::TZipKeys enc;
  enc.InitKeys("");
  for (auto& c : data) {
    const auto p = static_cast<std::uint8_t>(c);
    c = static_cast<char>(p ^ enc.DecryptByte());
    enc.UpdateKeys(p);
  }
  TArchive a;
  a.bytes = WithLocalHeader(data);
  TZipEntry z;
  z.entry.Flags = 1;
  z.entry.CompressedSize = static_cast<std::uint32_t>(data.size());
  z.entry.UncompressedSize = 5;
  z.dataOffset = 30;
  z.crc = crc;
  a.entries.push_back(z);
  const TOutcome o = Extract(a, "");
  ASSERT_TRUE(o.passwordFits);
  EXPECT_EQ(o.output, plain);
  EXPECT_EQ(o.crc, crc);
}

// OnDecrypt replaces the built-in cipher for compressed entries only.
TEST(DecryptEntries, DecryptEventTakesOverForCompressedEntries) {
  const std::string content = TextData(70000, 8);
  const TArchive a = MakeZip("-P ev -6", content, false);
  struct THost : TTestHost {
    using TTestHost::TTestHost;
    bool DecryptInput(std::uint8_t* buffer, std::int32_t length) override {
      chunks.push_back(length);
      keys->DecryptBuffer(buffer, static_cast<std::size_t>(length));
      return true;
    }
    kestrel::TZipKeys* keys = nullptr;
    std::vector<std::int32_t> chunks;
  } host(a.bytes);
  kestrel::TDecodeState state(host);
  host.keys = &state.Keys;
  const TZipEntry& z = a.entries[0];
  kestrel::TDecodeEntry entry = z.entry;
  host.archive_.Seek(static_cast<std::int64_t>(z.dataOffset), kestrel::soFromBeginning);
  state.ReadEncryptionHeader("ev", host.archive_, entry.CompressedSize);
  TMemoryStream out;
  kestrel::DecodeEntryData(state, entry, out);
  EXPECT_TRUE(out.data == content);
  ASSERT_FALSE(host.chunks.empty());
  EXPECT_EQ(host.chunks[0], std::min<std::int32_t>(32768, static_cast<std::int32_t>(entry.CompressedSize)));
}

}  // namespace
