/*
 * zvatrun.h: the interface of zvatrun.dll, the autostart-location scanner.
 *
 * A host loads zvatrun.dll, calls ZVAtrunCreateObject for IZVAutorunScanner, starts a scan and pulls
 * items until NextItem returns 0. Every method uses the stdcall convention; strings are UTF-16 and
 * point into the object that returned them, valid while the caller holds a reference to it.
 * The host must have initialised COM on the calling thread, and drive one scanner and its items
 * from one thread at a time.
 *
 * IIDs are declared with DEFINE_GUID: define INITGUID (or include <initguid.h>) before this header
 * in exactly one source file of the host to define them.
 *
 * Usable from C and C++.
 */
#ifndef ZVATRUN_H
#define ZVATRUN_H

#include <windows.h>
#include <objbase.h>
#include <stddef.h>

#ifdef __cplusplus
#define ZV_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define ZV_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* {AC489AB3-530C-408C-9B3F-6CAFE9A3DD0C} */
DEFINE_GUID(IID_IZVAutorunScanner, 0xAC489AB3, 0x530C, 0x408C, 0x9B, 0x3F, 0x6C, 0xAF, 0xE9, 0xA3, 0xDD, 0x0C);
/* {B77E4A52-DA85-4A5D-9E72-03EAC816E73E} */
DEFINE_GUID(IID_IZVAutorunPerformView, 0xB77E4A52, 0xDA85, 0x4A5D, 0x9E, 0x72, 0x03, 0xEA, 0xC8, 0x16, 0xE7, 0x3E);
/* {B762E747-D0D5-4C73-8CED-0458E9DB62E0} */
DEFINE_GUID(IID_IZVAutorunItem, 0xB762E747, 0xD0D5, 0x4C73, 0x8C, 0xED, 0x04, 0x58, 0xE9, 0xDB, 0x62, 0xE0);
/* {8830EFE0-8007-4875-B1D6-4F504EA28687} */
DEFINE_GUID(IID_IZVAutorunItemEx, 0x8830EFE0, 0x8007, 0x4875, 0xB1, 0xD6, 0x4F, 0x50, 0x4E, 0xA2, 0x86, 0x87);
/* {6136ABAC-77B7-4FF6-B98C-E20C0034BAFA}: registry items and autorun-file items share this IID. */
DEFINE_GUID(IID_IZVAutorunItem_Reg, 0x6136ABAC, 0x77B7, 0x4FF6, 0xB9, 0x8C, 0xE2, 0x0C, 0x00, 0x34, 0xBA, 0xFA);
DEFINE_GUID(IID_IZVAutorunItem_Ini, 0x6136ABAC, 0x77B7, 0x4FF6, 0xB9, 0x8C, 0xE2, 0x0C, 0x00, 0x34, 0xBA, 0xFA);
/* {93E12951-2DED-4E91-B0DF-368BB6970614} */
DEFINE_GUID(IID_IZVAutorunItem_ShortCut, 0x93E12951, 0x2DED, 0x4E91, 0xB0, 0xDF, 0x36, 0x8B, 0xB6, 0x97, 0x06, 0x14);
/* {2592B03D-9D82-4208-AF27-B2B00B44EB01} */
DEFINE_GUID(IID_IZVAutorunItem_Ime, 0x2592B03D, 0x9D82, 0x4208, 0xAF, 0x27, 0xB2, 0xB0, 0x0B, 0x44, 0xEB, 0x01);
/* {7348FC97-C083-499C-B38D-EA07AED8DF52} */
DEFINE_GUID(IID_IZVAutorunItem_ShlCmd, 0x7348FC97, 0xC083, 0x499C, 0xB3, 0x8D, 0xEA, 0x07, 0xAE, 0xD8, 0xDF, 0x52);

/* Scan settings passed to StartScan; a null pointer selects size 28 and no flag. */
#define ZV_SCAN_SKIP_PROBE 0x1u        /* count every candidate path as existing; probe nothing */
#define ZV_SCAN_REPAIRABLE_ONLY 0x2u   /* scan only locations that have a repair */
#define ZV_SCAN_UNREPAIRABLE_ONLY 0x4u /* scan only locations without one; REPAIRABLE_ONLY wins */

typedef struct ZV_SCAN_SETTINGS {
    DWORD cbSize;   /* the host writes sizeof(ZV_SCAN_SETTINGS) */
    DWORD dwFlags;  /* ZV_SCAN_* bits; other bits are ignored */
    BYTE reserved[20];
} ZV_SCAN_SETTINGS;

ZV_STATIC_ASSERT(sizeof(ZV_SCAN_SETTINGS) == 28, "scan settings are 28 bytes");
ZV_STATIC_ASSERT(offsetof(ZV_SCAN_SETTINGS, dwFlags) == 4, "flags at offset 4");
ZV_STATIC_ASSERT(offsetof(ZV_SCAN_SETTINGS, reserved) == 8, "reserved bytes at offset 8");

/* Repair request passed to Repair. Only pszFilePath is read: a request naming a known system host
 * program (rundll32.exe, regsvr32.exe, ...) is refused with S_FALSE. */
typedef struct ZV_REPAIR_REQUEST {
    DWORD cbSize;        /* not read */
    LPCWSTR pszFilePath; /* the file the host means to act on, or null */
} ZV_REPAIR_REQUEST;

