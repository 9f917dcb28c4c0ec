#include "session/kvscor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/bigend.h"
#include "base/faults.h"
#include "base/sigpend.h"
#include "base/vlxpath.h"
#include "channel/afd.h"
#include "channel/divcom.h"
#include "channel/iocom.h"
#include "channel/socket.h"
#include "diagnostics/log.h"
#include "diagnostics/verbatim.h"
#include "diagnostics/vlxerr.h"
#include "files/cfgfil.h"
#include "files/mess.h"
#include "files/spawn_sandbox.h"
#include "files/vlxfile.h"
#include "grammar/parser.h"
#include "memory/vlxcalls.h"
#include "memory/vlxcbu.h"
#include "session/crvcom.h"
#include "session/krb.h"
#include "values/vlxdcb.h"

using namespace vlx;

sig_handler Asg[kSignals];
int Csg[kSignals];
int Sigflg;
sig_hook Fsrcsf;

namespace {

// Recorded by the handler, taken by sigpend.
volatile std::sig_atomic_t Recorded[kSignals];
volatile std::sig_atomic_t Anyrecorded;

void on_signal(int signal) {
  Recorded[signal] = 1;
  Anyrecorded = 1;
}

// Without SA_RESTART, so that a blocking read returns to act on a signal.
bool install(int signal, void (*disposition)(int), bool* wasIgnored) {
  struct sigaction action {}, previous{};
  action.sa_handler = disposition;
  sigemptyset(&action.sa_mask);
  if (::sigaction(signal, &action, &previous) != 0) return false;
  if (wasIgnored != nullptr) *wasIgnored = previous.sa_handler == SIG_IGN;
  return true;
}

// Chapter 14 line of a signal's text, 8 for the others.
int signal_line(int signal) {
  switch (signal) {
    case SIGINT: return 3;
    case SIGILL: return 4;
    case SIGFPE: return 9;
    case SIGSEGV: return 6;
    case SIGTERM: return 2;
    default: return 8;
  }
}

}  // namespace

void sigvlx(const int* modes, const int* arguments, int count, sig_handler handler) {
  Sigpend = sigpend;
  Asg[0] = handler;
  Csg[0] = arguments[0];
  for (int s = 1; s <= count && s < kSignals; ++s) {
    switch (modes[s]) {
      case 0: break;
      case 1: install(s, SIG_IGN, nullptr); break;
      case 2: {
        bool wasIgnored = false;
        if (!install(s, on_signal, &wasIgnored)) break;
        if (wasIgnored) {
          install(s, SIG_IGN, nullptr);
        } else {
          Asg[s] = handler;
          Csg[s] = arguments[s];
        }
        break;
      }
      case 4:
        install(s, on_signal, nullptr);
        Asg[s] = handler;
        Csg[s] = arguments[s];
        break;
      default:
        Asg[s] = handler;
        Csg[s] = arguments[s];
        break;
    }
  }
}

void sisignal(int signal) {
  // Nothing ignores signals now that the channel reports a lost peer
  // through its hook; the line keeps its form.
  log::trace(log::system, "sisignal(%i) Sigflg:%i ignored:%i", signal, Sigflg, 0);
  ++Sigflg;
  log::trace(log::system, "sisignal(%i) Sigflg:%i", signal, Sigflg);
  if (Sigflg > 8) std::exit(1);
  if (signal > 0 && signal < kSignals) {
    log::trace(log::system, "set signal %i", signal);
    install(signal, on_signal, nullptr);
  }
  if (signal >= 0 && signal < kSignals && Asg[signal] != nullptr) {
    log::trace(log::system, "Call Asg[%i]", signal);
    Asg[signal](Csg[signal], signal);
    std::exit(2);
  }
}

void sigpend() {
  if (Anyrecorded == 0) return;
  Anyrecorded = 0;
  for (int s = 1; s < kSignals; ++s) {
    if (Recorded[s] == 0) continue;
    Recorded[s] = 0;
    sisignal(s);
  }
}

void a_signal(int argument, int signal) {
  (void)argument;
  char text[512];
  const char* what = message(0, 14, signal_line(signal));
  if (signal_line(signal) == 8)
    std::snprintf(text, sizeof text, "%s Process %i signal:%i", what, static_cast<int>(::getpid()), signal);
  else
    std::snprintf(text, sizeof text, "%s Process %i", what, static_cast<int>(::getpid()));
  log::trace(log::system, "%s", text);
  if (Fsrcsf != nullptr) Fsrcsf(signal);
  krbmcl();
  std::exit(signal);
}


char Vlxcli[256];
char Vlxprt[256];
char Nulfic[255];

