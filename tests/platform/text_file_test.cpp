#include "platform/text_file.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/failure.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"

namespace quelvar {
namespace {

std::vector<Line> AllLines(LineReader& reader) {
  std::vector<Line> lines;
  Line line;
  while (!reader.AtEnd()) {
    reader.ReadLine(line);
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Bytes(const std::vector<Line>& lines) {
  std::vector<std::string> bytes;
  for (const Line& line : lines) bytes.push_back(line.bytes);
  return bytes;
}

std::vector<std::string> Texts(const std::vector<Line>& lines) {
  std::vector<std::string> texts;
  for (const Line& line : lines) texts.push_back(line.text);
  return texts;
}

std::string U16(TextEncoding encoding, std::string_view utf8) {
  std::string bytes;
  AppendEncoded(encoding, utf8, bytes);
  return bytes;
}

TEST(LineReader, SplitsLinesWhateverTheBufferSize) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"empty file", "", {}},
      {"crlf", "a\r\nb\r\n", {"a", "b"}},
      {"last line without end", "a\r\nb", {"a", "b"}},
      {"lone cr", "a\rb\r", {"a", "b"}},
      {"with a cr, a lone lf is part of the line", "a\nb\r\nc\n", {"a\nb", "c\n"}},
      {"lf cr", "a\n\rb", {"a\n", "b"}},
      {"crlf crlf ends in an empty line", "a\r\n\r\n", {"a", ""}},
      {"cr cr lf", "a\r\r\n", {"a", ""}},
      {"only a line end", "\r\n", {""}},
      {"no cr: lf ends lines", "a\nb\nc\n", {"a", "b", "c"}},
      {"lf lf ends in an empty line", "a\nb\n\n", {"a", "b", ""}},
      {"high bytes and NUL kept",
       std::string("\xAC\xE1\x00z\r\n", 6),
       {std::string("\xAC\xE1\x00z", 4)}},
  };
  for (std::size_t buffer : {4u, 5u, 7u, 4096u}) {
    for (const Case& c : cases) {
      auto reader = NewStringReader(c.content, buffer);
      EXPECT_EQ(Bytes(AllLines(*reader)), c.lines) << c.name << ", buffer " << buffer;
    }
  }
}

// The file is examined whole before its first line: its encoding, its mark
// and its line ends, the same however its bytes come. Text comes out as
// UTF-8; the bytes stay as they were.
TEST(LineReader, TellsTheEncodingAndLineEndsOfTheWholeFile) {
  const std::string le = U16(TextEncoding::kUtf16LE,
                             "\xEF\xBB\xBF"
                             "1¬ñ😀\r\n2\r\n");
  const std::string be = U16(TextEncoding::kUtf16BE,
                             "\xEF\xBB\xBF"
                             "1¬\n2\n");
  struct Case {
    const char* name;
    std::string content;
    TextEncoding encoding;
    bool mark;
    bool lf;
    std::vector<std::string> texts;  // "�" where a line's bytes are no text
  };
  const std::vector<Case> cases = {
      {"windows-1252", "1\xAC\xF1\r\n", TextEncoding::kWindows1252, false, false, {"1¬ñ"}},
      {"utf-8 with its mark",
       "\xEF\xBB\xBF"
       "\xC3\xB1\r\n",
       TextEncoding::kUtf8,
       true,
       false,
       {"ñ"}},
      {"utf-8 with a terminator", "1\xC2\xAC\n2\n", TextEncoding::kUtf8, false, true, {"1¬", "2"}},
      {"valid utf-8, no mark, no terminator",
       "\xC3\xB1\r\n",
       TextEncoding::kWindows1252,
       false,
       false,
       {"Ã±"}},
      {"windows-1252 holding \"Â¬\"",
       "\xC2\xAC\xAC\r\n",
       TextEncoding::kWindows1252,
       false,
       false,
       {"Â¬¬"}},
      {"a mark before bytes that are not utf-8",
       "\xEF\xBB\xBF\xAC\r\nbien\r\n",
       TextEncoding::kUtf8,
       true,
       false,
       {"�", "bien"}},
      {"utf-8 terminators, one byte of windows-1252",
       "1\xC2\xAC\r\nma\xEDz\xC2\xAC\r\n3\xC2\xAC",
       TextEncoding::kUtf8,
       false,
       false,
       {"1¬", "ma�z¬", "3¬"}},
      {"two files put together, most of it utf-8",
       "1\xC2\xAC\xC2\xAC\n2\xAC\n",
       TextEncoding::kUtf8,
       false,
       true,
       {"1¬¬", "2�"}},
      {"utf-16 le", le, TextEncoding::kUtf16LE, true, false, {"1¬ñ😀", "2"}},
      {"utf-16 be, lf", be, TextEncoding::kUtf16BE, true, true, {"1¬", "2"}},
      {"a utf-16 mark, then a lone surrogate",
       std::string("\xFF\xFE\x3D\xD8"
                   "a\0\r\0b\0",
                   10),
       TextEncoding::kUtf16LE,
       true,
       false,
       {"�a", "b"}},
      {"only a mark", "\xFF\xFE", TextEncoding::kUtf16LE, true, false, {}},
      {"one cr among lfs", "1\xC2\xAC\n2\r", TextEncoding::kUtf8, false, false, {"1¬\n2"}},
      {"a utf-16 mark, then half a unit",
       std::string("\xFF\xFE"
                   "a\0b",
                   5),
       TextEncoding::kUtf16LE,
       true,
       false,
       {"a�"}},
  };
  for (const Case& c : cases) {
    // Fed a byte at a time, the detector reaches the verdict the whole gives.
    TextFormatDetector detector;
    for (char byte : c.content) detector.Feed(std::string_view(&byte, 1));
    const TextFormat verdict = detector.Verdict();
    EXPECT_EQ(verdict.encoding, c.encoding) << c.name;
    EXPECT_EQ(verdict.byte_order_mark, c.mark) << c.name;
    EXPECT_EQ(verdict.lf_line_ends, c.lf) << c.name;
  }
  for (std::size_t buffer : {4u, 4096u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", buffer " + std::to_string(buffer));
      auto reader = NewStringReader(c.content, buffer);
      EXPECT_EQ(reader->format().encoding, c.encoding);
      EXPECT_EQ(reader->format().byte_order_mark, c.mark);
      EXPECT_EQ(reader->format().lf_line_ends, c.lf);
      auto lines = AllLines(*reader);
      EXPECT_EQ(Texts(lines), c.texts);
      for (const Line& line : lines) {
        EXPECT_EQ(line.invalid_at != Line::kValid, line.text.find("�") != std::string::npos);
      }
      // Copied back, every line is the bytes it was read from.
      std::string copy;
      auto writer = NewStringWriter(&copy, nullptr, reader->format());
      for (const Line& line : lines) reader->CopyLine(line, *writer);
      writer->Close();
      std::string expected =
          c.mark ? c.content.substr(0, c.encoding == TextEncoding::kUtf8 ? 3 : 2) : std::string();
      for (const Line& line : lines) expected += line.bytes + U16(c.encoding, "\r\n");
      EXPECT_EQ(copy, expected);
    }
  }
}

