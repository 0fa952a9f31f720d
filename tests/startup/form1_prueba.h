// Reaches the private members of Form1 that tests call on their own.
#pragma once

#include <string_view>

#include "startup/form1.h"

namespace quelvar {

class Form1Prueba {
 public:
  static bool Existe_Registro(Form1& form, std::string_view codigo, std::string_view actividad) {
    return form.Existe_Registro(codigo, actividad);
  }
  static void Procesar_Archivo(Form1& form) { form.Procesar_Archivo(); }
  static Database& BaseDatos(Form1& form) { return *form.BaseDatos; }
};

}  // namespace quelvar
