// The component runtime for POSIX: the subset of the Windows component
// object API that Tarn, Holm and their clients use, with the Windows names,
// signatures, integer widths and result values, so that one client source
// file builds against Windows COM and against this runtime unchanged.
//
// Integer types keep their Windows widths on every platform (LONG, ULONG,
// DWORD and HRESULT are 32-bit, WORD 16-bit, BYTE 8-bit). OLECHAR is a 16-bit
// UTF-16 code unit; BSTR is a length-prefixed OLECHAR string.
#ifndef COMRT_COMRT_H
#define COMRT_COMRT_H

#ifdef _WIN32
#error "comrt is the POSIX runtime; on Windows include <objbase.h> (see tarnholm/com.h)"
#endif

#include <cstddef>
#include <cstdint>

#if defined(COMRT_BUILDING)
#define COMRT_API extern "C" __attribute__((visibility("default")))
#else
#define COMRT_API extern "C"
#endif

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define WINAPI
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type

// ---------------------------------------------------------------- integers
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t HRESULT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
typedef char16_t WCHAR;
typedef char16_t OLECHAR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef short VARIANT_BOOL;
typedef unsigned short VARTYPE;
typedef LONG DISPID;
typedef DWORD LCID;
typedef void* HMODULE;
typedef void* HINSTANCE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

// A wide string literal of OLECHAR.
#define OLESTR(s) u##s

// ---------------------------------------------------------------- results
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_READREGDB ((HRESULT)0x80040150)
#define REGDB_E_WRITEREGDB ((HRESULT)0x80040151)
#define REGDB_E_KEYMISSING ((HRESULT)0x80040152)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000F)

// ---------------------------------------------------------------- GUIDs
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
  return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
  return !IsEqualGUID(a, b);
}

// The standard interface identifiers.
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#define GUID_NULL IID_NULL
#define CLSID_NULL IID_NULL

// ---------------------------------------------------------------- VARIANT
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_BYREF = 0x4000,
};

struct IUnknown;
struct IDispatch;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    LONG* plVal;
    SHORT* piVal;
    BYTE* pbVal;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
    void* byref;
    LONGLONG llVal;
  };
};
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;

#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_BSTRREF(v) ((v)->pbstrVal)
#define V_I4REF(v) ((v)->plVal)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_I2(v) ((v)->iVal)
#define V_UI1(v) ((v)->bVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_BYREF(v) ((v)->byref)
#define V_ISBYREF(v) ((V_VT(v) & VT_BYREF) != 0)

// VariantChangeType flags. VARIANT_ALPHABOOL turns VT_BOOL into "True" or
// "False" instead of "-1" or "0".
#define VARIANT_NOVALUEPROP 0x1
#define VARIANT_ALPHABOOL 0x2
#define VARIANT_NOUSEROVERRIDE 0x4

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
  HRESULT scode;
};

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8
#define DISPID_UNKNOWN (-1)
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800

// ---------------------------------------------------------------- interfaces
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Type information is not offered by the runtime; the type is declared so
// that IDispatch keeps its Windows vtable layout.
struct ITypeInfo;

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                  LCID lcid, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* excepInfo, UINT* argErr) = 0;

 protected:
  ~IDispatch() = default;
};

// ---------------------------------------------------------------- BSTR
// A BSTR points at the first character; the 32-bit byte length sits just
// before it and a NUL character follows the last one (the string may hold
// embedded NULs). A null BSTR is the empty string for every function here.
COMRT_API BSTR SysAllocString(const OLECHAR* s);
COMRT_API BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
COMRT_API BSTR SysAllocStringByteLen(const char* s, UINT bytes);
COMRT_API void SysFreeString(BSTR s);
COMRT_API UINT SysStringLen(BSTR s);
COMRT_API UINT SysStringByteLen(BSTR s);
COMRT_API INT SysReAllocString(BSTR* s, const OLECHAR* src);
COMRT_API INT SysReAllocStringLen(BSTR* s, const OLECHAR* src, UINT len);
// Diagnostics (POSIX only): the number of BSTRs allocated by this runtime
// and not yet freed, process-wide.
COMRT_API LONG comrt_BstrLiveCount(void);

