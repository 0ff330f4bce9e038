// The endpoint against the real listener on 127.0.0.1: what it serves, what it refuses, and
// that misbehaving clients cost it bounded time and memory and never reach the bus side.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "Exposition.h"
#include "Loopback.h"
#include "metrics/BenchMetrics.h"
#include "metrics/MetricsServer.h"

namespace {

using namespace std::chrono_literals;

// Resident memory of this process, in kB.
long RssKb() {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

class MetricsServerTest : public ::testing::Test {
 protected:
  void Start(metrics::ServerLimits limits = {}) {
    std::string error;
    server_ = metrics::MetricsServer::Start({"127.0.0.1", 0}, bench_, error, limits);
    ASSERT_TRUE(server_) << error;
    port_ = server_->Port();
    ASSERT_NE(port_, 0);
  }
  std::shared_ptr<metrics::BenchMetrics> bench_ = std::make_shared<metrics::BenchMetrics>(metrics::BoardInfo{});
  std::unique_ptr<metrics::MetricsServer> server_;
  uint16_t port_ = 0;
};

TEST(ListenAddressTest, TextsAreReadOrRefused) {
  const std::tuple<std::string, std::string, uint16_t> read[] = {
      {"9100", "127.0.0.1", 9100},
      {"0.0.0.0:9100", "0.0.0.0", 9100},
      {"192.168.1.7:65535", "192.168.1.7", 65535},
      {"127.0.0.1:1", "127.0.0.1", 1},
  };
  for (const auto& [text, host, port] : read) {
    std::string error;
    const auto a = metrics::ParseListenAddress(text, error);
    ASSERT_TRUE(a) << text << ": " << error;
    EXPECT_EQ(std::pair(a->host, a->port), std::pair(host, port)) << text;
  }
  for (const char* text : {"0", "65536", "0x2380", "", "127.0.0.1:", "localhost:9100",
                           "256.0.0.1:9100", ":9100", "9100x"}) {
    std::string error;
    EXPECT_FALSE(metrics::ParseListenAddress(text, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST_F(MetricsServerTest, ServesTheExpositionAtMetrics) {
  Start();
  bench_->OnRegisterAccess({{}, recording::AccessSource::kScanTick, recording::AccessKind::kRead,
                            0x13, 0x8000, 0, 0x67});
  const auto r = loopback::Get(port_);
  ASSERT_EQ(r.status, 200);
  EXPECT_NE(r.headers.find("Content-Type: text/plain"), std::string::npos) << r.headers;
  const auto p = exposition::Parse(r.body);
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.Value("korvo_status_bit", {{"bit", "ACDET"}}), 1);
}

TEST_F(MetricsServerTest, EveryOtherPathAnswers404) {
  Start();
  for (const char* path : {"/", "/metrics/", "/metrics/x", "/metricsx", "/Metrics", "/index.html",
                           "/../etc/passwd", "/metrics/../metrics2", "/favicon.ico"}) {
    EXPECT_EQ(loopback::Get(port_, path).status, 404) << path;
  }
}

TEST_F(MetricsServerTest, OnlyGetIsServed) {
  Start();
  for (const char* method : {"POST", "PUT", "DELETE", "PATCH"}) {
    const auto r = loopback::Request(port_, std::string(method) +
                                                " /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: "
                                                "0\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(r.status, 405) << method;
  }
}

TEST_F(MetricsServerTest, AnAddressInUseIsRefusedWithTheReason) {
  Start();
  std::string error;
  auto second = metrics::MetricsServer::Start({"127.0.0.1", port_}, bench_, error);
  EXPECT_FALSE(second);
  EXPECT_EQ(error, "127.0.0.1:" + std::to_string(port_) + ": Address already in use");
}

TEST_F(MetricsServerTest, AnAddressNotOfThisMachineIsRefusedWithTheReason) {
  std::string error;
  // TEST-NET-1: never a local address.
  auto s = metrics::MetricsServer::Start({"192.0.2.1", 9100}, bench_, error);
  EXPECT_FALSE(s);
  EXPECT_EQ(error, "192.0.2.1:9100: Cannot assign requested address");
}

TEST_F(MetricsServerTest, AMegabyteOfHeadersIsCutShortAndServingGoesOn) {
  Start();
  const int fd = loopback::Connect(port_);
  ASSERT_GE(fd, 0);
  std::string head = "GET /metrics HTTP/1.1\r\nX-Big: ";
  loopback::Send(fd, head);
  const std::string chunk(64 * 1024, 'a');
  int taken = 0;
  for (int i = 0; i < 16 && loopback::Send(fd, chunk); ++i) ++taken;  // 1 MB, if it takes it
  const auto r = loopback::Parse(loopback::ReadAll(fd, 20s));
  ::close(fd);
  EXPECT_TRUE(r.status == 413 || r.status == 431 || r.status == 400 || r.status == 0) << r.status;
  EXPECT_EQ(loopback::Get(port_).status, 200);
}

TEST_F(MetricsServerTest, ManyHeadersAreRefusedAndServingGoesOn) {
  Start();
  std::string request = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; i < 300; ++i) request += "X" + std::to_string(i) + ": 1\r\n";
  request += "\r\n";
  const auto r = loopback::Request(port_, request);
  EXPECT_EQ(r.status, 431);
  EXPECT_EQ(loopback::Get(port_).status, 200);
}

TEST_F(MetricsServerTest, ASlowClientIsCutOffByTheRequestTimeout) {
  metrics::ServerLimits limits;
  limits.requestTimeoutMs = 300;
  Start(limits);
  const int fd = loopback::Connect(port_);
  ASSERT_GE(fd, 0);
  // A byte of header at a time, never finishing: slowloris. At most 20 s of trickle.
  loopback::Send(fd, "GET /metrics HTTP/1.1\r\n");
  bool closed = false;
  for (int i = 0; i < 200 && !closed; ++i) {
    closed = !loopback::Send(fd, "X") || loopback::Closed(fd, 100ms);
  }
  ::close(fd);
  EXPECT_TRUE(closed);
}

TEST_F(MetricsServerTest, AThousandConnectionsLeaveTheBusSideAndMemoryBounded) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 1100) GTEST_SKIP() << "needs 1100 open files";
  metrics::ServerLimits limits;
  limits.requestTimeoutMs = 1000;
  Start(limits);
  ASSERT_EQ(loopback::Get(port_).status, 200);  // the workers are up
  const long before = RssKb();
  std::vector<int> clients;
  for (int i = 0; i < 1000; ++i) {
    const int fd = loopback::Connect(port_, false);
    if (fd >= 0) {
      clients.push_back(fd);
      ::send(fd, "GET /metrics HTTP/1.1\r\n", 23, MSG_NOSIGNAL | MSG_DONTWAIT);  // never ends
    }
  }
  EXPECT_EQ(clients.size(), 1000u);
  // The bus side meanwhile: every access lands, none waits for the server.
  for (int i = 0; i < 10000; ++i) {
    bench_->OnRegisterAccess({{}, recording::AccessSource::kScanTick, recording::AccessKind::kRead,
                              0x15, static_cast<uint16_t>(i), 0, 0x67});
  }
  const long during = RssKb();
  for (int fd : clients) ::close(fd);
  EXPECT_LT(during - before, 8 * 1024) << "kB grown with 1000 connections open";
  // Once they are gone the endpoint serves again, with everything the bus side did.
  loopback::Response r;
  for (int i = 0; i < 100 && r.status != 200; ++i) r = loopback::Get(port_);
  ASSERT_EQ(r.status, 200);
  EXPECT_EQ(exposition::Parse(r.body).Value("korvo_register_value", {{"register", "0x15"}}), 9999);
}

}  // namespace
