// Choice of the dump sets in the application-restore child mode.
#include "brix_app_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dump_set.h"

namespace {

const char kFirstFileSuffix[] = ".0";

// The set name: the last component of the path, whole for the two fixed
// names, otherwise its first '.'-separated token. Null when there is none.
const char* set_name_of(char* path) {
  char* slash = strrchr(path, '/');
  if (slash == nullptr) return nullptr;
  char* name = slash + 1;
  if (strcmp(name, APP_CONFIG_SET_NAME) == 0 || strcmp(name, APP_TLOGS_SET_NAME) == 0) return name;
  while (*name == '.') name++;
  char* dot = strchr(name, '.');
  if (dot != nullptr) *dot = '\0';
  return *name != '\0' ? name : nullptr;
}

}  // namespace

bool_t ReadNamedPipe(rpl_Session*) { return B_FALSE; }

bool_t brix_app_dump_files_path(rpl_Session* session) {
  char* path = strdup(session->qtree != nullptr ? session->qtree : "");
  if (path == nullptr) {
    fprintf(stderr, "error in allocating memory\n");
    return B_FALSE;
  }
  const char* name = set_name_of(path);
  bool_t found = name != nullptr ? check_files_in_path(session, name) : B_FALSE;
  free(path);
  return found;
}

bool_t check_files_in_path(rpl_Session* session, const char* file_path) {
  if (session->input_file[0] == nullptr) return B_FALSE;

  char* found[BRIX_MAX_INPUT_FILES] = {nullptr};
  int found_count = 0;
  bool_t ok = B_TRUE;
  for (int i = 0; i < BRIX_MAX_INPUT_FILES && session->input_file[i] != nullptr; i++) {
    char candidate[BRIX_NAME_BUF_SIZE];
    int len = snprintf(candidate, sizeof(candidate), "%s/%s%s", session->input_file[i], file_path,
                       kFirstFileSuffix);
    if (len >= static_cast<int>(sizeof(candidate))) {
      fprintf(stderr, "Dump set path longer than %d characters: %s/%s%s\n", BRIX_NAME_BUF_SIZE - 1,
              session->input_file[i], file_path, kFirstFileSuffix);
      ok = B_FALSE;
      break;
    }
    bool refused = false;
    int fd = open_dump_file(candidate, &refused);
    if (refused) {
      ok = B_FALSE;
      break;
    }
    if (fd < 0) continue;
    close(fd);
    found[found_count] = strndup(candidate, static_cast<size_t>(len) - strlen(kFirstFileSuffix));
    if (found[found_count] == nullptr) {
      fprintf(stderr, "error in allocating memory\n");
      ok = B_FALSE;
      break;
    }
    found_count++;
  }

  for (int i = 0; i < BRIX_MAX_INPUT_FILES; i++) {
    free(session->input_file[i]);
    session->input_file[i] = found[i];  // the found prefixes, in directory order
  }
  return ok;
}
