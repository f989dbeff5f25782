#pragma once
// What the fuzz targets share: a property check that stops the run like a crash (so
// libFuzzer keeps the input), and a scratch folder for the units that read files.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// A broken property is a finding like a crash: libFuzzer saves the input that broke it.
#define FUZZ_CHECK(condition, ...)                                                            \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "property broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                      \
      std::fputc('\n', stderr);                                                               \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

namespace kelvor::fuzz {

// A private folder for the files a target writes, inside KELVOR_FUZZ_SCRATCH (tools/fuzz.sh
// puts it on a memory file system and removes it after the run: the profile-file writer
// syncs every file it replaces, and a disk would make that the whole cost of an execution),
// else in the temporary folder. libFuzzer ends without running destructors, so the folder
// is removed here only when a target is run some other way.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("KELVOR_FUZZ_SCRATCH");
    if (base == nullptr) base = std::getenv("TMPDIR");
    if (base == nullptr) base = "/tmp";
    std::string pattern = std::string(base) + "/kelvor-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("kelvor fuzz: no scratch folder");
      std::abort();
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

inline const ScratchFolder& scratch() {
  static const ScratchFolder folder;
  return folder;
}

// Replaces the file's content with `bytes`.
inline void writeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits `input` at its first line break: the fields of a header line ("a|b|c"), and the
// rest. Targets whose input is a file put what they do with it in such a first line, so
// their seeds stay readable files.
struct HeaderAndBody {
  std::string fields[3];
  std::string_view body;
};

inline HeaderAndBody splitHeader(std::string_view input) {
  HeaderAndBody split;
  const auto newline = input.find('\n');
  const std::string_view header = input.substr(0, newline);
  split.body = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  std::size_t field = 0;
  for (char c : header) {
    if (c == '|' && field < 2) {
      ++field;
    } else {
      split.fields[field] += c;
    }
  }
  return split;
}

}  // namespace kelvor::fuzz
