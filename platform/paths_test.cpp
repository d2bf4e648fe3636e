#include "platform/paths.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

namespace fvx::platform {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) saved_ = old;
    if (value) setenv(name, value, 1); else unsetenv(name);
  }
  ~ScopedEnv() {
    if (saved_) setenv(name_, saved_->c_str(), 1); else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(PathsTest, DataHomeFollowsTheEnvironment) {
  {
    ScopedEnv home("FVX_HOME", "/srv/fvx");
    EXPECT_EQ(DataHome(), "/srv/fvx");
  }
  ScopedEnv no_home("FVX_HOME", nullptr);
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/x/data");
    EXPECT_EQ(DataHome(), "/x/data/folivox");
  }
  ScopedEnv no_xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv user("HOME", "/home/ann");
  EXPECT_EQ(DataHome(), "/home/ann/.local/share/folivox");
}

TEST(PathsTest, RegistryPathDefaultsToTheDataHome) {
  ScopedEnv home("FVX_HOME", "/srv/fvx");
  {
    ScopedEnv explicit_path("FVX_REGISTRY", "/elsewhere/r.db");
    EXPECT_EQ(RegistryPath(), "/elsewhere/r.db");
  }
  ScopedEnv none("FVX_REGISTRY", nullptr);
  EXPECT_EQ(RegistryPath(), "/srv/fvx/registry.db");
}

TEST(PathsTest, ProgramDirectoryHoldsThisTest) {
  std::string folder = ProgramDirectory();
  struct stat st;
  ASSERT_EQ(stat(JoinPath(folder, "fvx_platform_tests").c_str(), &st), 0) << folder;
}

TEST(PathsTest, ShareDirectoryCanBeOverridden) {
  ScopedEnv share("FVX_SHARE", "/usr/share/folivox");
  EXPECT_EQ(ShareDirectory(), "/usr/share/folivox");
}

TEST(PathsTest, SeparatorsOfBothKinds) {
  EXPECT_EQ(LastPathSeparator("a/b\\c"), 3u);
  EXPECT_EQ(LastPathSeparator("a\\b/c"), 3u);
  EXPECT_EQ(LastPathSeparator("abc"), std::string_view::npos);
  EXPECT_EQ(JoinPath("a/", "b"), "a/b");
  EXPECT_EQ(JoinPath("a", "b"), "a/b");
  EXPECT_EQ(JoinPath("", "b"), "b");
}

TEST(PathsTest, EnsureDirectoryMakesParents) {
  char pattern[] = "/tmp/fvx_paths_testXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string deep = std::string(pattern) + "/one/two";
  EXPECT_TRUE(EnsureDirectory(deep));
  EXPECT_TRUE(EnsureDirectory(deep)) << "an existing folder is fine";
  rmdir(deep.c_str());
  rmdir((std::string(pattern) + "/one").c_str());
  rmdir(pattern);
}

}  // namespace
}  // namespace fvx::platform
