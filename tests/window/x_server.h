#pragma once
// Helpers of the window tests: a private Xvfb for the test process, shell
// commands (xdotool, xwininfo, ImageMagick) against it, and screenshots.

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

namespace xtest {

inline bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// One Xvfb for the whole test process (FLTK keeps its display connection),
// on a display number Xvfb picks itself (-displayfd), so parallel test
// processes never collide. DISPLAY names it once it runs.
class XServer {
 public:
  static XServer& Instance() {
    static XServer server;
    return server;
  }
  bool Running() const { return pid_ > 0 && !display_.empty(); }
  const std::string& Display() const { return display_; }

  ~XServer() {
    if (pid_ <= 0) return;
    // Close FLTK's connection first: a server that vanishes under an open
    // connection makes Xlib end the process with an I/O error.
    if (fl_display != nullptr) {
      XCloseDisplay(fl_display);
      fl_display = nullptr;
    }
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  XServer() {
    if (!HaveProgram("Xvfb")) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "w", stderr);
      // TVQ_TEST_SCREEN gives a larger screen to tests that need one.
      const char* screen = std::getenv("TVQ_TEST_SCREEN");
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen",
             "0", screen != nullptr ? screen : "1024x768x24", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
      close(fds[0]);
      return;
    }
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }

  pid_t pid_ = -1;
  std::string display_;
};

// Runs a shell command; its standard output.
inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* f = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    pclose(f);
  }
  return out;
}

inline int Run(const std::string& command) { return std::system(command.c_str()); }

// The number after "label" in xwininfo's answer for a window.
inline int WinInfo(unsigned long xid, const std::string& label) {
  const std::string info = Capture("xwininfo -id " + std::to_string(xid));
  const auto at = info.find(label);
  if (at == std::string::npos) return -1000000;
  return std::atoi(info.c_str() + at + label.size());
}

// Handles the window's events for a while (the run's pumping points).
inline void PumpFor(int ms, const std::function<void()>& pump) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Pumps until done() holds or timeoutMs passed; whether it holds.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs,
                      const std::function<void()>& pump) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Lets FLTK draw everything pending and the server catch up.
inline void Settle() {
  for (int i = 0; i < 5; ++i) {
    Fl::check();
    Fl::flush();
    XSync(fl_display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct Rgb {
  int r, g, b;
};

// A screenshot of the whole screen: kept as <dir>/<name>.png, read as pixels.
class Screenshot {
 public:
  static std::string ArtefactDir() {
    const std::string dir = std::string(TVQ_BINARY_DIR) + "/window-artefacts";
    std::filesystem::create_directories(dir);
    return dir;
  }

  explicit Screenshot(const std::string& name) {
    path_ = ArtefactDir() + "/" + name + ".png";
    const std::string ppm = ArtefactDir() + "/" + name + ".ppm";
    if (Run("/usr/bin/import -window root '" + path_ + "' && /usr/bin/convert '" + path_ +
            "' '" + ppm + "'") != 0) {
      return;
    }
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval = 0;
    in >> magic >> width_ >> height_ >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) return;
    pixels_.resize(static_cast<std::size_t>(width_) * height_ * 3);
    in.read(reinterpret_cast<char*>(pixels_.data()), static_cast<std::streamsize>(pixels_.size()));
    std::filesystem::remove(ppm);
  }

  bool Ok() const { return !pixels_.empty(); }
  const std::string& Path() const { return path_; }
  Rgb At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_ || !Ok()) return {-1, -1, -1};
    const std::size_t i = (static_cast<std::size_t>(y) * width_ + x) * 3;
    return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
  }

 private:
  std::string path_;
  int width_ = 0;
  int height_ = 0;
  std::vector<unsigned char> pixels_;
};

inline int Distance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

// What DriveBox saw of a message box.
struct BoxRun {
  int answer = -1;
  bool timedOut = false;
  unsigned long xid = 0;
  std::string title;
  std::vector<std::string> labels;  // of the box's elements, in order
  std::function<void(Fl_Window&)> act;
};

namespace detail {
inline void ActOnBox(void* data) {
  auto& run = *static_cast<BoxRun*>(data);
  Fl_Window* box = Fl::modal();
  if (box == nullptr) return;
  Settle();
  run.xid = fl_xid(box);
  run.title = box->label() ? box->label() : "";
  for (int i = 0; i < box->children(); ++i) {
    const char* label = box->child(i)->label();
    run.labels.push_back(label ? label : "");
  }
  run.act(*box);
}

inline void GiveUpOnBox(void* data) {
  static_cast<BoxRun*>(data)->timedOut = true;
  if (Fl_Window* box = Fl::modal()) box->hide();
}
}  // namespace detail

// Shows a modal box through show() and, from inside its loop half a second
// later, notes what it looks like and calls act with it (which should answer
// it, e.g. with xdotool); hides it after 15 s if nothing did.
inline BoxRun DriveBox(const std::function<int()>& show, std::function<void(Fl_Window&)> act) {
  BoxRun run;
  run.act = std::move(act);
  Fl::add_timeout(0.5, detail::ActOnBox, &run);
  Fl::add_timeout(15.0, detail::GiveUpOnBox, &run);
  run.answer = show();
  Fl::remove_timeout(detail::ActOnBox, &run);
  Fl::remove_timeout(detail::GiveUpOnBox, &run);
  return run;
}

// Focuses the window and types keys into it (xdotool key names).
inline void KeysTo(unsigned long xid, const std::string& keys) {
  Run("xdotool windowfocus --sync " + std::to_string(xid) + " key " + keys + " 2>/dev/null");
}

}  // namespace xtest
