// Big-endian integers: every multi-byte number on the channel, in the
// handshake frames and in stored values is written most significant byte
// first.
#pragma once

#include <cstdint>
#include <string>

inline void put_be16(unsigned char* out, int value) {
  out[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
  out[1] = static_cast<unsigned char>(value & 0xFF);
}

inline void put_be32(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

inline std::int16_t get_be16(const unsigned char* in) { return static_cast<std::int16_t>(in[0] << 8 | in[1]); }

inline std::uint32_t get_be32(const unsigned char* in) {
  return static_cast<std::uint32_t>(in[0]) << 24 | static_cast<std::uint32_t>(in[1]) << 16 |
         static_cast<std::uint32_t>(in[2]) << 8 | in[3];
}

inline std::uint64_t get_be64(const unsigned char* in) {
  return static_cast<std::uint64_t>(get_be32(in)) << 32 | get_be32(in + 4);
}

inline void put_be64(unsigned char* out, std::uint64_t value) {
  put_be32(out, static_cast<std::uint32_t>(value >> 32));
  put_be32(out + 4, static_cast<std::uint32_t>(value));
}

// The bytes of a 16- or 32-bit number, for a request or frame being built.
inline std::string be16(int value) {
  unsigned char bytes[2];
  put_be16(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}

inline std::string be32(std::uint32_t value) {
  unsigned char bytes[4];
  put_be32(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), sizeof bytes);
}
