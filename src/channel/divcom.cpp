#include "channel/divcom.h"

#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channel/iocom.h"
#include "channel/socket.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "memory/vlxcalls.h"

using namespace vlx;

int Icomfs = 1;
s_com* Com[kComSlots + 1];
char Cmhost[kHosts][255];
int Cmhsrv[kHosts];
char Cmhusr[kHosts][65];
char Cmhpwd[kHosts][65];
char Alhost[kHosts][255];
int Alnhst[kHosts];
std::int16_t Secmod;

namespace {

// Slots reserved by comSlot but not yet given a record by i_tcom.
bool Reserved[kComSlots + 1];
// Group of each record, kept outside it: a released group takes the record.
unsigned Comgroup[kComSlots + 1];

// ORDER SRVTYP: service type numbers of the launcher protocol.
const char* const Srvtyp[13] = {"unknown",     "unknown",      "CISSRV (2)", "ORASRV (3)", "SYSSRV (4)",
                                 "LPRSRV (5)",  "FSQSRV (6)",   "unknown",    "OSSSRV (8)", "unknown",
                                 "DB2SRV (10)", "unknown",      "VARSRV (12)"};

bool matches(const s_com* c, const s_abv& abv) {
  return c->abv.b[0] == abv.b[0] && c->abv.b[1] == abv.b[1] && c->abv.b[2] == 0 && c->abv.b[3] == 0;
}

void copy(char* out, std::size_t size, const char* text) { std::snprintf(out, size, "%s", text); }

}  // namespace

s_com* com_slot(int slot) {
  if (slot < 1 || slot > kComSlots || Com[slot] == nullptr) return nullptr;
  // A record lives in its owner's group: a released group frees the slot.
  if (adg_if(Comgroup[slot]) == 0) {
    Com[slot] = nullptr;
    return nullptr;
  }
  return Com[slot];
}

int inicom(const char* name) {
  // Texts are cleared only where they hold something: a page of these
  // tables that is never written stays out of the process's memory.
  for (int i = 0; i < kHosts; ++i) {
    Cmhsrv[i] = -1;
    Alnhst[i] = -1;
    for (char* text : {Cmhost[i], Alhost[i], Cmhusr[i], Cmhpwd[i]})
      if (text[0] != '\0') text[0] = '\0';
  }
  char local[255];
  if (::gethostname(local, sizeof local) != 0) {
    int e = set_vstat1(errno);
    return err_vlx(static_cast<short>(-e), "inicom");
  }
  local[sizeof local - 1] = '\0';
  copy(Cmhost[1], sizeof Cmhost[1], local);
  copy(Cmhost[0], sizeof Cmhost[0], name != nullptr && name[0] != '\0' ? name : local);
  log::trace(log::system, "inicom(%s) Cmhost[0]:%s Cmhost[1]:%s", name != nullptr ? name : "", Cmhost[0], Cmhost[1]);
  return 0;
}

int i_tcom(int slot, const s_abv* abbreviation, unsigned group, int mode, int ackWrite, int ackRead,
           int requestWrite, int requestRead, int protocolVersion, com_callback callback) {
  log::trace(log::system, "i_tcom(ids:%i,type:%i, protocolVersion:%i)", slot,
             abbreviation != nullptr ? abbreviation->b[0] : -1, protocolVersion);
  if (slot < 1 || slot > kComSlots) return err_vlx(kErrNoSlot, "i_tcom(%d)", slot);
  com_io write_fn, read_fn;
  if (!com_transfer(mode, &write_fn, &read_fn)) return err_vlx(kErrInternal, "Illegal communication mode requested");
  auto* c = static_cast<s_com*>(adg_malloc(group, sizeof(s_com)));
  if (c == nullptr) return -Vstat1;
  if (abbreviation != nullptr)
    c->abv = *abbreviation;
  else
    std::memset(c->abv.b, 0xFF, 4);
  c->group = group;
  c->write_fn = write_fn;
  c->read_fn = read_fn;
  c->ackw = static_cast<std::uint32_t>(ackWrite);
  c->ackr = static_cast<std::uint32_t>(ackRead);
  c->reqw = static_cast<std::uint32_t>(requestWrite);
  c->reqr = static_cast<std::uint32_t>(requestRead);
  c->callback = callback;
  c->mode = static_cast<std::uint32_t>(mode);
  c->protocol = protocolVersion;
  c->com_vh = 1;
  Com[slot] = c;
  Comgroup[slot] = group;
  com_forget_ahead(slot);
  Reserved[slot] = false;
  return slot;
}

void comabv(int type, int subtype, s_abv* out) {
  std::memset(out->b, 0, sizeof out->b);
  out->b[0] = static_cast<unsigned char>(type);
  out->b[1] = static_cast<unsigned char>(subtype);
}

