// Another user of a database, in a process of its own: takes a lock, leaves a
// mark file to say so, keeps the lock the milliseconds given (or, for
// "soltar", until a file MARCA.soltar appears), and commits. The lock is the
// write lock with a row written (exclusiva, by default), a write not yet
// committed (escritura), or a read (lectura).
//   otro_usuario BASE MARCA MILISEGUNDOS|soltar [exclusiva|escritura|lectura]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const char* modo = argc == 5 ? argv[4] : "exclusiva";
  const char* sql = std::strcmp(modo, "exclusiva") == 0
                        ? "BEGIN EXCLUSIVE; INSERT INTO nomencla VALUES ('otro', 'usuario', 2);"
                    : std::strcmp(modo, "escritura") == 0
                        ? "BEGIN IMMEDIATE; INSERT INTO nomencla VALUES ('otro', 'usuario', 2);"
                    : std::strcmp(modo, "lectura") == 0 ? "BEGIN; SELECT count(*) FROM nomencla;"
                                                        : nullptr;
  if ((argc != 4 && argc != 5) || sql == nullptr) {
    std::fputs("uso: otro_usuario BASE MARCA MILISEGUNDOS|soltar [exclusiva|escritura|lectura]\n",
               stderr);
    return 64;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_key(db, "Rt6081M73", 9) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA cipher_compatibility = 3", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "otro_usuario: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  std::ofstream(argv[2]).put('x');
  if (std::strcmp(argv[3], "soltar") == 0) {
    const std::string soltar = std::string(argv[2]) + ".soltar";
    while (!std::ifstream(soltar)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
  }
  // Its commit waits for readers, as other programs' do: a program waiting
  // for this lock holds a read lock for an instant each time it tries.
  sqlite3_busy_timeout(db, 10000);
  const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) std::fprintf(stderr, "otro_usuario: COMMIT: %s\n", sqlite3_errmsg(db));
  sqlite3_close(db);
  return rc == SQLITE_OK ? 0 : 1;
}
