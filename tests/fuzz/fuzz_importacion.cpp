// Whole import runs over arbitrary activity files, against a real database.
// Checks what the run promises, not just that it survives: the totals add
// up, every listed line is an input line, every stored row comes from an
// accepted line, and a run stopped by a malformed line wrote no totals.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "import/alicuota.h"
#include "import/campos.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"
#include "startup/form1.h"

namespace {

using namespace quelvar;

// The database is opened once: the fake platform keeps the connection, and
// a second one reads the table back.
struct Banco {
  TempFolder carpeta;
  FakeEnv entorno{carpeta.path()};
  std::unique_ptr<Reader> lector;

  Banco() {
    CreateDatabase(carpeta / "Impuest.mdb");
    lector = std::make_unique<Reader>(carpeta / "Impuest.mdb");
  }
};

Banco& TheBanco() {
  static Banco banco;
  return banco;
}

// The lines of a file as the program reads them.
std::vector<Line> Lineas(const std::string& archivo) {
  auto lector = NewStringReader(archivo, 4096);
  std::vector<Line> lineas;
  Line linea;
  while (!lector->AtEnd()) {
    lector->ReadLine(linea);
    lineas.push_back(linea);
  }
  return lineas;
}

int Total(const std::string& linea, const std::string& rotulo) {
  FUZZ_CHECK(linea.rfind(rotulo, 0) == 0);
  return std::atoi(linea.c_str() + rotulo.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // fsync on a memory file system costs nothing: many more runs a second.
  if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Banco& banco = TheBanco();
  const std::string entrada(reinterpret_cast<const char*>(data), size);
  banco.entorno.files[banco.carpeta / "Actividades.txt"] = entrada;
  banco.entorno.events.clear();
  Form1 form(banco.entorno, banco.entorno);
  form.Form_Load();

  const std::vector<Line> lineas = Lineas(entrada);
  // The report, in the activity file's encoding: its text for the heading
  // and the totals, its bytes for the lines listed.
  const std::vector<Line> informe = Lineas(banco.entorno.File("Act.log"));
  FUZZ_CHECK(!informe.empty() && informe[0].text == "Registros erroneos :");
  bool estructura = false;
  for (const std::string& evento : banco.entorno.events) {
    estructura |= evento == "caja x Error: Estructura del archivo incorrecta";
  }

  // The pairs of the accepted lines, as the database holds them.
  std::set<std::pair<std::string, std::string>> aceptadas;
  std::map<std::string, int> entradas;
  NumberFormat formato;
  for (const Line& linea : lineas) {
    ++entradas[linea.bytes];
    Campos campos;
    try {
      Separar_Campos(linea.text, campos);
      if (campos.tasa.find('.') != std::string_view::npos || !Es_Numerico(campos.tasa, formato)) {
        continue;
      }
      Valor_Alicuota(campos.tasa, formato);
    } catch (const Failure&) {
      continue;
    }
    aceptadas.emplace(campos.codigo, campos.actividad);
  }

  std::size_t listadas = informe.size() - 1;
  if (!estructura) {
    FUZZ_CHECK(informe.size() >= 5 && informe[informe.size() - 4].bytes.empty());
    listadas = informe.size() - 5;
    int rechazados =
        Total(informe[informe.size() - 3].text, "Total de registros que no insertados ");
    int insertados = Total(informe[informe.size() - 2].text, "Total de registros insertados ");
    int total = Total(informe[informe.size() - 1].text, "Cantidad total de registros: ");
    FUZZ_CHECK(rechazados + insertados == total);
    FUZZ_CHECK(total == static_cast<int>(lineas.size()));
    FUZZ_CHECK(banco.lector->Rows().size() == static_cast<std::size_t>(insertados));
  } else {
    // No totals: their block opens with an empty line, and an empty input
    // line is always malformed, so it is never listed.
    for (std::size_t i = 1; i < informe.size(); ++i) FUZZ_CHECK(!informe[i].bytes.empty());
  }
  for (std::size_t i = 1; i <= listadas; ++i) FUZZ_CHECK(entradas[informe[i].bytes]-- > 0);

  std::set<std::pair<std::string, std::string>> vistas;
  for (const Row& fila : banco.lector->Rows()) {
    std::pair<std::string, std::string> par{fila.codigo, fila.actividad};
    FUZZ_CHECK(aceptadas.count(par) == 1);
    FUZZ_CHECK(vistas.insert(par).second);  // no pair stored twice
  }
  return 0;
}