#if defined(_M_IX86) || defined(__i386__)
ZV_STATIC_ASSERT(sizeof(ZV_REPAIR_REQUEST) == 8, "repair request is 8 bytes on x86");
ZV_STATIC_ASSERT(offsetof(ZV_REPAIR_REQUEST, pszFilePath) == 4, "file path is the second 32-bit field");
#elif defined(_M_X64) || defined(_M_AMD64) || defined(__x86_64__)
ZV_STATIC_ASSERT(sizeof(ZV_REPAIR_REQUEST) == 16, "repair request is 16 bytes on x86-64");
ZV_STATIC_ASSERT(offsetof(ZV_REPAIR_REQUEST, pszFilePath) == 8, "file path is naturally aligned on x86-64");
#else
#error "zvatrun.h knows the layouts of x86 and x86-64 only"
#endif

/* Kinds for IZVAutorunPerformView::GetCount. */
#define ZV_COUNT_FILE_PROBES 1u
#define ZV_COUNT_COMMAND_LINES 2u
#define ZV_COUNT_FILE_LISTS 3u
#define ZV_COUNT_CANDIDATES 4u
#define ZV_COUNT_DIRECTORY_SEARCHES 5u
#define ZV_COUNT_EXTENSION_SEARCHES 6u

typedef struct IZVAutorunScanner IZVAutorunScanner;
typedef struct IZVAutorunPerformView IZVAutorunPerformView;
typedef struct IZVAutorunItem IZVAutorunItem;
typedef struct IZVAutorunItemEx IZVAutorunItemEx;
typedef struct IZVAutorunItem_Reg IZVAutorunItem_Reg;
typedef struct IZVAutorunItem_Ini IZVAutorunItem_Ini;
typedef struct IZVAutorunItem_ShortCut IZVAutorunItem_ShortCut;
typedef struct IZVAutorunItem_Ime IZVAutorunItem_Ime;
typedef struct IZVAutorunItem_ShlCmd IZVAutorunItem_ShlCmd;

#undef INTERFACE
#define INTERFACE IZVAutorunScanner
DECLARE_INTERFACE_(IZVAutorunScanner, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /* Starts (or restarts) a scan; settings may be null. Returns S_OK, or E_OUTOFMEMORY. */
    STDMETHOD(StartScan)(THIS_ const ZV_SCAN_SETTINGS *settings) PURE;
    /* Stores the next item with one reference and returns 1, or returns 0 when the scan is over. */
    STDMETHOD_(BOOL, NextItem)(THIS_ IZVAutorunItemEx **item) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunPerformView
DECLARE_INTERFACE_(IZVAutorunPerformView, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    /* The resolution counter of a ZV_COUNT_* kind; 0 for any other kind. */
    STDMETHOD_(ULONG, GetCount)(THIS_ ULONG kind) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem
DECLARE_INTERFACE_(IZVAutorunItem, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(ULONG, GetId)(THIS) PURE;
    STDMETHOD_(ULONG, GetCategory)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetLocation)(THIS) PURE;
    STDMETHOD_(ULONG, GetFileCount)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetFile)(THIS_ ULONG index) PURE;
    STDMETHOD_(BOOL, CanRepair)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItemEx
DECLARE_INTERFACE_(IZVAutorunItemEx, IZVAutorunItem)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(ULONG, GetId)(THIS) PURE;
    STDMETHOD_(ULONG, GetCategory)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetLocation)(THIS) PURE;
    STDMETHOD_(ULONG, GetFileCount)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetFile)(THIS_ ULONG index) PURE;
    STDMETHOD_(BOOL, CanRepair)(THIS) PURE;
    /* E_NOTIMPL without a repair, E_POINTER for a null request, S_FALSE for a known host program. */
    STDMETHOD(Repair)(THIS_ const ZV_REPAIR_REQUEST *request) PURE;
    /* Set by the scanner when it hands the item out; hosts do not call it. */
    STDMETHOD_(void, SetOwner)(THIS_ IZVAutorunScanner *owner) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem_Reg
DECLARE_INTERFACE_(IZVAutorunItem_Reg, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(HKEY, GetRootKey)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetKeyPath)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetValueName)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetValueData)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem_Ini
DECLARE_INTERFACE_(IZVAutorunItem_Ini, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetIniPath)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetSection)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetKeyName)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetValue)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem_ShortCut
DECLARE_INTERFACE_(IZVAutorunItem_ShortCut, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetFilePath)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem_Ime
DECLARE_INTERFACE_(IZVAutorunItem_Ime, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(HKEY, GetRootKey)(THIS) PURE;
    STDMETHOD_(ULONG, GetPreloadIndex)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetLayoutId)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IZVAutorunItem_ShlCmd
DECLARE_INTERFACE_(IZVAutorunItem_ShlCmd, IUnknown)
{
    STDMETHOD(QueryInterface)(THIS_ REFIID riid, void **ppv) PURE;
    STDMETHOD_(ULONG, AddRef)(THIS) PURE;
    STDMETHOD_(ULONG, Release)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetExtension)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetProgId)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetVerb)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetValueName)(THIS) PURE;
    STDMETHOD_(LPCWSTR, GetAltValueName)(THIS) PURE;
};
#undef INTERFACE

/* The only export. Creates a scanner: riid must be IID_IZVAutorunScanner; reserved is ignored.
 * riid points to the IID requested. E_POINTER for a null ppv, E_NOTIMPL for any other (or null) IID, E_OUTOFMEMORY, or S_OK with one reference. */
HRESULT WINAPI ZVAtrunCreateObject(const IID *riid, void **ppv, DWORD reserved);
typedef HRESULT(WINAPI *PFN_ZVAtrunCreateObject)(const IID *riid, void **ppv, DWORD reserved);

#ifdef __cplusplus
}
#endif

#endif /* ZVATRUN_H */
