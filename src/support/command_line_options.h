#pragma once
// The program's command line, read once at start into one value that main
// hands to the run and to the settings store.
//
// Repeated switches are settled by two rules: the update site is the first
// /P switch, while /Log and the settings-file switches take the last one.

#include <optional>
#include <string>
#include <vector>

struct CommandLineOptions {
  // What a start does instead of a run: print the usage or the version.
  enum class Report { None, Help, Version };
  Report report = Report::None;  // the first of --help and --version

  // "/?" as the whole first argument: the version banner goes to the run's
  // account and the program ends.
  bool versionBanner = false;

  // /P<site>: the rest of the first switch whose name begins with P, in its
  // written case (/PATH=x gives "ATH=x"); nothing when the first 255
  // characters of the switch text hold no /P. An argument starting with "//"
  // continues the previous switch after a blank; a '/' inside an argument is
  // literal, so /P/srv/upd/ names a directory.
  std::optional<std::string> site;

  // /Log and /Log=FILE, the last one: "" (nowhere), "-" (standard output) or
  // a file to append the run's account to. /Log= without a file is ignored.
  std::string accountTarget;

  // The settings file the switches name: /ConfigFile= over /INIFile= over
  // /BasicCFGFile=, the last of each; nothing when none is given.
  std::optional<std::string> settingsFile;

  // The switches among the first 255 parameters, without their '/', in
  // order: each /Key=Value whose key the settings hold overrides it.
  std::vector<std::string> switches;
};

// Reads the parameters 1..count (the program path excluded).
CommandLineOptions ParseCommandLine(const std::vector<std::string>& args);

// Why the switches may not be used (empty when they may): a switch holding
// a line break, NUL or another control character other than TAB would
// write lines of its own into the settings file.
std::string SwitchProblem(const CommandLineOptions& options);
