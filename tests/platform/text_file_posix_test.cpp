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

// Anything but a regular file is read to its end as it opens, and then as
// a file: examined, and its long lines copied again.
TEST(TextFiles, APipeIsReadToItsEndAsItOpens) {
  TempFolder folder;
  const std::string fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string second(40000, 'x');
  std::thread writer_end([&] { std::ofstream(fifo) << "1\xC2\xAC\n2\r\n" << second; });
  auto piped = OpenFileForInput(fifo, 1000);
  writer_end.join();
  Line line;
  piped->ReadLine(line);
  EXPECT_EQ(line.text, "1¬\n2");
  piped->ReadLine(line);
  EXPECT_FALSE(line.whole);
  std::string copy;
  piped->ForEachPiece(line, [&](std::string_view bytes) { copy += bytes; });
  EXPECT_EQ(copy, second);
  EXPECT_TRUE(piped->AtEnd());
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
