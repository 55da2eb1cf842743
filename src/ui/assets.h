#pragma once
// Files of assets/ embedded in the program at build time
// (cmake/EmbedAssets.cmake generates the table).

#include <cstddef>
#include <string_view>

struct EmbeddedAsset {
  const char* name;           // file name, e.g. "start.jpg"
  const unsigned char* data;
  std::size_t size;
};

// The generated table, ended by an entry whose name is nullptr.
extern const EmbeddedAsset kEmbeddedAssets[];

// The embedded file of that name; an entry of size 0 when there is none.
EmbeddedAsset FindAsset(std::string_view name);
