// The Windows adapters themselves, run under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/engine_test.h"
#include "platform/file_system.h"
#include "platform/real_system.h"
#include "platform/text_file.h"

namespace quelvar {
namespace {

TEST(WindowsEnv, TheAppFolderIsThatOfTheProgram) {
  const std::string folder = RealSystem().AppPath();
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(FileExists(JoinPath(folder, "platform_test.exe"))) << folder;
  EXPECT_EQ(JoinPath(folder, "platform_test.exe"), TestProgram("platform_test"));
}

// tools/probar-windows runs the tests with LC_ALL=es_AR.UTF-8, which Wine
// takes for the user's regional settings.
TEST(WindowsEnv, TheDecimalSeparatorIsTheUsers) {
  EXPECT_EQ(RealSystem().RegionalSettings().decimal_separator, ",");
}

// Any folder name: files and databases go through the wide-character API.
TEST(WindowsFiles, FolderNamesOutsideTheCodePageWork) {
  TempFolder temp;
  const std::string folder = temp / "Oficina ñandú Ω 名";
  ASSERT_TRUE(std::filesystem::create_directory(Path(folder)));
  const std::string log = JoinPath(folder, "Act.log");
  auto writer = OpenFileForOutput(log, {}, log);
  writer->WriteLine("Registros erroneos :");
  writer->WriteBytes(
      "1\xAC"
      "Ca\xF1"
      "a\xAC");
  writer->EndLine();
  writer->Close();
  EXPECT_EQ(ReadFile(log),
            "Registros erroneos :\r\n1\xAC"
            "Ca\xF1"
            "a\xAC\r\n");
  auto reader = OpenFileForInput(log, 100);
  Line line;
  reader->ReadLine(line);
  reader->ReadLine(line);
  EXPECT_EQ(line.text, "1¬Caña¬");
  EXPECT_TRUE(reader->AtEnd());

  const std::string base = JoinPath(folder, "Impuest.mdb");
  auto engine = NewSqlCipherEngine();
  engine->CreateDatabase(base, kConnect, "CREATE TABLE nomencla (codigo, actividad, alicuota)",
                         false);
  EXPECT_THROW(engine->CreateDatabase(base, kConnect, "CREATE TABLE x (y)", true), Failure);
  auto db = engine->OpenDatabase(base, false, false, kConnect);
  db->Execute("INSERT INTO nomencla VALUES ('1', 'Caña', 1.5)");
  EXPECT_EQ(ReadRows(base), (std::vector<Row>{{"1", "Caña", 1.5}}));
}

}  // namespace
}  // namespace quelvar
