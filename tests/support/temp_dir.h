#pragma once
// A fresh temporary directory for one test, removed with everything in it
// when the test ends; plus small file helpers for tests.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

class ScratchDir {
 public:
  ScratchDir() {
#ifdef _WIN32
    // No mkdtemp on Windows: try fresh names until one can be made.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const auto candidate = base / ("tvqtest-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.string();
    }
#else
    std::string templ = (std::filesystem::temp_directory_path() / "tvqtest-XXXXXX").string();
    path_ = mkdtemp(templ.data()) ? templ : std::string();
#endif
  }
  ~ScratchDir() {
    std::error_code ec;
    // Give back write rights that a test took away, so everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // The platform's delimiter, so that the program's path functions split it.
  std::string operator/(const std::string& name) const { return path_ + kDelim + name; }

 private:
#ifdef _WIN32
  static constexpr char kDelim = '\\';
#else
  static constexpr char kDelim = '/';
#endif
  std::string path_;
};

// A path written with '/' in the platform's own delimiter.
inline std::string NativePath(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Deterministic binary content of the given size; another seed gives other
// bytes of the same size.
inline std::string Pattern(std::size_t size, int seed = 0) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 131 + i / 7 + seed * 37);
  return s;
}

// Waits (real time) until a file that another process writes holds at least
// `lines` complete lines; its content then, or what it holds after the time
// limit.
inline std::string AwaitFile(const std::string& path, int lines = 1, int timeoutSeconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    const std::string text = ReadFile(path);
    if (std::count(text.begin(), text.end(), '\n') >= lines ||
        std::chrono::steady_clock::now() > end) {
      return text;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}
