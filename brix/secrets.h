// Keeping the decryption password and the keys derived from it out of
// sight: the -E argument is overwritten where the process list shows it, and
// a process that holds a password or keys can neither dump core nor be read
// by a debugger of another process.
#ifndef BRIX_SECRETS_H
#define BRIX_SECRETS_H

// Overwrites the text of a command-line argument in place (its length
// stays), once it has been copied.
void hide_argument(char* arg);

// Makes the process not dumpable for the rest of its life: no core file, and
// its memory, environment and descriptors are closed to other processes of
// the same user. Called as soon as a password or a key is held.
void keep_out_of_dumps();

#endif  // BRIX_SECRETS_H
