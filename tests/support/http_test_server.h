#pragma once
// An HTTP server on 127.0.0.1 inside the test process (port chosen by the
// kernel) that serves the files of one directory, with fault modes per path.
//
//   ScratchDir site;
//   WriteFile(site / "a.txt", "hello");
//   HttpTestServer server(site.path());       // running when constructed
//   server.DropAfter("a.txt", 3);             // first request: 3 bytes, then the connection drops
//   FetchFile(server.Url("a.txt"), target, true);
//   server.RequestCount("a.txt");             // 2: dropped, then served whole
//
// A name is the request path without its leading "/", as the client meant it
// (percent-escapes decoded); asked as a proxy, the whole address ("http://
// 127.0.0.1:PORT/a.txt"). A missing file, a directory or a name with ".." is
// answered with 404 and a small HTML page. Fault modes stay until
// ClearFaults(); the destructor stops the server, ending stalled answers.

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class HttpTestServer {
 public:
  explicit HttpTestServer(std::string root);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int Port() const { return port_; }
  std::string BaseUrl() const;                     // "http://127.0.0.1:PORT/"
  std::string Url(const std::string& name) const;  // BaseUrl() + name

  // Answers name with this body instead of the file.
  void SetBody(const std::string& name, const std::string& body);
  // Answers the n-th request for name with bodies[n-1]; the last one repeats
  // (a list that changes between readings).
  void SetBodies(const std::string& name, std::vector<std::string> bodies);
  // Answers name with status (404 unless given) and an HTML page even when
  // the file exists.
  void ServeErrorPage(const std::string& name, int status = 404);
  // The first `times` requests for name announce the full length (or answer
  // a Range), send `bytes` bytes and drop the connection; later requests are
  // served whole.
  void DropAfter(const std::string& name, std::size_t bytes, int times = 1);
  // Sends `bytes` bytes of name, then nothing more until the server stops.
  void Stall(const std::string& name, std::size_t bytes);
  // Sends name in pieces of `chunk` bytes with `delayMs` between them.
  void Slow(const std::string& name, std::size_t chunk, int delayMs);
  // Answers name with a 302 redirect to target (a name on this server).
  void Redirect(const std::string& name, const std::string& target);
  // Answers name with a 302 redirect to an absolute address (any scheme).
  void RedirectTo(const std::string& name, const std::string& url);
  // Answers name with a body that never ends (chunked, no length), until the
  // client goes away or the server stops -- or, so that a client without a
  // limit cannot fill the disk, after kEndlessLimit bytes.
  void Endless(const std::string& name);
  // Answers name with an endless body dripped at bytesPerSecond.
  void Drip(const std::string& name, int bytesPerSecond);
  static constexpr std::size_t kEndlessLimit = std::size_t{512} << 20;
  // Bytes sent so far in the bodies of Endless and Drip answers.
  std::size_t EndlessBytesSent() const { return endlessSent_; }
  void ClearFaults();

  // Every file is served with an ETag made of its size and modification
  // time, so a file changed on disk between two runs gets another one, and a
  // request for its rest ("Range: bytes=N-") is answered with 206 and
  // "Content-Range: bytes N-LAST/SIZE" unless its If-Range names another
  // ETag (then the whole file, 200). The modes below break that.
  // Answers every request for name with the whole file (200), Range or not.
  void IgnoreRange(const std::string& name);
  // Answers a Range request for name with 206, the body from the asked
  // offset, and a Content-Range whose start is off by startShift bytes and
  // whose total is off by totalShift bytes.
  void LieAboutRange(const std::string& name, long startShift, long totalShift);
  // Body bytes sent so far in answers for name (what went over the wire).
  std::size_t BytesSent(const std::string& name) const;

  struct Request {
    std::string name;
    std::string userAgent;
    std::string range;    // the Range header, empty when none
    std::string ifRange;  // the If-Range header, empty when none
  };
  std::vector<Request> Requests() const;
  int RequestCount(const std::string& name) const;

  // A port on 127.0.0.1 on which nothing listens (connections are refused).
  static int DeadPort();

  // The HTML page sent with error answers.
  static const std::string& ErrorPage();

 private:
  struct Fault;
  // Replaces whatever fault name had.
  void SetFault(const std::string& name, Fault fault);
  void Handle(const httplib::Request& request, httplib::Response& response);
  bool ServeRange(const httplib::Request& request, httplib::Response& response,
                  const std::string& name, const Fault* fault);
  void CountSent(const std::string& name, std::size_t bytes);

  std::string root_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> endlessSent_{0};
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Fault>> faults_;
  std::vector<Request> requests_;
  std::map<std::string, std::size_t> sent_;
};
