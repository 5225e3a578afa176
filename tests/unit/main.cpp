#include "TestSupport.h"

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(TempFile::Folder(), ec);
  return rc;
}
