// End-to-end under Wine: the Windows build's tvqlupd.exe in a throw-away
// application directory, against update sites made with tvqpublish and read
// as file:///Z:\... directories or served over HTTP by a native server on
// 127.0.0.1. Inside Wine, TEMP is the prefix's own: each test runs in a
// prefix of its own, so the tests run side by side.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "publish/site_list.h"
#include "support/http_test_server.h"
#include "support/new_updater.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_authority.h"
#include "support/updater_env.h"
#include "support/wine.h"

namespace fs = std::filesystem;

namespace {

const std::string kHeader1 = "<update id=\"TVQ2026-01-10\">";
const std::string kHeader2 = "<update id=\"TVQ2026-02-20\">";

using wine::OnDriveZ;

std::string FileSite(const UpdaterEnv& env) {
  return "file:///" + OnDriveZ(env.site) + "\\";
}

class WineRun : public ::testing::Test {
 protected:
  UpdaterEnv env{TVQLUPD_EXE, {WINE64_BIN}};
  // After env: it goes first, with its server, before env's directory.
  wine::OwnPrefix prefix{env.Root() + "/wineprefix"};

  void SetUp() override { ASSERT_TRUE(prefix.ok()) << "no copy of " << WINE_PREFIX_TEMPLATE; }

  ProcessOptions Options(const std::vector<std::string>& args = {}) const {
    ProcessOptions o = env.RunOptions(args);
    prefix.AddEnvironment(o);
    o.workDir = env.app;
    return o;
  }
  ProcessResult Run(const std::vector<std::string>& args = {}) const {
    return RunProcess(Options(args));
  }
};

// Waits up to 60 s for a file to appear.
bool AppearsWithin60s(const std::string& path) {
  for (int i = 0; i < 1200; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// Whether a file of that name appears in a work directory of the prefix's
// TEMP within 60 s (the directory's name ends in the installation's key,
// which the program derives from its Windows path).
bool AppearsInAWorkDirWithin60s(const std::string& wineTemp, const std::string& name) {
  for (int i = 0; i < 1200; ++i) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(wineTemp, ec))
      if (e.path().filename().string().rfind("tvqlupd-", 0) == 0 && fs::exists(e.path() / name))
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST_F(WineRun, FileSiteOnDriveZInstallsOneUpdatePerRunAndRecordsIt) {
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first update\r\n"}}), 0);
  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second update\r\n"}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + FileSite(env)});

  auto first = Run();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "first update\r\n");
  EXPECT_FALSE(PathExists(env.AppFile("help.txt")));
  // A list read from a directory is held as joined lines: the whole block.
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader1, 0), 0u) << env.Settings();
  EXPECT_NE(first.err.find("host: Z:"), std::string::npos) << first.err;

  auto second = Run();
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(ReadFile(env.AppFile("help.txt")), "second update\r\n");
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader2, 0), 0u) << env.Settings();

  auto third = Run();
  EXPECT_NE(third.err.find("exiting (no new updates found)..."), std::string::npos) << third.err;
}

TEST_F(WineRun, CorruptFileIsRefusedAndNothingRecorded) {
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tool.bin", std::string(3000, 'g')}}), 0);
  // Same size, other bytes: only the checksum can tell.
  WriteFile(env.site + "/tool.bin", std::string(2999, 'g') + "B");
  auto run = Run({"/P" + OnDriveZ(env.site) + "\\"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(PathExists(env.AppFile("tool.bin")));
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "");
  EXPECT_NE(run.err.find("aborting (error found)"), std::string::npos) << run.err;
}

TEST_F(WineRun, DeliveredBatchFileIsStartedAfterTheInstallation) {
  // The batch file runs in the application directory, after the update is recorded.
  ASSERT_EQ(env.Publish("TVQ2026-01-10",
                        {{"tvqlupd.bat", "@echo off\r\necho batch ran> batch-ran.txt\r\n"}}),
            0);
  env.WriteSettings({"LiveUpdate.www=" + FileSite(env)});
  auto run = Run();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(AppearsWithin60s(env.AppFile("batch-ran.txt"))) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("batch-ran.txt")), "batch ran\r\n");
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader1, 0), 0u);
}

