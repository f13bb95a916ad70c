#include "wfload/win/HostServices.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <memory>

#include "comm32/CommLogic.h"

namespace {

struct TKeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using TKey = std::unique_ptr<std::remove_pointer_t<HKEY>, TKeyCloser>;

struct TLocalFreer {
  void operator()(LPWSTR* p) const { LocalFree(p); }
};

std::string ToAnsi(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

}  // namespace

TRegRead ReadLocalMachineString(const std::string& key, const std::string& name,
                                std::string& value) {
  value.clear();
  const size_t start = key.find_first_not_of('\\');
  const std::string subKey = start == std::string::npos ? std::string() : key.substr(start);
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS)
    return TRegRead::NoKey;
  TKey opened(raw);
  DWORD type = 0;
  DWORD size = 0;
  LONG rc = RegQueryValueExA(raw, name.c_str(), nullptr, &type, nullptr, &size);
  // The value can grow between the two queries: ask again while it does.
  std::string data;
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (type != REG_SZ) return TRegRead::NotText;
    data.assign(size + 1u, '\0');
    DWORD got = size;
    rc = RegQueryValueExA(raw, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &got);
    if (rc == ERROR_SUCCESS) {
      if (type != REG_SZ) return TRegRead::NotText;
      data.resize(got);
      // A stored string may or may not carry its terminating zero.
      const size_t end = data.find('\0');
      if (end != std::string::npos) data.resize(end);
      value = data;
      return TRegRead::Ok;
    }
    size = got;
  }
  return TRegRead::NoValue;
}

std::vector<std::string> SplitCommandLineWords(const wchar_t* commandLine) {
  std::vector<std::string> words;
  // CommandLineToArgvW reads an empty line as the program's path.
  if (commandLine == nullptr || *commandLine == L'\0') return words;
  int count = 0;
  std::unique_ptr<LPWSTR, TLocalFreer> argv(CommandLineToArgvW(commandLine, &count));
  if (!argv) return words;
  for (int i = 1; i < count; ++i) words.push_back(ToAnsi(argv.get()[i]));
  return words;
}

std::vector<std::string> SplitParameterWords(const wchar_t* parameters) {
  if (parameters == nullptr) return {};
  return SplitCommandLineWords((std::wstring(L"ctyset2 ") + parameters).c_str());
}

std::vector<int> ListedSerialPorts() {
  std::vector<int> ports;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &raw) !=
      ERROR_SUCCESS)
    return ports;
  TKey opened(raw);
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    char data[16] = {};
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG rc = RegEnumValueA(raw, i, name, &nameSize, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;  // too long for a port name
    const int n = comm32::PortNumber(std::string(data, strnlen(data, dataSize)));
    if (n != 0) ports.push_back(n);
  }
  return ports;
}

std::string SystemDirectoryPath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const UINT n = GetSystemDirectoryA(path.data(), static_cast<UINT>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.assign(n, '\0');  // n is the size needed, terminating zero included
  }
}
