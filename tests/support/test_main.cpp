#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if !defined(_WIN32)
#include <filesystem>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Death tests re-run the test program; "threadsafe" works on both targets.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#if !defined(_WIN32)
  // Scratch files go to a folder of this run, so that test programs running at the same time
  // (two build trees, say) never share a file name. A re-run for a death test inherits it.
  std::string own;
  if (std::getenv("TEST_TMPDIR") == nullptr) {
    own = std::filesystem::temp_directory_path().string() + "/ludrex-test-" +
          std::to_string(getpid()) + "/";
    std::filesystem::create_directories(own);
    setenv("TEST_TMPDIR", own.c_str(), 1);
  }
#endif
  int rc = RUN_ALL_TESTS();
#if !defined(_WIN32)
  if (!own.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(own, ignored);
  }
#endif
  return rc;
}