int comSlot(int type, int subtype, int* slot) {
  log::trace(log::system, "comSlot(%s,%i)", debugSrvtyf2(type), subtype);
  s_abv wanted;
  comabv(type, subtype, &wanted);
  for (int i = 1; i <= kComSlots; ++i) {
    if (s_com* c = com_slot(i); c != nullptr && matches(c, wanted)) {
      *slot = i;
      return 1;
    }
  }
  for (int i = 1; i <= kComSlots; ++i) {
    if (com_slot(i) == nullptr && !Reserved[i]) {
      Reserved[i] = true;
      *slot = i;
      return 0;
    }
  }
  int st = err_vlx(kErrTooManySlots, "comSlot");
  log::trace(log::system, "comSlot(%s,%i)=%i => cid:%i", debugSrvtyf2(type), subtype, st, -1);
  return st;
}

void comFree(int slot) {
  if (slot < 1 || slot > kComSlots) return;
  com_flush(slot);
  if (s_com* c = com_slot(slot)) adg_memfree(c->group, c);
  com_forget_ahead(slot);
  Com[slot] = nullptr;
  Reserved[slot] = false;
}

int com_is_initialized(int slot) { return com_slot(slot) != nullptr; }

int nb_containers_gr(int slot) {
  s_com* c = com_slot(slot);
  return c != nullptr && c->protocol < 7 ? 7 : 8;
}

int getProtocolVersion(int slot) {
  s_com* c = com_slot(slot);
  return c == nullptr ? 8 : c->protocol;
}

void setProtocolVersion(int slot, int version) {
  if (s_com* c = com_slot(slot)) c->protocol = version;
}

void sethdvcom(int slot, int protocolVersion) {
  if (s_com* c = com_slot(slot)) c->com_vh = protocolVersion < 11 ? 1 : 2;
}

unsigned get_prid(int slot) {
  s_com* c = com_slot(slot);
  return c == nullptr ? 0 : c->prid;
}

const char* debugSrvtyf2(int type) { return type >= 0 && type <= 12 ? Srvtyp[type] : "unknown"; }

int getHostSlot(const char* name) {
  if (name == nullptr) return 2;
  if (name[0] == '\0') return 1;
  if (std::strcmp(name, "#") == 0) return 0;
  for (int i = 2; i < kHosts; ++i)
    if (Alnhst[i] >= 0 && std::strcmp(Alhost[i], name) == 0) return Alnhst[i];
  std::string host = name;
  int port;
  if (std::size_t colon = host.find(':'); colon != std::string::npos) {
    port = std::atoi(host.c_str() + colon + 1);
    host.erase(colon);
  } else {
    port = getasr();
    if (port < 0) return port;
  }
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return err_vlx(kErrObject, "'%s'", name);
  std::string canonical = found->ai_canonname != nullptr ? found->ai_canonname : host;
  ::freeaddrinfo(found);
  int entry = -1;
  for (int i = 2; i < kHosts && entry < 0; ++i)
    if (Cmhsrv[i] >= 0 && canonical == Cmhost[i] && Cmhsrv[i] == port) entry = i;
  for (int i = 2; i < kHosts && entry < 0; ++i) {
    if (Cmhsrv[i] >= 0) continue;
    entry = i;
    copy(Cmhost[i], sizeof Cmhost[i], canonical.c_str());
    Cmhsrv[i] = port;
    if (i != 2) {
      copy(Cmhusr[i], sizeof Cmhusr[i], Cmhusr[2]);
      copy(Cmhpwd[i], sizeof Cmhpwd[i], Cmhpwd[2]);
    }
  }
  int alias = -1;
  for (int i = 2; i < kHosts && alias < 0; ++i)
    if (Alnhst[i] < 0) alias = i;
  if (entry < 0 || alias < 0) return err_vlx(kErrTooManySlots, "'%s'", name);
  copy(Alhost[alias], sizeof Alhost[alias], name);
  Alnhst[alias] = entry;
  return entry;
}

int gethstnm(int index, char* out, int size) {
  if (index < 0 || index >= kHosts || size <= 0) return 0;
  copy(out, static_cast<std::size_t>(size), Cmhost[index]);
  return static_cast<int>(std::strlen(Cmhost[index])) + 1;
}

void setsmd(int mode) { Secmod = static_cast<std::int16_t>(mode); }