namespace {

void copy_span(char* out, const char* from, const char* to) {
  std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(to - from), 255);
  std::memcpy(out, from, n);
  out[n] = '\0';
}

// The descriptor named by an argument, or -1.
int descriptor(const char* text) {
  char* end = nullptr;
  long fd = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && fd >= 0 && fd < 65536 ? static_cast<int>(fd) : -1;
}

[[noreturn]] void leave(int status) {
  com_flush_all();
  std::exit(status);
}

// The users of the launcher's user text: three texts of a length byte
// each (the current user, or the session's user when it is empty; the
// session's user; a password), or else the session's user alone.
void take_users(const char* text, int length) {
  std::string texts[3];
  int at = 0, count = 0;
  for (; count < 3 && at < length; ++count) {
    int n = static_cast<unsigned char>(text[at]);
    if (at + 1 + n > length) break;
    texts[count].assign(text + at + 1, static_cast<std::size_t>(n));
    at += 1 + n;
  }
  if (count == 3 && at == length) {
    Origin_user = texts[1];
    Current_user = texts[0].empty() ? texts[1] : texts[0];
  } else {
    Origin_user = Current_user = std::string(text, static_cast<std::size_t>(length));
  }
}

// Socket form: listen on the first port of VLXNSV that binds, announce it
// on the launcher's pipe, accept the client, read its service header and
// user text, answer the process id. Returns the client's descriptor.
int socket_form(int announce) {
  int ranges[64][2] = {{0, 0}};
  int count = 0;
  if (const char* list = std::getenv("VLXNSV"); list != nullptr) count = prtitr(list, ranges, 64);
  if (count <= 0) {
    ranges[0][0] = ranges[0][1] = 0;
    count = 1;
  }
  int listener = -1, last = 0;
  for (int r = 0; r < count && listener <= 0; ++r) {
    for (int port = ranges[r][0]; port <= ranges[r][1] && listener <= 0; ++port) {
      char address[1024];
      unsigned length = sizeof address;
      int fd = ecoutsock(port, address, &length);
      if (fd > 0) {
        listener = fd;
        sockaddr_in bound;
        std::memcpy(&bound, address, sizeof bound);
        unsigned char bytes[3] = {0x02, 0, 0};
        put_be16(bytes + 1, ntohs(bound.sin_port));
        (void)!::write(announce, bytes, 3);
        ::close(announce);
      } else {
        last = fd;
      }
    }
  }
  if (listener <= 0) leave(last);
  char address[16];
  unsigned length = sizeof address;
  int client = attsock(listener, address, &length);
  if (client < 0) {
    char text[256];
    gt_erm(text);
    std::fprintf(stderr, "%s\n", text);
    leave(client);
  }
  closeSocket(listener);
  unsigned type = 0;
  int mode = 0, extra = 0;
  int st = r_serv(client, &type, &mode, &extra);
  if (st < 0) {
    log::trace(log::system, "mainsf after r_serv error st=%i", st);
    leave(-st);
  }
  char user[256] = "";
  if ((st = r_busers(client, user)) < 0) {
    log::trace(log::system, "mainsf after r_busers error st=%i", st);
    leave(st);
  }
  take_users(user, st);
  w_proc(client, ::getpid(), 0);
  return client;
}

// ORDER SIGNALS: step 17 of start-up, modes and arguments per signal.
void install_signals() {
  int modes[kSignals] = {}, arguments[kSignals] = {};
  modes[SIGHUP] = 2, arguments[SIGHUP] = 3;
  modes[SIGINT] = modes[SIGQUIT] = modes[SIGPIPE] = modes[SIGALRM] = 1;
  for (int s : {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGURG, SIGSYS}) modes[s] = 3;
  modes[SIGTERM] = 3, arguments[SIGTERM] = 1;
  ::signal(SIGCHLD, SIG_DFL);
  sigvlx(modes, arguments, 63, a_signal);
  // The allocator's signal when no group slot can be released.
  Adgsignal = sisignal;
}

}  // namespace

void gtinfo(const char* text, char* client, char* port) {
  client[0] = port[0] = '\0';
  const char* equal = std::strchr(text, '=');
  if (equal == nullptr) return;
  const char* comma = std::strchr(equal + 1, ',');
  if (comma == nullptr) return;
  copy_span(client, equal + 1, comma);
  const char* value = std::strchr(comma + 1, '=');
  if (value == nullptr) return;
  if (const char* further = std::strchr(value + 1, '=')) value = further;
  const char* close = std::strchr(value + 1, ')');
  if (close == nullptr) return;
  copy_span(port, value + 1, close);
}

void ini_nul() { std::snprintf(Nulfic, sizeof Nulfic, "%s", "/dev/null"); }

