// Tests of the Linux layer's COM runtime: apartments, BSTRs, error info and the class registry.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "winapi/linux/api.h"
#include "winapi/linux/com_registry.h"

namespace {

namespace fs = std::filesystem;

const CLSID kClass = {0x6B1E3C52, 0x0D4F, 0x4A7B, {0x9E, 0x21, 0x5C, 0x70, 0x3A, 0x88, 0x14, 0xD6}};

void OnNewThread(const std::function<void()>& body) { std::thread(body).join(); }

HRESULT Create(void** object) {
  return CoCreateInstance(kClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object);
}

// The description of the thread's error info, which this takes; "" for none.
std::u16string TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) return u"";
  BSTR description = nullptr;
  info->GetDescription(&description);
  std::u16string text(description, SysStringLen(description));
  SysFreeString(description);
  info->Release();
  return text;
}

// Each test gets its own user and system registry folders and COM started.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "com_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    missing = root + "/missing.so";
    SetComRegistryFolder(true, (root + "/user/").c_str());
    SetComRegistryFolder(false, (root + "/system/").c_str());
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    SetComRegistryFolder(true, nullptr);
    SetComRegistryFolder(false, nullptr);
    fs::remove_all(root);
  }

  std::string root, missing;
};

TEST(ComApartmentTest, CountsInitsAndRefusesToChangeMode) {
  OnNewThread([] {
    void* object = nullptr;
    EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();  // the refused call did not count: one init is left
    EXPECT_NE(Create(&object), CO_E_NOTINITIALIZED);
    CoUninitialize();
    EXPECT_EQ(Create(&object), CO_E_NOTINITIALIZED);
  });
}

TEST(ComBstrTest, KeepsByteCountBeforeAndNulAfterTheCharacters) {
  const struct {
    const char16_t* text;
    UINT length;
  } kCases[] = {{u"abc", 3}, {u"a\0b", 3}, {nullptr, 2}};
  for (const auto& c : kCases) {
    BSTR text = SysAllocStringLen(c.text, c.length);
    ASSERT_NE(text, nullptr);
    uint32_t bytes;
    memcpy(&bytes, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(bytes, 2 * c.length);
    EXPECT_EQ(SysStringLen(text), c.length);
    EXPECT_EQ(
        std::u16string(text, c.length + 1),
        (c.text ? std::u16string(c.text, c.length) : std::u16string(c.length, u'\0')) + u'\0');
    SysFreeString(text);
  }
  BSTR upToNul = SysAllocString(u"a\0b");
  EXPECT_EQ(SysStringLen(upToNul), 1u);
  SysFreeString(upToNul);
}

TEST(ComErrorInfoTest, IsHandedOverOncePerThread) {
  ICreateErrorInfo* create = nullptr;
  IErrorInfo* info = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"it broke"));
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(SetErrorInfo(0, info), S_OK);
  OnNewThread([info] {
    IErrorInfo* other = info;
    EXPECT_EQ(GetErrorInfo(0, &other), S_FALSE);
    EXPECT_EQ(other, nullptr);
  });
  EXPECT_EQ(TakeErrorDescription(), u"it broke");
  EXPECT_EQ(TakeErrorDescription(), u"");
  EXPECT_EQ(info->Release(), 0u);  // the thread's reference went with the first take
}

// The user's registration comes before the system's, which serves when it goes.
TEST_F(ComTest, ClassesAreFoundThroughTheRegistry) {
  ASSERT_EQ(ComRegisterInprocServer(FALSE, kClass, "Tickwright.System", missing.c_str(), nullptr),
            S_OK);
  ASSERT_EQ(
      ComRegisterInprocServer(TRUE, kClass, "Tickwright.TestServer", TW_COM_TEST_SERVER, nullptr),
      S_OK);
  CLSID found = GUID_NULL;
  for (const char16_t* progId : {u"tickwright.TESTSERVER", u"Tickwright.System"}) {
    EXPECT_EQ(CLSIDFromProgID(progId, &found), S_OK);
    EXPECT_EQ(found, kClass);
  }
  EXPECT_EQ(CLSIDFromProgID(u"Tickwright.Other", &found), CO_E_CLASSSTRING);

  IUnknown* object = nullptr;
  ASSERT_EQ(Create(reinterpret_cast<void**>(&object)), S_OK);
  object->Release();
  EXPECT_EQ(ComUnregisterInprocServer(TRUE, kClass), S_OK);
  EXPECT_EQ(Create(reinterpret_cast<void**>(&object)), CO_E_DLLNOTFOUND);
  ASSERT_EQ(ComRegisterInprocServer(FALSE, kClass, nullptr, TW_COM_NO_SERVER, nullptr), S_OK);
  EXPECT_EQ(Create(reinterpret_cast<void**>(&object)), CO_E_ERRORINDLL);
  EXPECT_EQ(ComUnregisterInprocServer(FALSE, kClass), S_OK);
  EXPECT_EQ(Create(reinterpret_cast<void**>(&object)), REGDB_E_CLASSNOTREG);
}

TEST(ComRegistryFolderTest, FollowsXdgConfigHomeElseHome) {
  const std::string savedXdg = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  const std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  const struct {
    const char* xdg;  // null: unset
    const char* expected;
  } kCases[] = {
      {"/x/config", "/x/config/tickwright/com/"},
      {nullptr, "/h/.config/tickwright/com/"},
      {"relative", "/h/.config/tickwright/com/"},  // not absolute: ignored
  };
  char folder[256];
  setenv("HOME", "/h", 1);
  for (const auto& c : kCases) {
    c.xdg ? setenv("XDG_CONFIG_HOME", c.xdg, 1) : unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ComRegistryFolder(TRUE, folder, sizeof folder), strlen(c.expected));
    EXPECT_STREQ(folder, c.expected);
  }
  EXPECT_EQ(ComRegistryFolder(FALSE, folder, sizeof folder), strlen("/etc/tickwright/com/"));
  EXPECT_STREQ(folder, "/etc/tickwright/com/");
  savedXdg.empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
  setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
