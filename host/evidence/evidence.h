// File evidence for an incident responder: whether each file of an item exists, its size, its
// last-write time and its SHA-256, each file read once per run.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace zvscan {

struct FileEvidence {
    bool exists = false;
    bool sized = false;  // size and lastWrite are known
    unsigned long long size = 0;
    std::string lastWrite;  // UTC, ISO 8601: "2026-12-09T01:54:16Z"
    std::string sha256;     // 64 lower-case hex digits; empty when the file could not be read
    std::string reason;     // why there is no hash: "not found", "access denied", ...
};

// Why a file could not be opened or read, in words: "not found", "access denied", ...
std::string FileErrorReason(DWORD error);

// Reads the file once, in pieces: its size does not matter.
FileEvidence ReadFileEvidence(const std::wstring& path);

// The file on this machine that a path of an image's system names: its C:\ is the image root;
// other drives are not in the image (empty).
std::wstring ImageFilePath(const std::wstring& imageRoot, const std::wstring& path);

// The evidence of every file named in one run; a path named again (in any letter case) is not read again.
// With an image root, the files are read inside the image, under the image system's paths.
class EvidenceCache {
public:
    EvidenceCache() = default;
    explicit EvidenceCache(std::wstring imageRoot) : imageRoot_(std::move(imageRoot)) {}
    const FileEvidence& Of(const std::wstring& path);
    std::vector<FileEvidence> Of(const std::vector<std::wstring>& paths);
    unsigned long Reads() const { return reads_; }

private:
    std::wstring imageRoot_;
    std::map<std::wstring, FileEvidence> files_;  // by the path in upper case
    unsigned long reads_ = 0;
};

std::string IsoUtc(const FILETIME& time);
// "sha256 0123456789ab, 4096 bytes, 2026-12-09T01:54:16Z", or the reason: a line under a file in the table.
std::string EvidenceSummary(const FileEvidence& evidence);

}  // namespace zvscan
