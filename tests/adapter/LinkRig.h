// The link over the fake control, its error log in a scratch program folder.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "foundation/Paths.h"
#include "support/FakeZentio.h"
#include "support/TempDir.h"

class LinkRig : public ::testing::Test {
 protected:
  LinkRig() {
    Paths::SetProgramDirForTesting(dir_.Path());
    frmUSB::SetControlFactory([this] {
      ++created_;
      return std::make_unique<FakeZentio>(fake_);
    });
  }
  ~LinkRig() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    Paths::SetProgramDirForTesting("");
  }
  frmUSB& Link() { return frmUSB::Get(); }
  std::string LogPath() const { return dir_.File("CommErr.log"); }
  std::vector<std::string> LogLines() const {
    std::ifstream f(LogPath(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
  }
  // The part of a log line after the date and time.
  static std::string Tail(const std::string& line) {
    const auto pos = line.find("  ");
    return pos == std::string::npos ? line : line.substr(pos);
  }

  FakeZentio::State fake_;
  TempDir dir_{"korvo_link"};
  int created_ = 0;
};
