// DllRegisterServer when the registry refuses a write: the classes are
// registered one after another, the first class whose registration fails
// ends the work (the classes after it stay unregistered), and the export
// still answers S_OK. The test puts its own RegSetValueA ahead of the
// runtime's, refusing every key of one class.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <tarnholm/interfaces.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::string g_refused;  // keys that start with this text are refused
}  // namespace

// Found before the runtime's definition (the executable exports it).
extern "C" __attribute__((visibility("default"))) LONG RegSetValueA(HKEY key, LPCSTR subKey,
                                                                    DWORD type, LPCSTR data,
                                                                    DWORD size) {
  using Fn = LONG (*)(HKEY, LPCSTR, DWORD, LPCSTR, DWORD);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "RegSetValueA"));
  if (!g_refused.empty() && subKey != nullptr &&
      std::strncmp(subKey, g_refused.c_str(), g_refused.size()) == 0)
    return ERROR_ACCESS_DENIED;
  return real(key, subKey, type, data, size);
}

namespace {

bool Registered(const std::string& progId) {
  char value[256];
  LONG size = sizeof value;
  return RegQueryValueA(HKEY_CLASSES_ROOT, (progId + "\\CLSID").c_str(), value, &size) ==
         ERROR_SUCCESS;
}

TEST(HolmRegistration, StopsAtTheFirstFailingClassAndStillAnswersOk) {
  char dir[] = "/tmp/holmregfailXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  setenv("COMRT_REGISTRY", (std::string(dir) + "/registry").c_str(), 1);
  void* library = dlopen(HOLM_LIBRARY_PATH, RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  auto regsvr = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
  ASSERT_NE(regsvr, nullptr);

  // Registration order: the table's order. Refusing each class in turn
  // leaves exactly the classes before it registered.
  const std::vector<std::string> order = {"Brenlow.HCBAUDPORT", "Brenlow.HCONLYPORT",
                                          "Brenlow.HCPORTSETTINGS", "Brenlow.PROGRESSER",
                                          "Brenlow.S19SUPPORT"};
  const std::string clear = std::string("rm -rf ") + dir + "/registry";
  for (size_t refused = 0; refused < order.size(); ++refused) {
    ASSERT_EQ(std::system(clear.c_str()), 0);
    g_refused = order[refused];
    EXPECT_EQ(regsvr(), S_OK);
    for (size_t i = 0; i < order.size(); ++i)
      EXPECT_EQ(Registered(order[i]), i < refused)
          << order[i] << " with " << g_refused << " refused";
  }

  // A registry that takes nothing: still S_OK.
  ASSERT_EQ(std::system(clear.c_str()), 0);
  g_refused = "Brenlow.";
  EXPECT_EQ(regsvr(), S_OK);
  EXPECT_FALSE(Registered(order[0]));
  g_refused = "";
  EXPECT_EQ(regsvr(), S_OK);
  for (const std::string& progId : order) EXPECT_TRUE(Registered(progId)) << progId;
  dlclose(library);
  std::string cleanup = std::string("rm -rf ") + dir;
  (void)std::system(cleanup.c_str());
}

}  // namespace
