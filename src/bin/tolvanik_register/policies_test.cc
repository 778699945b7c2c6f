#include "bin/tolvanik_register/policies.h"

#include <gtest/gtest.h>

namespace tolvanik::registration {
namespace {

using List = std::vector<std::string>;

PolicySetting setting(std::string_view name, Scope scope,
                      std::variant<bool, std::vector<std::string>> value) {
  return {std::string(name), scope, scope == Scope::kUser ? "HKCU\\P" : "HKLM\\P", std::move(value),
          ""};
}

TEST(WeighPolicies, UserLevelHostsOffIgnoresPerUserRegistrations) {
  const auto off = weigh_policies({setting(kUserLevelHostsPolicy, Scope::kMachine, false)},
                                  "io.tolvanik.host", true);
  EXPECT_FALSE(off.user_level_allowed);
  EXPECT_FALSE(off.host_blocked);
  ASSERT_EQ(off.findings.size(), 1u);
  EXPECT_EQ(off.findings[0].value, "0");
  EXPECT_EQ(off.findings[0].effect,
            "per-user hosts are switched off by policy: this registration is ignored; install per "
            "machine (msiexec ... ALLUSERS=1, or --all-users)");
  EXPECT_EQ(weigh_policies({setting(kUserLevelHostsPolicy, Scope::kMachine, false)}, "h", false)
                .findings[0]
                .effect,
            "per-user hosts are switched off by policy");

  // The machine's value wins over the user's.
  const auto both = weigh_policies({setting(kUserLevelHostsPolicy, Scope::kMachine, true),
                                    setting(kUserLevelHostsPolicy, Scope::kUser, false)},
                                   "h", true);
  EXPECT_TRUE(both.user_level_allowed);
  EXPECT_EQ(both.findings[1].effect, "overridden by the machine's policy");
}

TEST(WeighPolicies, ABlocklistStopsTheHostUnlessTheAllowlistNamesIt) {
  const auto blocked =
      weigh_policies({setting(kBlocklistPolicy, Scope::kMachine, List{"other", "*"})}, "h", false);
  EXPECT_TRUE(blocked.host_blocked);
  EXPECT_EQ(blocked.findings[0].value, "[\"other\", \"*\"]");
  EXPECT_EQ(blocked.findings[0].effect, "the host is blocked by NativeMessagingBlocklist");
  EXPECT_TRUE(blocked.findings[0].stops_host);

  const auto allowed = weigh_policies({setting(kBlocklistPolicy, Scope::kUser, List{"h"}),
                                       setting(kAllowlistPolicy, Scope::kMachine, List{"h"})},
                                      "h", false);
  EXPECT_FALSE(allowed.host_blocked);
  EXPECT_FALSE(allowed.findings[0].stops_host);
  EXPECT_EQ(allowed.findings[1].effect, "allowed by NativeMessagingAllowlist");

  // A user allowlist does not count where the machine has its own.
  const auto machine_list = weigh_policies({setting(kBlocklistPolicy, Scope::kMachine, List{"*"}),
                                            setting(kAllowlistPolicy, Scope::kMachine, List{}),
                                            setting(kAllowlistPolicy, Scope::kUser, List{"h"})},
                                           "h", false);
  EXPECT_TRUE(machine_list.host_blocked);
  EXPECT_EQ(machine_list.findings[1].effect, "does not name this host");
  EXPECT_EQ(weigh_policies({setting(kBlocklistPolicy, Scope::kMachine, List{"x"})}, "h", false)
                .findings[0]
                .effect,
            "does not name this host");
}

TEST(PolicyValues, FlagsAndListsAreReadAsChromiumConvertsRegistryValues) {
  using platform::RegistryValue;
  const std::vector<RegistryValue> key = {{"nativemessaginguserlevelhosts", std::string("0")},
                                          {"NativeMessagingBlocklist", std::string(R"(["*"])")},
                                          {"Other", std::uint32_t{1}}};
  EXPECT_EQ(policy_flag(key, kUserLevelHostsPolicy), false);
  EXPECT_EQ(
      policy_flag({{std::string(kUserLevelHostsPolicy), std::uint32_t{2}}}, kUserLevelHostsPolicy),
      true);
  EXPECT_FALSE(policy_flag({{std::string(kUserLevelHostsPolicy), std::string("yes")}},
                           kUserLevelHostsPolicy));
  EXPECT_FALSE(policy_flag(key, kAllowlistPolicy));

  // Only numbered string values of the subkey count.
  const std::vector<RegistryValue> subkey = {{"1", std::string("a")},
                                             {"Comment", std::string("b")},
                                             {"2", std::uint32_t{7}},
                                             {"10", std::string("c")}};
  EXPECT_EQ(policy_list(&subkey, key, kBlocklistPolicy), (List{"a", "c"}));
  // Without the subkey, a JSON list in the policy key.
  EXPECT_EQ(policy_list(nullptr, key, kBlocklistPolicy), List{"*"});
  EXPECT_FALSE(policy_list(nullptr, key, kAllowlistPolicy));
  // A JSON list with anything but strings is refused whole.
  EXPECT_FALSE(policy_list(nullptr, {{"NativeMessagingBlocklist", std::string(R"(["*", 1])")}},
                           kBlocklistPolicy));
}

TEST(WeighPolicies, AnUnreadableKeyIsToldAndDecidesNothing) {
  const auto outcome = weigh_policies(
      {{"", Scope::kMachine, "HKLM\\P", false, "could not read: access denied"}}, "h", true);
  EXPECT_TRUE(outcome.user_level_allowed);
  ASSERT_EQ(outcome.findings.size(), 1u);
  EXPECT_EQ(outcome.findings[0].where, "HKLM\\P");
  EXPECT_NE(outcome.findings[0].effect.find("access denied"), std::string::npos);
}

}  // namespace
}  // namespace tolvanik::registration
