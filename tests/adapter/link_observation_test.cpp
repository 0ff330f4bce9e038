#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "LinkRig.h"
#include "support/ObserverLog.h"

namespace fs = std::filesystem;

namespace {

class LinkObservationTest : public LinkRig {
 protected:
  std::string LogTail() const {
    std::string all;
    for (const std::string& line : LogLines()) all += Tail(line) + "\n";
    return all;
  }
};

using Call = std::function<void(frmUSB&)>;
struct Transaction {
  const char* what;
  Call call;
};
const Transaction kTransactions[] = {
    {"WriteSMBusWord_(15,41A0) 103 0", [](frmUSB& l) { l.WriteSMBusWord_(0x15, 0x41A0, 103); }},
    {"ReadSMBusWord_(13) 102 0",
     [](frmUSB& l) {
       int16_t w = 0;
       l.ReadSMBusWord_(0x13, w, 102);
     }},
    {"I2CReadBlock_(102) 103 0",
     [](frmUSB& l) {
       std::vector<uint8_t> b(2);
       l.I2CReadBlock_(0x10, 2, b, 103);
     }},
    {"I2CWriteBlock(122) 103 0",
     [](frmUSB& l) {
       std::vector<uint8_t> b(2);
       l.I2CWriteBlock(0x12, 2, b, 103);
     }},
    {"Delay(64) -1 0", [](frmUSB& l) { l.Delay(100); }},
};

TEST_F(LinkObservationTest, EveryTransactionIsToldOnceAsTheLogNamesIt) {
  for (const Transaction& t : kTransactions) {
    TransactionLog log;
    frmUSB::Get().AddObserver(log);
    t.call(frmUSB::Get());
    frmUSB::Get().RemoveObserver(log);
    EXPECT_EQ(log.lines, std::vector<std::string>{t.what});
  }
}

TEST_F(LinkObservationTest, TheErrorLogIsTheSameWithAnObserver) {
  auto failEverything = [this](bool observed) {
    fs::remove(dir_.File("CommErr.log"));
    TransactionLog log;
    frmUSB::Get().EnableErrorLog();
    if (observed) frmUSB::Get().AddObserver(log);
    for (const Transaction& t : kTransactions) {
      fake_.statuses = {8, 8};
      fake_.queryErrors = {};
      t.call(frmUSB::Get());
    }
    frmUSB::Get().CloseDevice();
    return LogTail();
  };
  const std::string plain = failEverything(false);
  EXPECT_FALSE(plain.empty());
  EXPECT_EQ(failEverything(true), plain);
}

}  // namespace
