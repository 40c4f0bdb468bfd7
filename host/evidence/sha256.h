// SHA-256 through Windows CNG (BCrypt), the only hashing the host uses.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <string>
#include <vector>

namespace zvscan {

// One running hash. Throws std::runtime_error when CNG refuses to open or feed the hash.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest as 64 lower-case hex digits; the hash cannot be fed afterwards.
    std::string HexDigest();

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    std::vector<UCHAR> object_;  // the hash object's memory, which CNG asks the caller to own
};

std::string Sha256Hex(const std::string& bytes);

// Hashes an open file from where it stands to its end, a piece at a time: a file of any size is never
// held in memory at once. 0, or the Win32 error of the read that failed.
DWORD Sha256OfFile(HANDLE file, std::string& hex, unsigned long long& bytes);

}  // namespace zvscan
