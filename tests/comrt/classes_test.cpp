// Class lookup through the registry and loading of in-process servers,
// against the tiny test component built beside these tests.
#include <comrt/comrt.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/comrt/test_component.h"
#include "tests/comrt/test_util.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

bool IsLoaded(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

constexpr CLSID kUnknownClsid = {
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr const char* kUnknownKey = "CLSID\\{11111111-2222-3333-4444-555555555555}";

class Classes : public comrt_test::TempRegistry {
 protected:
  void SetUp() override {
    TempRegistry::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
    TempRegistry::TearDown();
  }

  // Registers the test component the way regsvr does, by its own export.
  static void RegisterTestComponent() {
    void* handle = dlopen(TEST_COMPONENT_PATH, RTLD_NOW);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto reg = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg(), S_OK);
    dlclose(handle);
  }

  static std::u16string ProgId() { return u"ComrtTest.Widget"; }
};

TEST_F(Classes, CreatesByProgIdAndQueriesInterfaces) {
  RegisterTestComponent();
  CLSID clsid{};
  // ProgIDs are matched without regard to letter case.
  ASSERT_EQ(CLSIDFromProgID(u"comrttest.WIDGET", &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestWidget);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(clsid, &progId), S_OK);
  EXPECT_EQ(std::u16string(progId), ProgId());
  CoTaskMemFree(progId);
  // CLSIDFromString takes a ProgID as well.
  CLSID viaString{};
  ASSERT_EQ(CLSIDFromString(u"ComrtTest.Widget", &viaString), S_OK);
  EXPECT_EQ(viaString, CLSID_TestWidget);

  IWidget* widget = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget,
                             reinterpret_cast<void**>(&widget)),
            S_OK);
  ASSERT_NE(widget, nullptr);
  LONG sum = 0;
  EXPECT_EQ(widget->Add(2, 3, &sum), S_OK);
  EXPECT_EQ(sum, 5);

  IUnknown* unknown = nullptr;
  ASSERT_EQ(widget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown, static_cast<IUnknown*>(widget));
  unknown->Release();
  void* dispatch = reinterpret_cast<void*>(1);
  EXPECT_EQ(widget->QueryInterface(IID_IDispatch, &dispatch), E_NOINTERFACE);
  EXPECT_EQ(dispatch, nullptr);
  EXPECT_EQ(widget->Release(), 0u);

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  IUnknown* outer = reinterpret_cast<IUnknown*>(&sum);  // never called
  EXPECT_EQ(CoCreateInstance(clsid, outer, CLSCTX_ALL, IID_IUnknown, &none), CLASS_E_NOAGGREGATION);
  // Out-of-process servers do not exist here.
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &none),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr), E_INVALIDARG);
}

TEST_F(Classes, UnloadsOnlyWhenTheLibrarySaysItMay) {
  RegisterTestComponent();
  CoFreeUnusedLibraries();
  ASSERT_FALSE(IsLoaded(TEST_COMPONENT_PATH));

  IWidget* widget = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget,
                             reinterpret_cast<void**>(&widget)),
            S_OK);
  EXPECT_TRUE(IsLoaded(TEST_COMPONENT_PATH));
  CoFreeUnusedLibraries();
  ASSERT_TRUE(IsLoaded(TEST_COMPONENT_PATH)) << "unloaded under a live object";
  LONG sum = 0;
  EXPECT_EQ(widget->Add(40, 2, &sum), S_OK);  // its code is still there
  EXPECT_EQ(sum, 42);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  widget->Release();
  CoFreeUnusedLibraries();
  ASSERT_TRUE(IsLoaded(TEST_COMPONENT_PATH)) << "unloaded under a factory reference";
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  CoFreeUnusedLibraries();
  ASSERT_TRUE(IsLoaded(TEST_COMPONENT_PATH)) << "unloaded under a server lock";

  // The lock is released through a fresh factory from the same library.
  ASSERT_EQ(CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(FALSE);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(IsLoaded(TEST_COMPONENT_PATH));

  // And it loads again when needed.
  ASSERT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IWidget,
                             reinterpret_cast<void**>(&widget)),
            S_OK);
  widget->Release();
  // The last CoUninitialize unloads what may go.
  CoUninitialize();
  EXPECT_FALSE(IsLoaded(TEST_COMPONENT_PATH));
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
}

TEST_F(Classes, UnknownNamesGiveWindowsCodes) {
  RegisterTestComponent();
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(u"Comrt\\Test", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"No.Such.Class", &clsid), CO_E_CLASSSTRING);
  const char16_t lone[] = {u'A', 0xD800, 0};
  EXPECT_EQ(CLSIDFromProgID(lone, &clsid), CO_E_CLASSSTRING);

  LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(kUnknownClsid, &progId), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  // A ProgID whose CLSID value is not a GUID.
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Broken.Class\\CLSID", REG_SZ, "{nonsense}", 0),
            ERROR_SUCCESS);
  EXPECT_EQ(CLSIDFromProgID(u"Broken.Class", &clsid), CO_E_CLASSSTRING);
  // A CLSID key without a server.
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, kUnknownKey, REG_SZ, "Name", 0), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            REGDB_E_CLASSNOTREG);
}

TEST_F(Classes, MissingLibraryOrExport) {
  const std::string server = std::string(kUnknownKey) + "\\InprocServer32";
  ASSERT_EQ(
      RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, (dir_ + "/missing.so").c_str(), 0),
      ERROR_SUCCESS);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CO_E_DLLNOTFOUND);
  // A file that is not a library at all.
  WriteAll(dir_ + "/text.so", "not an ELF file");
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, (dir_ + "/text.so").c_str(), 0),
            ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CO_E_DLLNOTFOUND);

  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, PLAIN_MODULE_PATH, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(
      CoGetClassObject(kUnknownClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
      CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
  EXPECT_FALSE(IsLoaded(PLAIN_MODULE_PATH)) << "a library without the export is not kept";

  // The right library for another class: the library refuses the CLSID.
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, server.c_str(), REG_SZ, TEST_COMPONENT_PATH, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClsid, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Classes, DamagedRegistryIsReportedByLookups) {
  RegisterTestComponent();
  const std::string good = ReadAll(path_);
  WriteAll(path_, good.substr(0, good.size() / 2) + "\n[HKEY_CLASSES_ROOT\\");
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"ComrtTest.Widget", &clsid), REGDB_E_READREGDB);
  EXPECT_EQ(CLSIDFromString(u"ComrtTest.Widget", &clsid), REGDB_E_READREGDB);
  LPOLESTR progId = nullptr;
  EXPECT_EQ(ProgIDFromCLSID(CLSID_TestWidget, &progId), REGDB_E_READREGDB);
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            REGDB_E_READREGDB);
}

TEST_F(Classes, InitialisationIsCounted) {
  RegisterTestComponent();
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // second time on this thread
  CoUninitialize();
  CoUninitialize();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  CoUninitialize();  // unbalanced: ignored
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

}  // namespace
