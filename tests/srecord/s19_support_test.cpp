// The S19Support object through its interfaces: error state, string
// ownership, the failure codes and texts.
#include "holm/srecord/s19_support.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "framework/module.h"
#include "test_util.h"

namespace {

using srtest::DataFile;
using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteAll;

BSTR Wide(const std::string& utf8) {
  if (utf8.empty()) return SysAllocStringLen(nullptr, 0);
  int n = MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(n));
  MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()), s, n);
  return s;
}

std::string Narrow(BSTR s) {
  if (!s || SysStringLen(s) == 0) return {};
  int len = static_cast<int>(SysStringLen(s));
  int n = WideCharToMultiByte(CP_ACP, 0, s, len, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, s, len, out.data(), n, nullptr, nullptr);
  return out;
}

class S19SupportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::CCmdTarget* object = CreateS19Support();
    file_ = dynamic_cast<IS19File*>(object);
    ASSERT_NE(file_, nullptr);
    ASSERT_EQ(file_->QueryInterface(IID_IS19FileEx, reinterpret_cast<void**>(&fileEx_)), S_OK);
    ASSERT_EQ(file_->QueryInterface(IID_IS19Error, reinterpret_cast<void**>(&error_)), S_OK);
  }
  void TearDown() override {
    if (error_) error_->Release();
    if (fileEx_) fileEx_->Release();
    if (file_) file_->Release();
  }
  LONG Code() {
    LONG code = -1;
    EXPECT_EQ(error_->GetErrorCode(&code), S_OK);
    return code;
  }
  std::string Text() {
    const char* text = nullptr;
    EXPECT_EQ(error_->GetErrorText(&text), S_OK);
    return text ? text : "(null)";
  }

  IS19File* file_ = nullptr;
  IS19FileEx* fileEx_ = nullptr;
  IS19Error* error_ = nullptr;
  ScratchDir dir_;
};

