#include "support/plain_user_posix.h"

#include <sys/wait.h>
#include <unistd.h>

const passwd* PlainUser() { return ::getpwnam("nobody"); }

bool CanActAsPlainUser() { return ::geteuid() == 0 && PlainUser() != nullptr; }

bool AsPlainUser(const std::function<bool()>& action) {
  const passwd* user = PlainUser();
  if (user == nullptr) return false;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0) ::_exit(2);
    ::_exit(action() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
