// The object base, class factories, exports and dispatch-by-position of the
// framework, through the interfaces a client sees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "framework/class_factory.h"
#include "framework/cmd_target.h"
#include "framework/dispatch.h"
#include "framework/module.h"

namespace {

const IID IID_ICounter = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const IID IID_IOther = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
const CLSID CLSID_Counter = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {1, 1, 1, 1, 1, 1, 1, 1}};
const CLSID CLSID_Unknown = {0xAAAAAAAA, 0xBBBB, 0xCCCC, {2, 2, 2, 2, 2, 2, 2, 2}};

struct ICounter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Add(LONG n) = 0;
  virtual HRESULT STDMETHODCALLTYPE Get(LONG* n) = 0;
};

int g_destroyed = 0;

class Counter : public fw::CCmdTarget, public ICounter, public IDispatch {
 public:
  FW_IUNKNOWN_IMPL()
  FW_IDISPATCH_IMPL(kDispatch)

  ~Counter() override { ++g_destroyed; }
  HRESULT STDMETHODCALLTYPE Add(LONG n) override {
    value += n;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Get(LONG* n) override {
    *n = value;
    return S_OK;
  }

  LONG value = 0;
  std::u16string lastText;

  static const fw::DispatchTable kDispatch;

 protected:
  IUnknown* GetInterface(REFIID iid) override {
    if (IsEqualIID(iid, IID_ICounter)) return static_cast<ICounter*>(this);
    if (IsEqualIID(iid, IID_IDispatch)) return static_cast<IDispatch*>(this);
    return nullptr;
  }
  IUnknown* GetPrimaryUnknown() override { return static_cast<ICounter*>(this); }
};

const VARTYPE kAddParams[] = {VT_I4, VT_I4};
const VARTYPE kTextParams[] = {VT_BSTR};
const VARTYPE kRefParams[] = {VT_BSTR | VT_BYREF};
const fw::DispMethod kMethods[] = {
    {"AddTwo", kAddParams, 2,
     [](void* self, const fw::DispArgs& a) -> HRESULT {
       // Keeps the order visible: value = value * 1000 + first * 10 + second.
       auto* c = static_cast<Counter*>(self);
       c->value = c->value * 1000 + a.I4(0) * 10 + a.I4(1);
       return S_OK;
     }},
    {"SetText", kTextParams, 1,
     [](void* self, const fw::DispArgs& a) -> HRESULT {
       BSTR s = a.Bstr(0);
       static_cast<Counter*>(self)->lastText.assign(s, s + SysStringLen(s));
       return S_OK;
     }},
    {"Rewrite", kRefParams, 1,
     [](void*, const fw::DispArgs& a) -> HRESULT {
       BSTR* var = a.BstrRef(0);
       SysFreeString(*var);
       *var = SysAllocString(u"rewritten");
       return S_OK;
     }},
    {"Fail", nullptr, 0, [](void*, const fw::DispArgs&) -> HRESULT { throw 42; }},
};
const fw::DispatchTable Counter::kDispatch(kMethods, 4);

fw::CCmdTarget* CreateCounter() {
  return new Counter;
}

class TestApp : public fw::CWinApp {
 public:
  BOOL InitInstance() override {
    fw::ClassFactory::RegisterAll();
    return TRUE;
  }
};
TestApp theApp;
fw::ClassFactory counterFactory(CLSID_Counter, "Test.COUNTER", &CreateCounter);

ICounter* NewCounter() {
  void* p = nullptr;
  IClassFactory* factory = nullptr;
  EXPECT_EQ(fw::DllGetClassObjectImpl(CLSID_Counter, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ICounter, &p), S_OK);
  factory->Release();
  return static_cast<ICounter*>(p);
}

TEST(ObjectBase, QueryInterfaceAnswersTheMapAndOneIdentity) {
  g_destroyed = 0;
  ICounter* counter = NewCounter();
  ASSERT_NE(counter, nullptr);
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  IDispatch* disp = nullptr;
  ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
  ASSERT_EQ(counter->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  ASSERT_EQ(disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
  EXPECT_EQ(a, b);  // IUnknown is the same pointer whichever interface is asked
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(counter->QueryInterface(IID_IOther, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(counter->QueryInterface(IID_ICounter, nullptr), E_POINTER);
  a->Release();
  b->Release();
  disp->Release();
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(counter->Release(), 0u);
  EXPECT_EQ(g_destroyed, 1);
}

TEST(ObjectBase, ObjectsAndServerLocksKeepTheModuleLoaded) {
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_OK);
  ICounter* counter = NewCounter();
  EXPECT_EQ(fw::ModuleLockCount(), 1);
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_FALSE);
  counter->Release();
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(fw::DllGetClassObjectImpl(CLSID_Counter, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_FALSE);  // the factory is referenced from outside
  factory->LockServer(TRUE);
  EXPECT_EQ(fw::ModuleLockCount(), 1);
  factory->Release();
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_FALSE);  // the server lock
  factory->LockServer(FALSE);
  EXPECT_EQ(fw::DllCanUnloadNowImpl(), S_OK);
}

TEST(ClassFactory, RejectsUnknownClassesAggregationAndInterfaces) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(fw::DllGetClassObjectImpl(CLSID_Unknown, IID_IClassFactory, &p),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(fw::DllGetClassObjectImpl(CLSID_Counter, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
            S_OK);
  g_destroyed = 0;
  EXPECT_EQ(factory->CreateInstance(factory, IID_ICounter, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOther, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(g_destroyed, 1);  // the object whose query failed is freed again
  EXPECT_EQ(fw::ModuleLockCount(), 0);
  factory->Release();
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/fwregXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    setenv("COMRT_REGISTRY", (dir_ + "/registry").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("COMRT_REGISTRY");
    std::string cmd = "rm -rf " + dir_;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static std::string Query(const char* key) {
    char value[512];
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key, value, &size) != ERROR_SUCCESS) return "<missing>";
    return value;
  }
  std::string dir_;
};

TEST_F(Registration, WritesTheFiveKeysOfEachClass) {
  EXPECT_EQ(fw::DllRegisterServerImpl(), S_OK);
  const char* clsid = "{AAAAAAAA-BBBB-CCCC-0101-010101010101}";
  EXPECT_EQ(Query("Test.COUNTER"), "Test.COUNTER");
  EXPECT_EQ(Query("Test.COUNTER\\CLSID"), clsid);
  EXPECT_EQ(Query((std::string("CLSID\\") + clsid).c_str()), "Test.COUNTER");
  EXPECT_EQ(Query((std::string("CLSID\\") + clsid + "\\ProgID").c_str()), "Test.COUNTER");
  std::string server = Query((std::string("CLSID\\") + clsid + "\\InProcServer32").c_str());
  EXPECT_EQ(server, fw::ModulePath());
  EXPECT_EQ(server.front(), '/');
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    counter_ = NewCounter();
    ASSERT_EQ(counter_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp_)), S_OK);
  }
  void TearDown() override {
    disp_->Release();
    counter_->Release();
  }
  DISPID Id(const char16_t* name) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(disp_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return id;
  }
  HRESULT Call(DISPID id, VARIANT* args, UINT count, UINT* argErr = nullptr) {
    DISPPARAMS params{args, nullptr, count, 0};
    return disp_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, argErr);
  }
  ICounter* counter_ = nullptr;
  IDispatch* disp_ = nullptr;
};

TEST_F(Dispatch, IdentifiersArePositionsAndNamesIgnoreCase) {
  EXPECT_EQ(Id(u"AddTwo"), 1);
  EXPECT_EQ(Id(u"settext"), 2);
  EXPECT_EQ(Id(u"REWRITE"), 3);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"AddTw")};
  EXPECT_EQ(disp_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  UINT count = 9;
  EXPECT_EQ(disp_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(Dispatch, ArgumentsArriveLastFirstAndAreCoerced) {
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[1].vt = VT_I4;  // first parameter
  args[1].lVal = 7;
  args[0].vt = VT_BSTR;  // second parameter, as text
  args[0].bstrVal = SysAllocString(u"3");
  ASSERT_EQ(Call(1, args, 2), S_OK);
  LONG value = 0;
  counter_->Get(&value);
  EXPECT_EQ(value, 73);
  VariantClear(&args[0]);

  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(u"not a number");
  UINT argErr = 99;
  EXPECT_EQ(Call(1, args, 2, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  VariantClear(&args[0]);
  EXPECT_EQ(Call(1, args, 1), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(9, args, 2), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(0, args, 2), DISP_E_MEMBERNOTFOUND);
}

TEST_F(Dispatch, StringsByValueAndByReference) {
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 1234;
  ASSERT_EQ(Call(2, &arg, 1), S_OK);  // a number converts to its text
  EXPECT_EQ(static_cast<Counter*>(counter_)->lastText, u"1234");

  BSTR var = SysAllocString(u"before");
  arg.vt = VT_BYREF | VT_BSTR;
  arg.pbstrVal = &var;
  ASSERT_EQ(Call(3, &arg, 1), S_OK);
  EXPECT_EQ(std::u16string(var), u"rewritten");
  SysFreeString(var);

  VARIANT inner;
  VariantInit(&inner);  // an empty variant becomes a string
  arg.vt = VT_BYREF | VT_VARIANT;
  arg.pvarVal = &inner;
  ASSERT_EQ(Call(3, &arg, 1), S_OK);
  EXPECT_EQ(inner.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(inner.bstrVal), u"rewritten");
  VariantClear(&inner);

  inner.vt = VT_I4;  // a variant holding a number is no string variable
  inner.lVal = 5;
  EXPECT_EQ(Call(3, &arg, 1), DISP_E_TYPEMISMATCH);
  arg.vt = VT_BSTR;
  arg.bstrVal = nullptr;
  EXPECT_EQ(Call(3, &arg, 1), DISP_E_TYPEMISMATCH);
}

TEST_F(Dispatch, NamedArgumentsAndExceptionsAreRefused) {
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 1;
  DISPID named = 0;
  DISPPARAMS params{&arg, &named, 1, 1};
  EXPECT_EQ(disp_->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  EXCEPINFO info{};
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(disp_->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_FAIL);
}

}  // namespace