TEST_F(S19SupportTest, NewObjectHasNoErrorAndAnswersItsInterfaces) {
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Text(), "No error");
  for (const IID* iid :
       {&IID_IUnknown, &IID_IDispatch, &IID_IS19File, &IID_IS19FileEx, &IID_IS19Error}) {
    IUnknown* p = nullptr;
    ASSERT_EQ(fileEx_->QueryInterface(*iid, reinterpret_cast<void**>(&p)), S_OK);
    p->Release();
  }
  IUnknown* a = nullptr;
  IUnknown* b = nullptr;
  error_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
  fileEx_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
  EXPECT_EQ(a, b);  // one identity
  a->Release();
  b->Release();
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(file_->QueryInterface(IID_IProgressIndicator, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  // The dispatch map is empty.
  IDispatch* dispatch = nullptr;
  ASSERT_EQ(file_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  OLECHAR name[] = u"WriteImageFile";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_NE(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  dispatch->Release();
}

TEST_F(S19SupportTest, ObjectHoldsTheModuleWhileItLives) {
  LONG before = fw::ModuleLockCount();
  fw::CCmdTarget* object = CreateS19Support();
  EXPECT_EQ(fw::ModuleLockCount(), before + 1);
  dynamic_cast<IS19Error*>(object)->Release();
  EXPECT_EQ(fw::ModuleLockCount(), before);
}

TEST_F(S19SupportTest, WriteAndReadBackWithTextOwnership) {
  const std::string name = dir_.File("päger.s19");
  std::vector<BYTE> data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 3);
  BYTE header[] = {'H', 'i'};
  // The object releases both strings.
  ASSERT_EQ(file_->WriteImageFile(Wide(name), Wide("Grüße\nzweite Zeile"), 0x4000, header, 2,
                                  data.data(), 40),
            S_OK);
  EXPECT_EQ(ReadAll(name).substr(0, 29), "Grüße\nzweite Zeile\nS0034869");

  BSTR text = Wide("old value");  // released and replaced by the reader
  std::vector<BYTE> back(40);
  BYTE h[4] = {};
  ASSERT_EQ(file_->ReadImageFile(Wide(name), &text, 0x4000, h, 4, back.data(), 40), S_OK);
  EXPECT_EQ(Narrow(text), "Grüße\nzweite Zeile\n");
  EXPECT_EQ(back, data);
  SysFreeString(text);

  BSTR exText = Wide("to be replaced");
  std::vector<BYTE> exData(40);
  BYTE exHeader[2] = {};
  S19ImageDesc desc{&exText, 0x4000, exHeader, 2, exData.data(), 40};
  S19FileInfo info{};
  ASSERT_EQ(fileEx_->ReadImageFileEx(Wide(name), &desc, &info), S_OK);
  EXPECT_EQ(Narrow(exText), "Grüße\nzweite Zeile\n");
  EXPECT_EQ(exData, data);
  EXPECT_EQ(exHeader[0], 'H');
  EXPECT_EQ(exHeader[1], 'i');
  EXPECT_EQ(info.HasHeader, 1);
  EXPECT_EQ(info.HasData, 1);
  EXPECT_EQ(info.EndGood, 1);
  SysFreeString(exText);
  EXPECT_EQ(Code(), 0);
}

TEST_F(S19SupportTest, WriteExEmptiesTheTextVariable) {
  BSTR text = Wide("note");
  BYTE data[] = {1, 2, 3};
  S19ImageDesc desc{&text, 0x1000, nullptr, 0, data, 3};
  S19FileInfo options{};
  options.HasData = 1;
  options.HasEnd = 1;
  const std::string name = dir_.File("ex.s19");
  ASSERT_EQ(fileEx_->WriteImageFileEx(Wide(name), &desc, &options), S_OK);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(ReadAll(name), "note\nS1061000010203E3\nS9030000FC");
}

TEST_F(S19SupportTest, DamagedFileThenSuccessResetsTheError) {
  const std::string name = dir_.File("bad.s19");
  WriteAll(name, "text only\n");
  BSTR text = Wide("untouched");
  BSTR keep = text;
  BYTE data[4] = {};
  EXPECT_EQ(file_->ReadImageFile(Wide(name), &text, 0, nullptr, 0, data, 4), S19_E_DAMAGED);
  EXPECT_EQ(Code(), S19_E_DAMAGED);
  EXPECT_EQ(Text(), "File damaged");
  // No S0 line: the caller's variable is left as it was.
  EXPECT_EQ(text, keep);
  EXPECT_EQ(Narrow(text), "untouched");

  EXPECT_EQ(file_->WriteImageFile(Wide(name), nullptr, 0, nullptr, 0, data, 4), S_OK);
  EXPECT_EQ(Code(), 0);
  EXPECT_EQ(Text(), "No error");

  // Damage after the S0 line: the text is already stored.
  WriteAll(name, "t\nS001FE\nS1061000010203E4\nS9030000FC");
  EXPECT_EQ(file_->ReadImageFile(Wide(name), &text, 0x1000, nullptr, 0, data, 4), S19_E_DAMAGED);
  EXPECT_EQ(Narrow(text), "t\n");
  SysFreeString(text);

  // The tolerant reader never fails on contents.
  S19ImageDesc desc{&text, 0x2000, nullptr, 0, data, 4};
  text = nullptr;
  S19FileInfo info{};
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(DataFile("mixed.s19")), &desc, &info), S_OK);
  EXPECT_EQ(info.ChecksumErrors, 1);
  EXPECT_EQ(info.FormatErrors, 2);
  EXPECT_EQ(Text(), "No error");
  SysFreeString(text);
}

TEST_F(S19SupportTest, FileFailuresGiveTheFileCode) {
  BYTE data[4] = {};
  EXPECT_EQ(file_->WriteImageFile(Wide(dir_.File("no/such/folder.s19")), Wide("x"), 0, nullptr, 0,
                                  data, 4),
            S19_E_FILE);
  EXPECT_EQ(Code(), S19_E_FILE);
  EXPECT_EQ(Text(), "Can not work with file. Unspecified error");

  S19ImageDesc desc{nullptr, 0, nullptr, 0, data, 4};
  S19FileInfo options{};
  options.HasEnd = 1;
  EXPECT_EQ(fileEx_->WriteImageFileEx(Wide(dir_.File("no/x.s19")), &desc, &options), S19_E_FILE);
  EXPECT_EQ(fileEx_->WriteImageFileEx(nullptr, &desc, &options), S19_E_FILE);

  BSTR text = nullptr;
  EXPECT_EQ(file_->ReadImageFile(Wide(dir_.File("missing.s19")), &text, 0, nullptr, 0, data, 4),
            S19_E_FILE);
  EXPECT_EQ(text, nullptr);
  desc.Text = &text;
  S19FileInfo info{};
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(dir_.File("missing.s19")), &desc, &info), S19_E_FILE);
  EXPECT_EQ(Text(), "Can not work with file. Unspecified error");

  // An existing image survives a failed write over it.
  const std::string name = dir_.File("keep.s19");
  WriteAll(name, "previous");
  EXPECT_EQ(file_->WriteImageFile(Wide(name), nullptr, 0, nullptr, 0, nullptr, 16), E_POINTER);
  EXPECT_EQ(ReadAll(name), "previous");
}

