#pragma once
// Scoped changes of process-wide state. A context changes the state when it
// is made and puts it back when it is restored or when the last reference
// goes away, whichever comes first -- exactly once.

#include <cstdint>
#include <memory>

// The process-wide open mode of the classic file routines: 0 read-only,
// 2 read and write (the value at start).
std::uint8_t FileOpenMode();
void SetFileOpenMode(std::uint8_t mode);

class IContext {
 public:
  virtual ~IContext() = default;
  virtual void Restore() = 0;
};

class TContext : public IContext {
 public:
  ~TContext() override;
  void Restore() final;
  bool Restored() const { return restored_; }

 protected:
  virtual void DoRestore();

 private:
  bool restored_ = false;
};

class TFileModeContext : public TContext {
 public:
  explicit TFileModeContext(std::uint8_t mode);
  ~TFileModeContext() override;

 protected:
  void DoRestore() override;

 private:
  std::uint8_t savedMode_;
};

// The caller keeps the result for the duration of a block.
std::shared_ptr<IContext> FileModeContext(std::uint8_t mode);
