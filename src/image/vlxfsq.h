// The transfer form of compiled grammars: the eight section codecs, the
// reading of a grammar that follows a request and the sending of one to a
// peer, and the header of the engine's compiled files.
//
// On the channel a grammar is eight 2-byte big-endian section sizes (seven
// towards peers below protocol 7) followed by the sections. A release
// letter selects the widths: nodes of 2 bytes and 1-byte masks below "R",
// 4 bytes from "R" on; string units of 1 byte below "L".
#pragma once

#include <cstdint>

#include "image/vlxload.h"

inline constexpr int kSections = 8;
// Bytes per element of each section as the service receives it (release
// "S"), in section order: exp, int, dcb, stu, ide, cla, cid, i64.
extern const int Grammar_section_size[kSections];

int getSizeOfNode(char release);
char getRemoteVlxRelease(int protocolVersion);
// Bytes per element of section i announced for `release`.
int section_slot_size(int section, char release);

// Node routines over a byte cursor.
std::uint32_t readNode(const unsigned char** p, char release);
std::uint32_t readNodeWithSize(const unsigned char** p, int size);
std::uint32_t readMask(const unsigned char** p, char release);
// Decodes one masked field (k = 0..3).
std::uint32_t readNodeWithMask(const unsigned char** p, std::uint32_t mask, int k, char release);
void writeNode(unsigned char** p, std::uint32_t value, char release);
struct s_mask {
  unsigned char* at;
  std::uint32_t bits;
  std::uint32_t bit;
};
void setMaskPointer(s_mask* m, unsigned char** p, char release);
void writeNodeAndSetMask(unsigned char** p, s_mask* m, std::uint32_t value, char release);
void setMaskValue(const s_mask* m, char release);

// Section codecs. REQUIRES: data holds count x section_slot_size bytes.
int readExp(grctx* g, const unsigned char* data, int count, char release);
int readIntegers(grctx* g, const unsigned char* data, int count, char release);
int readDcb(grctx* g, const unsigned char* data, int count, char release);
int readStu(grctx* g, const unsigned char* data, int count, char release);
int readIdentifiers(grctx* g, const unsigned char* data, int count, char release);
int readClasses(grctx* g, const unsigned char* data, int count, char release);
int readClassesIdentifiers(grctx* g, const unsigned char* data, int count, char release);
int readDatetimes(grctx* g, const unsigned char* data, int count, char release);

// Encoders: bytes written. REQUIRES: buffer has room for
// encoded_bound(section, g, release) bytes.
int transformExp(char release, unsigned char* buffer, grctx* g);
int transformInt(char release, unsigned char* buffer, grctx* g);
int transformDcb(char release, unsigned char* buffer, grctx* g);
int transformStu(char release, unsigned char* buffer, grctx* g);
int transformIde(char release, unsigned char* buffer, grctx* g);
int transformClass(char release, unsigned char* buffer, grctx* g);
int transformCid(char release, unsigned char* buffer, grctx* g);
int transformDtm(char release, unsigned char* buffer, grctx* g);
int encoded_bound(int section, grctx* g, char release);

// Element counts of the sections from the 2-byte sizes of a request; a
// size that is not a multiple of its slot is error 26.
int grammar_counts(const unsigned char* sizes, int counts[kSections]);

// Decodes the grammar that follows in the current request on `slot` into
// *g (allocated in `group` when null). Every announced section is read,
// also after an error, so that the request stays aligned.
int readGrammar(int slot, grctx** g, unsigned group, const int counts[kSections], int bufferSize);
// The size list (2 bytes per section) for sending g on `slot`; returns
// its byte length (14 or 16). *maxSize: room the encoding buffer needs.
int getGrammarSize(grctx* g, unsigned char* sizes, int* maxSize, int slot);
// REQUIRES: buffer has *maxSize bytes from getGrammarSize.
int sendGrammarElements(int slot, const unsigned char* sizes, grctx* g, unsigned char* buffer);

// Header of a compiled file.
struct vlx_header {
  std::int16_t hd_rel[4];
  std::int16_t hd_fmt;
  std::int32_t hd_word;
  char hd_type;
  char hd_release;
  char hd_mark[9];
  char hd_desc[256];
  unsigned char hd_block[16];
};
// Text lines read (1 or 2), 0 when the file does not start with "#".
int get_header(int channel, vlx_header* h);
// Element count of the next section; *buffer grows in `group`.
int read_section(int channel, unsigned char** buffer, int* size, unsigned group, char release);