TEST_F(S19SupportTest, NullArgumentsAreRefused) {
  BYTE data[4] = {};
  S19ImageDesc desc{nullptr, 0, nullptr, 0, data, 4};
  S19FileInfo info{};
  const std::string name = dir_.File("n.s19");
  EXPECT_EQ(file_->ReadImageFile(Wide(name), nullptr, 0, nullptr, 0, data, 4), E_POINTER);
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(name), nullptr, &info), E_POINTER);
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(name), &desc, &info), E_POINTER);  // no text variable
  EXPECT_EQ(fileEx_->WriteImageFileEx(Wide(name), &desc, nullptr), E_POINTER);
  EXPECT_EQ(Code(), E_POINTER);
  EXPECT_EQ(error_->GetErrorCode(nullptr), E_POINTER);
  EXPECT_EQ(error_->GetErrorText(nullptr), E_POINTER);
}

// One byte the code page does not define costs that byte only.
TEST_F(S19SupportTest, InvalidBytesAloneAreReplacedInTheText) {
  const std::string name = dir_.File("mixed.s19");
  WriteAll(name, "Grüße \xFF Ende\nzweite Zeile ü\xC3\nS001FE\nS9030000FC");
  BSTR text = nullptr;
  ASSERT_EQ(file_->ReadImageFile(Wide(name), &text, 0, nullptr, 0, nullptr, 0), S_OK);
  EXPECT_EQ(Narrow(text), "Grüße \uFFFD Ende\nzweite Zeile ü\uFFFD\n");
  SysFreeString(text);
  text = nullptr;
  S19ImageDesc desc{&text, 0, nullptr, 0, nullptr, 0};
  S19FileInfo info{};
  ASSERT_EQ(fileEx_->ReadImageFileEx(Wide(name), &desc, &info), S_OK);
  EXPECT_EQ(Narrow(text), "Grüße \uFFFD Ende\nzweite Zeile ü\uFFFD\n");
  SysFreeString(text);
}

// The report is cleared once the file is open, not before.
TEST_F(S19SupportTest, ReportStaysAsItWasWhenTheFileCannotBeOpened) {
  BSTR text = nullptr;
  S19ImageDesc desc{&text, 0, nullptr, 0, nullptr, 0};
  S19FileInfo info;
  std::memset(&info, 0x07, sizeof info);
  S19FileInfo before = info;
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(dir_.File("missing.s19")), &desc, &info), S19_E_FILE);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
  EXPECT_EQ(text, nullptr);
  const std::string name = dir_.File("text.s19");
  WriteAll(name, "only text\n");
  EXPECT_EQ(fileEx_->ReadImageFileEx(Wide(name), &desc, &info), S_OK);
  S19FileInfo zero{};
  EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
  SysFreeString(text);
}

// The writer takes the text on every path, failures before the file
// included: the caller's variable is always left empty.
TEST_F(S19SupportTest, WriteExTakesTheTextAlsoWhenItFails) {
  BSTR text = Wide("note");
  S19ImageDesc desc{&text, 0, nullptr, 0, nullptr, 0};
  EXPECT_EQ(fileEx_->WriteImageFileEx(Wide(dir_.File("a.s19")), &desc, nullptr), E_POINTER);
  EXPECT_EQ(text, nullptr);
  text = Wide("note");
  S19FileInfo options{};
  BSTR badName = SysAllocStringLen(u"a\0b", 3);  // a name with a NUL names another file
  EXPECT_EQ(fileEx_->WriteImageFileEx(badName, &desc, &options), S19_E_FILE);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(dir_.Count(), 0u);
}