// ---------------------------------------------------------------- VARIANT API
// VariantClear frees what the VARIANT owns (a BSTR, a reference on an
// interface) and never what a VT_BYREF form points at. VariantChangeType
// converts among VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_UI1, VT_UI2, VT_UI4,
// VT_INT, VT_UINT, VT_BOOL and VT_BSTR (numbers as decimal text), reading
// through a VT_BYREF source; dst may be src. Text that is not a number gives
// DISP_E_TYPEMISMATCH, a value out of the target's range DISP_E_OVERFLOW.
COMRT_API void VariantInit(VARIANTARG* v);
COMRT_API HRESULT VariantClear(VARIANTARG* v);
COMRT_API HRESULT VariantCopy(VARIANTARG* dst, const VARIANTARG* src);
COMRT_API HRESULT VariantChangeType(VARIANTARG* dst, const VARIANTARG* src, USHORT flags,
                                    VARTYPE vt);

// ---------------------------------------------------------------- code pages
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x8
#define WC_NO_BEST_FIT_CHARS 0x400
#define WC_ERR_INVALID_CHARS 0x80
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADDB 1009L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L

// CP_ACP is the locale's character set: LC_CTYPE as set by the process, or,
// while the process still runs in the "C" locale, the charset the
// environment names (LC_ALL, LC_CTYPE, LANG), which is what the user chose.
// CP_OEMCP and CP_THREAD_ACP are the same. CP_UTF8 is UTF-8. Same contract as on Windows: a length
// of -1 means NUL-terminated (the terminator is converted and counted); an output size of 0 asks
// for the size needed; 0 is returned on failure and GetLastError tells why.
COMRT_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                                  int dstLen);
COMRT_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                                  int dstLen, LPCSTR defaultChar, BOOL* usedDefault);
COMRT_API DWORD GetLastError(void);
COMRT_API void SetLastError(DWORD error);

// ---------------------------------------------------------------- memory
COMRT_API LPVOID CoTaskMemAlloc(size_t bytes);
COMRT_API void CoTaskMemFree(LPVOID p);

// ---------------------------------------------------------------- GUID text
// The braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, hex digits of
// either case on input, upper case on output.
COMRT_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);
COMRT_API HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);  // CoTaskMemFree
COMRT_API HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
COMRT_API HRESULT IIDFromString(LPCOLESTR text, IID* iid);

// ---------------------------------------------------------------- registry
typedef struct comrt_hkey* HKEY;
typedef HKEY* PHKEY;
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define REG_SZ 1

// The registry is one text file per user: $COMRT_REGISTRY when set, else
// $XDG_CONFIG_HOME/comrt/registry (default ~/.config/comrt/registry). Every
// change is written to a temporary file that then replaces the old one, so
// a crash never leaves a half-written registry. A file that cannot be read
// (ERROR_CANTREAD) or is damaged (ERROR_BADDB) is reported and never
// overwritten. A file that someone other than this process's user and root
// could change (it or a folder above it belongs to another user, or others
// may write it; root running with a user's environment finds that user's
// file) is never written (ERROR_ACCESS_DENIED) and its classes are never
// used, so no library it names is loaded; comrt_RegistryProblem says why
// and what to do. Writers in
// several processes take turns through a lock on "<file>.lock". The three
// roots (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE) all live
// in that one file. Key and value names compare ignoring ASCII letter case;
// a key name is 1 to 255 bytes without control characters.
//
// Beside it, the machine's registry file (same format; see
// comrt_MachineRegistryPath) holds what the administrator registered for
// every user. Reads of HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE look in the
// user's file first and then in the machine's, and RegEnumKeyA lists both;
// writes always go to the user's file, so a user process never changes the
// machine's. A machine file that cannot be read or is damaged is reported
// (ERROR_CANTREAD, ERROR_BADDB) when a lookup reaches it. The machine's
// file is written readable for every user (0644) whatever the umask.
COMRT_API LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
COMRT_API LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
COMRT_API LONG RegCloseKey(HKEY key);
COMRT_API LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size);
COMRT_API LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size);
COMRT_API LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Subkey names of a key, one by one (index from 0); ERROR_NO_MORE_ITEMS at the end.
#define ERROR_NO_MORE_ITEMS 259L
COMRT_API LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size);

