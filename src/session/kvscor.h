// The server process: start-up in its three channel forms, the request
// loop, and the signal routines shared with the channel code.
#pragma once

inline constexpr int kSignals = 64;

using sig_handler = void (*)(int argument, int signal);
using sig_hook = void (*)(int signal);

// Client name and port taken from the fifth argument.
extern char Vlxcli[256];
extern char Vlxprt[256];
// The null device.
extern char Nulfic[255];

using request_handler = int (*)(int code, char* body, int length);

// Starts the server and runs the request loop; never returns.
[[noreturn]] void mainsf(int argc, char** argv, int memoryKb, void (*sysisf)(), sig_hook signalHook,
                         request_handler handler, int* channelSlot, int (*tableInit)());

// Client and port of the launcher's fifth argument: the client is the text
// between the first "=" and the next ","; the port follows the next "="
// (or the one after it) up to ")".
// REQUIRES: client and port have room for 256 bytes.
void gtinfo(const char* text, char* client, char* port);
void ini_nul();
// Makes sure the empty file "vproto" exists in "!tmp".
int creat_vproto();

// Signal tables, one entry per signal number.
extern sig_handler Asg[kSignals];
extern int Csg[kSignals];
extern int Sigflg;
extern sig_hook Fsrcsf;

// Installs the dispositions of signals 1..count by mode (0 leave, 1 ignore,
// 2 catch unless ignored, 3 record only, 4 catch and record); the waits of
// the process act on the signals caught from then on (Sigpend).
void sigvlx(const int* modes, const int* arguments, int count, sig_handler handler);
// The common signal routine; start-up has the channel call it with 1 on a
// lost peer (Comlost).
void sisignal(int signal);
// The operating system's handler only records a signal: it may interrupt
// the allocator or stdio, where logging, reading the message file or
// exiting could deadlock. sigpend runs sisignal for each signal recorded
// since its last call; the request loop calls it, and the waits of the
// process through Sigpend, before they block and when a signal interrupts
// them (the handler is installed without SA_RESTART).
void sigpend();
// Logs the signal's text, calls the hook, ends Kerberos use, exits.
[[noreturn]] void a_signal(int argument, int signal);
