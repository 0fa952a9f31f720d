#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(LineWriter, AFullDiskIsReportedNotSwallowed) {
  auto writer = OpenFileForOutput("/dev/full", {});
  writer->WriteLine("x");
  try {
    writer->Close();
    FAIL() << "writing to a full disk succeeded";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 61);
  }
}

}  // namespace
}  // namespace quelvar
