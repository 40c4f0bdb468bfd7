/*
 * zvoffline.h: the interface of zvoffline.dll, the autostart-location scanner for a Windows system
 * that is not running: a mounted disk image, a copy of a volume, or a collection that keeps the
 * volume's paths (Windows\System32\config\SYSTEM, Users\<name>\NTUSER.DAT, ...).
 *
 * ZVAtrunCreateOfflineObject returns the same IZVAutorunScanner as zvatrun.dll, over the image's
 * registry hives; items are the same objects behind the same interfaces. Nothing is ever written,
 * not even into the image: every repair fails with E_ACCESSDENIED. Include zvatrun.h first (it
 * declares the interfaces); the rules of zvatrun.h about COM, threads and strings hold here too.
 *
 * Usable from C and C++.
 */
#ifndef ZVOFFLINE_H
#define ZVOFFLINE_H

#include "zvatrun.h"

#ifdef __cplusplus
extern "C" {
#endif

/* {5D0B3C7E-2F4A-4E8B-9C61-7A2E4D9B0F13}: what the scanner found in the image, beside its items. */
DEFINE_GUID(IID_IZVOfflineImage, 0x5D0B3C7E, 0x2F4A, 0x4E8B, 0x9C, 0x61, 0x7A, 0x2E, 0x4D, 0x9B, 0x0F, 0x13);

#define ZV_OFFLINE_NO_LOGS 0x1u /* read dirty hives as their files hold them, without their logs */

typedef struct ZV_OFFLINE_SETTINGS {
    DWORD cbSize;         /* the host writes sizeof(ZV_OFFLINE_SETTINGS) */
    DWORD dwFlags;        /* ZV_OFFLINE_* bits; other bits are ignored */
    LPCWSTR pszImageRoot; /* the folder holding the image's volume (the folder that stands for its C:\) */
    LPCWSTR pszUser;      /* the profile for HKEY_CURRENT_USER: a SID or a profile folder name; null or
                             empty: the user profile whose hive was written last, else .DEFAULT */
} ZV_OFFLINE_SETTINGS;

#if defined(_M_IX86) || defined(__i386__)
ZV_STATIC_ASSERT(sizeof(ZV_OFFLINE_SETTINGS) == 16, "offline settings are 16 bytes on x86");
ZV_STATIC_ASSERT(offsetof(ZV_OFFLINE_SETTINGS, pszImageRoot) == 8, "image root at offset 8 on x86");
ZV_STATIC_ASSERT(offsetof(ZV_OFFLINE_SETTINGS, pszUser) == 12, "user at offset 12 on x86");
#elif defined(_M_X64) || defined(_M_AMD64) || defined(__x86_64__)
ZV_STATIC_ASSERT(sizeof(ZV_OFFLINE_SETTINGS) == 24, "offline settings are 24 bytes on x86-64");
ZV_STATIC_ASSERT(offsetof(ZV_OFFLINE_SETTINGS, pszImageRoot) == 8, "image root at offset 8 on x86-64");
ZV_STATIC_ASSERT(offsetof(ZV_OFFLINE_SETTINGS, pszUser) == 16, "user at offset 16 on x86-64");
#else
#error "zvoffline.h knows the layouts of x86 and x86-64 only"
#endif
ZV_STATIC_ASSERT(offsetof(ZV_OFFLINE_SETTINGS, dwFlags) == 4, "flags at offset 4");

typedef struct IZVOfflineImage IZVOfflineImage;

#undef INTERFACE
#define INTERFACE IZVOfflineImage
DECLARE_INTERFACE_(IZVOfflineImage, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /* Lines a reader of the scan must see: hives missing, unreadable, truncated or dirty (with the
     * log entries applied, or that none could be), and which profile stands for HKEY_CURRENT_USER. */
    STDMETHOD_(ULONG, GetNoteCount)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetNote)(THIS_ ULONG index) PURE; /* null past the last */
    /* The name under HKEY_USERS of the hive standing for HKEY_CURRENT_USER; empty when there is none. */
    STDMETHOD_(LPCWSTR, GetCurrentUser)(THIS) PURE;
};
#undef INTERFACE

/* The only export. Opens the image's hives (their headers only) and creates a scanner over them.
 * riid must be IID_IZVAutorunScanner. Returns S_OK with one reference; E_POINTER for a null ppv or
 * settings; E_INVALIDARG for a settings size other than sizeof(ZV_OFFLINE_SETTINGS) or no image
 * root; E_NOTIMPL for another IID; HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) when the root is not
 * a folder; HRESULT_FROM_WIN32(ERROR_NO_SUCH_USER) when pszUser names no profile of the image;
 * E_OUTOFMEMORY. */
HRESULT WINAPI ZVAtrunCreateOfflineObject(const ZV_OFFLINE_SETTINGS *settings, const IID *riid, void **ppv);
typedef HRESULT(WINAPI *PFN_ZVAtrunCreateOfflineObject)(const ZV_OFFLINE_SETTINGS *settings, const IID *riid,
                                                         void **ppv);

#ifdef __cplusplus
}
#endif

#endif /* ZVOFFLINE_H */
