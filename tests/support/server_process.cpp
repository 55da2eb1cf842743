#include "support/server_process.h"

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "support/http_test_server.h"

namespace fs = std::filesystem;

namespace {

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string EffectiveUserName() {
  const passwd* pw = getpwuid(geteuid());
  return pw ? pw->pw_name : std::to_string(geteuid());
}

std::string EffectiveGroupName() {
  const group* gr = getgrgid(getegid());
  return gr ? gr->gr_name : std::to_string(getegid());
}

ServerProcess::ServerProcess(const std::string& kind) {
  const fs::path base = fs::path(TVQ_BINARY_DIR) / "test-servers";
  std::error_code ec;
  fs::create_directories(base, ec);
  std::string templ = (base / (kind + "-XXXXXX")).string();
  if (mkdtemp(templ.data())) dir_ = templ;
}

ServerProcess::~ServerProcess() {
  Stop();
  const auto* test = ::testing::UnitTest::GetInstance();
  const bool failed = test->current_test_info() && test->current_test_info()->result()->Failed();
  std::error_code ec;
  if (!dir_.empty() && !failed) fs::remove_all(dir_, ec);
}

bool ServerProcess::Start(const std::function<std::vector<std::string>(int port)>& prepare) {
  if (dir_.empty()) {
    failure_ = "no directory for the server";
    return false;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = HttpTestServer::DeadPort();
    ProcessOptions o;
    // A test process killed outright cannot stop its server; the server
    // then ends on its own after a while instead of listening for ever.
    o.argv = {"/usr/bin/timeout", "900"};
    for (auto& arg : prepare(port)) o.argv.push_back(arg);
    o.workDir = dir_;
    o.timeoutSeconds = 3600;
    process_ = std::make_unique<RunningProcess>(o);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (process_->Running() && std::chrono::steady_clock::now() < deadline) {
      if (Accepts(port)) {
        port_ = port;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (process_->Running()) {
      failure_ = o.argv[2] + " did not accept connections within 15 s";
      process_.reset();  // kills its whole process group
      return false;
    }
    const ProcessResult r = process_->Wait();
    failure_ = o.argv[2] + " did not come up: " + r.out + r.err;
    process_.reset();
  }
  return false;
}

void ServerProcess::Stop() {
  if (!process_) return;
  process_->Signal(SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (process_->Running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  process_.reset();  // collects it, or kills what is left of its process group
}
