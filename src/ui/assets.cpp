#include "ui/assets.h"

EmbeddedAsset FindAsset(std::string_view name) {
  for (const EmbeddedAsset* a = kEmbeddedAssets; a->name != nullptr; ++a) {
    if (name == a->name) return *a;
  }
  return {nullptr, nullptr, 0};
}
