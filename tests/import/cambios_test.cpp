// The table before and after, compared row by row on (codigo, actividad).
#include "import/cambios.h"

#include <gtest/gtest.h>

#include "platform/test_database.h"
#include "startup/form1.h"

namespace quelvar {
namespace {

TEST(Comparar, MatchesEachPairsRowsByRateAndListsTheRestInOrder) {
  struct Caso {
    const char* antes;
    const char* despues;
    std::string esperado;  // counts, then the lists
    const char* esquema = kSchema;
  };
  const Caso casos[] = {
      // The order rows were stored in does not matter.
      {"('1', 'a', 1), ('2', 'b', 2)", "('2', 'b', 2), ('1', 'a', 1)", "0 0 0 2 0\n"},
      // Within a pair, equal rates meet; the rest change in order, and what
      // is left over was removed or added.
      {"('1', 'a', 1), ('1', 'a', 1), ('1', 'a', 2)", "('1', 'a', 3), ('1', 'a', 2)",
       "0 1 1 1 1\n- 1 | a | 1.0\n* 1 | a | 1.0 -> 3.0\n"},
      // Compared as bytes, NULL first.
      {"('a', 'x', 1), (NULL, 'x', 1)", "('B', 'x', 1), ('a', 'x', 1), ('á', 'x', NULL)",
       "2 1 0 1 0\n+ B | x | 1.0\n+ á | x | (nulo)\n- (nulo) | x | 1.0\n"},
      // A table that compares otherwise is still read in that order; a line
      // end inside a value keeps each row on its line.
      {"('a', 'x', 1)", "('a', 'x', 1), ('B', 'y\nz', 2), ('b', 'x', 3)",
       "2 0 0 1 0\n+ B | y\\nz | 2.0\n+ b | x | 3.0\n",
       "CREATE TABLE nomencla (codigo TEXT COLLATE NOCASE, actividad TEXT, alicuota REAL)"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.antes);
    TempFolder folder;
    CreateDatabase(folder / "Impuest.mdb", kPassword, caso.esquema);
    RunSql(folder / "Impuest.mdb", std::string("INSERT INTO nomencla VALUES ") + caso.antes);
    auto db = NewSqlCipherEngine()->OpenDatabase(folder / "Impuest.mdb", false, false, kConexion);
    const Foto antes = Foto::Tomar(*db);
    db->Execute(std::string("DELETE FROM nomencla; INSERT INTO nomencla VALUES ") + caso.despues);
    std::string nuevas;
    const Cambios c = Comparar(antes, *db, [&](std::string_view linea) { nuevas += linea; });
    EXPECT_EQ(std::to_string(c.nuevas) + " " + std::to_string(c.quitadas) + " " +
                  std::to_string(c.cambian) + " " + std::to_string(c.iguales) + " " +
                  std::to_string(c.pares_repetidos) + "\n" + nuevas + c.lista_quitadas +
                  c.lista_cambian,
              caso.esperado);
  }
}

}  // namespace
}  // namespace quelvar