TEST_F(WineRun, NonAsciiDirectoriesWork) {
  env.PlaceApp(env.Root() + "/J\xC3\xBCrgen M\xC3\xBCller/Programme/Zadovez");
  env.site = env.Root() + "/Aktualisierungen f\xC3\xBCr Gr\xC3\xB6\xC3\x9F" "e";
  fs::create_directories(env.site);
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"liesmich.txt", "\xC3\xA4nderungen\r\n"}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + FileSite(env)});
  auto run = Run();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("liesmich.txt")), "\xC3\xA4nderungen\r\n") << run.err;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader1, 0), 0u) << run.err;
}

TEST_F(WineRun, HttpSiteInstallsOneUpdatePerRunAndRecordsIt) {
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first update\r\n"}}), 0);
  ASSERT_EQ(env.Publish("TVQ2026-02-20", {{"help.txt", "second update\r\n"}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + env.Serve()});
  auto first = Run();
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "first update\r\n") << first.err;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1);
  EXPECT_NE(first.err.find("host: 127.0.0.1"), std::string::npos) << first.err;
  auto second = Run();
  EXPECT_EQ(ReadFile(env.AppFile("help.txt")), "second update\r\n") << second.err;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader2);
}

// The updater's own new version, packed and plain: the running tvqlupd.exe
// stays, its new version is set aside beside it.
class WineNewUpdater : public WineRun, public ::testing::WithParamInterface<NewUpdaterListing> {};

TEST_P(WineNewUpdater, IsSetAsideWithTheUpdateAndRecorded) {
  const std::string newUpdater = PublishNewUpdater(env, GetParam());
  env.WriteSettings({"LiveUpdate.www=" + FileSite(env)});
  const std::string oldProgram = ReadFile(env.ProgramPath());
  ExpectNewUpdaterInstalled(env, GetParam(), oldProgram, newUpdater, Run());
}

INSTANTIATE_TEST_SUITE_P(Listings, WineNewUpdater,
                         ::testing::Values(NewUpdaterListing{"tvqlupd.ex_", "tvqlupd.exe.newversion"},
                                           NewUpdaterListing{"tvqlupd.exe", "tvqlupd.exe.newversion"}),
                         [](const auto& info) { return ListingTestName(info.param); });

// Counts the openings of one file (inotify) from the counter's start on.
class OpenCounter {
 public:
  explicit OpenCounter(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    ok_ = fd_ >= 0 && ::inotify_add_watch(fd_, path.c_str(), IN_OPEN) >= 0;
  }
  ~OpenCounter() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;

  // Waits up to 60 s until the file was opened `count` times; whether it was.
  bool WaitFor(int count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ok_ && opened_ < count && std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      alignas(inotify_event) char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_OPEN) ++opened_;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return opened_ >= count;
  }

 private:
  int fd_;
  bool ok_ = false;
  int opened_ = 0;
};

