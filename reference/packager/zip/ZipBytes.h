#pragma once

// The byte layout ZIP records share, for the reader and the writer of records: signatures,
// field values and little-endian numbers in and out.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zipbytes {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kTimestampExtraId = 0x5455;  // "UT": Unix times, here the modification
constexpr uint16_t kUtf8Flag = 0x0800;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kMax16 = 0xFFFFu;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kLongestComment = 65535;

inline uint16_t Get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const unsigned char* p) {
    return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

// Little-endian record builder.
struct Bytes {
    std::string data;
    Bytes& u16(uint16_t v) {
        data.push_back(static_cast<char>(v & 0xFF));
        data.push_back(static_cast<char>(v >> 8));
        return *this;
    }
    Bytes& u32(uint32_t v) {
        return u16(static_cast<uint16_t>(v & 0xFFFF)).u16(static_cast<uint16_t>(v >> 16));
    }
    Bytes& u64(uint64_t v) {
        return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32));
    }
    Bytes& raw(const std::string& s) {
        data += s;
        return *this;
    }
};

}  // namespace zipbytes
