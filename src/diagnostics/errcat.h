// The error catalogue: 172 entries of two 86-byte texts, the first filled.
#pragma once

inline constexpr int kErrcatSize = 172;
extern const char Errcat[kErrcatSize][2][86];
