#include "evidence/signature.h"

#include <mscat.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>

#include "evidence/evidence.h"
#include "win/handles.h"
#include "win/text.h"

namespace zvscan {
namespace {

// The verification's answers that decide a status; winerror.h names them all, some headers not.
constexpr LONG kNoSignature = static_cast<LONG>(0x800B0100);      // TRUST_E_NOSIGNATURE
constexpr LONG kSubjectUnknown = static_cast<LONG>(0x800B0003);   // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr LONG kProviderUnknown = static_cast<LONG>(0x800B0001);  // TRUST_E_PROVIDER_UNKNOWN
constexpr LONG kUntrustedRoot = static_cast<LONG>(0x800B0109);    // CERT_E_UNTRUSTEDROOT
constexpr LONG kChaining = static_cast<LONG>(0x800B010A);         // CERT_E_CHAINING
constexpr LONG kBadDigest = static_cast<LONG>(0x80096010);        // TRUST_E_BAD_DIGEST
constexpr LONG kCertSignature = static_cast<LONG>(0x80096004);    // TRUST_E_CERT_SIGNATURE
constexpr LONG kMalformed = static_cast<LONG>(0x80096011);        // TRUST_E_MALFORMED_SIGNATURE

// The system has words for few of these under every Windows: our own, then the system's.
std::string Describe(LONG result) {
    struct Known {
        LONG result;
        const char* words;
    };
    static const Known kKnown[] = {
        {kBadDigest, "the file changed after it was signed"},
        {kCertSignature, "the signature is damaged"},
        {kMalformed, "the signature is malformed"},
        {static_cast<LONG>(0x800B0101), "a certificate of the signature has expired"},
        {static_cast<LONG>(0x800B010C), "a certificate of the signature was revoked"},
        {static_cast<LONG>(0x800B0111), "a certificate of the signature is explicitly distrusted"},
        {static_cast<LONG>(0x800B0110), "the certificate is not valid for signing code"},
    };
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(result));
    for (const Known& known : kKnown)
        if (known.result == result) return std::string(known.words) + " (" + code + ")";
    std::string words = SystemMessage(static_cast<DWORD>(result));
    return (words.empty() ? std::string("the verification failed") : words) + " (" + code + ")";
}

std::string CertificateName(PCCERT_CONTEXT certificate, DWORD flags) {
    wchar_t name[512];
    DWORD length = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name, 512);
    return length > 1 ? Utf8(std::wstring(name, length - 1)) : std::string();
}

// WinVerifyTrust's answer, the signer's names, and whether the signer's own chain ends at an
// untrusted root or is incomplete: where the verifier skips its policy step, the chain still tells.
struct Verdict {
    LONG result = 0;
    bool chainUntrusted = false;
    std::string signer, issuer;
};

Verdict Verify(WINTRUST_DATA& data) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    Verdict verdict;
    HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    verdict.result = WinVerifyTrust(noWindow, &action, &data);
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer && signer->pChainContext) {
        DWORD errors = signer->pChainContext->TrustStatus.dwErrorStatus;
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof(policy);
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof(status);
        bool checked =
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &policy, &status);
        verdict.chainUntrusted = (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) ||
                                 (checked && (static_cast<LONG>(status.dwError) == kUntrustedRoot ||
                                              static_cast<LONG>(status.dwError) == kChaining));
    }
    if (signer && signer->csCertChain > 0 && signer->pasCertChain && signer->pasCertChain[0].pCert) {
        verdict.signer = CertificateName(signer->pasCertChain[0].pCert, 0);
        verdict.issuer = CertificateName(signer->pasCertChain[0].pCert, CERT_NAME_ISSUER_FLAG);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noWindow, &action, &data);
    return verdict;
}

