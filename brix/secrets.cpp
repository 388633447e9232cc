// Hiding the password argument and making the process not dumpable.
#include "secrets.h"

#include <sys/prctl.h>

#include <cstring>

#include "wipe.h"

void hide_argument(char* arg) { wipe_secret(arg, strlen(arg)); }

void keep_out_of_dumps() { prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }
