// The three settings objects through their interfaces, with the headless UI
// backend playing the user.
#include "holm/dialogs/port_setup.h"

#include <gtest/gtest.h>
#include <tarnholm/interfaces.h>

#include <string>
#include <utility>
#include <vector>

#include "framework/module.h"
#include "holm/dialogs/dialog_templates.h"
#include "holm/ui/headless.h"

namespace holm::dialogs {
namespace {

using holm::ui::Dialog;
using holm::ui::HeadlessBackend;
using holm::ui::kCannotOpen;
using holm::ui::kIdCancel;
using holm::ui::kIdOk;

BSTR Wide(const std::u16string& s) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
}

std::u16string Text(BSTR s) {
  return s == nullptr ? std::u16string()
                      : std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

std::u16string U16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// One object, held through IPortSetup, released at the end.
class Object {
 public:
  explicit Object(fw::CCmdTarget* (*create)()) {
    fw::CCmdTarget* t = create();
    EXPECT_EQ(t->InternalQueryInterface(IID_IPortSetup, reinterpret_cast<void**>(&setup_)), S_OK);
    t->InternalRelease();
  }
  ~Object() {
    if (setup_ != nullptr) setup_->Release();
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  IPortSetup* operator->() const { return setup_; }
  IPortSetup* get() const { return setup_; }

  // Change on a variable holding text; the text it holds afterwards.
  std::string Change(const std::string& in) {
    BSTR s = Wide(U16(in));
    EXPECT_EQ(setup_->Change(&s), S_OK);
    std::u16string out = Text(s);
    SysFreeString(s);
    return std::string(out.begin(), out.end());
  }

 private:
  IPortSetup* setup_ = nullptr;
};

class PortSetupTest : public ::testing::Test {
 protected:
  PortSetupTest() : use_(ui_) {}

  // The user presses button after looking at the opened dialog.
  void UserPresses(int button) {
    ui_.SetModalUser([button](Dialog&) { return button; });
  }
  // The user selects positions in lists (id, index), checks buttons and presses OK.
  void UserSets(std::vector<std::pair<int, int>> selections, std::vector<int> checks) {
    ui_.SetModalUser([selections, checks](Dialog& d) {
      for (const auto& [id, index] : selections) d.SetSelectedIndex(id, index);
      for (int id : checks) d.SetChecked(id, true);
      return kIdOk;
    });
  }
  const HeadlessBackend::ModalRecord& LastRun() const { return ui_.ModalRuns().back(); }
  // The state of control id when the dialog opened.
  const holm::ui::ControlState& Opened(int id) const {
    for (const auto& c : LastRun().opened)
      if (c.tmpl->id == id) return c;
    ADD_FAILURE() << "no control " << id;
    return LastRun().opened.front();
  }
  std::string OpenedSelection(int id) const {
    const auto& c = Opened(id);
    return c.selected < 0 ? std::string("<none>") : c.items[static_cast<size_t>(c.selected)];
  }
  // Label of the checked button of the group that starts at firstId.
  std::string OpenedCheck(int firstId) const {
    std::string checked;
    bool inGroup = false;
    for (const auto& c : LastRun().opened) {
      if (c.tmpl->id == firstId) inGroup = true;
      if (!inGroup) continue;
      if (c.tmpl->kind != holm::ui::ControlKind::kRadioButton ||
          (c.tmpl->firstOfGroup && c.tmpl->id != firstId))
        break;
      if (c.checked) checked += (checked.empty() ? "" : "+") + c.text;
    }
    return checked.empty() ? "<none>" : checked;
  }
  // The whole opened dialog of HC_PortSettings: port, baud, data, parity, stop.
  std::string OpenedSettings() const {
    return OpenedSelection(IDC_PORT) + " " + OpenedSelection(IDC_BAUD) + " " +
           OpenedCheck(IDC_DATA) + " / " + OpenedCheck(IDC_PARITY) + " / " + OpenedCheck(IDC_STOP);
  }

  HeadlessBackend ui_;
  holm::ui::ScopedBackend use_;
};

// ------------------------------------------------------------- HC_PortSettings

TEST_F(PortSetupTest, EmptyOrMissingStringOpensWithDefaults) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change(""), "device = COM1 baud = 9600 data = 7 parity = no stop = 1");
  EXPECT_EQ(OpenedSettings(), "COM1 9600 7 bit / No / 1 bit");
  EXPECT_EQ(LastRun().templateId, 131);
  EXPECT_EQ(LastRun().caption, "Serial Communication Setup");

  // No string at all reads as empty text and gets a new string back.
  BSTR s = nullptr;
  EXPECT_EQ(obj->Change(&s), S_OK);
  EXPECT_EQ(Text(s), u"device = COM1 baud = 9600 data = 7 parity = no stop = 1");
  SysFreeString(s);
}

TEST_F(PortSetupTest, WorkedExample) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change("device = COM2 baud = 4800 parity = even"),
            "device = COM2 baud = 4800 data = 7 parity = even stop = 1");
  EXPECT_EQ(OpenedSettings(), "COM2 4800 7 bit / Even / 1 bit");
}

