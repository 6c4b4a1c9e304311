// S19Support on Windows: what the writers do with the file they replace,
// and text that passes through the ANSI code page, as a Windows client
// sees it. Prints one line per check and exits with the number of failed
// checks.
//   wine_rules FOLDER ACP   (FOLDER: an empty scratch folder, Windows path;
//                            ACP: the ANSI code page the run expects)
#include <tarnholm/interfaces.h>
#include <tarnholm/text.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

std::wstring g_folder;

std::wstring Path(const wchar_t* name) {
  return g_folder + L"\\" + name;
}

BSTR Bstr(const std::wstring& s) {
  return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

void Put(const std::wstring& name, const std::string& bytes) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::string Get(const std::wstring& name) {
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(4096, '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

constexpr const char* kEmptyImage = "\r\nS001FE\r\nS9030000FC";

HRESULT WriteEmpty(IS19File* s19, const std::wstring& name) {
  return s19->WriteImageFile(Bstr(name), nullptr, 0, nullptr, 0, nullptr, 0);
}

void FileRules(IS19File* s19) {
  // A read-only image is a file failure and stays as it was.
  const std::wstring ro = Path(L"ro.s19");
  Put(ro, "protected image");
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  Check(WriteEmpty(s19, ro) == S19_E_FILE, "read-only image: file failure");
  Check(Get(ro) == "protected image", "read-only image: unchanged");
  Check((GetFileAttributesW(ro.c_str()) & FILE_ATTRIBUTE_READONLY) != 0,
        "read-only image: still read-only");
  SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL);

  // Both names of a hard-linked image see the new one.
  const std::wstring a = Path(L"a.s19");
  const std::wstring b = Path(L"b.s19");
  Put(a, "old image, longer than the new one");
  bool linked = CreateHardLinkW(b.c_str(), a.c_str(), nullptr) != 0;
  Check(linked, "hard link made");
  Check(WriteEmpty(s19, a) == S_OK && Get(b) == kEmptyImage, "hard link: the other name sees it");

  // A device is written as it is.
  Check(WriteEmpty(s19, L"NUL") == S_OK, "the NUL device takes an image");

  // A replaced file keeps its attributes.
  const std::wstring hidden = Path(L"hidden.s19");
  Put(hidden, "old");
  SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  Check(WriteEmpty(s19, hidden) == S_OK && Get(hidden) == kEmptyImage, "hidden image replaced");
  Check((GetFileAttributesW(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "and still hidden");
}

struct Read {
  HRESULT hr = E_FAIL;
  std::wstring text;
  S19FileInfo info{};
};

Read ReadEx(IS19FileEx* ex, const std::wstring& name) {
  Read r;
  BSTR text = nullptr;
  S19ImageDesc desc{&text, 0, nullptr, 0, nullptr, 0};
  r.hr = ex->ReadImageFileEx(Bstr(name), &desc, &r.info);
  if (text) r.text.assign(text, SysStringLen(text));
  SysFreeString(text);
  return r;
}

void Text(IS19File* s19, IS19FileEx* ex, UINT acp) {
  // A name and a text beyond ASCII, there and back.
  const std::wstring name = Path(L"Gr\u00FC\u00DFe.s19");
  HRESULT hr = s19->WriteImageFile(Bstr(name), Bstr(L"Gr\u00FC\u00DFe"), 0, nullptr, 0, nullptr, 0);
  Check(hr == S_OK, "image with a non-ASCII name written");
  Read r = ReadEx(ex, name);
  Check(r.hr == S_OK && r.text == L"Gr\u00FC\u00DFe\n", "its text read back exactly");

  // One byte the code page does not define costs that byte only.
  const std::wstring mixed = Path(L"mixed.s19");
  Put(mixed,
      "Gr\xC3\xBC\xC3\x9F"
      "e \xFF!\r\nS001FE\r\nS9030000FC");
  r = ReadEx(ex, mixed);
  const std::wstring expected =
      acp == CP_UTF8 ? L"Gr\u00FC\u00DFe \uFFFD!\n" : L"Gr\u00C3\u00BC\u00C3\u0178e \u00FF!\n";
  Check(r.hr == S_OK && r.text == expected, "text with an undefined byte");

  // Text-mode input ends at 0x1A.
  const std::wstring eof = Path(L"eof.s19");
  Put(eof, "text\r\nS001FE\r\nS9030000FC\x1Atrailing\r\nS1 junk\r\n");
  r = ReadEx(ex, eof);
  Check(r.hr == S_OK && r.text == L"text\n" && r.info.EndGood == 1 && r.info.FormatErrors == 0,
        "input ends at a 0x1A byte");
}

// The public conversion as a Windows client uses it. Under 1252 a name
// with a character that would be taken as its look-alike ("A" for U+0100)
// is refused, and the writer makes no file of the look-alike name; under
// 65001 the same name converts. A lone surrogate is refused under both.
void PublicConversion(IS19File* s19, UINT acp) {
  using tarnholm::TextKind;
  std::string narrow;
  BSTR name = Bstr(std::wstring(L"Gr\u00FC\u00DFe\0x", 7));
  bool ok = tarnholm::BstrToNarrow(name, narrow);
  BSTR back = ok ? tarnholm::NarrowToBstr(narrow) : nullptr;
  Check(back != nullptr && std::wstring(back, SysStringLen(back)) ==
                               L"Gr\u00FC\u00DFe" + std::wstring(1, L'\0') + L"x",
        "text with a NUL there and back");
  SysFreeString(back);
  SysFreeString(name);
  name = Bstr(L"\u0100.s19");
  ok = tarnholm::BstrToNarrow(name, narrow, TextKind::kFileName);
  SysFreeString(name);
  Check(ok == (acp == CP_UTF8), "a name with U+0100: refused unless the code page is UTF-8");
  name = Bstr(std::wstring(L"a") + wchar_t(0xD800) + L".s19");
  Check(!tarnholm::BstrToNarrow(name, narrow, TextKind::kFileName), "lone surrogate refused");
  SysFreeString(name);
  if (acp == CP_UTF8) return;
  Check(WriteEmpty(s19, Path(L"\u0100lt.s19")) == S19_E_FILE, "the writer refuses it");
  Check(Get(Path(L"Alt.s19")) == "<missing>", "and writes no look-alike file");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wine_rules FOLDER ACP\n");
    return 100;
  }
  wchar_t folder[MAX_PATH];
  MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, folder, MAX_PATH);
  g_folder = folder;
  const UINT acp = GetACP();
  std::printf("     ANSI code page %u\n", acp);
  Check(acp == static_cast<UINT>(std::atoi(argv[2])), "the expected ANSI code page");
  if (FAILED(CoInitialize(nullptr))) return 101;
  CLSID clsid;
  IS19File* s19 = nullptr;
  IS19FileEx* ex = nullptr;
  if (CLSIDFromProgID(L"Brenlow.S19SUPPORT", &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IS19File,
                       reinterpret_cast<void**>(&s19)) != S_OK ||
      s19->QueryInterface(IID_IS19FileEx, reinterpret_cast<void**>(&ex)) != S_OK) {
    std::printf("FAIL Brenlow.S19SUPPORT created\n");
    return 102;
  }
  FileRules(s19);
  Text(s19, ex, acp);
  PublicConversion(s19, acp);
  ex->Release();
  s19->Release();
  CoUninitialize();
  std::printf("%d failed\n", g_failures);
  return g_failures;
}
