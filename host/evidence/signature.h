// Who signed each file: the system's Authenticode verification of the file's embedded signature, or
// of the system catalog that holds its hash. No revocation check and no network: a scan never waits
// on a server.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace zvscan {

struct FileSignature {
    // "signed", "untrusted", "invalid", "unsigned", "catalog" or "error"; for a file that cannot be
    // read, why ("not found", "access denied", ...).
    std::string status;
    std::string signer, issuer;  // the signing certificate's subject and issuer, for signed, untrusted and catalog files
    std::string reason;          // for invalid and error: what the verification said
};

// The statuses that stand for a valid signature chaining to a trusted root.
bool TrustedSignature(const FileSignature& signature);

// The signature of every file named in one run; a path named again (in any letter case) is checked once.
class SignatureCache {
public:
    // EmbeddedOnly: no catalog lookup, for files that the system's catalogs do not describe.
    enum class Kinds { All, EmbeddedOnly };
    // With an image root, the files are checked inside the image, under the image system's paths.
    explicit SignatureCache(Kinds kinds = Kinds::All, std::wstring imageRoot = {})
        : kinds_(kinds), imageRoot_(std::move(imageRoot)) {}
    ~SignatureCache();
    SignatureCache(const SignatureCache&) = delete;
    SignatureCache& operator=(const SignatureCache&) = delete;

    const FileSignature& Of(const std::wstring& path);
    std::vector<FileSignature> Of(const std::vector<std::wstring>& paths);
    unsigned long Checks() const { return checks_; }

private:
    FileSignature Check(const std::wstring& path);
    bool CheckCatalog(const std::wstring& path, FileSignature& signature);

    Kinds kinds_;
    std::wstring imageRoot_;
    std::map<std::wstring, FileSignature> files_;  // by the path in upper case
    unsigned long checks_ = 0;
    HANDLE catalogs_ = nullptr;  // the catalog administrator context, acquired at the first unsigned file
    bool catalogsTried_ = false;
};

// "signed by NAME", "UNSIGNED", ...: the mark the table shows after a file.
std::string SignatureSummary(const FileSignature& signature);

}  // namespace zvscan
