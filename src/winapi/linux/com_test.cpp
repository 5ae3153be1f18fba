// Tests of the Linux layer's COM runtime: apartments, BSTRs, error info and the class registry.
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "winapi/linux/api.h"
#include "winapi/linux/com_registry.h"

namespace {

namespace fs = std::filesystem;

const CLSID kClass = {0x6B1E3C52, 0x0D4F, 0x4A7B, {0x9E, 0x21, 0x5C, 0x70, 0x3A, 0x88, 0x14, 0xD6}};
const char kClassFile[] = "{6B1E3C52-0D4F-4A7B-9E21-5C703A8814D6}";
constexpr uid_t kNobody = 65534;

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

// What another user could change is never loaded: it would run that user's code as ours.
TEST_F(ComTest, WhatAnotherUserCouldChangeIsNotLoaded) {
  if (geteuid() != 0) GTEST_SKIP() << "files of another user need root";
  const std::string server = root + "/server.so", file = root + "/user/" + kClassFile;
  fs::copy_file(TW_COM_TEST_SERVER, server);
  ASSERT_EQ(ComRegisterInprocServer(TRUE, kClass, nullptr, server.c_str(), nullptr), S_OK);
  const struct {
    const char* what;
    std::string path;
    uid_t owner;
    mode_t mode;
  } kCases[] = {
      {"nobody's registration", file, kNobody, 0644},
      {"a registration for everyone to write", file, 0, 0666},
      {"nobody's server", server, kNobody, 0755},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(0, chown(c.path.c_str(), c.owner, c.owner));
    ASSERT_EQ(0, chmod(c.path.c_str(), c.mode));
    IUnknown* object = nullptr;
    EXPECT_EQ(Create(reinterpret_cast<void**>(&object)), E_ACCESSDENIED);
    ASSERT_EQ(0, chown(c.path.c_str(), 0, 0));
    ASSERT_EQ(0, chmod(c.path.c_str(), 0644));
  }
}

// What a user sees of a file: its bytes, owner, mode and inode, or where it links to.
std::string FileState(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "missing";
  if (S_ISLNK(st.st_mode)) return "link to " + fs::read_symlink(path).string();
  if (!S_ISREG(st.st_mode)) return std::to_string(st.st_mode);
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return text + std::to_string(st.st_uid) + " " + std::to_string(st.st_mode) + " " +
         std::to_string(st.st_ino);
}

// As SafeWrite: no link followed; no other file than a regular one the user may write (by mode).
TEST_F(ComTest, RegistrationsLeaveWhatTheUserMayNotWriteAsItIs) {
  const std::string user = root + "/user/", name = user + kClassFile, victim = root + "/v";
  const struct {
    const char* what;
    std::function<void()> plant;
    bool asNobody;
    HRESULT expected;
  } kCases[] = {
      {"a link", [&] { fs::create_symlink(victim, name); }, false, E_ACCESSDENIED},
      {"a FIFO", [&] { mkfifo(name.c_str(), 0644); }, false,
       HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE)},
      {"a read-only file",
       [&] {
         std::ofstream(name) << "old\n";
         chmod(name.c_str(), 0444);
       },
       false, E_ACCESSDENIED},
      {"root's file in nobody's folder",
       [&] {
         std::ofstream(name) << "old\n";
         chown(user.c_str(), kNobody, kNobody);
       },
       true, E_ACCESSDENIED},
  };
  chmod(root.c_str(), 0755);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    if (c.asNobody && geteuid() != 0) continue;  // another user needs root
    fs::remove_all(user);
    fs::create_directories(user);
    std::ofstream(victim) << "victim\n";
    c.plant();
    const std::string before = FileState(name) + FileState(victim);
    // In a child, which may become nobody; its exit code tells the result.
    const pid_t child = fork();
    if (child == 0) {
      const bool become = !c.asNobody || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                          setuid(kNobody) == 0);
      _exit(become && ComRegisterInprocServer(TRUE, kClass, "Tickwright.Test", missing.c_str(),
                                              nullptr) == c.expected
                ? 0
                : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(0, status) << "not " << c.expected;
    EXPECT_EQ(FileState(name) + FileState(victim), before);
  }
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
