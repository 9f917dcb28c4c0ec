// Slots and hosts: abbreviations and reuse, the host and alias tables,
// buffer units in both forms, and the service header of a local service.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "channel/divcom.h"
#include "channel/iocbu.h"
#include "channel/iocom.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "support/peer.h"
#include "support/vlxtest.h"

using vlxtest::bytes;
namespace fs = std::filesystem;

namespace {

class Slots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    vlxtest::init_memory();
    ASSERT_EQ(cbu_init_once(), 0);
  }
  static int cbu_init_once() {
    static int st = cbu_ini(512);
    return st;
  }
  void SetUp() override {
    ASSERT_EQ(inicom(""), 0);
    group_ = adg_get(nullptr, nullptr, kGrpServer, "slots test");
  }
  void TearDown() override {
    adg_free(group_);
    raz_err();
  }
  cbu_ref unit(unsigned size) {
    cbu_ref ref = 0;
    EXPECT_EQ(cbu_new(1, group_, size, &ref, "unit"), 0);
    return ref;
  }
  unsigned group_ = 0;
};

TEST_F(Slots, AbbreviationsFindAndReserveSlots) {
  int slot = 0;
  EXPECT_EQ(comSlot(4, 1, &slot), 0);
  EXPECT_EQ(slot, 1) << "the first free slot, as the front-end channel takes slot 1";
  s_abv abv;
  comabv(4, 1, &abv);
  unsigned g = adg_get(nullptr, nullptr, kGrpCommunications, "service");
  ASSERT_EQ(i_tcom(slot, &abv, g, 1, 5, 6, 5, 6, 0, nullptr), 1);
  int again = 0;
  EXPECT_EQ(comSlot(4, 1, &again), 1);
  EXPECT_EQ(again, 1);
  EXPECT_EQ(comSlot(4, 2, &again), 0);
  EXPECT_EQ(again, 2);
  comFree(2);
  adg_free(g);
  EXPECT_EQ(com_is_initialized(1), 0) << "a slot goes with its group";
  EXPECT_EQ(comSlot(4, 1, &again), 0);
  EXPECT_EQ(again, 1);
  comFree(1);
}

TEST_F(Slots, HostTable) {
  EXPECT_EQ(getHostSlot("#"), 0);
  EXPECT_EQ(getHostSlot(""), 1);
  EXPECT_EQ(getHostSlot(nullptr), 2);
  char name[255];
  EXPECT_GT(gethstnm(1, name, sizeof name), 1);
  EXPECT_STREQ(name, Cmhost[0]) << "with no name, entry 0 is the local host too";
  EXPECT_EQ(gethstnm(41, name, sizeof name), 0);
  int first = getHostSlot("localhost:5000");
  ASSERT_GE(first, 2);
  EXPECT_EQ(Cmhsrv[first], 5000);
  EXPECT_EQ(getHostSlot("localhost:5000"), first) << "found again through its alias";
  EXPECT_NE(getHostSlot("localhost:5001"), first);
  EXPECT_EQ(getHostSlot("no-such-host.invalid:1"), -166);
  EXPECT_STREQ(Errmes, "'no-such-host.invalid:1'");
  raz_err();
  EXPECT_EQ(getHostSlot("no-port-given"), -138) << "the server name is no service";
  raz_err();
  int st = 0;
  for (int port = 6000; port < 6100 && st >= 0; ++port) st = getHostSlot(("localhost:" + std::to_string(port)).c_str());
  EXPECT_EQ(st, -85) << "the table is full";
}

