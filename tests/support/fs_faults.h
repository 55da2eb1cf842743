#pragma once
// File-system faults for integration tests: a tiny or read-only tmpfs (a full
// disk, a read-only target) and running a step without the superuser's
// permission overrides (an unreadable file, a read-only directory).

#include <sys/mount.h>
#include <unistd.h>

#include <string>

// A tmpfs of the given size mounted on dir for the life of the object.
// Mounting needs the right to mount; Mounted() tells whether it worked.
class ScratchMount {
 public:
  ScratchMount(const std::string& dir, const std::string& options) : dir_(dir) {
    mounted_ = ::mount("tvqtest", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~ScratchMount() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;
  bool Mounted() const { return mounted_; }
  // Turns a mounted tmpfs read-only.
  bool MakeReadOnly() {
    return mounted_ && ::mount("tvqtest", dir_.c_str(), "tmpfs",
                               MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

// While it lives, the process runs as the unprivileged user "nobody" when it
// started as root, so permission bits apply to it. Test files must then be
// reachable by others (the temporary directory gets 0755).
class AsUnprivileged {
 public:
  AsUnprivileged() {
    if (::geteuid() == 0) switched_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
  }
  ~AsUnprivileged() {
    if (switched_) {
      [[maybe_unused]] int a = ::seteuid(0);
      [[maybe_unused]] int b = ::setegid(0);
    }
  }
  AsUnprivileged(const AsUnprivileged&) = delete;
  AsUnprivileged& operator=(const AsUnprivileged&) = delete;
  // False when permission bits are still overridden (root that could not switch).
  bool Effective() const { return ::geteuid() != 0; }

 private:
  bool switched_ = false;
};
