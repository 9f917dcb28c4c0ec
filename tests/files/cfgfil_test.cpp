// Configurations that cannot be used: the error, a sandbox that refuses
// everything, and a process that goes on.
#include "sandbox_install.h"

namespace {

class BadConfig : public SandboxInstall {
 protected:
  // Loads `json` (null: no file) and returns the error number and detail.
  std::pair<int, std::string> load(const char* json) {
    if (json != nullptr) write(root + "/cfg/configRuntime.json", json);
    int st = load_system_security();
    std::pair<int, std::string> out{-st, Errmes};
    raz_err();
    return out;
  }

  void expect_everything_refused() {
    EXPECT_EQ(find_syst_pattern("true", nullptr, 0), -27);
    EXPECT_EQ(check_secured_path(tmp.c_str(), "r", 1), 0);
    raz_err();
  }
};

constexpr const char* kDirs = R"("directories": [{"path": "/", "pattern": ["x"], "extensions": ["*"]}])";

TEST_F(BadConfig, MissingFile) {
  auto [error, detail] = load(nullptr);
  EXPECT_EQ(error, 27);
  EXPECT_EQ(detail, "failed to read configuration from " + root + "/cfg/configRuntime.json");
  expect_everything_refused();
}

TEST_F(BadConfig, NotJson) {
  EXPECT_EQ(load("{\"sandbox\": {").first, 27);
  expect_everything_refused();
  EXPECT_EQ(load("[1, 2]").first, 27);
}

TEST_F(BadConfig, MissingParts) {
  EXPECT_EQ(load("{}"), (std::pair<int, std::string>{26, "load_sandbox_directories"}));
  expect_everything_refused();
  EXPECT_EQ(load(R"({"sandbox": {"directories": [], "volumes": []}})").second, "load_sandbox_spawn");
  EXPECT_EQ(load(R"({"sandbox": {"spawn": [{"pattern": "^true$", "path": "*"}], "volumes": []}})").second,
            "load_sandbox_directories");
  EXPECT_EQ(find_syst_pattern("true", nullptr, 0), 0);  // the white list alone still works
  EXPECT_EQ(load(R"({"sandbox": {"directories": [], "spawn": []}})").second, "load_sandbox_volumes");
  std::string volumes = R"({"sandbox": {"directories": [], "spawn": [], "volumes": [)";
  for (int i = 0; i < 17; ++i) volumes += std::string(i ? "," : "") + R"({"volume": "D", "path": "/d"})";
  EXPECT_EQ(load((volumes + "]}}").c_str()).second, "Too many volumes");
}

TEST_F(BadConfig, PatternsThatDoNotCompileDisableEverything) {
  auto [error, detail] = load((std::string(R"({"sandbox": {)") + kDirs +
                               R"(, "spawn": [{"pattern": "^true$", "path": "*"}, {"pattern": "(["}], "volumes": []}})")
                                  .c_str());
  EXPECT_EQ(error, 5);
  EXPECT_EQ(detail.rfind("COMPILE FAILED ([: ", 0), 0u) << detail;
  expect_everything_refused();
  auto [error2, detail2] =
      load(R"({"sandbox": {"directories": [{"path": "/", "pattern": ["a("]}], "spawn": [{"pattern": "^true$", "path": "*"}], "volumes": []}})");
  EXPECT_EQ(error2, 5);
  EXPECT_EQ(detail2.rfind("Bad regexp a(: ", 0), 0u) << detail2;
  expect_everything_refused();
}

TEST_F(BadConfig, WrongTypesAreSkipped) {
  auto [error, detail] = load(R"({"IsWhitelistDisabled": "yes", "remoteShell": 3, "sandbox": {
      "directories": [7, {"path": 5}, {"path": "!tmp", "writable": "no", "extensions": ["*", 1]}],
      "spawn": [{"pattern": 1}, {"pattern": "^true$", "params": {"index": "x"}, "modes": 5}],
      "volumes": [null]}})");
  EXPECT_EQ(error, 0) << detail;
  EXPECT_FALSE(IsWhitelistDisabled);
  EXPECT_EQ(Remote_shell, kDefaultRemoteShell);
  ASSERT_TRUE(Secured_path.has_value());
  ASSERT_EQ(Secured_path->size(), 1u);
  EXPECT_FALSE((*Secured_path)[0].writable);
  ASSERT_EQ(white_list.size(), 1u);
  EXPECT_EQ(find_syst_pattern("true", nullptr, 0), 0);
  EXPECT_EQ(check_secured_path((tmp + "/f").c_str(), "r", 1), 1);
}

}  // namespace
