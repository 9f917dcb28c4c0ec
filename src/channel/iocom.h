// Framing of requests and acknowledgements on communication slots, and the
// transfer functions of the three modes (in-memory buffer, pipe, socket).
//
// Requests and acknowledgements nest on one stream: while handling a
// request the engine may send its own requests and read their answers.
// Writes to pipes and sockets are gathered and go out in one system call
// when the engine next reads from any peer, when the gathered bytes fill
// the buffer, or at exit: the peer only waits for bytes after it has
// something to wait for, so the order on every stream is unchanged.
//
// Every operation returns 0 (or a count) or a negative error number.
#pragma once

#include <cstdint>
#include <string>

#include "channel/divcom.h"

// Called when a peer is lost (a read that meets the end of the data or
// fails, a write to a pipe that fails), once the error is recorded. The
// session points it at its routine for SIGHUP, which ends the server;
// unset, as in a client of the library, the loss is only the error that
// the operation returns.
extern void (*Comlost)();

// Body buffer the request loop reads into; longer bodies are refused.
inline constexpr int kRequestMax = 1501;
// In-memory buffers available to mode 0 slots.
inline constexpr int kCbufCount = 24;

// Transfer functions (descriptor, bytes, count, slot).
int r_pipe(int fd, unsigned char* bytes, int count, int slot);
int w_pipe(int fd, unsigned char* bytes, int count, int slot);
int r_sock(int fd, unsigned char* bytes, int count, int slot);
int w_sock(int fd, unsigned char* bytes, int count, int slot);
int r_cbuf(int fd, unsigned char* bytes, int count, int slot);
int w_cbuf(int fd, unsigned char* bytes, int count, int slot);
// The pair of a mode; false for an unknown mode.
bool com_transfer(int mode, com_io* write_fn, com_io* read_fn);
// Drops what was read ahead on a slot's request stream (the slot is
// created anew or released).
void com_forget_ahead(int slot);
// Sends the gathered bytes of a slot (of every slot).
int com_flush(int slot);
int com_flush_all();

// In-memory buffers: a descriptor of mode 0 is a buffer index.
int cbuf_open();
void cbuf_close(int index);
void cbuf_feed(int index, const void* bytes, int count);
// Bytes appended and not yet taken.
std::string cbuf_take_all(int index);

int wr_req(int slot, int code, int length, const char* body);
int snd_rq(int slot, int code, const char* body, int length);
int snd_rb(int slot, int code, const char* body, int length, int n, const char* const* pieces, const int* sizes);
int req_ex(int slot);
int wl_req(int slot, const void* bytes, int count);
// REQUIRES: body has room for kRequestMax bytes.
int rd_req(int slot, int* code, int* length, char* body);
int rl_req(int slot, void* bytes, int count);
int rl_crv_req(int slot, void* bytes, int count);

int wc_ack(int slot, int code);
int ws_ack(int slot, const char* text);
int wl_ack(int slot, const void* bytes, int count);
int rc_ack(int slot, char* out);
// REQUIRES: out has room for 256 bytes.
int rs_ack(int slot, char* out);
int rl_ack(int slot, void* bytes, int count);

// Text fields of request bodies: 2 bytes (byte count + 2), 2 bytes (the
// conversion's character count), then the UTF-8 text. Result: bytes used.
int reqstr(char* buffer, int size, const char* text);
int reqstu(char* buffer, int size, const char16_t* text);

// Service header towards a secondary server: the type byte (Secmod * 100 +
// type), and the server's answer, its process id or an error.
int serverSendType(int slot, int type);
int serverGetPid(int slot, unsigned group, int type);
