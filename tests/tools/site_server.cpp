// A static HTTP server for tests, demos and benchmarks: serves one directory
// on 127.0.0.1 at a port the kernel chooses, prints the port on standard
// output (and into PORTFILE) and serves until it is terminated.
//
//   site_server [--rate BYTES_PER_SECOND] [--stall NAME] DIR [PORTFILE]
//
// With --rate every file body is sent at about that rate, so a download
// lasts long enough to be cancelled. With --stall the file NAME is answered
// with its headers and then nothing at all, until the client goes: a
// stalled site.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

namespace {

httplib::Server* server = nullptr;

void Stop(int) {
  if (server) server->stop();
}

// The stalled file's body: not a byte, while the client still listens.
bool SendNothing(std::size_t, std::size_t, httplib::DataSink& sink) {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return sink.is_writable();
}

// Serves dir with every body at about rate bytes a second (0: at once),
// except the stalled file's, which never comes.
void ServeThrottled(httplib::Server& srv, const std::string& dir, long rate,
                    const std::string& stalled) {
  srv.Get(R"(/(.+))", [dir, rate, stalled](const httplib::Request& req, httplib::Response& res) {
    const std::string name = req.matches[1];
    if (name.find("..") != std::string::npos) {
      res.status = 404;
      return;
    }
    auto in = std::make_shared<std::ifstream>(dir + "/" + name, std::ios::binary);
    if (!*in) {
      res.status = 404;
      res.set_content("<html><body>404 not found</body></html>", "text/html");
      return;
    }
    in->seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(in->tellg());
    in->seekg(0);
    if (name == stalled) {
      res.set_content_provider(size, "application/octet-stream", SendNothing);
      return;
    }
    constexpr std::size_t kUnthrottledChunk = 1 << 20;
    const std::size_t chunk =
        rate > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(rate) / 10) : kUnthrottledChunk;
    const auto pause = std::chrono::milliseconds(rate > 0 ? 100 : 0);
    res.set_content_provider(
        size, "application/octet-stream",
        [in, chunk, pause](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          std::vector<char> buf(std::min(chunk, length));
          in->seekg(static_cast<std::streamoff>(offset));
          in->read(buf.data(), static_cast<std::streamsize>(buf.size()));
          std::this_thread::sleep_for(pause);
          return sink.write(buf.data(), static_cast<std::size_t>(in->gcount()));
        });
  });
}

}  // namespace

int main(int argc, char** argv) {
  long rate = 0;
  std::string stalled;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rate" && i + 1 < argc) rate = std::atol(argv[++i]);
    else if (a == "--stall" && i + 1 < argc) stalled = argv[++i];
    else args.push_back(a);
  }
  if (args.empty()) {
    std::cerr << "usage: site_server [--rate BYTES_PER_SECOND] [--stall NAME] DIR [PORTFILE]\n";
    return 2;
  }
  httplib::Server srv;
  server = &srv;
  if (rate > 0 || !stalled.empty()) {
    ServeThrottled(srv, args[0], rate, stalled);
  } else if (!srv.set_mount_point("/", args[0])) {
    std::cerr << "site_server: cannot serve " << args[0] << "\n";
    return 2;
  }
  const int port = srv.bind_to_any_port("127.0.0.1");
  if (port <= 0) {
    std::cerr << "site_server: cannot bind\n";
    return 1;
  }
  std::cout << port << std::endl;
  if (args.size() > 1) {
    // Written under another name and renamed, so a reader never sees half.
    { std::ofstream(args[1] + ".tmp") << port << "\n"; }
    std::rename((args[1] + ".tmp").c_str(), args[1].c_str());
  }
  std::signal(SIGTERM, Stop);
  std::signal(SIGINT, Stop);
  srv.listen_after_bind();
  return 0;
}
