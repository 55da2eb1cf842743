// tvqlupd: one start performs one update run of the application directory in
// which the program stands.
#include <iostream>
#include <string>
#include <vector>

#include "platform/os.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto& a : args) {
    if (a == "--version") {
      std::cout << "tvqlupd 1.0j\n";
      return 0;
    }
    if (a == "--help") {
      std::cout << "usage: tvqlupd [/P<site>] [/Log[=FILE]] [/Key=Value...]\n";
      return 0;
    }
  }
  return 0;
}