TEST_F(WineRun, PackedMainApplicationWaitsForTheRunningOneToExit) {
  // tvq.exe in the application directory is a running program until the
  // stop file appears; the update brings a new one packed as tvq.ex_.
  const std::string sleeper = ReadFile(WIN_SLEEPER_EXE);
  WriteFile(env.AppFile("tvq.exe"), sleeper);
  const std::string pack = env.Root() + "/pack";
  fs::create_directories(pack);
  WriteFile(pack + "/tvq.exe", "new main application, version 2.0\r\n");
  ProcessOptions compress;
  compress.argv = {"/usr/bin/mscompress", pack + "/tvq.exe"};
  ASSERT_EQ(RunProcess(compress).exitCode, 0);
  fs::rename(pack + "/tvq.exe_", pack + "/tvq.ex_");
  ASSERT_EQ(env.PublishPaths("TVQ2026-01-10", {pack + "/tvq.ex_"}), 0);
  env.WriteSettings({"LiveUpdate.www=" + FileSite(env)});

  const std::string stop = env.AppFile("stop");
  ProcessOptions running = Options();
  running.argv = {WINE64_BIN, env.AppFile("tvq.exe"), OnDriveZ(stop), OnDriveZ(env.AppFile("started"))};
  RunningProcess mainApp(running);
  ASSERT_TRUE(AppearsWithin60s(env.AppFile("started")));

  RunningProcess updater(Options({"/Log=" + OnDriveZ(env.Root() + "/run.log")}));
  // The run has expanded the new tvq.exe and now tries the old one, once a
  // second, for writing (Wine opens the file to learn that it is in use):
  // three tries mean it has found it running and waited twice.
  ASSERT_TRUE(AppearsInAWorkDirWithin60s(prefix.Temp(), "tvq.exe"));
  OpenCounter opens(env.AppFile("tvq.exe"));
  ASSERT_TRUE(opens.WaitFor(3)) << "the run never tried the running tvq.exe";
  EXPECT_EQ(ReadFile(env.AppFile("tvq.exe")), sleeper);
  WriteFile(stop, "");
  mainApp.Wait();
  auto run = updater.Wait();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(env.AppFile("tvq.exe")), "new main application, version 2.0\r\n") << run.err;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader1, 0), 0u);
}

// Points COM1 of the test's own prefix at a plain file of that prefix (the
// registry's port setting and the drive link both), so a name that reached
// the device would show there, never on real hardware; the file, or "" when
// it could not be done. The prefix goes with the test, and the setting too.
std::string PointCom1AtAPlainFile(const wine::OwnPrefix& prefix) {
  const std::string file = prefix.path() + "/com1-stand-in.txt";
  const std::string link = prefix.path() + "/dosdevices/com1";
  WriteFile(file, "untouched");
  ProcessOptions reg;
  reg.argv = {WINE64_BIN, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d", file, "/f"};
  prefix.AddEnvironment(reg);
  if (RunProcess(reg).exitCode != 0) return {};
  std::error_code ec;
  fs::remove(link, ec);
  fs::create_symlink(file, link, ec);
  return ec ? std::string() : file;
}

TEST_F(WineRun, DeviceNamesAreRefusedAndTheDeviceIsNeverOpened) {
  const std::string com1 = PointCom1AtAPlainFile(prefix);
  ASSERT_FALSE(com1.empty());
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "first\r\n"}}), 0);
  const std::string log = env.Root() + "/run.log";
  const std::string served = env.Serve();
  const struct {
    std::string name;
    const char* cause;
  } rows[] = {{"COM1", "the name is a device on Windows"}, {"readme.txt.", "the name ends in a dot or a blank"}};
  for (const auto& row : rows) {
    WriteFile(env.site + "/" + row.name, "from the site");
    FileEntry entry;
    entry.name = row.name;  // no size or checksum: only the name check stands in the way
    WriteFile(env.site + "/!update-info.txt", MakeBlock("TVQ2026-01-10", {entry}));
    for (const std::string& site : {served, FileSite(env)}) {
      env.WriteSettings({"LiveUpdate.www=" + site, "LiveUpdate.installationInfo=0"});
      fs::remove(log);
      const ProcessResult run = Run({"/Log=" + OnDriveZ(log)});
      EXPECT_EQ(run.exitCode, 0);
      const std::string account = ReadFile(log);
      EXPECT_NE(account.find("(" + row.name + ": not a plain file name: " + row.cause + ")"), std::string::npos)
          << account;
      EXPECT_EQ(ReadFile(com1), "untouched") << site;
      EXPECT_FALSE(PathExists(env.AppFile("readme.txt"))) << site;
      EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "<absent>") << site;
    }
  }
}

