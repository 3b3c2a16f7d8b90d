// The tests' entry: no test writes into the user's own data folder, and the
// link's diagnostics stay off unless asked for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  const auto home = std::filesystem::temp_directory_path() / "krvo-test-data-home";
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  setenv("KRVO_DEBUG", "0", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
