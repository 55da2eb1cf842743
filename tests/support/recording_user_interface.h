#pragma once
// The one user interface for tests: installed while it lives, it records
// every message box, every key asked about and every message pump, and
// answers as the test sets it up. A Yes/No question gets `answer`, any other
// box counts as confirmed.

#include <string>
#include <vector>

#include "support/ui_hooks.h"

class RecordingUserInterface : public UserInterface {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
  };
  RecordingUserInterface() { SetUserInterface(this); }
  ~RecordingUserInterface() override { SetUserInterface(nullptr); }
  RecordingUserInterface(const RecordingUserInterface&) = delete;
  RecordingUserInterface& operator=(const RecordingUserInterface&) = delete;

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  bool KeyDown(int virtualKey) override;
  bool PumpMessages(int ms) override;

  // Each box as "caption|text|flags" (flags in decimal).
  std::vector<std::string> BoxLines() const;

  std::vector<Box> boxes;
  std::vector<std::string> texts;     // the boxes' texts, in order
  std::vector<std::string> captions;  // the boxes' captions, in order
  std::vector<int> keysAsked;
  std::vector<int> pumpArgs;
  std::vector<int> depthSeen;  // PumpMessagesDepth() inside each pump
  int answer = kIdYes;         // the button that answers a Yes/No question
  bool ctrlDown = false;
  bool shiftDown = false;
  int held = -1;     // one more key reported as held down
  int pending = 0;   // pumps that still find a message to handle
};
