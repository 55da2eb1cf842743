// Splitting a command line as Windows does, the same on every platform.
#include <string>
#include <vector>

#include "platform/os.h"

namespace os {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  const std::size_t n = commandLine.size();
  std::size_t i = 0;
  while (i < n && IsBlank(commandLine[i])) ++i;
  if (i == n) return args;

  // The program name: quotes group, backslashes are taken as they stand.
  std::string name;
  for (bool quoted = false; i < n && (quoted || !IsBlank(commandLine[i])); ++i) {
    if (commandLine[i] == '"')
      quoted = !quoted;
    else
      name += commandLine[i];
  }
  args.push_back(name);

  // The arguments, as the C run-time library splits them: 2n backslashes
  // before a quote give n and the quote groups; 2n+1 give n and a literal
  // quote; "" inside quotes is a literal quote.
  for (;;) {
    while (i < n && IsBlank(commandLine[i])) ++i;
    if (i == n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(commandLine[i]))) {
      const char c = commandLine[i];
      if (c == '\\') {
        std::size_t slashes = 0;
        while (i < n && commandLine[i] == '\\') ++slashes, ++i;
        if (i < n && commandLine[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && commandLine[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += c;
        ++i;
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace os
