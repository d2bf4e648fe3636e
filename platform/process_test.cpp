#include "platform/process.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace fvx::platform {
namespace {

TEST(ProcessTest, StartsAProgramDetached) {
  char pattern[] = "/tmp/fvx_process_testXXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string marker = std::string(pattern) + "/started";
  ASSERT_TRUE(StartDetached("/bin/sh", {"-c", "echo ok > '" + marker + "'"}));
  struct stat st;
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    seen = stat(marker.c_str(), &st) == 0 && st.st_size > 0;
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  unlink(marker.c_str());
  rmdir(pattern);
}

TEST(ProcessTest, AMissingProgramIsReported) {
  EXPECT_FALSE(StartDetached("/nonexistent/program", {}));
}

}  // namespace
}  // namespace fvx::platform
