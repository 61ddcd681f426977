// Times the zip component's directory loading:
//   1. a generated archive with 65,535 entries (the most an end record can count);
//   2. the local-header search over a 100 MB file that holds no local header.
// Usage: zip_directory_bench [REPETITIONS]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/zip_format.h"
#include "unzip/kestrel_unzip.h"

namespace {

void PutU16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void PutU32(std::string& out, std::uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

/// 65,535 empty stored entries in 256 folders, each with a 9-byte Unix time extra
/// field as Info-ZIP writes it, so every central header is stepped over.
std::string ManyEntries() {
  std::string body, central;
  const std::string extra = std::string("UT\x05\x00\x03", 5) + "\x00\x00\x00\x00";
  for (std::uint32_t i = 0; i < 65535; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "folder%03u/file%05u.txt", i % 256, i);
    const std::string n = name;
    const auto offset = static_cast<std::uint32_t>(body.size());
    PutU32(body, kestrel::TLocalHeaderLayout::Signature);
    PutU16(body, 10);
    PutU16(body, 0);
    PutU16(body, 0);
    PutU32(body, 0x5A2E6000);
    PutU32(body, 0);
    PutU32(body, 0);
    PutU32(body, 0);
    PutU16(body, static_cast<std::uint32_t>(n.size()));
    PutU16(body, 0);
    body += n;
    PutU32(central, kestrel::TCentralHeaderLayout::Signature);
    PutU16(central, 0x031E);
    PutU16(central, 10);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, 0x5A2E6000);
    PutU32(central, 0);
    PutU32(central, 0);
    PutU32(central, 0);
    PutU16(central, static_cast<std::uint32_t>(n.size()));
    PutU16(central, static_cast<std::uint32_t>(extra.size()));
    PutU16(central, 0);
    PutU16(central, 0);
    PutU16(central, 0);
    PutU32(central, 0x81A40000);
    PutU32(central, offset);
    central += n + extra;
  }
  std::string end;
  PutU32(end, kestrel::TEndCentralLayout::Signature);
  PutU16(end, 0);
  PutU16(end, 0);
  PutU16(end, 65535);
  PutU16(end, 65535);
  PutU32(end, static_cast<std::uint32_t>(central.size()));
  PutU32(end, static_cast<std::uint32_t>(body.size()));
  PutU16(end, 0);
  return body + central + end;
}

/// 100 MB of varied bytes with every "PK\3\4" broken up and no end record.
std::string NoLocalHeaders() {
  std::string bytes(100u * 1024 * 1024, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i)
    if (bytes[i] == 'P' && bytes[i + 1] == 'K') bytes[i + 1] = 'k';
  return bytes;
}

void Save(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

template <class F>
double BestSeconds(int repetitions, F&& run) {
  double best = 1e9;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::string folder = platform::MakePrivateFolder(platform::TempFolder(), "kestrel-bench-zip-");
  if (folder.empty()) return 1;
  const std::string many = folder + "many.zip";
  const std::string plain = folder + "plain.bin";
  Save(many, ManyEntries());
  Save(plain, NoLocalHeaders());

  std::int32_t entries = 0;
  const double directory = BestSeconds(repetitions, [&] {
    kestrel::TKestrelUnZip unzip;
    unzip.SetZipName(many);
    unzip.LoadZipDirectory();
    entries = unzip.EntryCount();
  });
  std::string outcome;
  const double search = BestSeconds(repetitions, [&] {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(kestrel::izAssumeBad);
    unzip.SetZipName(plain);
    try {
      unzip.LoadZipDirectory();
      outcome = "no failure";
    } catch (const std::exception& e) {
      outcome = e.what();
    }
  });
  std::printf("65,535-entry directory: %d entries loaded in %.3f s (best of %d)\n", entries, directory, repetitions);
  std::printf("rebuild search over 100 MB without local headers: \"%s\" in %.3f s (best of %d)\n", outcome.c_str(),
              search, repetitions);
  platform::RemoveFile(many);
  platform::RemoveFile(plain);
  platform::RemoveFolder(folder);
  return 0;
}
