// scripts/release end to end: with a throw-away Authenticode certificate
// (openssl) and a minisign key made here, it builds both systems twice, the
// second time from scratch in another directory, and the tests check what a
// maker ships: the archives' members, the stripped programs and their debug
// files, the Windows resources, both signatures, and that the two releases
// are byte for byte the same. One CTest entry: the releases are made once
// for all tests.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/process_runner.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSite = "http://127.0.0.1:8/maker/";
constexpr const char* kChannel = "stable-2.x";
constexpr const char* kCertPassword = "pfx secret";
constexpr const char* kSignPassword = "sign secret";

ProcessResult Sh(const std::string& command, const std::map<std::string, std::string>& env = {},
                 int timeoutSeconds = 120) {
  ProcessOptions o;
  o.argv = {"/bin/sh", "-c", command};
  for (const auto& [name, value] : env) o.env[name] = value;
  o.timeoutSeconds = timeoutSeconds;
  return RunProcess(o);
}

std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Every file under dir, by its path relative to dir, with its bytes.
std::map<std::string, std::string> Tree(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = ReadFile(entry.path());
  }
  return files;
}

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return v;
}

// The UTF-16 text as ASCII (the resource strings here are ASCII).
std::string Narrow(const std::string& utf16) {
  std::string text;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) text += utf16[i];
  return text;
}

// The value of key in a version resource's string table (as Narrow gives
// it): after the key's terminator and the padding to the next 32 bits.
std::string VersionString(const std::string& strings, const std::string& key) {
  std::size_t at = strings.find(key + '\0');
  if (at == std::string::npos) return "(no " + key + ")";
  at += key.size();
  while (at < strings.size() && strings[at] == '\0') ++at;
  return strings.substr(at, strings.find('\0', at) - at);
}

class Release : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new ScratchDir;
    const std::string keys = scratch_->path();
    // The certificate a maker would buy, made here: a self-signed one.
    const ProcessResult cert = Sh(
        "cd " + keys + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout cert.key -out cert.pem "
        "-subj '/CN=tvqlupd release test' -days 30 2>&1 && openssl pkcs12 -export -in cert.pem "
        "-inkey cert.key -out cert.pfx -passout pass:" + Quoted(kCertPassword) + " 2>&1");
    ASSERT_EQ(cert.exitCode, 0) << cert.out;
    const ProcessResult key = Sh("cd " + keys + " && printf '%s\\n%s\\n' " + Quoted(kSignPassword) + " " +
                                 Quoted(kSignPassword) + " | minisign -G -p sign.pub -s sign.key 2>&1");
    ASSERT_EQ(key.exitCode, 0) << key.out;
    const std::vector<std::string> pub = Lines(ReadFile(keys + "/sign.pub"));
    ASSERT_EQ(pub.size(), 2u);
    publicKey_ = pub[1];
    // "untrusted comment: minisign public key 5863553200D61E47"; minisign
    // leaves out leading zeros, the programs write all 16 digits.
    keyId_ = pub[0].substr(pub[0].rfind(' ') + 1);
    if (keyId_.size() < 16) keyId_.insert(0, 16 - keyId_.size(), '0');
    epoch_ = std::stoll(Sh("git -C " + Quoted(TVQ_SOURCE_DIR) + " log -1 --format=%ct").out);

    // The first release in a build directory kept between test runs; the
    // second from nothing, in a directory of another name and depth. Both
    // at once: they share nothing but the sources.
    const std::string base = std::string(TVQ_BINARY_DIR) + "/release-test";
    first_ = base + "/dist";
    second_ = keys + "/dist";
    RunningProcess release1(ReleaseOptions(RELEASE_BUILD_DIR, first_));
    RunningProcess release2(ReleaseOptions(keys + "/another/build", second_));
    const ProcessResult result1 = release1.Wait();
    const ProcessResult result2 = release2.Wait();
    ASSERT_EQ(result1.exitCode, 0) << result1.out << result1.err;
    ASSERT_EQ(result2.exitCode, 0) << result2.out << result2.err;
    // The version as the archives' names give it: tvqlupd-VERSION-windows-x64.zip.
    for (const auto& entry : fs::directory_iterator(first_)) {
      const std::string name = entry.path().filename().string();
      const std::string suffix = "-windows-x64.zip";
      if (name.starts_with("tvqlupd-") && name.ends_with(suffix))
        version_ = name.substr(8, name.size() - 8 - suffix.size());
    }
    ASSERT_FALSE(version_.empty()) << "no Windows archive in " << first_;
    unpacked_ = base + "/unpacked";
    fs::remove_all(unpacked_);
    fs::create_directories(unpacked_ + "/linux");
    fs::create_directories(unpacked_ + "/windows");
    ASSERT_EQ(Sh("tar -xzf " + LinuxArchive() + " -C " + unpacked_ + "/linux").exitCode, 0);
    ASSERT_EQ(Sh("cd " + unpacked_ + "/windows && unzip -q " + WindowsArchive()).exitCode, 0);
  }

  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  static ProcessOptions ReleaseOptions(const std::string& buildDir, const std::string& outDir) {
    const std::string keys = scratch_->path();
    ProcessOptions o;
    o.argv = {std::string(TVQ_SOURCE_DIR) + "/scripts/release", "--key", publicKey_, "--channel", kChannel,
              "--site", kSite, "--sign", keys + "/sign.key", "--authenticode", keys + "/cert.pfx", "--out", outDir,
              "--build-dir", buildDir};
    o.env["TVQ_AUTHENTICODE_PASSWORD"] = kCertPassword;
    o.env["TVQ_SIGN_PASSWORD"] = kSignPassword;
    o.timeoutSeconds = 3000;
    return o;
  }

  static std::string LinuxArchive() { return first_ + "/tvqlupd-" + version_ + "-linux-x64.tar.gz"; }
  static std::string WindowsArchive() { return first_ + "/tvqlupd-" + version_ + "-windows-x64.zip"; }
  static std::string Exe(const std::string& name) { return unpacked_ + "/windows/" + name; }
  static std::string CertPem() { return scratch_->path() + "/cert.pem"; }
  // What --version of both programs says: what the release was given.
  static std::string VersionReport() {
    return "tvqlupd " + version_ + "\ndefault update site: " + kSite + "tvqlupd/\nbuilt-in key: " + keyId_ + " " +
           publicKey_ + "\nbuilt-in channel: " + kChannel + "\n";
  }

  static inline ScratchDir* scratch_ = nullptr;
  static inline std::string publicKey_, keyId_, first_, second_, unpacked_, version_;
  static inline long long epoch_ = 0;
};

