#include "startup/form1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "import/actividades.h"
#include "platform/fake_env.h"
#include "platform/test_database.h"

namespace quelvar {
namespace {

using ::testing::ElementsAre;

class Conexion : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string base_ = folder_ / "Impuest.mdb";
  FakeEnv env_{folder_.path()};
  Form1 form_{env_, env_};
};

TEST_F(Conexion, OpensTheDatabaseInTheAppFolderWithItsPasswordAndTimeOut) {
  CreateDatabase(base_);
  ASSERT_TRUE(form_.Conectar_Base());
  EXPECT_EQ(env_.engine.query_timeout, 9000);
  EXPECT_TRUE(env_.events.empty()) << "connecting shows nothing";
}

TEST_F(Conexion, EveryReasonToFailGivesFalse) {
  EXPECT_FALSE(form_.Conectar_Base());
  EXPECT_FALSE(Exists(base_)) << "a missing database was created";

  CreateDatabase(base_, "otra clave");
  EXPECT_FALSE(form_.Conectar_Base());
  EXPECT_TRUE(env_.events.empty());
}

TEST_F(Conexion, AFailedConnectionTellsTheUserAndTouchesNothingElse) {
  CreateDatabase(base_, "otra clave");
  env_.files[folder_ / "Actividades.txt"] = Actividades("1|a|1|/");
  form_.Form_Load();
  EXPECT_THAT(env_.events, ElementsAre("caja i Quelvar: No es posible conectarse a la base."));
  EXPECT_EQ(env_.File("Act.log"), "<ausente>");
  EXPECT_EQ(form_.Resultado(), Estado::kSinConexion);
}

// Another user's write, finished a second and a half later: the user is told
// of the wait, and the notice goes before the run goes on.
TEST_F(Conexion, AWaitForAnotherUserIsShownUntilItEnds) {
  CreateDatabase(base_);
  env_.files[folder_ / "Actividades.txt"] = Actividades("1|a|1|/");
  OtroUsuario other(base_, "escritura", 1500);
  form_.Form_Load();
  EXPECT_EQ(other.Release(), 0);
  ASSERT_GE(env_.events.size(), 3u);
  EXPECT_EQ(env_.events[0],
            "espera: Otro usuario está usando la base. Se espera hasta 20 segundos a que la "
            "libere.");
  EXPECT_EQ(env_.events[1], "fin de espera");
  EXPECT_EQ(env_.events.back(), "caja i Quelvar: Ha terminado el proceso de importación.");
  EXPECT_EQ(form_.Resultado(), Estado::kImportacionCompleta);
}

TEST_F(Conexion, AFolderThatCannotBeFoundIsAFailureNotAFailedConnection) {
  CreateDatabase(base_);
  env_.app_path_fails = true;
  EXPECT_THROW(form_.Form_Load(), Failure);
  EXPECT_TRUE(env_.events.empty());
}

}  // namespace
}  // namespace quelvar
