// The shipped configuration against command lines that try to get out:
// every line of data/sandbox_refused.txt must be refused with error 27 and
// written to the file of rejected commands; every line of
// data/sandbox_admitted.txt must pass.
#include <sys/stat.h>

#include <iostream>

#include "sandbox_install.h"

namespace {

class ShippedSandbox : public SandboxInstall {
 protected:
  void SetUp() override {
    SandboxInstall::SetUp();
    std::filesystem::create_directory(data + "/sub");
    write(data + "/f.txt", "one\n");
    write(data + "/sub/big.dat", "1 2 3\n");
    // Scripts whose every line is acceptable, and one whose line chains
    // such a script with another command.
    write(data + "/s.sh", "# lists the folder\nls\n");
    write(data + "/chain.sh", data + "/s.sh && id\n");
    write(data + "/source.sh", ". " + data + "/s.sh;id\n");
    std::filesystem::create_symlink("/etc/passwd", data + "/link");
    std::filesystem::create_symlink("/etc", data + "/linkdir");
    ASSERT_EQ(configure_shipped(), 0);
  }

  std::vector<std::string> corpus(const char* file) {
    std::vector<std::string> lines;
    std::ifstream in(std::string(VLX_TEST_DATA) + "/" + file);
    for (std::string line; std::getline(in, line);)
      if (!line.empty() && line[0] != '#') lines.push_back(expand(line));
    return lines;
  }
};

TEST_F(ShippedSandbox, RefusesEveryEscape) {
  int tried = 0, refused = 0;
  for (const std::string& line : corpus("sandbox_refused.txt")) {
    ++tried;
    std::uintmax_t before = rejected_size();
    int st = sandbox_check(line.c_str());
    int error = Errvlx;
    raz_err();
    bool ok = st == -27 && error == 27 && rejected_size() > before;
    EXPECT_TRUE(ok) << "not refused: [" << line.substr(0, 80) << "] result " << st;
    refused += ok;
  }
  std::cout << "sandbox corpus: " << tried << " tried, " << refused << " refused\n";
  EXPECT_GT(tried, 50);
}

TEST_F(ShippedSandbox, AdmitsTheUsefulCommands) {
  for (const std::string& line : corpus("sandbox_admitted.txt")) {
    EXPECT_EQ(sandbox_check(line.c_str()), 0) << line << ": " << Errmes;
    raz_err();
  }
  EXPECT_TRUE(rejected().empty());
}

TEST_F(ShippedSandbox, NoPatternOfTheShippedListInvitesTheShell) {
  for (const s_spawn& entry : white_list)
    for (const char* hazard : {";", "|", "&", "$", "`", "\n", "..", ">", "<"})
      EXPECT_FALSE(trex_can_contain(entry.compiled.get(), hazard)) << entry.pattern << " accepts " << hazard;
}

}  // namespace
