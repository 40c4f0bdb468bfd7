// Little-endian fields of an image's file bytes, read and written where they lie, whatever their
// alignment. The caller has checked that the bytes are there.
#pragma once

#include <cstdint>
#include <cstring>

namespace platform {
namespace offline {

inline uint16_t U16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint32_t U32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline uint64_t U64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

}  // namespace offline
}  // namespace platform
