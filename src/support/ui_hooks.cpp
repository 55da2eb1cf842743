#include "support/ui_hooks.h"

#include <iostream>

namespace {

// Without a display: boxes go to standard error and count as confirmed.
class ConsoleUi final : public UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
    // A CR breaks the line in a box; on a terminal it would overwrite it.
    std::string shown = text;
    for (char& c : shown)
      if (c == '\r') c = '\n';
    if (caption.empty())
      std::cerr << shown << '\n';
    else
      std::cerr << caption << ": " << shown << '\n';
    std::cerr.flush();
    // The only Yes/No question is whether to keep the user's settings: yes.
    return (flags & 0xF) == kMbYesNo ? kIdYes : kIdOk;
  }
  bool KeyDown(int) override { return false; }
  bool PumpMessages(int) override { return false; }
};

UserInterface* installed = nullptr;

}  // namespace

UserInterface& ConsoleUserInterface() {
  static ConsoleUi console;
  return console;
}

UserInterface& CurrentUserInterface() {
  return installed != nullptr ? *installed : ConsoleUserInterface();
}

void SetUserInterface(UserInterface* ui) {
  installed = ui;
}
