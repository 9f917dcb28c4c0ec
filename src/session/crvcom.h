// Handshake with the web front-end server: the frames of its messages on
// the front-end slot, the answers the engine writes, the challenge and the
// check of the caller's signature over it, and the handshake itself as
// start-up runs it before the request loop.
//
// A frame is a 4-byte big-endian length (1 + payload bytes), a type byte
// and the payload. A message is a header frame (JSON text) and data frames
// whose payloads make the body; the last data frame has the end type.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

enum CorvalisFrame : int { kFrameHeader = 1, kFrameData = 2, kFrameEnd = 3 };
// Directions of logged frames.
enum : int { kFrameReceived = 0, kFrameSent = 1 };

// The only application identifier the engine accepts and announces.
inline constexpr int kCorvalisAppId = 999;
// Longest header or body accepted from the front-end server; the front-end
// sends a few kilobytes, so a longer length is taken as a broken stream.
inline constexpr std::uint32_t kFrameMax = 1u << 20;

// Slot of the front-end server; start-up reserves and creates it.
extern int Scomid;
// Representation named in the content type of error answers.
extern char Qryctx[256];
// Option of the last successful wr_frame_rsp call ('L' when none is open).
extern char Crvlast;

// The handshake: prolog, challenge, session creation or deletion.
// Returns -1 when it failed, -2 when the session was deleted, else the
// negated result of the session answer.
// REQUIRES: the slot Scomid exists.
int crv_handshake();

// Base64 of two fresh UUIDs (44 characters). Returns 0 or a negative error.
int gen_challenge(char* out, int size);
// 0 when `signature` (Base64) is the caller's signature of user, a zero
// byte and the challenge, made with the key "!keys"/key_name.pem; else a
// negative error.
int verify_signature(const char* signature, const char* method, const char* key_name, const char* user,
                     const char* challenge);

// Writes a response: option 'A' (all), or 'F' (header and first piece),
// 'N' (next piece), 'L' (last piece) in the order A | F N* L. `bodies` is
// null-terminated.
int wr_frame_rsp(const char* header, int header_length, char** bodies, int* lengths, unsigned short option);
int wr_prolog_ok(int id, char* challenge, char* language);
int wr_session_ok(int id);
int wr_del_session_ok();
// Error answers, written directly (outside the A/F/N/L sequence).
int wr_prolog_err(int status, const char* message);
int wr_session_err(int status, const char* message);
// The standard 500 answer carrying the pending error text.
int kvs_wr_std_err(int error);
void log_write_json(int direction, CorvalisFrame type, const char* payload, int length);

// Sets the user name (which 0) or the password (which 1) of host entry 2.
void setcinf(const char* text, int which);

// Shared by the message readers. The header frame of a message, parsed
// (null when the first frame is no header frame with a payload); 0 or a
// negative error.
int crv_read_header(nlohmann::json& header);
// The data frames up to the end frame, joined and parsed (null when empty).
int crv_read_body(nlohmann::json& body);
// Keys of a parsed message; an absent or null key leaves the field alone.
// A text key takes any other value as its JSON text; for the other kinds a
// value of another type throws std::runtime_error, which crv_take logs:
// the fields taken before it are kept.
void crv_text(const nlohmann::json& object, const char* key, std::string& field);
// A decimal text or an integer, within [low, high]; false when absent.
bool crv_number(const nlohmann::json& object, const char* key, long low, long high, long& out);
// The object under `key` (null when absent).
const nlohmann::json& crv_object(const nlohmann::json& object, const char* key);
void crv_take(const std::function<void()>& take);
