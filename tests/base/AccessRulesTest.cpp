#include "platform/AccessRules.h"

#include <gtest/gtest.h>

namespace zirvo::platform {
namespace {

TEST(AccessRules, ServiceAccountIdentifiersAreDerivedAsWindowsDoes) {
  // The one Windows shows for its own installer service, in any case of the name.
  const std::string trustedInstaller = kTrustedInstallerSid;
  const struct {
    const char* account;
    std::string sid;
  } cases[] = {
      {"NT SERVICE\\TrustedInstaller", trustedInstaller},
      {"nt service\\TRUSTEDINSTALLER", trustedInstaller},
      {"LocalSystem", kLocalSystemSid},
      {".\\ZirvoService", ""},
      {"NT SERVICE\\", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WellKnownAccountSid(c.account), c.sid) << c.account;
  EXPECT_EQ(WellKnownAccountSid(VirtualServiceAccount("ZirvoService")), ServiceSid("zirvoservice"));
}

TEST(AccessRules, OnlyOtherAccountsThatMayWriteOrReadOpenThePath) {
  const std::vector<std::string> trusted = {kLocalSystemSid, kAdministratorsSid, "S-1-5-80-1"};
  const std::string users = "S-1-5-32-545";
  const std::string everyone = "S-1-1-0";
  const struct {
    const char* what;
    std::string owner;
    std::vector<AccessEntry> entries;
    bool writable, readable;
    std::vector<std::string> sids;
  } cases[] = {
      {"trusted only",
       kAdministratorsSid,
       {{true, 0, 0x1F01FF, kLocalSystemSid}, {true, 0, 0x1301BF, "s-1-5-80-1"}},
       false,
       false,
       {}},
      {"users read and run",
       kAdministratorsSid,
       {{true, 0x03, 0x1200A9, users}},
       false,
       true,
       {users}},
      {"everyone generic read",
       kLocalSystemSid,
       {{true, 0, 0x80000000, everyone}},
       false,
       true,
       {everyone}},
      {"users may create files", kAdministratorsSid, {{true, 0, 0x2, users}}, true, false, {users}},
      {"users may change permissions",
       kAdministratorsSid,
       {{true, 0, 0x40000, users}},
       true,
       false,
       {users}},
      {"only for children (creator owner)",
       kAdministratorsSid,
       {{true, 0x0B, 0x10000000, "S-1-3-0"}},
       false,
       false,
       {}},
      {"deny entry", kAdministratorsSid, {{false, 0, 0x1F01FF, users}}, false, false, {}},
      {"attributes only", kAdministratorsSid, {{true, 0, 0x100, users}}, false, false, {}},
      {"owned by a user",
       "S-1-5-21-7-1001",
       {{true, 0, 0x1200A9, users}},
       true,
       true,
       {"S-1-5-21-7-1001", users}},
  };
  for (const auto& c : cases) {
    const AccessVerdict verdict = JudgeAccess(c.owner, c.entries, trusted);
    EXPECT_EQ(verdict.writable, c.writable) << c.what;
    EXPECT_EQ(verdict.readable, c.readable) << c.what;
    EXPECT_EQ(verdict.sids, c.sids) << c.what;
  }
}

}  // namespace
}  // namespace zirvo::platform
