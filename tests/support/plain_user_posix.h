// A plain user, for tests of what root does in folders that others can
// write (POSIX only): the user "nobody".
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_PLAIN_USER_POSIX_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_PLAIN_USER_POSIX_H_

#include <pwd.h>

#include <functional>

// The plain user's entry; null when there is no such user.
const passwd* PlainUser();

// True when the test can act as the plain user: it runs as root and the
// user exists.
bool CanActAsPlainUser();

// Runs `action` as the plain user in a child process; true when it
// succeeded there. False when there is no such user.
bool AsPlainUser(const std::function<bool()>& action);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_PLAIN_USER_POSIX_H_