namespace {

// Starts the local service "vlxsrv" on two pipes; its descriptors come
// back in `reader` and `writer`.
int connectLocalService(int* reader, int* writer) {
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return set_vstat1(errno);
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(toChild[0]), ::close(toChild[1]);
    return set_vstat1(e);
  }
  com_flush_all();
  pid_t child = ::fork();
  if (child == 0) {
    // The service reads argv[1], writes argv[2]; the parent's ends close
    // at exec.
    ::fcntl(toChild[0], F_SETFD, 0);
    ::fcntl(fromChild[1], F_SETFD, 0);
    char numbers[4][16];
    int fds[4] = {toChild[0], fromChild[1], toChild[1], fromChild[0]};
    char* argv[6] = {const_cast<char*>("vlxsrv")};
    for (int i = 0; i < 4; ++i) {
      std::snprintf(numbers[i], sizeof numbers[i], "%d", fds[i]);
      argv[i + 1] = numbers[i];
    }
    argv[5] = nullptr;
    ::execvp("vlxsrv", argv);
    std::fprintf(stderr, VLX_TEXT_NO_SERVICE, errno);
    ::_exit(127);
  }
  int e = errno;
  ::close(toChild[0]), ::close(fromChild[1]);
  if (child < 0) {
    ::close(toChild[1]), ::close(fromChild[0]);
    return set_vstat1(e);
  }
  log::trace(log::system, "connectLocalService(%lld)", static_cast<long long>(child));
  *reader = fromChild[0];
  *writer = toChild[1];
  log::trace(log::system, "connectLocalService => (%lld,%lld)", static_cast<long long>(*reader),
             static_cast<long long>(*writer));
  return 0;
}

int connectRemoteService(int host, int* fd) {
  log::trace(log::system, "connectRemoteService(%s)", Cmhost[host]);
  int port = Cmhsrv[host] > 0 ? Cmhsrv[host] : getasr();
  if (port < 0) return port;
  *fd = openSocket(Cmhost[host], port);
  return *fd < 0 ? *fd : 0;
}

// A secondary server that goes away while its slot is set up fails the
// set-up; it is not the loss of a peer.
struct LostPeerSuspended {
  void (*saved)() = Comlost;
  LostPeerSuspended() { Comlost = nullptr; }
  ~LostPeerSuspended() { Comlost = saved; }
  LostPeerSuspended(const LostPeerSuspended&) = delete;
  LostPeerSuspended& operator=(const LostPeerSuspended&) = delete;
};

// The user message of a remote service: three texts of a length byte each.
int sendUserMessage(int slot, int host) {
  std::string user = Cmhusr[host];
  const char* backslash = std::strchr(Cmhusr[0], '\\');
  std::string local = backslash != nullptr ? backslash + 1 : Cmhusr[0];
  if (user.empty()) user = local;
  std::string password = Cmhpwd[host][0] != '\0' ? Cmhpwd[host] : Cmhpwd[0];
  std::string message;
  for (const std::string* text : {&user, &local, &password}) {
    message += static_cast<char>(std::min<std::size_t>(text->size(), 255));
    message += text->substr(0, 255);
  }
  if (message.size() > 255) return err_vlx(kErrInternal, "serverInitialize: user message too long");
  unsigned char length = static_cast<unsigned char>(message.size());
  int st = wl_req(slot, &length, 1);
  return st < 0 ? st : wl_req(slot, message.data(), length);
}

}  // namespace

int serverInitialize(const char* host, const char* applicationHost, int type, com_callback connect, int* slot) {
  log::trace(log::system, "serverInitialize(%s,%s,%i)", host != nullptr ? host : "",
             applicationHost != nullptr ? applicationHost : "", type);
  bool application = applicationHost != nullptr && applicationHost[0] != '\0';
  int h = getHostSlot(application ? applicationHost : host);
  if (h < 0) return h;
  int st = comSlot(type, h, slot);
  if (st != 0) return st < 0 ? st : 0;
  unsigned group = adg_get(nullptr, nullptr, kGrpCommunications, "%s(%d)", host != nullptr ? host : "", type);
  if (group == 0) {
    comFree(*slot);
    return -Vstat1;
  }
  s_abv abv;
  comabv(type, h, &abv);
  auto failed = [&](int status) {
    comFree(*slot);
    adg_free(group);
    log::trace(log::system, "serverInitialize(%s,%i)=%i", host != nullptr ? host : "", type, status);
    return status;
  };
  if (connect != nullptr) {
    log::trace(log::system, "serverInitialize(%s) CBFCOM (fnx != null)", host != nullptr ? host : "");
    int requests = cbuf_open(), answers = cbuf_open();
    if (requests < 0 || answers < 0) return failed(requests < 0 ? requests : answers);
    st = i_tcom(*slot, &abv, group, kModeBuffer, answers, answers, requests, requests, 0, connect);
    return st < 0 ? failed(st) : 0;
  }
  int reader = -1, writer = -1;
  if (h == 1 || application) {
    st = connectLocalService(&reader, &writer);
  } else {
    st = connectRemoteService(h, &reader);
    writer = reader;
  }
  if (st < 0) return failed(st);
  LostPeerSuspended suspended;
  st = i_tcom(*slot, &abv, group, kModePipe, writer, reader, writer, reader, 0, nullptr);
  if (st >= 0) st = serverSendType(*slot, type);
  if (st >= 0 && h != 1 && !application && Secmod == 1) st = sendUserMessage(*slot, h);
  if (st >= 0) st = serverGetPid(*slot, h, type);
  if (st < 0) {
    ::close(reader);
    if (writer != reader) ::close(writer);
    return failed(st);
  }
  return 0;
}