TEST_F(PortSetupTest, UsersChoicesAreWrittenByPositionInTheirGroups) {
  Object obj(CreateHC_PortSettings);
  // IDC_ODD is identifier 1007, second of its group.
  UserSets({{IDC_PORT, 7}, {IDC_BAUD, 6}}, {IDC_DATA8, IDC_ODD, IDC_STOP15});
  EXPECT_EQ(obj.Change("device = COM1"),
            "device = COM8 baud = 19200 data = 8 parity = odd stop = 1.5");
  UserSets({}, {IDC_EVEN, IDC_STOP2});  // IDC_EVEN is 1006, third of its group
  EXPECT_EQ(obj.Change("device = COM1 baud = 300 data = 8"),
            "device = COM1 baud = 300 data = 8 parity = even stop = 2");
  // A group without a checked button writes an empty word.
  ui_.SetModalUser([](Dialog& d) {
    d.CheckIndex(IDC_DATA, -1);
    d.CheckIndex(IDC_PARITY, -1);
    d.CheckIndex(IDC_STOP, -1);
    return kIdOk;
  });
  EXPECT_EQ(obj.Change(""), "device = COM1 baud = 9600 data =  parity =  stop = ");
}

TEST_F(PortSetupTest, WordsMatchWithoutRegardToCaseButKeysDoNot) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change("device = com3 baud = 2400 data = 8 parity = ODD stop = 1.5"),
            "device = COM3 baud = 2400 data = 8 parity = odd stop = 1.5");
  EXPECT_EQ(OpenedCheck(IDC_PARITY), "Odd");
  EXPECT_EQ(OpenedCheck(IDC_STOP), "1.5 bit");
  EXPECT_EQ(obj.Change("Parity = odd Stop = 2 DATA = 8 Device = COM4"),
            "device = COM1 baud = 9600 data = 7 parity = no stop = 1");
  EXPECT_EQ(obj.Change("parity = Even stop = 2"),
            "device = COM1 baud = 9600 data = 7 parity = even stop = 2");
  // Other values select the first button of their group.
  EXPECT_EQ(obj.Change("data = 9 parity = mark stop = 1.50"),
            "device = COM1 baud = 9600 data = 7 parity = no stop = 1");
}

TEST_F(PortSetupTest, ListsSelectTheFirstItemBeginningWithTheValue) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change("device = COM baud = 1"),
            "device = COM1 baud = 1200 data = 7 parity = no stop = 1");
  EXPECT_EQ(obj.Change("device = c baud = 19"),
            "device = COM1 baud = 19200 data = 7 parity = no stop = 1");
  // No item begins with the value: no selection, written as empty text.
  EXPECT_EQ(obj.Change("device = COM9 baud = 38400"),
            "device =  baud =  data = 7 parity = no stop = 1");
  EXPECT_EQ(OpenedSelection(IDC_PORT), "<none>");
  EXPECT_EQ(OpenedSelection(IDC_BAUD), "<none>");
  EXPECT_EQ(obj.Change("baud = 38400"), "device = COM1 baud =  data = 7 parity = no stop = 1");
}

TEST_F(PortSetupTest, EqualsWithoutABlankBeforeItStoresNoKey) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change("device=COM3"), "device = COM1 baud = 9600 data = 7 parity = no stop = 1");
  EXPECT_EQ(OpenedSelection(IDC_PORT), "COM1");
  EXPECT_EQ(obj.Change("device =COM3"), "device = COM3 baud = 9600 data = 7 parity = no stop = 1");
  // A quoted device value is read without its quotes.
  EXPECT_EQ(obj.Change("device = \"COM5\""),
            "device = COM5 baud = 9600 data = 7 parity = no stop = 1");
}

