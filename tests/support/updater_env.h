#pragma once
// A throw-away installation for end-to-end tests: an application directory
// holding a copy of the built tvqlupd, a TEMP directory, an update site made
// with tvqpublish, and a static HTTP server (site_server) serving that site.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "support/temp_dir.h"

// Bytes of downloads kept in a work directory.
std::uintmax_t KeptBytesIn(const std::string& workDir);

class UpdaterEnv {
  ScratchDir root_;  // first: the paths below are made from it

 public:
  // The built tvqlupd by default; another build of it (tvqlupd.exe) started
  // through a launcher (Wine) when given.
  explicit UpdaterEnv(std::string program = TVQLUPD_BIN, std::vector<std::string> launcher = {});
  ~UpdaterEnv();

  // Makes dir (below the root) the application directory, with the program in it.
  void PlaceApp(const std::string& dir);
  // The program's copy in the application directory.
  std::string ProgramPath() const { return AppFile(programName_); }
  const std::string& Root() const { return root_.path(); }

  std::string app;   // the application directory (holds tvqlupd)
  std::string temp;  // TEMP of the runs, which hold their work directory
  std::string site;  // the update site directory

  std::string AppFile(const std::string& name) const { return app + "/" + name; }
  // The installation's work directory below temp.
  std::string WorkDir() const;
  // The runs' cache directory (XDG_CACHE_HOME), where a work directory goes
  // when the one below temp is not theirs.
  std::string CacheHome() const { return root_ / "cache"; }
  std::string SettingsPath() const { return AppFile("tvqlupd.INI"); }
  // The settings file's text with CR LF turned into LF.
  std::string Settings() const;
  // The value of a key line in the settings file; "<absent>" when none.
  std::string Setting(const std::string& key) const;
  void WriteSettings(const std::vector<std::string>& lines) const;

  // A secret key file: when set, Publish signs what it adds and the list
  // (tvqpublish add --sign).
  std::string signKey;

  // Publishes one update (name -> content) with tvqpublish; returns its exit code.
  int Publish(const std::string& id, const std::map<std::string, std::string>& files);
  // Publishes prepared files by path.
  int PublishPaths(const std::string& id, const std::vector<std::string>& paths);
  // The site's list, as written.
  std::string List() const;

  // When above 1, runs see time pass this many times faster (libfaketime),
  // so their designed waits end sooner; network time-outs shrink alike.
  int timeRate = 1;
  // Runs see the clock this many seconds ahead (behind when negative).
  long clockOffsetSeconds = 0;

  // Serves the site over HTTP; returns the site address "http://127.0.0.1:N/".
  // The file named stalled, if any, is answered with its headers and then
  // nothing at all.
  std::string Serve(long bytesPerSecond = 0, const std::string& stalled = {});
  // Runs the updater with the given arguments (LANG=C, no DISPLAY, TEMP set).
  ProcessResult Run(const std::vector<std::string>& args = {}) const;
  ProcessOptions RunOptions(const std::vector<std::string>& args = {}) const;

  // Bytes of downloads kept in the work directory (those that arrived so far).
  std::uintmax_t KeptBytes() const { return KeptBytesIn(WorkDir()); }
  // Waits until at least `bytes` bytes of downloads have arrived, for up to
  // 60 s and only while the run lasts; whether they did.
  bool WaitForKeptBytes(RunningProcess& run, std::uintmax_t bytes = 1) const;

  // Names and sizes of the application directory's files, one per line
  // (without the run lock's file).
  std::string Listing() const;

 private:
  std::string program_;
  std::string programName_;
  std::vector<std::string> launcher_;
  int files_ = 0;
  std::unique_ptr<RunningProcess> server_;
};

// An MS COMPRESS (SZDD) file of content (16 bytes or more), made with the
// mscompress tool in dir.
std::string Compressed(const std::string& dir, const std::string& name, const std::string& content);

// Waits until reached() holds, for up to 60 s and only while run lasts;
// whether it holds.
bool WaitWhileRunning(RunningProcess& run, const std::function<bool()>& reached);

// Whether the tests run as root (then permission tests drop to "nobody").
bool RunningAsRoot();
