// Sockets of the channel: listening and accepting at start-up, connecting
// to secondary servers, and the report of network errors as error 138.
#pragma once

extern char Vlxsrv[256];

// Records a network failure as error 138: "<errno description> - <text>".
int networkError(int sys_errno, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Server name; getasr() reads it as a port: its decimal value when
// positive, 0 when empty or beginning with "0", else the TCP service port
// of that name (a failed lookup is a network error).
void setasr(const char* name);
int getasr();

// Listens on `port` (0: any); stores the 16-byte bound address when
// *length >= 16. Returns the descriptor.
int ecoutsock(int port, char* address, unsigned* length);
// Accepts one connection, retrying on EINTR, ECONNABORTED and ENOTCONN.
int attsock(int socket, char* address, unsigned* length);
// Connects to host:port over TCP; the descriptor.
int openSocket(const char* host, int port);
int closeSocket(int fd);

// The launcher's side of the socket form.
// Service header: one byte s (s >= 100: type s % 100, mode s / 100; below
// 100: error 171), or 0 and three bytes (type, mode, a third value).
int r_serv(int socket, unsigned* type, int* mode, int* extra);
// One length byte n, then n bytes into `text` (only text[0] cleared);
// returns n or a negative error.
// REQUIRES: text has room for 256 bytes.
int r_busers(int socket, char* text);
// The process id, 4 bytes big-endian: through w_pipe when `pipe` is not 0.
int w_proc(int socket, int pid, int pipe);

// Port list of VLXNSV: entries "p" or "low,high", optionally in brackets,
// separated by ";". Fills at most `max` ranges; the count, or error 5.
int prtitr(const char* text, int ranges[][2], int max);
