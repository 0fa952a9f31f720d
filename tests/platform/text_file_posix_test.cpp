#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/failure.h"
#include "platform/test_database.h"
#include "platform/text_file.h"

namespace quelvar {
namespace {

// Anything but a regular file is read once, as Windows-1252 with CR line
// ends, without being examined first.
TEST(TextFiles, APipeIsReadAsItComes) {
  TempFolder folder;
  const std::string fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer_end([&] { std::ofstream(fifo) << "1\xC2\xAC\n2\r\n"; });
  auto piped = OpenFileForInput(fifo, 32767);
  ASSERT_FALSE(piped->AtEnd());
  Line line;
  piped->ReadLine(line);
  EXPECT_EQ(line.text, "1Â¬\n2");
  EXPECT_TRUE(piped->AtEnd());
  writer_end.join();
}

// Past the file-size limit, as on a full disk, the write fails and is told
// (a new file can never be /dev/full).
TEST(LineWriter, AFullDiskIsReportedNotSwallowed) {
  TempFolder folder;
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {4, 4};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      auto writer = OpenFileForOutput(folder / "out.log", {}, "");
      writer->WriteLine("Registros erroneos :");
      writer->Close();
    } catch (const Failure& f) {
      ::_exit(f.number() == 61 ? 0 : 2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written past the limit; 2: another failure";
}

}  // namespace
}  // namespace quelvar