// A name with a lone surrogate has no exact narrow form, even under a
// UTF-8 code page: it is a file failure, and no file with a look-alike
// name appears. The reader refuses it the same way.
TEST_F(S19SupportTest, NameWithALoneSurrogateIsRefused) {
  const std::string name = dir_.File("x.s19");
  std::u16string wide(name.begin(), name.end());
  wide.insert(wide.size() - 4, 1, static_cast<char16_t>(0xD800));
  auto bad = [&] { return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())); };
  EXPECT_EQ(file_->WriteImageFile(bad(), nullptr, 0, nullptr, 0, nullptr, 0), S19_E_FILE);
  EXPECT_EQ(dir_.Count(), 0u);
  BSTR text = nullptr;
  EXPECT_EQ(file_->ReadImageFile(bad(), &text, 0, nullptr, 0, nullptr, 0), S19_E_FILE);
  EXPECT_EQ(text, nullptr);
}

// GetErrorText hands out the library's own text, the same pointer each time.
TEST_F(S19SupportTest, ErrorTextIsTheSameStaticTextEachTime) {
  const char* first = nullptr;
  const char* second = nullptr;
  BYTE data[1] = {};
  for (const char** out : {&first, &second}) {
    EXPECT_EQ(file_->WriteImageFile(Wide(dir_.File("no/x.s19")), nullptr, 0, nullptr, 0, data, 1),
              S19_E_FILE);
    EXPECT_EQ(error_->GetErrorText(out), S_OK);
  }
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, holm::kS19TextFile);  // its text; the pointer is the library's own
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
#define S19_MEMORY_TEST 1
#elif defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define S19_MEMORY_TEST 1
#endif
#endif

#ifdef S19_MEMORY_TEST
// Runs job in a child whose address space may grow by only 16 MiB and
// returns the child's exit code.
template <class Job>
int WithLittleMemory(Job job) {
  pid_t child = fork();
  if (child == 0) {
    long pages = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f || std::fscanf(f, "%ld", &pages) != 1) _exit(3);
    std::fclose(f);
    rlim_t limit =
        static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (16u << 20);
    struct rlimit r {
      limit, limit
    };
    if (setrlimit(RLIMIT_AS, &r) != 0) _exit(4);
    _exit(job());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(S19SupportTest, MemoryExhaustedHasDifferentTextsForReadAndWrite) {
  // One text line of 64 MiB cannot be collected within 16 MiB.
  const std::string name = dir_.File("huge.s19");
  {
    std::string line(64u << 20, 'x');
    WriteAll(name, line + "\nS001FE\nS9030000FC");
  }
  int read = WithLittleMemory([&] {
    BSTR text = nullptr;
    HRESULT hr = file_->ReadImageFile(Wide(name), &text, 0, nullptr, 0, nullptr, 0);
    return hr == E_OUTOFMEMORY && Code() == E_OUTOFMEMORY && Text() == "To little memory" ? 0 : 1;
  });
  EXPECT_EQ(read, 0);
  int readEx = WithLittleMemory([&] {
    BSTR text = nullptr;
    S19ImageDesc desc{&text, 0, nullptr, 0, nullptr, 0};
    S19FileInfo info{};
    HRESULT hr = fileEx_->ReadImageFileEx(Wide(name), &desc, &info);
    return hr == E_OUTOFMEMORY && Text() == "To little memory" ? 0 : 1;
  });
  EXPECT_EQ(readEx, 0);
  // A text of 32 Mi characters cannot be converted within 16 MiB.
  BSTR big = SysAllocStringLen(nullptr, 32u << 20);
  for (UINT i = 0; i < (32u << 20); ++i) big[i] = u'y';
  int write = WithLittleMemory([&] {
    HRESULT hr = file_->WriteImageFile(Wide(dir_.File("w.s19")), big, 0, nullptr, 0, nullptr, 0);
    return hr == E_OUTOFMEMORY && Text() == "Not enough memory" ? 0 : 1;
  });
  EXPECT_EQ(write, 0);
  SysFreeString(big);
  EXPECT_EQ(dir_.Count(), 1u);  // nothing written by the failed writer
}
#endif

}  // namespace

int main(int argc, char** argv) {
  // The system code page of the runtime is the locale's character set.
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
