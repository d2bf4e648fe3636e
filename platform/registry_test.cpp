#include "platform/registry.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

namespace fvx::platform {
namespace {

constexpr auto kMachine = RegistryRoot::kLocalMachine;
constexpr auto kUser = RegistryRoot::kCurrentUser;
constexpr const char* kBase = "Software\\Calderwick Ltd.\\Folivox\\Fvx";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fvx_registry_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    path_ = folder_ + "/sub/registry.db";
  }
  void TearDown() override {
    std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string folder_;
  std::string path_;
};

TEST_F(RegistryTest, ValuesRoundTripAndSurviveReopening) {
  {
    Registry registry(path_);
    ASSERT_TRUE(registry.ok());
    EXPECT_TRUE(registry.WriteString(kMachine, kBase, "LastImportFile", "C:\\books\\atlas.txt"));
    EXPECT_TRUE(registry.WriteDword(kMachine, kBase, "SegmentationSize", 0xDEADBEEF));
    std::string bytes("a\0\xff", 3);
    EXPECT_TRUE(registry.WriteString(kMachine, kBase, "Bytes", bytes));
  }
  Registry registry(path_);
  EXPECT_EQ(registry.ReadString(kMachine, kBase, "LastImportFile"), "C:\\books\\atlas.txt");
  EXPECT_EQ(registry.ReadDword(kMachine, kBase, "SegmentationSize"), 0xDEADBEEFu);
  EXPECT_EQ(registry.ReadString(kMachine, kBase, "Bytes"), std::string("a\0\xff", 3));
}

TEST_F(RegistryTest, NamesIgnoreCaseAndSeparatorsRepeat) {
  Registry registry(path_);
  ASSERT_TRUE(registry.WriteDword(kMachine, kBase, "FirstTime", 1));
  EXPECT_EQ(registry.QueryDword(kMachine, "software\\CALDERWICK LTD.\\folivox\\fvx", "firsttime"),
            1u);
  EXPECT_EQ(registry.QueryDword(kMachine, "\\Software\\\\Calderwick Ltd.\\Folivox\\Fvx\\",
                                "FIRSTTIME"),
            1u);
  ASSERT_TRUE(registry.WriteDword(kMachine, kBase, "FIRSTTIME", 0));
  EXPECT_EQ(registry.ValueNames(kMachine, kBase), std::vector<std::string>{"FirstTime"})
      << "rewriting a value keeps one entry";
}

TEST_F(RegistryTest, RootsAreSeparate) {
  Registry registry(path_);
  ASSERT_TRUE(registry.WriteString(kMachine, kBase, "Where", "machine"));
  EXPECT_FALSE(registry.QueryString(kUser, kBase, "Where").has_value());
  EXPECT_FALSE(registry.KeyExists(kUser, kBase));
}

TEST_F(RegistryTest, MissingValuesReadAsEmptyOrZero) {
  Registry registry(path_);
  EXPECT_EQ(registry.ReadString(kMachine, "No\\Such\\Key", "Value"), "");
  EXPECT_EQ(registry.ReadDword(kMachine, "No\\Such\\Key", "Value"), 0u);
  ASSERT_TRUE(registry.WriteString(kMachine, kBase, "Text", "12"));
  EXPECT_FALSE(registry.QueryDword(kMachine, kBase, "Text").has_value())
      << "a string is not read as a number";
  EXPECT_FALSE(registry.DeleteValue(kMachine, kBase, "Absent"));
}

TEST_F(RegistryTest, EnumerationIsCaseInsensitiveAlphabetical) {
  Registry registry(path_);
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2", "Delta"}) {
    ASSERT_TRUE(registry.CreateKey(kMachine, std::string(kBase) + "\\FileInfo\\" + name));
    ASSERT_TRUE(registry.WriteDword(kMachine, kBase, name, 1));
  }
  std::vector<std::string> expected{"Alpha", "ALPHA2", "beta", "Delta", "gamma"};
  EXPECT_EQ(registry.SubKeys(kMachine, std::string(kBase) + "\\FileInfo"), expected);
  EXPECT_EQ(registry.ValueNames(kMachine, kBase), expected);
}