TEST_F(WineRun, RefusedConnectionAndDeadProxyNameTheSystemsCause) {
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "through the direct way\r\n"}}), 0);
  const std::string log = env.Root() + "/run.log";
  const std::string dead = "http://127.0.0.1:" + std::to_string(HttpTestServer::DeadPort()) + "/";
  // Nothing listens at the site: every method says why.
  env.WriteSettings({"LiveUpdate.www=" + dead, "LiveUpdate.installationInfo=0"});
  Run({"/Log=" + OnDriveZ(log)});
  std::string account = ReadFile(log);
  EXPECT_EQ(account.find("ended before the whole body"), std::string::npos) << account;
  EXPECT_NE(account.find("trying DIRECT internet connection\n  failed: "), std::string::npos) << account;
  EXPECT_NE(account.find("(error 12029)"), std::string::npos) << account;
  EXPECT_NE(account.find("trying using URLDownloadToFile()\n  failed: the connection to the server could not be made ("),
            std::string::npos)
      << account;

  // A proxy that is gone fails the preconfigured way with its cause.
  env.WriteSettings({"LiveUpdate.www=" + env.Serve(), "LiveUpdate.installationInfo=0"});
  fs::remove(log);
  ProcessOptions o = Options({"/Log=" + OnDriveZ(log)});
  o.env["http_proxy"] = dead;
  RunProcess(o);
  account = ReadFile(log);
  EXPECT_NE(account.find("trying PRECONFIGURED internet connection\n  failed: "), std::string::npos) << account;
  EXPECT_NE(account.find("(error 120"), std::string::npos) << account;
}

TEST_F(WineRun, HttpsSiteOfAnAuthorityInTheRootStoreInstallsAndCertificateFailuresAreNamed) {
  ScratchDir certs, strangerCerts;
  const TestAuthority authority(certs.path()), stranger(strangerCerts.path());
  const auto trusted = authority.ForCertificateStore();
  ASSERT_TRUE(trusted && stranger.ok());
  ASSERT_TRUE(prefix.TrustRootCertificate(trusted->der, trusted->thumbprint));
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"readme.txt", "over https\r\n"}}), 0);
  const std::string log = env.Root() + "/run.log";
  // WinInet's cause, or none where the site is trusted; the last resort
  // (URLMON) names every certificate failure alike.
  const struct {
    const char* what;
    std::optional<TlsFiles> tls;
    const char* cause;
  } rows[] = {
      {"another name", authority.Issue("other", "DNS:other.invalid"),
       "the certificate's name does not match the site's host name 'localhost' (error 12038)"},
      // Wine reports an issuer missing from the store as a failed revocation check.
      {"authority not in the store", stranger.Issue("stranger", "DNS:localhost"),
       "the certificate's revocation could not be checked (its issuer is unknown"},
      {"trusted", authority.Issue("site", "DNS:localhost"), nullptr},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(row.tls) << row.what;
    NginxServer nginx(env.site, *row.tls);
    ASSERT_TRUE(nginx.ok()) << nginx.failure();
    // Wine matches a certificate's names against an address strictly: the
    // site is named. Empty alternatives keep the default site from being tried.
    std::vector<std::string> settings = {"LiveUpdate.www=https://localhost:" + std::to_string(nginx.port()) + "/",
                                         "LiveUpdate.installationInfo=0"};
    for (int n = 1; n <= 9; ++n) settings.push_back("LiveUpdate.www." + std::to_string(n) + "=");
    env.WriteSettings(settings);
    fs::remove(log);
    const ProcessResult run = Run({"/Log=" + OnDriveZ(log)});
    const std::string account = ReadFile(log);
    EXPECT_EQ(run.exitCode, 0) << row.what;
    if (!row.cause) {
      EXPECT_EQ(ReadFile(env.AppFile("readme.txt")), "over https\r\n") << account;
      EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1) << account;
      EXPECT_EQ(account.find("failed:"), std::string::npos) << account;
      continue;
    }
    for (const char* method : {"PRECONFIGURED internet connection", "DIRECT internet connection"})
      EXPECT_NE(account.find(std::string("trying ") + method + "\n  failed: SSL certificate problem: " + row.cause),
                std::string::npos)
          << row.what << ": " << account;
    EXPECT_NE(account.find("trying using URLDownloadToFile()\n  failed: SSL certificate problem: the certificate "
                           "is invalid or not trusted (0x800C0019)"),
              std::string::npos)
        << row.what << ": " << account;
    EXPECT_NE(run.err.find("because: SSL certificate problem: "), std::string::npos) << run.err;
    EXPECT_FALSE(PathExists(env.AppFile("readme.txt"))) << row.what;
    EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "<absent>") << row.what;
    EXPECT_TRUE(nginx.Requests().empty()) << row.what;
  }
}

