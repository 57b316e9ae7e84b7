// The connectivity check: the rule, the choice of address, and the real enumeration in
// network namespaces built for the test; the name lookup against a resolver that
// answers late, in such a namespace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#include "net/Connectivity.h"
#include "net/PeerFixtures.h"
#include "platform/Process.h"
#include "platform/Sockets.h"

namespace zirvo::net {
namespace {

using platform::AdapterAddress;
using namespace std::chrono_literals;

TEST(Connectivity, TheRuleAndTheChoiceOfAddress) {
  EXPECT_FALSE(CountsAsConnected("127.0.0.1"));
  EXPECT_TRUE(CountsAsConnected(""));
  EXPECT_TRUE(CountsAsConnected("127.0.0.1 "));
  EXPECT_TRUE(CountsAsConnected("192.168.1.10"));
  EXPECT_EQ(FirstIPv4Address({{true, "fe80::1", ""},
                              {false, "10.0.0.2", "255.0.0.0"},
                              {false, "10.0.0.3", "255.0.0.0"}}),
            "10.0.0.2");
  EXPECT_EQ(FirstIPv4Address({{true, "2001:db8::1", ""}}), "");

  int calls = 0;
  IPWatch watch([&calls] {
    ++calls;
    return std::vector<AdapterAddress>{{false, "10.1." + std::to_string(calls) + ".1", ""}};
  });
  EXPECT_EQ(watch.LocalAddress(), "10.1.1.1");
  EXPECT_EQ(watch.LocalAddress(), "10.1.2.1") << "every call enumerates afresh";
  EXPECT_FALSE(watch.Settings().active);
  EXPECT_FALSE(watch.Settings().historyEnabled);
  EXPECT_EQ(watch.Settings().historyFilename, "iphist.dat");
}

// Run inside a namespace by the tests below: writes the local address to a file.
TEST(LocalAddressProbe, DISABLED_WriteToFile) {
  const char* output = std::getenv("ZIRVO_PROBE_OUTPUT");
  ASSERT_NE(output, nullptr);
  test::WriteFileBytes(output, "[" + IPWatch().LocalAddress() + "]");
}

// A network namespace of its own, deleted when the test ends.
class Namespace {
 public:
  explicit Namespace(const std::string& name) : name_(name) {
    made_ = test::RunCommand("ip netns add " + name_ + " 2>/dev/null") == 0;
  }
  ~Namespace() {
    if (made_) test::RunCommand("ip netns delete " + name_ + " 2>/dev/null");
    std::filesystem::remove_all("/etc/netns/" + name_);
  }
  bool Made() const { return made_; }
  bool Run(const std::string& command) const {
    return test::RunCommand("ip netns exec " + name_ + " " + command + " >/dev/null 2>&1") == 0;
  }
  // What the probe writes when run inside the namespace.
  std::string Probe(const std::string& name = "LocalAddressProbe") const {
    test::TempDir dir;
    const std::string output = dir.File("address");
    test::RunCommand("ZIRVO_PROBE_OUTPUT=" + output + " ip netns exec " + name_ + " " +
                     platform::ExecutablePath() +
                     " --gtest_also_run_disabled_tests --gtest_filter=" + name +
                     ".* >/dev/null 2>&1");
    return test::ReadFileBytes(output);
  }
  std::string LocalAddress() const { return Probe(); }

 private:
  std::string name_;
  bool made_ = false;
};

class LocalAddressInNamespace : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "zirvo-t" + std::to_string(std::random_device()() % 1000000);
    space_ = std::make_unique<Namespace>(name_);
    if (!space_->Made()) {
      GTEST_SKIP() << "network namespaces cannot be made here (needs root and ip netns)";
    }
    ASSERT_TRUE(space_->Run("ip link set lo up"));
  }
  // A link with carrier once it is up: one end of a virtual cable whose other end
  // (name + "p") is up.
  bool AddLink(const std::string& name) {
    return space_->Run("ip link add " + name + " type veth peer name " + name + "p") &&
           space_->Run("ip link set " + name + "p up");
  }
  std::string name_;
  std::unique_ptr<Namespace> space_;
};

TEST_F(LocalAddressInNamespace, OnlyLoopbackGivesEmptyWhichCountsAsConnected) {
  const std::string address = space_->LocalAddress();
  EXPECT_EQ(address, "[]");
  EXPECT_TRUE(CountsAsConnected(address.substr(1, address.size() - 2)));
}

TEST_F(LocalAddressInNamespace, AnIPv6OnlyAdapterGivesEmpty) {
  ASSERT_TRUE(AddLink("v6only"));
  ASSERT_TRUE(space_->Run("ip -6 addr add 2001:db8::5/64 dev v6only nodad"));
  ASSERT_TRUE(space_->Run("ip link set v6only up"));
  EXPECT_EQ(space_->LocalAddress(), "[]");
}

