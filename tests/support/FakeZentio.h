// A scriptable adapter control for tests of the link and the register layer: it records every
// call and answers with queued statuses and canned data.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "adapter/Zentio.h"

class FakeZentio : public Zentio {
 public:
  struct State {
    std::vector<std::string> calls;   // "SmbReadWord(8,103)" and so on
    std::deque<int16_t> statuses;     // next transaction statuses; empty means 0
    std::deque<int16_t> queryErrors;  // next QueryError results; empty means 0
    std::map<int, int16_t> words;     // SmbReadWord answers by command
    std::vector<uint8_t> block;       // bytes delivered by block reads
    int32_t listCount = 1;
    std::string listNames = "Fake0";
    int16_t openResult = 0;
    int closes = 0;
    int queries = 0;
    bool resizeBlockBuffer = true;     // block reads resize the caller's buffer to the data
    std::vector<uint8_t> lastWritten;  // bytes handed to the last block write
  };

  explicit FakeZentio(State& s) : s_(s) {}

  void ListFreeDevices(int32_t limit, int32_t& count, std::string& names) override {
    Log("ListFreeDevices", {limit});
    count = s_.listCount;
    names = s_.listNames;
  }
  int16_t OpenDevice(const std::string& name) override {
    s_.calls.push_back("OpenDevice(" + name + ")");
    return s_.openResult;
  }
  void DeviceClose() override {
    s_.calls.push_back("DeviceClose()");
    ++s_.closes;
  }
  void ShowAboutBox() override { s_.calls.push_back("ShowAboutBox()"); }
  int16_t QueryError() override {
    ++s_.queries;
    s_.calls.push_back("QueryError()");
    if (s_.queryErrors.empty()) return 0;
    const int16_t e = s_.queryErrors.front();
    s_.queryErrors.pop_front();
    return e;
  }
  int16_t SmbWriteWord(int16_t command, int16_t word, int16_t target) override {
    return Log("SmbWriteWord", {command, word, target});
  }
  int16_t SmbReadWord(int16_t command, int16_t& word, int16_t target) override {
    const int16_t st = Log("SmbReadWord", {command, target});
    if (auto it = s_.words.find(command); it != s_.words.end()) word = it->second;
    return st;
  }
  int16_t SmbSendCommand(int16_t command, int16_t target) override {
    return Log("SmbSendCommand", {command, target});
  }
  int16_t SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                        int16_t target) override {
    s_.lastWritten = bytes;
    return Log("SmbWriteBlock", {command, count, target});
  }
  int16_t SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                       int16_t target) override {
    const int16_t st = Log("SmbReadBlock", {command, target});
    Deliver(buffer, length);
    return st;
  }
  int16_t SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                          int16_t target) override {
    const int16_t st = Log("SmbReadI2CBlock", {command, length, target});
    Deliver(buffer, length);
    return st;
  }
  int16_t SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                               int16_t target) override {
    const int16_t st = Log("SmbReadI2CBlockNoCmd", {length, target});
    Deliver(buffer, length);
    return st;
  }
  int16_t SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                           int16_t target) override {
    s_.lastWritten = bytes;
    return Log("SmbWriteI2CBlock", {command, count, target});
  }
  int16_t SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                               std::vector<uint8_t>& buffer, int16_t& lengthRead,
                               int16_t target) override {
    s_.lastWritten = buffer;
    const int16_t st = Log("SmbWriteReadI2CBlock", {command, writeLength, readLength, target});
    Deliver(buffer, lengthRead);
    return st;
  }
  int16_t I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                       int16_t target) override {
    const int16_t st = Log("I2CBlockRead", {wordAddress, size, target});
    if (st == 0) {
      buffer.assign(s_.block.begin(), s_.block.end());
    } else {
      buffer.assign(static_cast<std::size_t>(size > 0 ? size : 0), 0xEE);  // junk on failure
    }
    return st;
  }
  int16_t I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes, int16_t size,
                        int16_t target) override {
    s_.lastWritten = bytes;
    return Log("I2CBlockWrite", {wordAddress, size, target});
  }
  int16_t I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) override {
    const int16_t st = Log("I2CByteOp", {selector, a, b, c});
    return st;
  }
  int16_t OneWireRead(int32_t type, int16_t command, int16_t& word) override {
    const int16_t st = Log("OneWireRead", {type, command});
    word = 0x1234;
    return st;
  }
  int16_t OneWireWrite(int32_t type, int16_t command, int16_t word) override {
    return Log("OneWireWrite", {type, command, word});
  }
  void Wait(int32_t milliseconds) override { Log("Wait", {milliseconds}); }
  int16_t GetVersion(int16_t& version, int16_t& revision) override {
    version = 3;
    revision = 7;
    return Log("GetVersion", {});
  }
  int16_t FlashFromSrec(const std::string& r, const std::string& b, const std::string& p) override {
    s_.calls.push_back("FlashFromSrec(" + r + "," + b + "," + p + ")");
    return Next();
  }
  int16_t FlashProgram(int32_t dataStart, int32_t codeStart, const std::vector<uint8_t>&,
                       int32_t dataSize, int32_t reservedSize, const std::vector<uint8_t>&,
                       int32_t codeSize, int16_t target) override {
    return Log("FlashProgram", {dataStart, codeStart, dataSize, reservedSize, codeSize, target});
  }
  int16_t FlashRead(int32_t dataStart, int32_t codeStart, std::vector<uint8_t>&, int32_t dataSize,
                    std::vector<uint8_t>&, int32_t codeSize, int16_t target) override {
    return Log("FlashRead", {dataStart, codeStart, dataSize, codeSize, target});
  }

 private:
  int16_t Next() {
    if (s_.statuses.empty()) return 0;
    const int16_t st = s_.statuses.front();
    s_.statuses.pop_front();
    return st;
  }
  int16_t Log(const std::string& name, std::initializer_list<long> args) {
    std::string call = name + "(";
    bool first = true;
    for (long a : args) {
      if (!first) call += ",";
      call += std::to_string(a);
      first = false;
    }
    s_.calls.push_back(call + ")");
    return Next();
  }
  void Deliver(std::vector<uint8_t>& buffer, int16_t& length) {
    if (s_.resizeBlockBuffer && buffer.size() < s_.block.size()) buffer.resize(s_.block.size());
    const std::size_t n = std::min(buffer.size(), s_.block.size());
    std::copy_n(s_.block.begin(), n, buffer.begin());
    length = static_cast<int16_t>(s_.block.size());  // may claim more than the buffer holds
  }

  State& s_;
};
