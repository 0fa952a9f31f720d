// A library that someone put beside the program under the name of one the
// program uses: loaded, it leaves the file "plantada-cargada" beside itself.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(self, path.data(), MAX_PATH));
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"plantada-cargada";
  ::CloseHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return TRUE;
}
