#include "platform/failure.h"

#include <cerrno>

namespace quelvar {

Failure OverflowFailure() { return Failure(FailureKind::kOverflow, 6, "Desbordamiento"); }

Failure TypeMismatchFailure() {
  return Failure(FailureKind::kTypeMismatch, 13, "No coinciden los tipos");
}

Failure OutOfMemoryFailure() { return Failure(FailureKind::kOther, 7, "Memoria insuficiente"); }

Failure FileFailure(int errno_value, const std::string& path) {
  switch (errno_value) {
    case ENOENT:
    case ENOTDIR:
      return Failure(FailureKind::kOther, 53, "No se encontró el archivo: " + path);
    case EACCES:
    case EPERM:
    case EROFS:
      return Failure(FailureKind::kOther, 70, "Permiso denegado: " + path);
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT  // no quotas on Windows
    case EDQUOT:
#endif
      return Failure(FailureKind::kOther, 61, "Disco lleno: " + path);
    case EEXIST:
      return Failure(FailureKind::kOther, 58, "El archivo ya existe: " + path);
    case ENOMEM:
      return OutOfMemoryFailure();
    case EIO:
      return Failure(FailureKind::kOther, 57, "Error de E/S en el dispositivo: " + path);
    default:
      return Failure(FailureKind::kOther, 75, "Error de acceso a la ruta o el archivo: " + path);
  }
}

std::string NoticeText(const Failure& failure) {
  return "Error " + std::to_string(failure.number()) + ": " + failure.description();
}

}  // namespace quelvar
