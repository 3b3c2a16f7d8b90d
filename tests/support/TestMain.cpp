// The tests' entry: no test writes into the user's own data folder, and the
// link's diagnostics stay off unless asked for. Each run has a data home of
// its own, removed at the end, so parallel runs and other users never meet.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  std::string home =
      (std::filesystem::temp_directory_path() / "krvo-test-data-home-XXXXXX").string();
  if (mkdtemp(home.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("KRVO_DEBUG", "0", 0);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return rc;
}