TEST_F(LocalAddressInNamespace, TheFirstUsableAdapterInSystemOrderWins) {
  // Created in this order, the kernel lists first0 before second1 before third2.
  ASSERT_TRUE(AddLink("first0"));
  ASSERT_TRUE(AddLink("second1"));
  ASSERT_TRUE(AddLink("third2"));
  ASSERT_TRUE(space_->Run("ip addr add 10.99.2.2/24 dev second1"));
  ASSERT_TRUE(space_->Run("ip addr add 10.99.1.1/24 dev first0"));
  ASSERT_TRUE(space_->Run("ip addr add 10.99.3.3/24 dev third2"));
  ASSERT_TRUE(space_->Run("ip link set second1 up"));
  ASSERT_TRUE(space_->Run("ip link set third2 up"));
  // first0 is still down: its address is not usable yet and is passed over.
  EXPECT_EQ(space_->LocalAddress(), "[10.99.2.2]");
  ASSERT_TRUE(space_->Run("ip link set first0 up"));
  EXPECT_EQ(space_->LocalAddress(), "[10.99.1.1]");
  // Up but without carrier (the other end of its cable is down): not usable either.
  ASSERT_TRUE(space_->Run("ip link set first0p down"));
  ASSERT_TRUE(space_->Run("ip link set second1p down"));
  EXPECT_EQ(space_->LocalAddress(), "[10.99.3.3]");
}

// Run inside the namespace below: per name, what the lookup gave and the milliseconds taken.
TEST(NameLookupProbe, DISABLED_WriteToFile) {
  std::string lines;
  for (const std::string name : {"prompt.zirvo.test", "late.zirvo.test", "stopped.zirvo.test"}) {
    const auto start = std::chrono::steady_clock::now();
    const auto took = [start] { return (std::chrono::steady_clock::now() - start) / 1ms; };
    const auto stop = [&] { return name[0] == 's' && took() > 300 ? throw 0 : void(); };
    bool timedOut = false;
    std::string outcome = "stop";
    try {
      const auto address = platform::ResolveIPv4Within(name, 1s, 50ms, stop, timedOut);
      outcome = address ? std::to_string((*address)[0]) : timedOut ? "bound" : "unknown";
    } catch (int) {
    }
    lines += outcome + " " + std::to_string(took()) + " ";
  }
  test::WriteFileBytes(std::getenv("ZIRVO_PROBE_OUTPUT"), lines);
}

TEST_F(LocalAddressInNamespace, ALookupWaitsAtMostItsBoundAndEndsOnAStop) {
  // ip netns exec puts this file over /etc/resolv.conf: no lookup leaves the namespace.
  std::filesystem::create_directories("/etc/netns/" + name_);
  test::WriteFileBytes("/etc/netns/" + name_ + "/resolv.conf",
                       "nameserver 127.0.0.1\noptions timeout:10 attempts:1\n");
  test::TempDir dir;
  test::BackgroundProcess resolver(
      "ip netns exec " + name_ + " python3 " + test::PeersDirectory() + "/dns_peer.py " +
          dir.File("ready") + " prompt.zirvo.test=0.3 late.zirvo.test=4 stopped.zirvo.test=4",
      20, dir.File("pid"), dir.File("log"));
  ASSERT_TRUE(test::WaitForFile(dir.File("ready"), 10s));
  std::istringstream probe(space_->Probe("NameLookupProbe"));
  std::string prompt, late, stopped;
  long promptMs = 0, lateMs = 0, stoppedMs = 0;
  probe >> prompt >> promptMs >> late >> lateMs >> stopped >> stoppedMs;
  EXPECT_EQ(prompt + late + stopped, "127boundstop") << "answered after 0.3 s, then after 4 s";
  EXPECT_GE(promptMs, 250);
  EXPECT_TRUE(lateMs >= 950 && lateMs < 3000) << lateMs << " ms: the bound of 1 s";
  EXPECT_LT(stoppedMs, 950) << "given up at the stop raised after 0.3 s";
}

TEST(LocalAddress, NoHistoryFileIsEverWritten) {
  test::TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  IPWatch watch;
  watch.LocalAddress();
  std::filesystem::current_path(previous);
  EXPECT_FALSE(std::filesystem::exists(dir.File("iphist.dat")));
  EXPECT_FALSE(std::filesystem::exists(
      std::filesystem::path(platform::ExecutablePath()).parent_path() / "iphist.dat"));
}

}  // namespace
}  // namespace zirvo::net
