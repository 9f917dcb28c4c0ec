// Communication slots: the table `Com` of channels to peers (slot 1 is the
// client), the host and alias tables, and the security mode announced in
// service headers.
//
// A slot binds a transfer mode (in-memory buffer, pipe, socket) and four
// descriptors to the framing operations of iocom. Slots are found by their
// abbreviation; a slot whose memory group was released is free again.
#pragma once

#include <cstdint>

inline constexpr int kComSlots = 50;
inline constexpr int kHosts = 41;

// Abbreviation of a slot: byte 0 service type, byte 1 subtype, bytes 2 and
// 3 zero, then a 4-byte extra value.
struct s_abv {
  unsigned char b[8];
};

enum com_mode : std::uint32_t { kModeBuffer = 0, kModePipe = 1, kModeSocket = 4 };

using com_io = int (*)(int fd, unsigned char* bytes, int count, int slot);
using com_callback = int (*)(int slot);

struct s_com {
  std::uint8_t isinit;
  s_abv abv;
  std::uint32_t group;
  std::uint32_t written;
  std::uint32_t read;
  std::uint32_t lasttime;
  std::int32_t protocol;
  std::uint32_t com_vh;
  std::uint32_t reserved;
  std::uint32_t prid;
  std::uint32_t mode;
  com_io write_fn;
  com_io read_fn;
  com_callback callback;
  std::uint32_t ackw, ackr, reqw, reqr;
};

// Slot number of the client's request channel.
extern int Icomfs;

// Process-wide tables; Com[0] is never used.
extern s_com* Com[kComSlots + 1];
extern char Cmhost[kHosts][255];
extern int Cmhsrv[kHosts];
extern char Cmhusr[kHosts][65];
extern char Cmhpwd[kHosts][65];
extern char Alhost[kHosts][255];
extern int Alnhst[kHosts];
extern std::int16_t Secmod;

int inicom(const char* name);
int i_tcom(int slot, const s_abv* abbreviation, unsigned group, int mode, int ackWrite, int ackRead,
           int requestWrite, int requestRead, int protocolVersion, com_callback callback);
int comSlot(int type, int subtype, int* slot);
void comabv(int type, int subtype, s_abv* out);
// Releases a slot: its record goes with its group's memory.
void comFree(int slot);
int com_is_initialized(int slot);
int nb_containers_gr(int slot);
int getProtocolVersion(int slot);
void setProtocolVersion(int slot, int version);
void sethdvcom(int slot, int protocolVersion);
unsigned get_prid(int slot);
// Name of a service type in log lines ("unknown" beyond the known ones).
const char* debugSrvtyf2(int type);

int getHostSlot(const char* name);
int gethstnm(int index, char* out, int size);

void setsmd(int mode);

// Opens (or finds) the slot of a secondary server of `type` on `host`:
// with `connect`, an in-memory slot served by that function; for the local
// host or an application host, the local service "vlxsrv" on two pipes;
// otherwise a TCP connection. Sends the service header and reads the
// server's process id.
int serverInitialize(const char* host, const char* applicationHost, int type, com_callback connect, int* slot);

// The valid record of a slot, or null.
s_com* com_slot(int slot);
