#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/failure.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"

namespace quelvar {
namespace {

std::vector<std::string> AllLines(LineReader& reader) {
  std::vector<std::string> lines;
  std::string line;
  while (!reader.AtEnd()) {
    reader.ReadLine(line);
    lines.push_back(line);
  }
  return lines;
}

struct Case {
  const char* name;
  std::string content;
  std::vector<std::string> lines;
};

TEST(LineReader, SplitsOnCrLfAndLoneCrWhateverTheBufferSize) {
  const std::vector<Case> cases = {
      {"empty file", "", {}},
      {"crlf", "a\r\nb\r\n", {"a", "b"}},
      {"last line without end", "a\r\nb", {"a", "b"}},
      {"lone cr", "a\rb\r", {"a", "b"}},
      {"lone lf is part of the line", "a\nb\r\nc\n", {"a\nb", "c\n"}},
      {"lf-only file is one line", "a\nb\nc\n", {"a\nb\nc\n"}},
      {"crlf crlf ends in an empty line", "a\r\n\r\n", {"a", ""}},
      {"cr cr lf", "a\r\r\n", {"a", ""}},
      {"only a line end", "\r\n", {""}},
      {"lf cr", "a\n\rb", {"a\n", "b"}},
      {"high bytes and NUL kept",
       std::string("\xAC\xE1\x00z\r\n", 6),
       {std::string("\xAC\xE1\x00z", 4)}},
  };
  for (std::size_t buffer : {1u, 2u, 3u, 5u, 4096u}) {
    for (const Case& c : cases) {
      auto reader = NewStringReader(c.content, buffer);
      EXPECT_EQ(AllLines(*reader), c.lines) << c.name << ", buffer " << buffer;
    }
  }
}

TEST(LineReader, ReadsRealFilesLongerThanItsBuffer) {
  TempFolder folder;
  std::string long_line(3'000'000, 'x');
  long_line[1'500'000] = '\n';
  WriteFile(folder / "f.txt", long_line + "\r\n" + "corta\r");
  auto reader = OpenFileForInput(folder / "f.txt");
  EXPECT_EQ(AllLines(*reader), (std::vector<std::string>{long_line, "corta"}));
}

TEST(TextFiles, OpeningFailuresCarryTheirNumbers) {
  TempFolder folder;
  try {
    OpenFileForInput(folder / "falta.txt");
    FAIL() << "a missing file opened";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 53);
    EXPECT_EQ(f.kind(), FailureKind::kOther);
  }
  try {
    OpenFileForInput(folder.path());
    FAIL() << "a folder opened as a file";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 75);
  }
  EXPECT_THROW(OpenFileForOutput(folder.path()), Failure);
  EXPECT_THROW(OpenFileForOutput(folder / "no/existe.log"), Failure);
}

TEST(LineWriter, EndsLinesInCrLfAndKeepsBytes) {
  TempFolder folder;
  auto writer = OpenFileForOutput(folder / "out.log");
  writer->WriteLine("Registros erroneos :");
  writer->WriteLine("");
  writer->WriteLine("a\xAC\xE9");
  writer->Close();
  EXPECT_EQ(ReadFile(folder / "out.log"), "Registros erroneos :\r\n\r\na\xAC\xE9\r\n");

  // Opening for output empties an existing file.
  OpenFileForOutput(folder / "out.log")->Close();
  EXPECT_EQ(ReadFile(folder / "out.log"), "");
}

TEST(LineWriter, AFullDiskIsReportedNotSwallowed) {
  auto writer = OpenFileForOutput("/dev/full");
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