// Named values (REG_SZ only). A null or empty name is the key's default
// value, the one RegSetValueA and RegQueryValueA use.
typedef DWORD REGSAM;
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
COMRT_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
COMRT_API LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size);
COMRT_API LONG RegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                                DWORD* size);
COMRT_API LONG RegDeleteValueA(HKEY key, LPCSTR name);

// POSIX only: the path of the registry file in use (see above). Returns the
// length written without the NUL, or the size needed when `size` is too
// small (then nothing is written).
COMRT_API size_t comrt_RegistryPath(char* out, size_t size);

// POSIX only: the machine's registry file, which lookups of
// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE consult after the user's file
// (see the runtime's registry): $COMRT_MACHINE_REGISTRY, else
// etc/comrt/registry of the installation (/etc/comrt/registry for a
// system package). Empty when COMRT_MACHINE_REGISTRY is set but empty (no
// machine registry). Same return contract as comrt_RegistryPath.
COMRT_API size_t comrt_MachineRegistryPath(char* out, size_t size);

// POSIX only: what is wrong with the user's registry file (`machine`
// FALSE) or the machine's (TRUE), for a person: that it is not used
// (someone other than this user or root could change it), cannot be read,
// or is damaged, naming the file, with what to do. Empty when nothing is
// wrong. Same return contract as comrt_RegistryPath.
COMRT_API size_t comrt_RegistryProblem(BOOL machine, char* out, size_t size);

// ---------------------------------------------------------------- ports
// POSIX only: the device path of a port name, for the serial channel.
// "COMn" (any letter case, n from 1 to 256, optionally written "\\.\COMn"
// or with a trailing ':') is looked up in the port map of the current user:
//   HKEY_CURRENT_USER\Software\Tarn\Ports, value named "COMn" = device path
// (a default value of the subkey Software\Tarn\Ports\COMn is honoured as
// well). An entry means what it means as a device name: an absolute path as
// it is, any other name below /dev ("ttyUSB0" is /dev/ttyUSB0); an entry
// that names a port (COM4) gives ERROR_INVALID_DATA, so maps never chain or
// loop. Without an entry, COMn is /dev/ttyS<n-1>. A name of that shape
// with a number outside 1..256 or a leading zero (COM0, COM300) gives
// ERROR_BAD_PATHNAME. Any other name is copied unchanged. Writes a
// NUL-terminated path to `out` and returns ERROR_SUCCESS;
// ERROR_INVALID_PARAMETER for null arguments,
// ERROR_INSUFFICIENT_BUFFER when `size` is too small, ERROR_CANTREAD or
// ERROR_BADDB when the registry file cannot be read or is damaged (the port
// map is then unknown).
COMRT_API LONG comrt_ResolvePortName(const char* name, char* out, size_t size);

// ---------------------------------------------------------------- classes
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER)
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2

// Class lookup reads HKEY_CLASSES_ROOT: ProgID\CLSID names the class,
// CLSID\{clsid}\InprocServer32 (key names in any letter case) the library,
// which is loaded with dlopen and asked for the class object through its
// DllGetClassObject export. Results as on Windows: an unknown ProgID is
// CO_E_CLASSSTRING, an unregistered CLSID REGDB_E_CLASSNOTREG, a library
// that cannot be loaded CO_E_DLLNOTFOUND, one without DllGetClassObject
// CO_E_ERRORINDLL, a registry file that cannot be read REGDB_E_READREGDB.
// CoGetClassObject and CoCreateInstance need CoInitialize(Ex) on some
// thread of the process first (CO_E_NOTINITIALIZED otherwise); the
// apartment model itself is not enforced. CoFreeUnusedLibraries closes a
// library only when its DllCanUnloadNow answers S_OK (never one without
// that export); the last CoUninitialize of the process does the same and
// leaves libraries still in use loaded.
COMRT_API HRESULT CoInitialize(LPVOID reserved);
COMRT_API HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
COMRT_API void CoUninitialize(void);
COMRT_API HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
COMRT_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);  // CoTaskMemFree
COMRT_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID serverInfo, REFIID riid,
                                   LPVOID* ppv);
COMRT_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                   LPVOID* ppv);
COMRT_API void CoFreeUnusedLibraries(void);

// The signatures of a component library's exports.
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)(void);
typedef HRESULT(STDAPICALLTYPE* LPFNREGISTERSERVER)(void);

#endif  // COMRT_COMRT_H