TEST_F(PortSetupTest, CancelAndAFailedOpenReturnTheInputUnchanged) {
  const std::vector<std::u16string> inputs = {
      u"",
      u"device = COM2 baud = 4800 parity = even",
      u"garbage=with==no  blanks\t\"",
      u"device = COM1 name = \u00e9\u4e2d\U0001F600",  // beyond any narrow code page
      std::u16string(u"device = COM2\0 tail", 19),
      // A lone surrogate: no code page holds it, the text comes back intact.
      std::u16string(u"device = COM3 x = ") + char16_t(0xD800),
  };
  for (int button : {kIdCancel, kCannotOpen}) {
    for (const auto& in : inputs) {
      for (auto create : {CreateHC_PortSettings, CreateHC_OnlyBaudPort, CreateHC_OnlyPort}) {
        Object obj(create);
        UserPresses(button);
        BSTR s = Wide(in);
        EXPECT_EQ(obj->Change(&s), S_OK);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(Text(s) == in) << "button " << button;
        SysFreeString(s);
      }
    }
  }
  // No string at all comes back as an empty string.
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdCancel);
  BSTR s = nullptr;
  EXPECT_EQ(obj->Change(&s), S_OK);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 0u);
  SysFreeString(s);
}

TEST_F(PortSetupTest, TheDialogRunsInTheLibrarysModuleState) {
  Object obj(CreateHC_OnlyPort);
  fw::ModuleState callers{"caller"};
  fw::MaintainState asCaller(&callers);
  fw::ModuleState* during = nullptr;
  ui_.SetModalUser([&during](Dialog&) {
    during = fw::CurrentModuleState();
    return kIdOk;
  });
  EXPECT_EQ(obj.Change(""), "device = COM1");
  EXPECT_EQ(during, fw::ThisModuleState());
  EXPECT_EQ(fw::CurrentModuleState(), &callers);
}

TEST_F(PortSetupTest, NoVariableIsRefused) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdOk);
  EXPECT_EQ(obj->Change(nullptr), E_POINTER);
  EXPECT_TRUE(ui_.ModalRuns().empty());
}

// ---------------------------------------------------- the two smaller dialogs

TEST_F(PortSetupTest, BaudPortReadsDeviceAndBaud) {
  Object obj(CreateHC_OnlyBaudPort);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change(""), "device = COM1 baud = 300");
  EXPECT_EQ(LastRun().templateId, 135);
  EXPECT_EQ(obj.Change("device = COM6 baud = 19200 data = 8"), "device = COM6 baud = 19200");
  // The port is written from the selected position: none gives COM0.
  EXPECT_EQ(obj.Change("device = /dev/ttyS0 baud = 38400"), "device = COM0 baud = ");
  UserSets({{IDC_PORT, 3}, {IDC_BAUD, 1}}, {});
  EXPECT_EQ(obj.Change("device = COM6"), "device = COM4 baud = 600");
}

TEST_F(PortSetupTest, PortOnlyReadsTheDevice) {
  Object obj(CreateHC_OnlyPort);
  UserPresses(kIdOk);
  EXPECT_EQ(obj.Change(""), "device = COM1");
  EXPECT_EQ(LastRun().templateId, 132);
  EXPECT_EQ(Opened(IDC_PORT).items.size(), 8u);
  EXPECT_EQ(obj.Change("baud = 300 device = com7"), "device = COM7");
  EXPECT_EQ(obj.Change("device = LPT1"), "device = COM0");
  UserSets({{IDC_PORT, -1}}, {});
  EXPECT_EQ(obj.Change("device = COM2"), "device = COM0");
}

// ------------------------------------------------------------- interfaces

