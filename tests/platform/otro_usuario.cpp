// Another user of a database, in a process of its own: takes the write lock,
// writes a row, leaves a mark file to say so, keeps the lock the milliseconds
// given, and commits.
//   otro_usuario BASE MARCA MILISEGUNDOS
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("uso: otro_usuario BASE MARCA MILISEGUNDOS\n", stderr);
    return 64;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_key(db, "Rt6081M73", 9) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA cipher_compatibility = 3", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, "BEGIN EXCLUSIVE; INSERT INTO nomencla VALUES ('otro', 'usuario', 2);",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "otro_usuario: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  std::ofstream(argv[2]).put('x');
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
  const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc == SQLITE_OK ? 0 : 1;
}