TEST_F(RegistryTest, DeletingAKeyRemovesItsSubtreeOnly) {
  Registry registry(path_);
  std::string lib = std::string(kBase) + "\\LibInfo";
  ASSERT_TRUE(registry.WriteString(kMachine, lib + "\\Downloads\\KEY1", "Url", "http://a"));
  ASSERT_TRUE(registry.WriteString(kMachine, lib + "\\Local\\KEY2", "Path", "/x"));
  ASSERT_TRUE(registry.WriteString(kMachine, lib, "Keep", "yes"));
  ASSERT_TRUE(registry.WriteString(kMachine, std::string(kBase) + "\\LibInfoOther", "V", "1"));
  EXPECT_TRUE(registry.DeleteKey(kMachine, lib + "\\DOWNLOADS"));
  EXPECT_FALSE(registry.KeyExists(kMachine, lib + "\\Downloads\\KEY1"));
  EXPECT_FALSE(registry.KeyExists(kMachine, lib + "\\Downloads"));
  EXPECT_EQ(registry.ReadString(kMachine, lib + "\\Local\\KEY2", "Path"), "/x");
  EXPECT_EQ(registry.ReadString(kMachine, lib, "Keep"), "yes");
  EXPECT_TRUE(registry.DeleteKey(kMachine, lib));
  EXPECT_EQ(registry.SubKeys(kMachine, kBase), std::vector<std::string>{"LibInfoOther"});
  EXPECT_FALSE(registry.DeleteKey(kMachine, "")) << "a root cannot be deleted";
}

TEST_F(RegistryTest, ThreadsAndProcessesWritingAtOnceLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kThreads = 4;
  constexpr int kValues = 60;
  { Registry create(path_); ASSERT_TRUE(create.ok()); }
  auto write_all = [&](Registry& registry, int process, int thread) {
    for (int i = 0; i < kValues; ++i) {
      std::string key = std::string(kBase) + "\\FileInfo\\P" + std::to_string(process);
      std::string name = "T" + std::to_string(thread) + "_" + std::to_string(i);
      if (!registry.WriteDword(kMachine, key, name, static_cast<uint32_t>(i))) return false;
    }
    return true;
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Registry registry(path_);
      bool ok = registry.ok();
      std::vector<std::thread> threads;
      std::vector<char> results(kThreads, 0);
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] { results[t] = write_all(registry, p, t); });
      }
      for (auto& thread : threads) thread.join();
      for (char result : results) ok = ok && result;
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Registry registry(path_);
  for (int p = 0; p < kProcesses; ++p) {
    std::string key = std::string(kBase) + "\\FileInfo\\P" + std::to_string(p);
    EXPECT_EQ(registry.ValueNames(kMachine, key).size(), size_t{kThreads * kValues});
    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < kValues; ++i) {
        std::string name = "T" + std::to_string(t) + "_" + std::to_string(i);
        ASSERT_EQ(registry.QueryDword(kMachine, key, name), static_cast<uint32_t>(i)) << name;
      }
    }
  }
}

TEST_F(RegistryTest, ALockedDatabaseIsWaitedForWithANoticeAndThenGivenUp) {
  Registry registry(path_);
  ASSERT_TRUE(registry.ok());
  std::vector<std::string> notices;
  registry.SetWaitPolicy(std::chrono::milliseconds(1500),
                         [&](const std::string& message) { notices.push_back(message); });
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(registry.WriteDword(kMachine, kBase, "Blocked", 1));
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].find("Waiting for the settings database"), std::string::npos);
  EXPECT_NE(notices[1].find("Gave up waiting"), std::string::npos);
  EXPECT_NE(notices[1].find(path_), std::string::npos);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_TRUE(registry.WriteDword(kMachine, kBase, "Free", 1));
}

TEST_F(RegistryTest, AnUnopenableDatabaseFailsQuietly) {
  Registry registry("/proc/no/such/place/registry.db");
  EXPECT_FALSE(registry.ok());
  EXPECT_FALSE(registry.WriteDword(kMachine, kBase, "X", 1));
  EXPECT_EQ(registry.ReadDword(kMachine, kBase, "X"), 0u);
  EXPECT_TRUE(registry.SubKeys(kMachine, kBase).empty());
}

}  // namespace
}  // namespace fvx::platform