TEST_F(PortSetupTest, EachObjectAnswersItsInterfaces) {
  struct Case {
    fw::CCmdTarget* (*create)();
    const IID* diid;
  };
  const Case cases[] = {{CreateHC_OnlyBaudPort, &DIID_IHC_OnlyBaudPort},
                        {CreateHC_OnlyPort, &DIID_IHC_OnlyPort},
                        {CreateHC_PortSettings, &DIID_IHC_PortSettings}};
  const IID* all[] = {&DIID_IHC_OnlyBaudPort, &DIID_IHC_OnlyPort, &DIID_IHC_PortSettings};
  const LONG locksBefore = fw::ModuleLockCount();
  for (const Case& c : cases) {
    Object obj(c.create);
    EXPECT_EQ(fw::ModuleLockCount(), locksBefore + 1);
    IUnknown* unk = nullptr;
    IUnknown* viaDispatch = nullptr;
    IDispatch* disp = nullptr;
    IDispatch* own = nullptr;
    ASSERT_EQ(obj->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
    ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
    ASSERT_EQ(obj->QueryInterface(*c.diid, reinterpret_cast<void**>(&own)), S_OK);
    EXPECT_EQ(own, disp);
    ASSERT_EQ(disp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaDispatch)), S_OK);
    EXPECT_EQ(unk, viaDispatch);  // one identity
    for (const IID* other : all) {
      if (other == c.diid) continue;
      void* p = reinterpret_cast<void*>(1);
      EXPECT_EQ(obj->QueryInterface(*other, &p), E_NOINTERFACE);
      EXPECT_EQ(p, nullptr);
    }
    void* p = nullptr;
    EXPECT_EQ(obj->QueryInterface(IID_IProgressIndicator, &p), E_NOINTERFACE);
    viaDispatch->Release();
    own->Release();
    disp->Release();
    unk->Release();
  }
  EXPECT_EQ(fw::ModuleLockCount(), locksBefore);
}

TEST_F(PortSetupTest, ChangeThroughInvoke) {
  Object obj(CreateHC_PortSettings);
  IDispatch* disp = nullptr;
  ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  OLECHAR name[] = {'c', 'H', 'A', 'N', 'G', 'E', 0};
  LPOLESTR names[] = {name};
  DISPID id = 0;
  ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 1);
  UserPresses(kIdOk);

  // VT_BYREF | VT_BSTR: the caller's string variable.
  BSTR s = Wide(u"device = COM2 baud = 4800 parity = even");
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BYREF | VT_BSTR;
  arg.pbstrVal = &s;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Text(s), u"device = COM2 baud = 4800 data = 7 parity = even stop = 1");

  // VT_BYREF | VT_VARIANT holding a string, as script hosts pass it.
  VARIANT var;
  VariantInit(&var);
  var.vt = VT_BSTR;
  var.bstrVal = Wide(u"device = COM4 data = 8");
  arg.vt = VT_BYREF | VT_VARIANT;
  arg.pvarVal = &var;
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(var.vt, VT_BSTR);
  EXPECT_EQ(Text(var.bstrVal), u"device = COM4 baud = 9600 data = 8 parity = no stop = 1");
  VariantClear(&var);

  // An empty variant is a variable with no string; Cancel gives it "".
  UserPresses(kIdCancel);
  VariantInit(&var);
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(var.vt, VT_BSTR);
  ASSERT_NE(var.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(var.bstrVal), 0u);
  VariantClear(&var);

  // A string by value is no variable to write back to.
  arg.vt = VT_BSTR;
  arg.bstrVal = s;
  EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_TYPEMISMATCH);
  SysFreeString(s);
  disp->Release();
}

// ------------------------------------------------------------- templates

struct ControlRow {
  int id;
  holm::ui::ControlKind kind;
  const char* text;
  int l, t, w, h;
  bool first;
  bool isDefault;
};

void ExpectTemplate(const holm::ui::DialogTemplate& tmpl, int id, int width, int height,
                    const std::vector<ControlRow>& rows) {
  SCOPED_TRACE(id);
  EXPECT_EQ(tmpl.id, id);
  EXPECT_EQ(tmpl.caption, "Serial Communication Setup");
  EXPECT_EQ(tmpl.width, width);
  EXPECT_EQ(tmpl.height, height);
  EXPECT_EQ(tmpl.fontName, "MS Sans Serif");
  EXPECT_EQ(tmpl.fontSize, 8);
  EXPECT_TRUE(tmpl.style & holm::ui::kStyleModalFrame);
  EXPECT_TRUE(tmpl.style & holm::ui::kStyleSystemMenu);
  ASSERT_EQ(tmpl.controls.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& c = tmpl.controls[i];
    const ControlRow& r = rows[i];
    SCOPED_TRACE(r.text);
    EXPECT_EQ(c.id, r.id);
    EXPECT_EQ(c.kind, r.kind);
    EXPECT_EQ(c.text, r.text);
    EXPECT_EQ(c.rect.left, r.l);
    EXPECT_EQ(c.rect.top, r.t);
    EXPECT_EQ(c.rect.width, r.w);
    EXPECT_EQ(c.rect.height, r.h);
    EXPECT_EQ(c.firstOfGroup, r.first);
    EXPECT_EQ(c.defaultButton, r.isDefault);
  }
}

