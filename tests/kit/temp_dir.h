// A scratch directory for one test: created fresh under /tmp, removed with
// everything in it when the owner goes away.
#ifndef KIT_TEMP_DIR_H
#define KIT_TEMP_DIR_H

#include <string>

namespace kit {

class TempDir {
 public:
  TempDir();  // path() is empty when no directory could be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace kit

#endif  // KIT_TEMP_DIR_H