TEST_F(WineRun, TruncatedLastResortTransferFailsWithItsCause) {
  const std::string body(5000, 't');
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"tool.bin", body}}), 0);
  // No size or checksum in the list: only the transfer can tell.
  FileEntry entry;
  entry.name = "tool.bin";
  WriteFile(env.site + "/!update-info.txt", MakeBlock("TVQ2026-01-10", {entry}));
  HttpTestServer server(env.site);
  server.DropAfter("tool.bin", 1000, 1000);
  const std::string log = env.Root() + "/run.log";
  env.WriteSettings({"LiveUpdate.www=" + server.BaseUrl(), "LiveUpdate.installationInfo=0"});
  Run({"/Log=" + OnDriveZ(log)});
  const std::string account = ReadFile(log);
  EXPECT_NE(account.find("trying using URLDownloadToFile()\n  failed: the connection ended before the whole body "
                         "arrived (1000 of 5000 bytes)"),
            std::string::npos)
      << account;
}

// The work directories in the prefix's TEMP.
std::set<std::string> WorkDirsIn(const std::string& wineTemp) {
  std::set<std::string> dirs;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(wineTemp, ec))
    if (e.path().filename().string().rfind("tvqlupd-", 0) == 0) dirs.insert(e.path().string());
  return dirs;
}

// Bytes of downloads kept in the work directories of TEMP not among `earlier`.
std::uintmax_t KeptBytesOutside(const std::string& wineTemp, const std::set<std::string>& earlier) {
  std::uintmax_t total = 0;
  for (const std::string& dir : WorkDirsIn(wineTemp))
    if (!earlier.count(dir)) total += KeptBytesIn(dir);
  return total;
}

TEST_F(WineRun, ADownloadKilledHalfwayIsContinuedOverWinInet) {
  constexpr std::size_t kSize = std::size_t{2} << 20;
  const std::string data(kSize, 'r');
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"data.bin", data}}), 0);
  NginxServer nginx(env.site, 512 * 1024);  // about 4 s for the file
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url()});
  const std::string temp = prefix.Temp();
  const std::set<std::string> earlier = WorkDirsIn(temp);
  {
    RunningProcess run(Options());
    ASSERT_TRUE(WaitWhileRunning(run, [&] { return KeptBytesOutside(temp, earlier) >= kSize / 2; }))
        << "the download did not get halfway";
    run.Signal(SIGKILL);
    run.Wait();
  }
  const std::uintmax_t kept = KeptBytesOutside(temp, earlier);
  const std::string log = env.Root() + "/run.log";
  Run({"/Log=" + OnDriveZ(log)});
  EXPECT_TRUE(ReadFile(env.AppFile("data.bin")) == data) << ReadFile(log);
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), kHeader1);
  const auto answers = nginx.Answers("/data.bin", 2);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[1].status, 206);
  EXPECT_EQ(answers[1].bytes, kSize - kept);
}