TEST_F(Slots, BufferUnitsInPieceForm) {
  vlxtest::Peer peer = vlxtest::make_peer(5, 1);
  cbu_ref source = unit(6);
  std::memcpy(cbu_bu(source), "main!!", 6);
  unsigned short a, b, c;
  ASSERT_EQ(cbu_new_extent(source, &a), 0);
  ASSERT_EQ(cbu_new_extent(source, &b), 0);
  ASSERT_EQ(cbu_new_extent(source, &c), 0);
  cbu_free_tab_extent(source, b);  // extent 2 missing: a one-byte piece
  ASSERT_EQ(ack_cbu(5, source, 2), 0);
  std::string wire = peer.received();
  EXPECT_EQ(wire, bytes({0, 4, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2}) + "main" + bytes({0, 0, 0, 0, 0}));
  peer.send(wire);
  cbu_ref target = unit(2);
  recv_cbu(5, target, 0);
  EXPECT_EQ(cbu_len(target), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(cbu_bu(target)), 4), "main");
  unsigned char* address;
  unsigned length;
  ASSERT_EQ(cbu_extent(target, 2, &address, &length), 0);
  EXPECT_EQ(address, nullptr) << "a one-byte piece is an empty extent";
  ASSERT_EQ(cbu_extent(target, 3, &address, &length), 0);
  EXPECT_EQ(length, 2u);
  vlxtest::drop_peer(peer);
}

TEST_F(Slots, BufferUnitsInRawFormAndLimits) {
  vlxtest::Peer peer = vlxtest::make_peer(5, 1);
  setProtocolVersion(5, 8);
  cbu_ref source = unit(3);
  std::memcpy(cbu_bu(source), "raw", 3);
  cbu_set_noextent(source, 1);
  ASSERT_EQ(send_cbu(5, 9, "x", 1, 0, source), 0);
  EXPECT_EQ(peer.received(), bytes({9, 0, 1, 'x'}) + "raw");
  peer.send(bytes({0x01, 0x77}));  // 375 pieces: past the 1501-byte header
  cbu_ref target = unit(4);
  EXPECT_THROW(read_cbu(5, target), ERINTException);
  EXPECT_STREQ(Errmes, "Too many extent to serialize");
  raz_err();
  peer.send(bytes({0x00, 0x01, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_THROW(read_cbu(5, target), PLUMEMException) << "a size past the ceiling allocates nothing";
  vlxtest::drop_peer(peer);
}

TEST_F(Slots, LocalServiceHandshake) {
  fs::path bin = fs::path(vlxtest::install_dir()) / "tmp" / "bin";
  fs::create_directories(bin);
  // A service that checks the type byte and answers its process id 0x0102.
  vlxtest::spit(bin / "vlxsrv",
                "#!/bin/sh\n"
                "type=$(od -An -tu1 -N1 <&$1 | tr -d ' ')\n"
                "if [ \"$type\" = 4 ]; then printf '\\000\\000\\001\\002' >&$2;\n"
                "else printf '\\000\\000\\000\\000\\010\\000\\000\\000\\033nope' >&$2; fi\n"
                "cat <&$1 >/dev/null\n");
  fs::permissions(bin / "vlxsrv", fs::perms::owner_all);
  std::string path = bin.string() + ":" + std::getenv("PATH");
  ::setenv("PATH", path.c_str(), 1);
  int slot = 0;
  ASSERT_EQ(serverInitialize("", nullptr, 4, nullptr, &slot), 0) << Errmes;
  EXPECT_EQ(get_prid(slot), 0x0102u);
  int again = 0;
  EXPECT_EQ(serverInitialize("", nullptr, 4, nullptr, &again), 0);
  EXPECT_EQ(again, slot) << "an existing slot is returned as it is";
  int other = 0;
  EXPECT_EQ(serverInitialize("", nullptr, 2, nullptr, &other), -27);
  EXPECT_STREQ(Errmes, "nope");
  EXPECT_EQ(com_is_initialized(other), 0) << "a failed connection releases its slot";
  s_com* c = com_slot(slot);
  ::close(static_cast<int>(c->reqw));
  ::close(static_cast<int>(c->reqr));
  unsigned g = c->group;
  comFree(slot);
  adg_free(g);
}

}  // namespace
