#pragma once
// A display surface for tests that records everything it is told to draw.

#include <string>
#include <vector>

#include "app/context/display.h"

class RecordingDisplay : public DisplaySurface {
 public:
  RecordingDisplay() {
    SetDisplaySurface(this);
    ResetDisplayState();
  }
  ~RecordingDisplay() override { SetDisplaySurface(nullptr); }

  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void SetPercent(int percent) override { percents.push_back(percent); }
  void SetIllustration(char which) override { illustrations.push_back(which); }
  void SetCaption(const std::string& caption) override { captions.push_back(caption); }
  void SetUpdateIdText(const std::string& text) override { updateIds.push_back(text); }
  void SetCauseText(const std::string& cause) override { causes.push_back(cause); }
  void Pump() override { ++pumps; }

  std::vector<std::string> statuses;
  std::vector<int> percents;
  std::vector<char> illustrations;
  std::vector<std::string> captions;
  std::vector<std::string> updateIds;
  std::vector<std::string> causes;
  int pumps = 0;
};