TEST_F(Release, ArchivesHoldTheProgramsAndTheReadmeWithTheCommitsTimeAndNoOwner) {
  EXPECT_EQ(Sh("tar -tzf " + LinuxArchive()).out, "README.md\ntvqlupd\ntvqpublish\n");
  EXPECT_EQ(Sh("unzip -Z1 " + WindowsArchive()).out, "README.md\ntvqlupd.exe\ntvqpublish.exe\n");
  // Owner 0/0 and the commit's time on every member.
  const std::vector<std::string> members = Lines(Sh("tar --numeric-owner --full-time -tvzf " + LinuxArchive(),
                                                    {{"TZ", "UTC"}}).out);
  const std::string when = Sh("date -u -d @" + std::to_string(epoch_) + " '+%Y-%m-%d %H:%M:%S'").out;
  ASSERT_EQ(members.size(), 3u);
  for (const std::string& m : members) {
    EXPECT_NE(m.find(" 0/0 "), std::string::npos) << m;
    EXPECT_NE(m.find(when.substr(0, when.size() - 1)), std::string::npos) << m << " not at " << when;
  }
  EXPECT_EQ(members[1].substr(0, 10), "-rwxr-xr-x");
  EXPECT_EQ(members[0].substr(0, 10), "-rw-r--r--");
  EXPECT_EQ(ReadFile(unpacked_ + "/linux/README.md"), ReadFile(std::string(TVQ_SOURCE_DIR) + "/README.md"));
  EXPECT_EQ(ReadFile(unpacked_ + "/windows/README.md"), ReadFile(std::string(TVQ_SOURCE_DIR) + "/README.md"));
}

