#include "evidence/evidence.h"

#include <cstdio>

#include "evidence/sha256.h"
#include "win/handles.h"
#include "win/text.h"

namespace zvscan {

std::string FileErrorReason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE:
            return "not found";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return "in use by another process";
        default:
            return "error " + std::to_string(error);
    }
}

namespace {

void SetFacts(FileEvidence& evidence, DWORD sizeHigh, DWORD sizeLow, const FILETIME& lastWrite) {
    evidence.sized = true;
    evidence.size = (static_cast<unsigned long long>(sizeHigh) << 32) | sizeLow;
    evidence.lastWrite = IsoUtc(lastWrite);
}

}  // namespace

std::string IsoUtc(const FILETIME& time) {
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return {};
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return text;
}

FileEvidence ReadFileEvidence(const std::wstring& path) {
    FileEvidence evidence;
    WIN32_FILE_ATTRIBUTE_DATA facts;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &facts)) {
        DWORD error = GetLastError();
        evidence.reason = FileErrorReason(error);
        // A file whose facts are refused is there all the same.
        evidence.exists = evidence.reason != "not found";
        return evidence;
    }
    evidence.exists = true;
    SetFacts(evidence, facts.nFileSizeHigh, facts.nFileSizeLow, facts.ftLastWriteTime);
    if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        evidence.reason = "a directory";
        return evidence;
    }

    FileHandle file = OpenForReading(path);
    if (!file) {
        evidence.reason = FileErrorReason(GetLastError());
        return evidence;
    }
    // The facts of what is hashed, should the file have changed since the first look.
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file.Get(), &info))
        SetFacts(evidence, info.nFileSizeHigh, info.nFileSizeLow, info.ftLastWriteTime);
    unsigned long long bytes = 0;
    if (DWORD error = Sha256OfFile(file.Get(), evidence.sha256, bytes)) evidence.reason = FileErrorReason(error);
    return evidence;
}

std::wstring ImageFilePath(const std::wstring& imageRoot, const std::wstring& path) {
    std::wstring text = path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
    if (text.size() < 3 || (text[0] != L'C' && text[0] != L'c') || text[1] != L':' || text[2] != L'\\') return {};
    std::wstring root = imageRoot;
    while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    return root + text.substr(2);
}

const FileEvidence& EvidenceCache::Of(const std::wstring& path) {
    std::wstring folded = Folded(path);
    auto found = files_.find(folded);
    if (found != files_.end()) return found->second;
    ++reads_;
    if (imageRoot_.empty()) return files_.emplace(folded, ReadFileEvidence(path)).first->second;
    std::wstring inImage = ImageFilePath(imageRoot_, path);
    FileEvidence evidence;
    if (inImage.empty()) {
        evidence.reason = "not in the image";
    } else {
        evidence = ReadFileEvidence(inImage);
    }
    return files_.emplace(folded, std::move(evidence)).first->second;
}

std::vector<FileEvidence> EvidenceCache::Of(const std::vector<std::wstring>& paths) {
    std::vector<FileEvidence> all;
    for (const std::wstring& path : paths) all.push_back(Of(path));
    return all;
}

std::string EvidenceSummary(const FileEvidence& e) {
    std::string facts = e.sized ? std::to_string(e.size) + " bytes, " + e.lastWrite : std::string();
    if (e.sha256.empty()) return e.reason + (facts.empty() ? "" : " (" + facts + ")");
    return "sha256 " + e.sha256.substr(0, 12) + ", " + facts;
}

}  // namespace zvscan
