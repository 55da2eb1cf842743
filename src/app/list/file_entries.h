#pragma once
// The file entries of an update block: the <files> section is a list of
// "name:size:checksum" entries separated by '\'. Shared by the byte totals,
// the download and the publisher's tool.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/fileutil.h"

struct FileEntry {
  std::string name;                // as listed (a trailing '~' kept)
  std::int64_t size = -1;          // -1: not given, not compared
  std::int64_t checksum = kNoChecksum;  // not given, not compared
  // False when the piece was longer than a short string: it was cut, and
  // what is left may have lost its size and checksum.
  bool whole = true;
};

// The pieces of text between '\' characters, in order, empty ones included;
// an empty text has none. One pass, so a long list costs linear time.
std::vector<std::string_view> ListPieces(std::string_view text);

// The first number of a field as an integer, dflt when there is none or it
// does not read as an integer.
std::int64_t FirstNumberOf(std::string_view field, std::int64_t dflt);

// a + b for byte totals, held at the largest value instead of overflowing.
std::int64_t AddSizes(std::int64_t a, std::int64_t b);

// Reads a piece (taken as a short string) as a file entry; false when its
// name field is empty (such pieces are skipped).
bool ParseFileEntry(std::string_view piece, FileEntry& entry);

// The text after the first "<files>" up to the first "</files>" after it,
// with every CR and LF removed; empty when there is no such section.
std::string FilesSectionOf(std::string_view updateInfo);

// The name a listed name is stored under in the work directory: without a
// trailing '~'.
std::string RestoredName(std::string_view listedName);

// Why a listed name may not be fetched and written (empty when it may):
// after the '~' rule it must not be empty or start with a dot, must hold no
// '/', '\\', ':', '<', '>', '"', '|', '?', '*' or control character, must not
// end in a dot or a blank, and must not be a name Windows takes for a
// device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any case, with any
// extension). Such names would reach outside the work directory, into a
// device, or be written under another name than the one checked.
std::string FileNameProblem(std::string_view listedName);
bool IsPlainFileName(std::string_view listedName);
// Whether Windows takes a file name (without directory) for a device:
// its part before the first dot is one of the device names, in any case.
bool IsDeviceName(std::string_view fileName);

// A listed name as it goes into a URL path: bytes that a URL cannot carry
// literally (blanks, '#', '?', '%', controls, non-ASCII, ...) percent-encoded.
std::string UrlPathOfName(std::string_view name);