TEST_F(Release, ProgramsAreStrippedAndNameTheirDebugFiles) {
  struct Case {
    std::string program, debugFile, objdump;
  };
  const std::vector<Case> cases = {
      {unpacked_ + "/linux/tvqlupd", "tvqlupd.debug", "objdump"},
      {unpacked_ + "/linux/tvqpublish", "tvqpublish.debug", "objdump"},
      {Exe("tvqlupd.exe"), "tvqlupd.exe.debug", "x86_64-w64-mingw32-objdump"},
      {Exe("tvqpublish.exe"), "tvqpublish.exe.debug", "x86_64-w64-mingw32-objdump"},
  };
  for (const Case& c : cases) {
    const std::string sections = Sh(c.objdump + " -h " + c.program).out;
    EXPECT_EQ(sections.find(".debug_info"), std::string::npos) << c.program;
    EXPECT_NE(sections.find(".gnu_debuglink"), std::string::npos) << c.program;
    const std::string link = Sh(c.objdump + " -s -j .gnu_debuglink " + c.program).out;
    EXPECT_NE(link.find(c.debugFile.substr(0, 12)), std::string::npos) << c.program << link;
    const std::string debug = first_ + "/debug/" + c.debugFile;
    EXPECT_NE(Sh(c.objdump + " -h " + debug).out.find(".debug_info"), std::string::npos) << debug;
  }
  EXPECT_LE(fs::file_size(Exe("tvqlupd.exe")), 4u << 20);
}

TEST_F(Release, LinuxProgramNamesTheBuiltInSiteKeyAndChannel) {
  const ProcessResult r = Sh(unpacked_ + "/linux/tvqlupd --version");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, VersionReport());
}

TEST_F(Release, WindowsProgramNamesTheBuiltInSiteKeyAndChannelUnderWine) {
  if (!fs::exists(WINE64_BIN)) GTEST_SKIP() << "no Wine";
  ProcessOptions o;
  o.argv = {WINE64_BIN, Exe("tvqlupd.exe"), "--version"};
  o.env["WINEDEBUG"] = "-all";
  o.env["DISPLAY"] = std::nullopt;
  o.timeoutSeconds = 120;
  const ProcessResult r = RunProcess(o);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string out = r.out;
  std::erase(out, '\r');
  EXPECT_EQ(out, VersionReport());
}

TEST_F(Release, AChannelNameThePublisherWouldRefuseStopsTheReleaseBeforeItBuilds) {
  for (const char* channel : {"", "two words", "beta/x"}) {
    const ProcessResult r = Sh(std::string(TVQ_SOURCE_DIR) + "/scripts/release --channel " + Quoted(channel) + " 2>&1");
    EXPECT_EQ(r.exitCode, 2) << channel;
    EXPECT_EQ(r.out.rfind("release: --channel \"" + std::string(channel) + "\":", 0), 0u) << r.out;
  }
}

