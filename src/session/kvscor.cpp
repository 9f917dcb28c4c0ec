#include "session/kvscor.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "diagnostics/log.h"
#include "diagnostics/mess.h"
#include "session/krb.h"

using namespace vlx;

int Icomfs = 1;
sig_handler Asg[kSignals];
int Csg[kSignals];
int Sigflg;
bool signalIgnored;
sig_hook Fsrcsf;

namespace {

void on_signal(int signal) { sisignal(signal); }

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
  log::trace(log::system, "sisignal(%i) Sigflg:%i ignored:%i", signal, Sigflg, signalIgnored ? 1 : 0);
  if (signalIgnored) return;
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

void ignoreSignal() { signalIgnored = true; }
void markSignal() { signalIgnored = false; }