int creat_vproto() {
  std::string path = resolve_path("!tmp", "vproto", nullptr);
  if (::access(path.c_str(), F_OK) == 0) return 0;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return set_vstat1(errno);
  ::close(fd);
  return 0;
}

void mainsf(int argc, char** argv, int memoryKb, void (*sysisf)(), sig_hook signalHook, request_handler handler,
            int* channelSlot, int (*tableInit)()) {
  fault::arm_from_environment();
  config_log_by_environment(argv[0]);
  // A client that goes away ends the server as SIGHUP does.
  Comlost = [] { sisignal(SIGHUP); };
  std::string line;
  for (int i = 0; i < argc && line.size() < 255; ++i) {
    if (i > 0) line += ' ';
    line += argv[i];
  }
  log::trace(log::system, "%s", line.substr(0, 255));

  int n = argc;
  char** args = argv;
  bool kerberos = false, frontEnd = false;
  char cache[257] = "";
  if (n >= 2 && std::strcmp(args[1], "-k") == 0) {
    kerberos = true;
    if (const char* name = std::getenv("KRB_CC_NAME")) std::snprintf(cache, sizeof cache, "%s", name);
    ++args, --n;
  }
  if (n >= 2 && std::strcmp(args[1], "-q") == 0) {
    frontEnd = true;
    ++args, --n;
  }
  if (n > 4) {
    gtinfo(args[4], Vlxcli, Vlxprt);
    setasr(Vlxprt);
  }
  int readFd = 0, writeFd = 1, mode = kModePipe;
  if (n >= 4) {
    int in = descriptor(args[1]), out = descriptor(args[2]), spare = descriptor(args[3]);
    if (spare > 2 && spare != in && spare != out) ::close(spare);
    if (in >= 0 && in != 0) ::dup2(in, 0), ::close(in);
    if (out >= 0 && out != 1) ::dup2(out, 1), ::close(out);
  } else if (n >= 2) {
    readFd = writeFd = socket_form(descriptor(args[1]));
    mode = kModeSocket;
  } else {
    setasr("");
    Vlxcli[0] = Vlxprt[0] = '\0';
  }
  // The compiler's error mark must not reach a channel on standard output.
  if (mode != kModeSocket) grammar::Exception_fd = -1;

  int st = ini_malloc(memoryKb);
  if (st < 0) {
    std::fprintf(stderr, VLX_TEXT_NO_MEMORY, st);
    leave(st);
  }
  if (kerberos) {
    if ((st = krbini()) < 0 || (st = krbget(0, nullptr)) < 0 || (st = krbdft(cache)) < 0) {
      std::fprintf(stderr, VLX_TEXT_NO_KERBEROS, st);
      leave(st);
    }
    setsmd(2);
  }
  load_system_security();
  ini_nul();
  ini_adf(5);
  creat_vproto();
  cstdcb();
  ini_mess("ENG");
  inicom("");
  raz_err();

  unsigned group = adg_get(nullptr, nullptr, kGrpServer, "mainsf");
  if (group == 0) leave(-Vstat1);
  if ((st = afd_in()) < 0) leave(st);
  if (!frontEnd) {
    st = i_tcom(1, nullptr, group, mode, writeFd, readFd, writeFd, readFd, 0, nullptr);
    if (st < 0) leave(st);
  } else {
    st = comSlot(14, 1, &Scomid);
    if (st < 0) leave(st);
    if (st == 0) {
      s_abv abv;
      comabv(14, 1, &abv);
      st = i_tcom(Scomid, &abv, group, kModePipe, writeFd, readFd, writeFd, readFd, 6, nullptr);
      if (st < 0) leave(st);
    }
    int s = crv_handshake();
    if (s < 0) leave(s);
  }
  cbu_ini(512);

  *channelSlot = 1;
  Fsrcsf = signalHook;
  if (tableInit != nullptr) tableInit();
  if (sysisf != nullptr) sysisf();
  install_signals();
  // What the start-up steps allocated for themselves alone goes back to
  // the system: an idle server keeps only what it holds.
  ::malloc_trim(0);

  static char body[kRequestMax];
  std::memset(body, 0, sizeof body);
  for (;;) {
    sigpend();
    if (log::enabled(log::automaton)) log::trace(log::automaton, "waiting for an event");
    int code = 0, length = 0;
    int r = rd_req(1, &code, &length, body);
    if (r < 0) {
      wc_ack(1, r);
      leave(r);
    }
    // A header with a negative length carried no body: answer it.
    if (length < 0) {
      wc_ack(1, err_vlx(kErrInternal, "request %d with length %d", code, length));
      raz_err();
      continue;
    }
    r = handler(code, body, length);
    if (r < 0) leave(-r);
  }
}
