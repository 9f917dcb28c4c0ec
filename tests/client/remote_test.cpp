// Commands on another host (HOST@COMMAND) end to end: the configured
// remote shell is a stand-in that records the host it was given and runs
// the command here, except on the host "bare", which has no programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/vlxtest.h"
#include "vlxclient.h"

namespace {

class Remote : public ::testing::Test {
 protected:
  std::string config, saved, hosts, shell;

  void SetUp() override {
    std::string root = vlxtest::install_dir();
    config = root + "/cfg/configRuntime.json";
    hosts = root + "/tmp/remote-hosts";
    shell = root + "/remote-shell";
    vlxtest::spit(shell, "#!/bin/sh\necho \"$1\" >> " + hosts +
                             "\nif [ \"$1\" = bare ]; then PATH=/nonexistent; export PATH; fi\n"
                             "exec /bin/sh -c \"$2\"\n");
    ::chmod(shell.c_str(), 0755);
    vlxtest::spit(hosts, "");
    saved = vlxtest::slurp(config);
    nlohmann::json c = nlohmann::json::parse(saved);
    c["remoteShell"] = shell;
    vlxtest::spit(config, c.dump(2));
  }
  void TearDown() override { vlxtest::spit(config, saved); }

  int open_error(vlxc::Session& s, const std::string& name) {
    try {
      s.open(name, 2);
    } catch (const vlxc::Error& e) {
      return e.number;
    }
    return 0;
  }
};

TEST_F(Remote, TheRemoteShellRunsTheCommandAndTheTableServesIt) {
  std::string file = vlxtest::data_file("remote.txt", "north 3\nsouth 9\n");
  vlxc::Session s(VLXSYS_PATH);
  {
    vlxc::Table t = s.open("db-host@cat " + file, 2);
    t.filter("val(F2) > 5");
    EXPECT_EQ(t.read(vlxc::Mode::first), (vlxc::Record{"south", "9"}));
    EXPECT_EQ(t.read(vlxc::Mode::next), std::nullopt);
    t.close();
  }
  EXPECT_EQ(vlxtest::slurp(hosts), "db-host\n");
  EXPECT_EQ(open_error(s, "bare@cat " + file), 20) << "the remote side cannot find cat";
  EXPECT_EQ(open_error(s, "db-host@id"), 27) << "refused here as it would be locally";
  EXPECT_EQ(vlxtest::slurp(hosts), "db-host\nbare\n") << "a refused command never reaches the remote shell";
  vlxc::Table t = s.open("cat " + file, 2);
  EXPECT_EQ(t.read(vlxc::Mode::last), (vlxc::Record{"south", "9"})) << "the session still serves";
}

}  // namespace
