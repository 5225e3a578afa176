#include "TestSupport.h"

#include <cstdlib>

int main(int argc, char **argv) {
  // A child that a test kills mid-write (Windows: started as this program).
  if (const char *kill = std::getenv("TLP_KILL_CHILD")) {
    const std::string spec = kill;
    const size_t a = spec.find('|'), b = spec.rfind('|');
    return KillChild(spec.substr(0, a), spec.substr(a + 1, b - a - 1), spec.substr(b + 1));
  }
  ::testing::InitGoogleTest(&argc, argv);
#if !defined(_WIN32)
  // The settings store lives under the user's config folder: keep the tests'
  // own store in their temporary folder, never in the user's.
  setenv("XDG_CONFIG_HOME", (TempFile::Folder() + "/config").c_str(), 1);
#endif
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(TempFile::Folder(), ec);
  return rc;
}