TEST(DialogTemplates, AsTheTablesGiveThem) {
  using K = holm::ui::ControlKind;
  const int S = holm::ui::kStaticId;
  ExpectTemplate(PortSettingsTemplate(), 131, 207, 110,
                 {
                     {S, K::kLabel, "&COM Port:", 7, 9, 37, 8, false, false},
                     {1003, K::kDropDownList, "", 59, 7, 48, 81, false, false},
                     {S, K::kLabel, "&Baud Rate:", 7, 25, 37, 8, false, false},
                     {1004, K::kDropDownList, "", 59, 23, 48, 81, false, false},
                     {S, K::kGroupBox, "&Parity", 7, 48, 50, 54, false, false},
                     {1005, K::kRadioButton, "No", 12, 59, 36, 13, true, false},
                     {1007, K::kRadioButton, "Odd", 12, 72, 36, 13, false, false},
                     {1006, K::kRadioButton, "Even", 12, 85, 36, 13, false, false},
                     {S, K::kGroupBox, "&Data Bits", 73, 48, 50, 54, false, false},
                     {1008, K::kRadioButton, "7 bit", 82, 63, 33, 12, true, false},
                     {1009, K::kRadioButton, "8 bit", 82, 78, 35, 12, false, false},
                     {S, K::kGroupBox, "&Stop Bits", 138, 48, 50, 54, false, false},
                     {1010, K::kRadioButton, "1 bit", 145, 59, 29, 10, true, false},
                     {1011, K::kRadioButton, "1.5 bit", 145, 72, 35, 10, false, false},
                     {1012, K::kRadioButton, "2 bits", 145, 85, 33, 10, false, false},
                     {1, K::kPushButton, "OK", 150, 7, 50, 14, false, true},
                     {2, K::kPushButton, "Cancel", 150, 25, 50, 14, false, false},
                 });
  ExpectTemplate(BaudPortTemplate(), 135, 177, 47,
                 {
                     {1, K::kPushButton, "OK", 120, 7, 50, 14, false, true},
                     {2, K::kPushButton, "Cancel", 120, 24, 50, 14, false, false},
                     {S, K::kLabel, "&COM Port:", 8, 9, 37, 8, false, false},
                     {1003, K::kDropDownList, "", 55, 7, 48, 81, false, false},
                     {S, K::kLabel, "&Baud Rate:", 8, 25, 37, 8, false, false},
                     {1004, K::kDropDownList, "", 55, 23, 48, 81, false, false},
                 });
  ExpectTemplate(PortOnlyTemplate(), 132, 177, 47,
                 {
                     {S, K::kLabel, "&COM Port:", 14, 16, 37, 8, false, false},
                     {1003, K::kDropDownList, "", 56, 14, 48, 81, false, false},
                     {1, K::kPushButton, "OK", 120, 7, 50, 14, false, true},
                     {2, K::kPushButton, "Cancel", 120, 25, 50, 14, false, false},
                 });
}

TEST_F(PortSetupTest, ListsAreFilledInOrderAndGroupsCountByPosition) {
  Object obj(CreateHC_PortSettings);
  UserPresses(kIdCancel);
  obj.Change("");
  EXPECT_EQ(Opened(IDC_PORT).items, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4",
                                                              "COM5", "COM6", "COM7", "COM8"}));
  EXPECT_EQ(Opened(IDC_BAUD).items,
            (std::vector<std::string>{"300", "600", "1200", "2400", "4800", "9600", "19200"}));
  Dialog d(PortSettingsTemplate());
  EXPECT_EQ(d.Group(IDC_EVEN), (std::vector<int>{1005, 1007, 1006}));
  EXPECT_EQ(d.Group(IDC_DATA8), (std::vector<int>{1008, 1009}));
  EXPECT_EQ(d.Group(IDC_STOP), (std::vector<int>{1010, 1011, 1012}));
}

}  // namespace
}  // namespace holm::dialogs
