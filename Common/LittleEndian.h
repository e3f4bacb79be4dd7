// Small explicit decoders and encoders for the little-endian fields of a
// Btrieve file. On-disk structures are always read through these, never by
// casting a buffer to a struct.
#ifndef HALVORN_COMMON_LITTLEENDIAN_H
#define HALVORN_COMMON_LITTLEENDIAN_H

#include <cstdint>

inline uint16_t GetLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetLE64(const uint8_t* p) {
  return static_cast<uint64_t>(GetLE32(p)) | (static_cast<uint64_t>(GetLE32(p + 4)) << 32);
}
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  PutLE32(p, static_cast<uint32_t>(v));
  PutLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The "half swap": a 32-bit value stored as two 16-bit words, high word first.
inline uint32_t SwapHalves(uint32_t v) { return (v >> 16) | (v << 16); }
inline uint32_t GetHighWordFirst32(const uint8_t* p) { return SwapHalves(GetLE32(p)); }
inline void PutHighWordFirst32(uint8_t* p, uint32_t v) { PutLE32(p, SwapHalves(v)); }

#endif
