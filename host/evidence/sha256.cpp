#include "evidence/sha256.h"

#include <stdexcept>

namespace zvscan {

namespace {

void Check(NTSTATUS status, const char* what) {
    if (!BCRYPT_SUCCESS(status)) throw std::runtime_error(std::string("SHA-256: ") + what + " failed");
}

}  // namespace

Sha256::Sha256() {
    Check(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0), "opening the algorithm");
    DWORD objectLength = 0, written = 0;
    NTSTATUS status = BCryptGetProperty(algorithm_, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                        sizeof(objectLength), &written, 0);
    if (BCRYPT_SUCCESS(status)) {
        object_.resize(objectLength);
        status = BCryptCreateHash(algorithm_, &hash_, object_.data(), objectLength, nullptr, 0, 0);
    }
    if (!BCRYPT_SUCCESS(status)) {
        BCryptCloseAlgorithmProvider(algorithm_, 0);
        Check(status, "creating the hash");
    }
}

Sha256::~Sha256() {
    if (hash_) BCryptDestroyHash(hash_);
    BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void Sha256::Update(const void* data, size_t size) {
    const UCHAR* bytes = static_cast<const UCHAR*>(data);
    while (size > 0) {
        ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        Check(BCryptHashData(hash_, const_cast<PUCHAR>(bytes), chunk, 0), "hashing data");
        bytes += chunk;
        size -= chunk;
    }
}

std::string Sha256::HexDigest() {
    UCHAR digest[32];
    Check(BCryptFinishHash(hash_, digest, sizeof(digest), 0), "finishing the hash");
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (UCHAR byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.HexDigest();
}

DWORD Sha256OfFile(HANDLE file, std::string& hex, unsigned long long& bytes) {
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    bytes = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return GetLastError();
        if (read == 0) break;
        hash.Update(buffer.data(), read);
        bytes += read;
    }
    hex = hash.HexDigest();
    return 0;
}

}  // namespace zvscan
