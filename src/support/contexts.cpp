#include "support/contexts.h"

namespace {
std::uint8_t fileOpenMode = 2;
}

std::uint8_t FileOpenMode() {
  return fileOpenMode;
}

void SetFileOpenMode(std::uint8_t mode) {
  fileOpenMode = mode;
}

TContext::~TContext() = default;

void TContext::Restore() {
  if (!restored_) DoRestore();
  restored_ = true;
}

void TContext::DoRestore() {
  restored_ = true;
}

TFileModeContext::TFileModeContext(std::uint8_t mode) : savedMode_(FileOpenMode()) {
  SetFileOpenMode(mode);
}

TFileModeContext::~TFileModeContext() {
  // The derived part must undo its change while it still exists.
  Restore();
}

void TFileModeContext::DoRestore() {
  SetFileOpenMode(savedMode_);
  TContext::DoRestore();
}

std::shared_ptr<IContext> FileModeContext(std::uint8_t mode) {
  return std::make_shared<TFileModeContext>(mode);
}