// The status of a verified signature; `valid` names a good one ("signed" or "catalog").
FileSignature Classify(const Verdict& verdict, const char* valid) {
    FileSignature signature;
    bool untrustedResult = verdict.result == kUntrustedRoot || verdict.result == kChaining;
    if (verdict.result == 0 || untrustedResult) {
        signature.status = untrustedResult || verdict.chainUntrusted ? "untrusted" : valid;
        signature.signer = verdict.signer;
        signature.issuer = verdict.issuer;
    } else if (verdict.result == kNoSignature || verdict.result == kSubjectUnknown ||
               verdict.result == kProviderUnknown) {
        signature.status = "unsigned";
    } else {
        signature.status =
            verdict.result == kBadDigest || verdict.result == kCertSignature || verdict.result == kMalformed ? "invalid"
                                                                                                             : "error";
        signature.reason = Describe(verdict.result);
    }
    return signature;
}

}  // namespace

bool TrustedSignature(const FileSignature& signature) {
    return signature.status == "signed" || signature.status == "catalog";
}

SignatureCache::~SignatureCache() {
    if (catalogs_) CryptCATAdminReleaseContext(catalogs_, 0);
}

const FileSignature& SignatureCache::Of(const std::wstring& path) {
    std::wstring key = Folded(path);
    auto found = files_.find(key);
    if (found != files_.end()) return found->second;
    ++checks_;
    if (imageRoot_.empty()) return files_.emplace(key, Check(path)).first->second;
    std::wstring inImage = ImageFilePath(imageRoot_, path);
    FileSignature signature = inImage.empty() ? FileSignature{"not in the image", {}, {}, {}} : Check(inImage);
    return files_.emplace(key, std::move(signature)).first->second;
}

std::vector<FileSignature> SignatureCache::Of(const std::vector<std::wstring>& paths) {
    std::vector<FileSignature> signatures;
    for (const std::wstring& path : paths) signatures.push_back(Of(path));
    return signatures;
}

FileSignature SignatureCache::Check(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {FileErrorReason(GetLastError()), {}, {}, {}};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {"a directory", {}, {}, {}};
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path.c_str();
    WINTRUST_DATA data{};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    FileSignature signature = Classify(Verify(data), "signed");
    if (signature.status == "unsigned" && kinds_ == Kinds::All) CheckCatalog(path, signature);
    return signature;
}

bool SignatureCache::CheckCatalog(const std::wstring& path, FileSignature& signature) {
    if (!catalogsTried_) {
        catalogsTried_ = true;
        HCATADMIN admin = nullptr;
        if (CryptCATAdminAcquireContext(&admin, nullptr, 0)) catalogs_ = admin;
    }
    if (!catalogs_) return false;
    FileHandle file = OpenForReading(path);
    if (!file) return false;
    BYTE hash[64];
    DWORD size = sizeof(hash);
    if (!CryptCATAdminCalcHashFromFileHandle(file.Get(), &size, hash, 0)) return false;
    HCATINFO catalog = CryptCATAdminEnumCatalogFromHash(catalogs_, hash, size, 0, nullptr);
    if (!catalog) return false;
    CATALOG_INFO info{};
    info.cbStruct = sizeof(info);
    bool found = CryptCATCatalogInfoFromContext(catalog, &info, 0);
    if (found) {
        // A catalog names its members by the hash in upper-case hex.
        std::wstring tag;
        for (DWORD i = 0; i < size; ++i) {
            wchar_t digits[3];
            swprintf(digits, 3, L"%02X", hash[i]);
            tag += digits;
        }
        WINTRUST_CATALOG_INFO member{};
        member.cbStruct = sizeof(member);
        member.pcwszCatalogFilePath = info.wszCatalogFile;
        member.pcwszMemberFilePath = path.c_str();
        member.pcwszMemberTag = tag.c_str();
        member.hMemberFile = file.Get();
        member.pbCalculatedFileHash = hash;
        member.cbCalculatedFileHash = size;
        WINTRUST_DATA data{};
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &member;
        signature = Classify(Verify(data), "catalog");
    }
    CryptCATAdminReleaseCatalogContext(catalogs_, catalog, 0);
    return found;
}

std::string SignatureSummary(const FileSignature& s) {
    std::string by = s.signer.empty() ? "" : " by " + s.signer;
    if (s.status == "signed" || s.status == "catalog" || s.status == "untrusted") return s.status + by;
    if (s.status == "invalid" || s.status == "error") return s.status + ": " + s.reason;
    return s.status;
}

}  // namespace zvscan