// Memory does not follow the line: past the characters asked for, a line is
// only located, and copied from the file again when it is written.
TEST(LineReader, HoldsALongLineOnlyThatFarAndCopiesItWhole) {
  const std::string tail(100000, 'z');
  for (const std::string& first : {std::string("abcdefgh"), std::string("ñññññññ\xC2\xAC")}) {
    const bool utf8 = first.find('\xC3') != std::string::npos;
    const std::string content = first + tail + "\r\nshort\r\n";
    auto reader = NewStringReader(content, 4096, 5);
    Line line;
    reader->ReadLine(line);
    EXPECT_FALSE(line.whole);
    EXPECT_EQ(line.text, utf8 ? "ñññññ" : "abcde");
    EXPECT_LE(line.bytes.size(), 20u);
    std::string copy;
    auto writer = NewStringWriter(&copy, nullptr, reader->format());
    reader->CopyLine(line, *writer);
    reader->ReadLine(line);
    EXPECT_TRUE(line.whole);
    EXPECT_EQ(line.text, "short");
    reader->CopyLine(line, *writer);
    writer->Close();
    EXPECT_EQ(copy, content);
  }
}

TEST(TextFiles, ReadsRealFilesLongerThanItsBuffer) {
  TempFolder folder;
  std::string long_line(3'000'000, 'x');
  long_line[1'500'000] = '\n';
  WriteFile(folder / "f.txt", long_line + "\r\n" + "corta\r");
  auto reader = OpenFileForInput(folder / "f.txt", 32767);
  auto lines = AllLines(*reader);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text.size(), 32767u);
  EXPECT_EQ(lines[1].bytes, "corta");
  std::string copy;
  auto writer = NewStringWriter(&copy, nullptr);
  reader->CopyLine(lines[0], *writer);
  writer->Close();
  EXPECT_EQ(copy, long_line + "\r\n");
}

