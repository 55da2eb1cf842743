#pragma once
// A proxy on 127.0.0.1 as the machine's proxy for HTTP, for as long as the
// object lives: what a "preconfigured" connection goes through. Both
// backends take it from the http_proxy variable here: libcurl from the
// process's environment, Wine's WinInet (when the prefix's registry names no
// proxy) from the copy that the C runtime ucrtbase.dll keeps. That copy is
// set too, so the proxy stays within this process; the prefix's registry,
// which other Wine programs share, is left alone.

#include <string>

#include "support/scoped_env.h"

#ifdef _WIN32
#include <windows.h>
#endif

class ScopedMachineProxy {
 public:
  explicit ScopedMachineProxy(int port) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(port) + "/";
    env_.Set(proxy);
    SetRuntimeCopy(proxy);
  }
  ~ScopedMachineProxy() { SetRuntimeCopy(""); }  // "": removed
  ScopedMachineProxy(const ScopedMachineProxy&) = delete;
  ScopedMachineProxy& operator=(const ScopedMachineProxy&) = delete;

 private:
  static void SetRuntimeCopy(const std::string& value) {
#ifdef _WIN32
    using PutEnv = int(__cdecl*)(const char*, const char*);
    if (HMODULE runtime = ::LoadLibraryW(L"ucrtbase.dll")) {
      if (auto put = reinterpret_cast<PutEnv>(reinterpret_cast<void*>(::GetProcAddress(runtime, "_putenv_s"))))
        put("http_proxy", value.c_str());
    }
#else
    (void)value;
#endif
  }
  ScopedEnv env_{"http_proxy"};
};
