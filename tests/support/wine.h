#pragma once
// Running the Windows build's programs under Wine from a Linux test: a Wine
// prefix of the test's own (so tests run side by side, each with its own
// TEMP, registry, devices and Wine server), and the Windows path of a Linux
// file.

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "support/process_runner.h"

namespace wine {

// The environment every Wine run needs besides the prefix.
inline void AddEnvironment(ProcessOptions& o) {
  o.env["WINEDEBUG"] = "-all";
  // Wine names Linux files in the locale's character set: UTF-8, for
  // non-ASCII names.
  o.env["LANG"] = "C.UTF-8";
}

inline std::string WineServerBin() {
  return std::filesystem::path(WINE64_BIN).replace_filename("wineserver").string();
}

// A prefix of one test: a copy of the booted template prefix the test run
// gives (WINE_PREFIX_TEMPLATE, booted by a CTest fixture). Wine never writes
// its program files (.dll, .exe, ...), so those are hard links to the
// template's; the registry, the devices and the users' folders are copies.
// The prefix's Wine server is killed, with whatever still runs in it, and
// the copy removed when the prefix goes.
class OwnPrefix {
 public:
  explicit OwnPrefix(std::string path) : path_(std::move(path)) { ok_ = CopyTemplate(); }
  ~OwnPrefix() {
    KillServer();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  OwnPrefix(const OwnPrefix&) = delete;
  OwnPrefix& operator=(const OwnPrefix&) = delete;

  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

  // The environment of a Wine run in this prefix.
  void AddEnvironment(ProcessOptions& o) const {
    wine::AddEnvironment(o);
    o.env["WINEPREFIX"] = path_;
  }

  // TEMP inside Wine: the prefix's folder of the Linux user.
  std::string Temp() const {
    const passwd* user = ::getpwuid(::getuid());
    return user ? path_ + "/drive_c/users/" + user->pw_name + "/Temp" : std::string();
  }

  // Makes a certificate authority trusted in this prefix: its certificate
  // (DER) goes into the machine's Root store, a registry key named by its
  // SHA-1 thumbprint, whose Blob value holds it as the store keeps it: one
  // property record, that is property id 32 (the encoded certificate), 1 and
  // the length as little-endian 32-bit numbers, then the certificate.
  // Whether `reg add` succeeded.
  bool TrustRootCertificate(const std::string& der, const std::string& thumbprint) const {
    std::string blob;
    const std::uint32_t header[] = {32, 1, static_cast<std::uint32_t>(der.size())};
    for (const std::uint32_t field : header)
      for (int shift = 0; shift < 32; shift += 8) blob += static_cast<char>(field >> shift & 0xFF);
    blob += der;
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (const unsigned char byte : blob) hex += {kHex[byte >> 4], kHex[byte & 0xF]};
    ProcessOptions o;
    o.argv = {WINE64_BIN, "reg", "add",
              "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint,
              "/v", "Blob", "/t", "REG_BINARY", "/d", hex, "/f"};
    AddEnvironment(o);
    o.timeoutSeconds = 60;
    return RunProcess(o).exitCode == 0;
  }

  // Waits until the prefix's Wine server has ended (a few seconds after its
  // last program), so that the next program starts a server, and a desktop,
  // of its own display.
  void WaitForServerEnd() const { Server("-w"); }
  // Ends the prefix's Wine server and every program still running in it.
  void KillServer() const { Server("-k"); }

 private:
  void Server(const char* option) const {
    ProcessOptions o;
    o.argv = {WineServerBin(), option};
    AddEnvironment(o);
    o.timeoutSeconds = 60;
    RunProcess(o);
  }

  static bool IsProgramFile(const std::filesystem::path& p) {
    static const std::set<std::string> kProgramTypes = {".dll", ".exe", ".sys", ".drv", ".nls",
                                                        ".ocx", ".acm", ".cpl", ".tlb", ".ds"};
    return kProgramTypes.count(p.extension().string()) > 0;
  }

  bool CopyTemplate() const {
    namespace fs = std::filesystem;
    const fs::path from = WINE_PREFIX_TEMPLATE;
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (!fs::exists(from / "system.reg") || !fs::create_directories(path_, ec)) return false;
    for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      const fs::path rel = it->path().lexically_relative(from);
      const fs::path to = fs::path(path_) / rel;
      // The template's file naming its running server's socket directory.
      if (rel == "wineserver") continue;
      if (it->is_symlink()) {
        fs::copy_symlink(it->path(), to, ec);
      } else if (it->is_directory()) {
        fs::create_directory(to, ec);
      } else if (IsProgramFile(rel)) {
        fs::create_hard_link(it->path(), to, ec);
        // Another file system: a copy.
        if (ec) fs::copy_file(it->path(), to, ec);
      } else {
        fs::copy_file(it->path(), to, ec);
      }
      if (ec) return false;
    }
    return !ec;
  }

  std::string path_;
  bool ok_ = false;
};

// The Windows path under which Wine sees a Linux path (drive Z:).
inline std::string OnDriveZ(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

}  // namespace wine