TEST_F(Release, WindowsProgramsCarryManifestVersionAndIcon) {
  for (const std::string name : {"tvqlupd", "tvqpublish"}) {
    const std::string exe = Exe(name + ".exe");
    const std::string listing = Sh("wrestool -l " + exe).out;
    for (const char* type : {"--type=24", "--type=16", "--type=14", "--type=3"})
      EXPECT_NE(listing.find(type), std::string::npos) << exe << " has no " << type << ":\n" << listing;

    const std::string manifest = Sh("wrestool -x --raw --type=24 " + exe).out;
    for (const char* part : {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls", "6595b64144ccf1df",
                             "PerMonitorV2", "true/pm", "<longPathAware", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
      EXPECT_NE(manifest.find(part), std::string::npos) << exe << " manifest lacks " << part;

    // VS_FIXEDFILEINFO: 1.0j is 1.0.10.0, file and product version alike.
    const std::string info = Sh("wrestool -x --raw --type=16 " + exe).out;
    const std::size_t fixed = info.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(fixed, std::string::npos) << exe;
    const char letter = version_.back();
    const std::uint32_t third = letter >= 'a' && letter <= 'z' ? letter - 'a' + 1 : 0;
    const std::uint32_t major = std::stoul(version_);
    const std::uint32_t minor = std::stoul(version_.substr(version_.find('.') + 1));
    for (std::size_t at : {fixed + 8, fixed + 16}) {
      EXPECT_EQ(U32At(info, at), major << 16 | minor) << exe;
      EXPECT_EQ(U32At(info, at + 4), third << 16) << exe;
    }
    const std::string strings = Narrow(info.substr(fixed));
    EXPECT_EQ(VersionString(strings, "OriginalFilename"), name + ".exe");
    EXPECT_EQ(VersionString(strings, "InternalName"), name);
    EXPECT_EQ(VersionString(strings, "FileVersion"), version_);
    EXPECT_EQ(VersionString(strings, "ProductVersion"), version_);
    EXPECT_EQ(VersionString(strings, "CompanyName"), "Kestrin");
    EXPECT_EQ(VersionString(strings, "ProductName"), "Zadovez Live Update");
  }
}

// The header's time stamp is the commit's (the linker takes
// SOURCE_DATE_EPOCH) or none, never the time of the link.
TEST_F(Release, WindowsProgramsCarryNoLinkTimeInTheirHeader) {
  for (const char* name : {"tvqlupd.exe", "tvqpublish.exe"}) {
    const std::string head = ReadFile(Exe(name)).substr(0, 4096);
    const std::size_t pe = U32At(head, 0x3C);
    ASSERT_EQ(head.substr(pe, 4), std::string("PE\0\0", 4));
    const std::uint32_t stamp = U32At(head, pe + 8);
    EXPECT_TRUE(stamp == 0 || stamp == static_cast<std::uint32_t>(epoch_)) << name << ": " << stamp;
  }
}

TEST_F(Release, AuthenticodeSignatureVerifiesAndAFlippedByteBreaksIt) {
  for (const char* name : {"tvqlupd.exe", "tvqpublish.exe"}) {
    const ProcessResult ok = Sh("osslsigncode verify -CAfile " + CertPem() + " -in " + Exe(name) + " 2>&1");
    EXPECT_EQ(ok.exitCode, 0) << ok.out;
    EXPECT_NE(ok.out.find("SHA256"), std::string::npos) << ok.out;
  }
  // A byte in the middle of the code, and one in the resources' version text.
  const std::string exe = Exe("tvqlupd.exe");
  const std::string bytes = ReadFile(exe);
  const std::string original("O\0r\0i\0g\0i\0n\0a\0l", 15);
  for (std::size_t at : {bytes.size() / 3, bytes.find(original)}) {
    ASSERT_NE(at, std::string::npos);
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    const std::string flipped = scratch_->path() + "/flipped.exe";
    WriteFile(flipped, changed);
    const ProcessResult bad = Sh("osslsigncode verify -CAfile " + CertPem() + " -in " + flipped + " 2>&1");
    EXPECT_NE(bad.exitCode, 0) << "byte " << at << ": " << bad.out;
  }
}

TEST_F(Release, ChecksumsListBothArchivesAndTheirSignatureVerifies) {
  const ProcessResult sums = Sh("cd " + first_ + " && sha256sum -c SHA256SUMS");
  EXPECT_EQ(sums.exitCode, 0) << sums.out;
  EXPECT_EQ(Lines(sums.out).size(), 2u) << sums.out;
  const ProcessResult sig = Sh("minisign -V -m " + first_ + "/SHA256SUMS -P " + publicKey_ + " 2>&1");
  EXPECT_EQ(sig.exitCode, 0) << sig.out;
  EXPECT_NE(sig.out.find("file:SHA256SUMS"), std::string::npos) << sig.out;
  EXPECT_NE(sig.out.find("timestamp:" + std::to_string(epoch_)), std::string::npos) << sig.out;
  // A changed list does not verify.
  const std::string changed = scratch_->path() + "/SHA256SUMS";
  WriteFile(changed, ReadFile(first_ + "/SHA256SUMS") + "\n");
  fs::copy_file(first_ + "/SHA256SUMS.minisig", changed + ".minisig", fs::copy_options::overwrite_existing);
  EXPECT_NE(Sh("minisign -V -m " + changed + " -P " + publicKey_ + " 2>&1").exitCode, 0);
}

TEST_F(Release, TwoReleasesOfTheSameCommitAreByteIdentical) {
  const auto first = Tree(first_);
  const auto second = Tree(second_);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : first) names.push_back(name);
  EXPECT_EQ(names.size(), 8u);  // 2 archives, 2 checksum files, 4 debug files
  ASSERT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) {
    ASSERT_TRUE(second.count(name)) << name;
    EXPECT_TRUE(bytes == second.at(name)) << name << " differs";
  }
}

}  // namespace
