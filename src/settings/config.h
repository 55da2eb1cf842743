#pragma once
// The settings store: plain text files of key=value lines, searched along the
// settings chain ("top;next;..."), read anew at every look-up. A key
// specification is "Key=Default"; the default is returned when no file of the
// chain holds the key. There is one store per process.

#include <cstdint>
#include <string>
#include <string_view>

void CfgInit();
bool CfgInitialised();
std::string CfgFileName();
std::string CfgDefaultFileName();

std::string CfgGetStr(std::string_view spec);
std::string CfgGetStrDef(std::string_view spec);
bool CfgKeyExists(std::string_view spec);
bool CfgKeyExistsInTop(std::string_view spec);
std::int32_t CfgGetInt(std::string_view spec);
bool CfgReadInt(std::string_view spec, std::int32_t& n);
bool CfgReadUInt(std::string_view spec, std::uint32_t& n);
bool CfgReadBool(std::string_view spec, bool& b);
bool CfgIsValue(std::string_view spec, bool expected);
bool CfgIsTrue(std::string_view spec);

bool CfgPutStr(std::string_view key, std::string_view value);
bool CfgPutInt(std::string_view key, std::int32_t value);
bool CfgPutAssignment(std::string_view assignment);

void CfgPushFile(std::string_view fileName);
void CfgPopFile();
std::string CfgChain();

// The settings file override: while non-empty, CfgFileName returns it.
std::string CfgOverride();
void CfgSetOverride(std::string_view fileName);
// Whether the last search found its key.
bool CfgFound();

// Closes the store's file handle and forgets all state (tests only).
void CfgResetForTests();
