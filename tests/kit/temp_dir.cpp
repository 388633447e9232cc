// Scratch directories for tests.
#include "kit/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kit {

TempDir::TempDir() {
  char pattern[] = "/tmp/brix_kit_XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;  // a test's leftovers are not worth failing over
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace kit
