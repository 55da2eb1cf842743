#include "recording_user_interface.h"

#include "support/fileutil.h"

int RecordingUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                       unsigned flags) {
  boxes.push_back({text, caption, flags});
  texts.push_back(text);
  captions.push_back(caption);
  return (flags & kMbYesNo) ? answer : kIdOk;
}

bool RecordingUserInterface::KeyDown(int virtualKey) {
  keysAsked.push_back(virtualKey);
  return virtualKey == held || (virtualKey == kVkControl && ctrlDown) ||
         (virtualKey == kVkShift && shiftDown);
}

bool RecordingUserInterface::PumpMessages(int ms) {
  pumpArgs.push_back(ms);
  depthSeen.push_back(PumpMessagesDepth());
  if (pending <= 0) return false;
  --pending;
  return true;
}

std::vector<std::string> RecordingUserInterface::BoxLines() const {
  std::vector<std::string> lines;
  for (const Box& b : boxes) lines.push_back(b.caption + "|" + b.text + "|" + std::to_string(b.flags));
  return lines;
}
