// Reading the decryption password from the operator, without echo when
// standard input is a terminal.
#ifndef BRIX_GETPASS_H
#define BRIX_GETPASS_H

#include "brix.h"

#define DECRYPTION_PROMPT "Enter the decryption password:"

// Prompts on standard error (when prompt is not null) and reads one line of
// at most 64 characters. Returns a newly allocated 65-byte string the caller
// frees, or null when no memory is available.
char* getpassword(const char* prompt);

// Asks for the password and stores it in encr_passwd.
bool_t get_decryption_password(rpl_Session* session);

#endif  // BRIX_GETPASS_H
