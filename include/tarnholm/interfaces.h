// Public interface declarations of Tarn and Holm: class and interface
// identifiers, ProgIDs, the custom interfaces with their slots in order, and
// the S-record image structures, and (through tarn_errors.h) Tarn's reported
// error codes. A client includes this and nothing private.
//
// Every method returns HRESULT; integer arguments use the Windows widths
// (LONG is 32-bit on every platform), so the vtables are the same for any
// client on a given platform.
#ifndef TARNHOLM_INTERFACES_H
#define TARNHOLM_INTERFACES_H

#include <tarnholm/com.h>
#include <tarnholm/tarn_errors.h>

#define TH_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

// ------------------------------------------------------------------ Tarn
#define TARN_PROGID_DOWNLOAD "BRENTAR.TARN"
TH_GUID(CLSID_Download, 0x2F8C41A0, 0x5B34, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D, 0x03);
TH_GUID(IID_IDownloadError, 0x5E0B27C4, 0x91D3, 0x4F6A, 0xB8, 0xE2, 0x3C, 0x7D, 0x1A, 0x09, 0x4F,
        0x58);
TH_GUID(IID_IDownloadState, 0xA17E5056, 0x5B1F, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);
TH_GUID(IID_IDownloadTransfer, 0xA17E5057, 0x5B1F, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);
TH_GUID(IID_IPagerCommands, 0xA17E5058, 0x5B1F, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);

// ------------------------------------------------------------------ Holm
#define HOLM_PROGID_BAUDPORT "Brenlow.HCBAUDPORT"
#define HOLM_PROGID_ONLYPORT "Brenlow.HCONLYPORT"
#define HOLM_PROGID_PORTSETTINGS "Brenlow.HCPORTSETTINGS"
#define HOLM_PROGID_PROGRESS "Brenlow.PROGRESSER"
#define HOLM_PROGID_S19SUPPORT "Brenlow.S19SUPPORT"

TH_GUID(CLSID_HC_OnlyBaudPort, 0x7D3A6E11, 0x5B21, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);
TH_GUID(CLSID_HC_OnlyPort, 0x7D3A6E14, 0x5B21, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);
TH_GUID(CLSID_HC_PortSettings, 0x7D3A6E15, 0x5B21, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);
TH_GUID(CLSID_Progress, 0x7D3A6E16, 0x5B21, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D, 0x03);
TH_GUID(CLSID_S19Support, 0x7D3A6E17, 0x5B21, 0x11D5, 0xB4, 0x1D, 0x5E, 0x2B, 0x7A, 0x1C, 0x9D,
        0x03);

TH_GUID(IID_IProgressIndicator, 0x61F03A40, 0x24B8, 0x11D3, 0x8E, 0x16, 0x4A, 0x7C, 0x1E, 0x90,
        0xD2, 0xB6);
TH_GUID(DIID_IProgress, 0x9AD452B0, 0x2324, 0x11D3, 0x8E, 0x16, 0x4A, 0x7C, 0x1E, 0x90, 0xD2, 0xB6);
TH_GUID(IID_IS19File, 0x8B3EE160, 0x27CF, 0x11D3, 0x8E, 0x1B, 0x4A, 0x7C, 0x1E, 0x90, 0xD2, 0xB6);
TH_GUID(IID_IS19FileEx, 0x5B0D93A2, 0x6F47, 0x4C1E, 0x8A, 0x39, 0xD2, 0xE4, 0x7B, 0x15, 0xC0, 0x68);
TH_GUID(IID_IS19Error, 0x1C45F6E1, 0xF8BD, 0x11D2, 0x9A, 0x83, 0x4A, 0x7C, 0x1E, 0x90, 0xD2, 0xB6);
TH_GUID(IID_IPortSetup, 0x3B90C4B0, 0x2A41, 0x11D3, 0x8E, 0x25, 0x4A, 0x7C, 0x1E, 0x90, 0xD2, 0xB6);
TH_GUID(DIID_IHC_OnlyBaudPort, 0x2E61B7C4, 0x4A93, 0x11D3, 0x9F, 0x15, 0x6C, 0x0B, 0x3D, 0x8E, 0x21,
        0xA7);
TH_GUID(DIID_IHC_OnlyPort, 0x5C17D025, 0x3319, 0x11D3, 0x8E, 0x32, 0x4A, 0x7C, 0x1E, 0x90, 0xD2,
        0xB6);
TH_GUID(DIID_IHC_PortSettings, 0xE4A2B870, 0x2A35, 0x11D3, 0x8E, 0x25, 0x4A, 0x7C, 0x1E, 0x90, 0xD2,
        0xB6);

#undef TH_GUID

// Error codes of S19Support.
#define S19_E_FILE ((HRESULT)0x80040200)
#define S19_E_DAMAGED ((HRESULT)0x80040201)

// Progress indicator, implemented by Holm's Progress object and called by
// Tarn (SetProgressPercent only). Every method returns S_OK.
struct IProgressIndicator : IUnknown {
  // Takes ownership of both strings and releases them.
  virtual HRESULT STDMETHODCALLTYPE AddStep(LONG weight, BSTR text, BSTR caption) = 0;
  virtual HRESULT STDMETHODCALLTYPE NextStep() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProgress(LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProgressPercent(LONG percent) = 0;
  virtual HRESULT STDMETHODCALLTYPE Show() = 0;
  virtual HRESULT STDMETHODCALLTYPE Hide() = 0;

 protected:
  ~IProgressIndicator() = default;
};

// ------------------------------------------------------------------ CDownload
struct IDownloadError : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* code) = 0;
  // The text is the library's own static string: do not free it.
  virtual HRESULT STDMETHODCALLTYPE GetErrorText(const char** text) = 0;

 protected:
  ~IDownloadError() = default;
};

struct IDownloadState : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPagerType(BYTE* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOptionByte(BYTE* option) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfoBlock(BYTE* block16) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfoId(BYTE* id6) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSecondRecord(BYTE* record10) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFirstRecord(BYTE* record10) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPortSettings(LONG* result, const char* settings) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatusChar(BYTE* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPassword(const BYTE* password10) = 0;
  virtual HRESULT STDMETHODCALLTYPE ClearPassword() = 0;
  // No reference is taken: keep the indicator alive while it is attached.
  virtual HRESULT STDMETHODCALLTYPE AttachProgress(IProgressIndicator* progress) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatusOk(LONG* ok) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPasswordReply(BYTE* reply) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfoLastByte(BYTE* last) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfoByte1(BYTE* byte1) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetPasswordReply() = 0;

 protected:
  ~IDownloadState() = default;
};

struct IDownloadTransfer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Identify() = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadMemory(LONG* result, WORD address, BYTE* buffer,
                                               WORD length) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteMemory(LONG* result, WORD address, const BYTE* data,
                                                WORD length) = 0;
  virtual HRESULT STDMETHODCALLTYPE Activate() = 0;

 protected:
  ~IDownloadTransfer() = default;
};

struct IPagerCommands : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SendCommand13() = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginCommands() = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommand0B() = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommandFF() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndCommands() = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommandFFRepeat() = 0;
  virtual HRESULT STDMETHODCALLTYPE SendBytePair(LONG* result, LONG first, LONG second) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommand42(LONG* result, LONG value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommandAE(LONG* result, LONG address, WORD value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommand40(LONG* result, LONG address, WORD value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SendCommand46(LONG* result, LONG address, LONG count) = 0;

 protected:
  ~IPagerCommands() = default;
};

// ------------------------------------------------------------------ S19Support
// Image descriptor of the extended S-record operations.
struct S19ImageDesc {
  BSTR* Text;  // the caller's string variable: text to write / text read
  LONG BaseAddress;
  BYTE* Header;
  LONG HeaderSize;
  BYTE* Data;
  LONG DataSize;
};

// Read report (ReadImageFileEx) or write options (WriteImageFileEx).
struct S19FileInfo {
  LONG LowAddress;
  LONG Reserved1;
  LONG Span;
  LONG HasHeader;
  LONG HeaderBad;
  LONG HasData;
  LONG Reserved2;
  LONG HasEnd;
  LONG EndGood;
  LONG ChecksumErrors;
  LONG FormatErrors;
};

struct IS19File : IUnknown {
  // The object releases fileName and text.
  virtual HRESULT STDMETHODCALLTYPE WriteImageFile(BSTR fileName, BSTR text, LONG baseAddress,
                                                   BYTE* header, LONG headerLength, BYTE* data,
                                                   LONG dataLength) = 0;
  // The object releases fileName; *text is released and replaced.
  virtual HRESULT STDMETHODCALLTYPE ReadImageFile(BSTR fileName, BSTR* text, LONG baseAddress,
                                                  BYTE* header, LONG headerSize, BYTE* data,
                                                  LONG dataSize) = 0;

 protected:
  ~IS19File() = default;
};

struct IS19FileEx : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE WriteImageFileEx(BSTR fileName, S19ImageDesc* desc,
                                                     S19FileInfo* options) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadImageFileEx(BSTR fileName, S19ImageDesc* desc,
                                                    S19FileInfo* info) = 0;

 protected:
  ~IS19FileEx() = default;
};

struct IS19Error : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetErrorCode(LONG* code) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetErrorText(const char** text) = 0;

 protected:
  ~IS19Error() = default;
};

// ------------------------------------------------------------------ dialogs
struct IPortSetup : IUnknown {
  // Always S_OK. *settings is released and replaced by the new string.
  virtual HRESULT STDMETHODCALLTYPE Change(BSTR* settings) = 0;

 protected:
  ~IPortSetup() = default;
};

#endif  // TARNHOLM_INTERFACES_H
