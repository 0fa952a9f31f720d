// Loads bcrypt.dll as a program that imports it would, the program's folder
// first: the proof that a library planted there is found.
#include <windows.h>

int main() { return ::LoadLibraryW(L"bcrypt.dll") != nullptr ? 0 : 1; }