TEST(TextFiles, OpeningFailuresCarryTheirNumbers) {
  TempFolder folder;
  try {
    OpenFileForInput(folder / "falta.txt", 10);
    FAIL() << "a missing file opened";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 53);
    EXPECT_EQ(f.kind(), FailureKind::kOther);
  }
  try {
    OpenFileForInput(folder.path(), 10);
    FAIL() << "a folder opened as a file";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 75);
  }
  EXPECT_THROW(OpenFileForOutput(folder.path(), {}, ""), Failure);
  EXPECT_THROW(OpenFileForOutput(folder / "no/existe.log", {}, ""), Failure);
}

TEST(LineWriter, WritesInTheFileEncodingWithCrLfAndItsMark) {
  TempFolder folder;
  auto writer = OpenFileForOutput(folder / "out.log", {}, "");
  writer->WriteLine("Registros erroneos :");
  writer->WriteLine("");
  writer->WriteBytes("a\xAC\xE9");
  writer->EndLine();
  writer->Close();
  EXPECT_EQ(ReadFile(folder / "out.log"), "Registros erroneos :\r\n\r\na\xAC\xE9\r\n");

  // Opening for output puts a new, empty file in place of an existing one.
  OpenFileForOutput(folder / "out.log", {}, "")->Close();
  EXPECT_EQ(ReadFile(folder / "out.log"), "");

  const std::pair<TextFormat, std::string> formats[] = {
      {{TextEncoding::kUtf8, true, false},
       "\xEF\xBB\xBF"
       "Total  3 \r\n"},
      {{TextEncoding::kUtf8, false, true}, "Total  3 \r\n"},
      {{TextEncoding::kUtf16LE, true, false},
       U16(TextEncoding::kUtf16LE,
           "\xEF\xBB\xBF"
           "Total  3 \r\n")},
      {{TextEncoding::kUtf16BE, true, false},
       U16(TextEncoding::kUtf16BE,
           "\xEF\xBB\xBF"
           "Total  3 \r\n")},
  };
  for (const auto& [format, expected] : formats) {
    std::string out;
    auto w = NewStringWriter(&out, nullptr, format);
    w->WriteLine("Total  3 ");
    w->Close();
    EXPECT_EQ(out, expected);

    // Kept aside in a scratch file, the lines read back as written.
    auto scratch = NewScratch();
    LineWriter aside(scratch->Writer(), format);
    aside.WriteLine("Total  3 ");
    aside.WriteLine("ñ\n¬");
    aside.Close();
    LineReader back(scratch->Reader(), format, 100);
    EXPECT_EQ(Texts(AllLines(back)), (std::vector<std::string>{"Total  3 ", "ñ\n¬"}));
  }
}

}  // namespace
}  // namespace quelvar
