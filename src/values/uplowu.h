// Case mapping of UCS-2 characters: the lower-case and upper-case mappings
// of the characters assigned in Unicode 3.1.0, full mappings included (the
// upper case of U+00DF is "SS"). Mappings that depend on a language or on
// the neighbouring characters are not applied: the engine maps one
// character at a time.
#pragma once

// Each writes the mapping of c to out and returns the number of code units
// written (1, the character itself, when it has no mapping).
// REQUIRES: out has room for 16 code units.
int tolower_u(char16_t* out, char16_t c);
int toupper_u(char16_t* out, char16_t c);