TEST_F(WineRun, ASecondRunOfOneInstallationIsRefusedWhileTheFirstRuns) {
  constexpr std::size_t kSize = std::size_t{1} << 20;
  ASSERT_EQ(env.Publish("TVQ2026-01-10", {{"data.bin", std::string(kSize, 'd')}}), 0);
  env.WriteSettings({"LiveUpdate.www=" + env.Serve(64 * 1024)});  // about 16 s for the file
  const std::string temp = prefix.Temp();
  const std::set<std::string> earlier = WorkDirsIn(temp);
  RunningProcess first(Options());
  ASSERT_TRUE(WaitWhileRunning(first, [&] { return KeptBytesOutside(temp, earlier) > 0; }))
      << "the first run did not begin its download";
  const ProcessResult second = Run();
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_NE(second.err.find("another update run is in progress"), std::string::npos) << second.err;
  EXPECT_TRUE(first.Running()) << "the first run held the lock all along";
  // The first run goes on as if alone.
  const ProcessResult done = first.Wait();
  EXPECT_EQ(done.exitCode, 0) << done.err;
  EXPECT_EQ(fs::file_size(env.AppFile("data.bin")), kSize);
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo").rfind(kHeader1, 0), 0u) << env.Settings();
}

}  // namespace

namespace {

// Version v of a 256 KiB file: the same pseudo-random bytes with v small
// edits, so that each version is a small patch from the one before.
std::string DeltaVersion(int v, std::uint32_t seed) {
  std::string data(std::size_t{256} << 10, '\0');
  std::uint32_t x = seed;
  for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  for (int i = 2; i <= v; ++i) data.replace(static_cast<std::size_t>(i) * 40000, 32, std::string(32, char('a' + i)));
  return data;
}

}  // namespace

// Delta updates under Wine: a signed site over HTTP with patches of a data
// file and of the packed main application; an installation of the first
// version fetches only the patches (counted at nginx) and installs both new
// files byte for byte.
TEST_F(WineRun, SignedSiteDeliversPatchesOfADataFileAndThePackedMainApplication) {
  ProcessOptions keygen;
  keygen.argv = {TVQPUBLISH_BIN, "keygen", env.Root() + "/k.key", "--unencrypted"};
  const ProcessResult key = RunProcess(keygen);
  ASSERT_EQ(key.exitCode, 0) << key.err;
  env.signKey = env.Root() + "/k.key";
  const auto program = [](int v) { return "MZ" + DeltaVersion(v, 777); };
  for (int v = 1; v <= 2; ++v)
    ASSERT_EQ(env.Publish("TVQ2026-0" + std::to_string(v), {{"lib.bin", DeltaVersion(v, 1)}, {"tvq.exe", program(v)}}),
              0);
  NginxServer nginx{env.site};
  ASSERT_TRUE(nginx.ok()) << nginx.failure();
  WriteFile(env.AppFile("lib.bin"), DeltaVersion(1, 1));
  WriteFile(env.AppFile("tvq.exe"), program(1));
  env.WriteSettings({"LiveUpdate.www=" + nginx.Url(), "LiveUpdate.installationInfo=0",
                     "LiveUpdate.publicKey=" + key.out.substr(0, key.out.find('\n')),
                     "LiveUpdate.lastUpdateInfo=<update id=\"TVQ2026-01\">"});
  const std::string log = env.Root() + "/run.log";
  const ProcessResult run = Run({"/Log=" + OnDriveZ(log)});
  const std::string account = ReadFile(log);
  EXPECT_EQ(run.exitCode, 0) << account;
  EXPECT_TRUE(ReadFile(env.AppFile("lib.bin")) == DeltaVersion(2, 1)) << account;
  EXPECT_TRUE(ReadFile(env.AppFile("tvq.exe")) == program(2)) << account;
  EXPECT_EQ(env.Setting("LiveUpdate.lastUpdateInfo"), "<update id=\"TVQ2026-02\">");
  EXPECT_TRUE(nginx.Answers("/lib.bin").empty() && nginx.Answers("/tvq.ex_").empty()) << account;
  std::size_t patched = 0;
  for (std::size_t at = account.find(" patched: "); at != std::string::npos; at = account.find(" patched: ", at + 1))
    ++patched;
  EXPECT_EQ(patched, 2u) << account;
}
