#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/engine_test.h"

namespace quelvar {
namespace {

// A database the user cannot write, as a read-only file or in a folder
// where the engine's journal cannot be made, is refused at the open.
TEST_F(Engine, ADatabaseTheUserCannotWriteIsRefused) {
  CreateDatabase(base_);
  // Everyone may write the file itself, unless it is what is locked.
  ::chmod(base_.c_str(), 0666);
  for (const std::string& locked : {base_, folder_.path()}) {
    SCOPED_TRACE(locked);
    ::chmod(locked.c_str(), 0555);
    // Permissions do not bind root: the check runs as an unprivileged user.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
      try {
        Open(base_);
      } catch (const Failure& f) {
        ::_exit(f.number() == 3000 + SQLITE_READONLY ? 0 : 2);
      }
      ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(locked.c_str(), locked == base_ ? 0666 : 0755);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened; 2: wrong failure; 3: could not drop root";
  }
}

}  // namespace
}  // namespace quelvar
