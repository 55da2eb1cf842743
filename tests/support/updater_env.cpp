#include "support/updater_env.h"

#include "app/context/names.h"
#include "platform/os.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Bin(const std::string& name) {
  return std::string(TVQ_BINARY_DIR) + "/" + name;
}

}  // namespace

bool RunningAsRoot() {
  return geteuid() == 0;
}

UpdaterEnv::UpdaterEnv(std::string program, std::vector<std::string> launcher)
    : temp(root_ / "temp"),
      site(root_ / "site"),
      program_(std::move(program)),
      programName_(fs::path(program_).filename().string()),
      launcher_(std::move(launcher)) {
  fs::create_directories(temp);
  fs::create_directories(site);
  // Runs as another user need to reach everything below the root.
  fs::permissions(root_.path(), fs::perms::all);
  fs::permissions(temp, fs::perms::all);
  PlaceApp(root_ / "app");
}

void UpdaterEnv::PlaceApp(const std::string& dir) {
  app = dir;
  fs::create_directories(app);
  fs::copy_file(program_, ProgramPath());
  fs::permissions(ProgramPath(), fs::perms(0755));
}

std::string UpdaterEnv::WorkDir() const {
  return temp + "/" + fs::path(programName_).stem().string() + "-" +
         WorkKeyOf(app, os::CurrentAccount());
}

std::uintmax_t KeptBytesIn(const std::string& workDir) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(workDir + "/.kept", ec)) {
    if (e.path().extension() == ".data") total += e.file_size(ec);
  }
  return total;
}

bool WaitWhileRunning(RunningProcess& run, const std::function<bool()>& reached) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!reached() && run.Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return reached();
}

bool UpdaterEnv::WaitForKeptBytes(RunningProcess& run, std::uintmax_t bytes) const {
  return WaitWhileRunning(run, [&] { return KeptBytes() >= bytes; });
}

UpdaterEnv::~UpdaterEnv() {
  if (server_) server_->Signal(SIGTERM);
}

std::string UpdaterEnv::Settings() const {
  std::string s = ReadFile(SettingsPath());
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

std::string UpdaterEnv::Setting(const std::string& key) const {
  std::istringstream in(Settings());
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "<absent>";
}

void UpdaterEnv::WriteSettings(const std::vector<std::string>& lines) const {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  WriteFile(SettingsPath(), text);
}

int UpdaterEnv::Publish(const std::string& id, const std::map<std::string, std::string>& files) {
  const std::string dir = root_ / ("files" + std::to_string(++files_));
  fs::create_directories(dir);
  std::vector<std::string> paths;
  for (const auto& [name, content] : files) {
    WriteFile(dir + "/" + name, content);
    paths.push_back(dir + "/" + name);
  }
  return PublishPaths(id, paths);
}

int UpdaterEnv::PublishPaths(const std::string& id, const std::vector<std::string>& paths) {
  ProcessOptions o;
  o.argv = {Bin("tvqpublish"), "add", site, "--id", id};
  o.argv.insert(o.argv.end(), paths.begin(), paths.end());
  if (!signKey.empty()) {
    o.argv.push_back("--sign");
    o.argv.push_back(signKey);
  }
  return RunProcess(o).exitCode;
}

std::string UpdaterEnv::List() const {
  return ReadFile(site + "/!update-info.txt");
}

std::string UpdaterEnv::Serve(long bytesPerSecond, const std::string& stalled) {
  const std::string portFile = root_ / "port";
  ProcessOptions o;
  o.argv = {Bin("tests/site_server")};
  if (bytesPerSecond > 0) {
    o.argv.push_back("--rate");
    o.argv.push_back(std::to_string(bytesPerSecond));
  }
  if (!stalled.empty()) {
    o.argv.push_back("--stall");
    o.argv.push_back(stalled);
  }
  o.argv.push_back(site);
  o.argv.push_back(portFile);
  o.timeoutSeconds = 3600;
  server_ = std::make_unique<RunningProcess>(o);
  for (int i = 0; i < 100 && !PathExists(portFile); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::string port = PathExists(portFile) ? ReadFile(portFile) : "";
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
  // Without its port every run would go to port 80 and fail for another reason.
  if (port.empty()) throw std::runtime_error("the site server did not start: " + Bin("tests/site_server"));
  return "http://127.0.0.1:" + port + "/";
}

ProcessOptions UpdaterEnv::RunOptions(const std::vector<std::string>& args) const {
  ProcessOptions o;
  o.argv = launcher_;
  o.argv.push_back(ProgramPath());
  o.argv.insert(o.argv.end(), args.begin(), args.end());
  o.env = {{"TEMP", temp},   {"LANG", "C"},          {"LC_ALL", std::nullopt},
           {"DISPLAY", std::nullopt}, {"http_proxy", std::nullopt}, {"https_proxy", std::nullopt},
           {"PROGRAMFILES", std::nullopt}, {"XDG_CACHE_HOME", CacheHome()}};
  if (timeRate > 1 || clockOffsetSeconds != 0) {
    o.env["LD_PRELOAD"] = TVQ_LIBFAKETIME;
    o.env["FAKETIME"] = (clockOffsetSeconds < 0 ? "" : "+") + std::to_string(clockOffsetSeconds) +
                        (timeRate > 1 ? " x" + std::to_string(timeRate) : "");
    o.env["NO_FAKE_STAT"] = "1";  // file dates stay the file system's
  }
  o.workDir = temp;
  o.timeoutSeconds = 120;
  return o;
}

ProcessResult UpdaterEnv::Run(const std::vector<std::string>& args) const {
  return RunProcess(RunOptions(args));
}

std::string UpdaterEnv::Listing() const {
  std::vector<std::string> lines;
  for (const auto& e : fs::directory_iterator(app)) {
    // The run lock's file is the installation's, not one of its files.
    if (e.path().filename() == "." + fs::path(programName_).stem().string() + ".lock") continue;
    std::error_code ec;
    const auto size = e.is_regular_file(ec) ? fs::file_size(e.path(), ec) : 0;
    lines.push_back(e.path().filename().string() + " " + std::to_string(size));
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string Compressed(const std::string& dir, const std::string& name, const std::string& content) {
  const std::string plain = dir + "/" + name;
  WriteFile(plain, content);
  ProcessOptions o;
  o.argv = {"/usr/bin/mscompress", plain};
  RunProcess(o);
  std::string packed = ReadFile(plain + "_");
  std::filesystem::remove(plain);
  std::filesystem::remove(plain + "_");
  return packed;
}
