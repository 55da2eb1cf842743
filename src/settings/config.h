#pragma once
// The settings store: plain text files of key=value lines, searched along the
// settings chain ("top;next;..."), read anew at every look-up. A look-up
// takes "Key=Default" (the key spec); the default is returned when no file of
// the chain holds the key. There is one store per process.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "support/command_line_options.h"

// Starts the store on the settings file the command line names (else the
// default one), then stores every /Key=Value switch whose key the settings
// already hold. Later calls do nothing.
void CfgInit(const CommandLineOptions& commandLine = {});
bool CfgInitialised();
// The override, else the settings file the command line named at CfgInit,
// else CfgDefaultFileName.
std::string CfgFileName();
std::string CfgDefaultFileName();

std::string CfgGetStr(std::string_view keySpec);
std::string CfgGetStrDef(std::string_view keySpec);
bool CfgKeyExists(std::string_view keySpec);
bool CfgKeyExistsInTop(std::string_view keySpec);
std::int32_t CfgGetInt(std::string_view keySpec);
bool CfgReadInt(std::string_view keySpec, std::int32_t& n);
bool CfgReadUInt(std::string_view keySpec, std::uint32_t& n);
bool CfgReadBool(std::string_view keySpec, bool& b);
bool CfgIsValue(std::string_view keySpec, bool expected);
bool CfgIsTrue(std::string_view keySpec);

// Stores return false when the value could not be written; the file then
// keeps its previous content. A rewritten or new file has reached the disk,
// and so has its name, when the store returns.
bool CfgPutStr(std::string_view key, std::string_view value);
// CfgPutStr with the cause of a failure. Once a settings file that exists
// could not be read, every store fails with that cause.
Status CfgStore(std::string_view key, std::string_view value);
// OK, or the first failure to read a settings file that exists: look-ups
// since then may have answered defaults.
Status CfgReadStatus();
bool CfgPutInt(std::string_view key, std::int32_t value);
bool CfgPutAssignment(std::string_view assignment);
// CfgPutStr restricted to the top file of the chain: the key's line there is
// rewritten, or the line is appended to it when the top file has none.
bool CfgPutStrInTop(std::string_view key, std::string_view value);

void CfgPushFile(std::string_view fileName);
void CfgPopFile();
std::string CfgChain();
// The file of the chain's top entry (with the default extension "INI").
std::string CfgTopFileName();
// The settings file beside the program: its path with the extension "INI".
std::string CfgProgramSettingsFileName();

// Whether a settings file can hold settings: a regular file (also through a
// link), or nothing yet (it is then created). A directory, FIFO or device
// counts as a file that cannot be opened.
bool CfgFileIsUsable(const std::string& path);

// The settings file override: while non-empty, CfgFileName returns it.
std::string CfgOverride();
void CfgSetOverride(std::string_view fileName);
// Whether the last search found its key.
bool CfgFound();

// While on, every file the store writes is a working file that is copied
// (flushed, atomically) over the settings file afterwards: rewrites and
// appends reach the operating system but are not flushed to the disk, and a
// rewrite deletes the old file before it renames the new one. Off at start.
void CfgSetWorkingFileWrites(bool on);

// Closes the store's file handle and forgets all state (tests only).
void CfgResetForTests();
