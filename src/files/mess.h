// Message files: the language-dependent texts of the engine.
//
// A message file is divided into chapters by lines holding a single form
// feed; a message is addressed by (file, chapter, line). Chapter 13 holds
// the error texts (line n is error n), chapter 1 the weekday names,
// chapter 14 the signal texts. A line "<digits>\t<text>" limits the text to
// that many characters. Texts come back in the shared buffer Bmess, which
// each call overwrites.
#pragma once

#include <cstdint>

struct s_messfile {
  int channel;             // file channel, 0 when closed
  int Nbchap;              // chapters indexed
  std::int64_t* Smess;     // chapter start offsets
  int capacity;            // room in Smess
};

extern s_messfile Messfile[2];
extern char Bmess[256];
extern char Vmessname[256];
extern char Omessname[256];

// Opens the message file of `language` ("ENG" when empty) and makes it
// the source of err_vlx's error texts (Errtext).
int ini_mess(const char* language);
const char* message(int file, int chapter, int line);
// REQUIRES: out has room for 256 bytes.
char* getmes(char* out, int file, int chapter, int line);
const char* next_mess(int file);
// REQUIRES: out has room for 4 bytes.
int ini_isolan(const char* code, char* out);
// Closes the message files and frees their group (tests reload them).
void end_mess();
