// The server process: start-up in its three channel forms, the request
// loop, and the signal routines shared with the channel code.
#pragma once

inline constexpr int kSignals = 64;

using sig_handler = void (*)(int argument, int signal);
using sig_hook = void (*)(int signal);

// Slot number of the client's request channel.
extern int Icomfs;

// Signal tables, one entry per signal number.
extern sig_handler Asg[kSignals];
extern int Csg[kSignals];
extern int Sigflg;
extern bool signalIgnored;
extern sig_hook Fsrcsf;

// Installs the dispositions of signals 1..count by mode (0 leave, 1 ignore,
// 2 catch unless ignored, 3 record only, 4 catch and record).
void sigvlx(const int* modes, const int* arguments, int count, sig_handler handler);
// The common signal routine; the channel calls it with 1 on a lost peer.
void sisignal(int signal);
// Logs the signal's text, calls the hook, ends Kerberos use, exits.
[[noreturn]] void a_signal(int argument, int signal);
void ignoreSignal();
void markSignal();
