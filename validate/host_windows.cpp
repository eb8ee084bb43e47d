// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host_windows.cpp -- the machine, the user and the files, on Windows.
#include "host.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform.h"

std::string sha256_hex(const std::string& bytes)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> digest(32);
    std::string data = bytes; // BCryptHashData takes a non-const buffer
    bool hashed =
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0
        && BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0
        && BCryptHashData(hash, reinterpret_cast<PUCHAR>(data.data()),
                          static_cast<ULONG>(data.size()), 0)
               == 0
        && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    return hashed ? hex_of(digest.data(), digest.size()) : "";
}

std::string sha256_implementation()
{
    return "Windows CNG (BCrypt), the system's";
}

std::string own_executable()
{
    std::vector<wchar_t> name(32768);
    DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    return n == 0 ? std::string() : narrow(std::wstring(name.data(), n));
}

// A function of ntdll's, or nullptr where it has none (wine_get_version and the
// like are only Wine's).
template <typename Function> static Function ntdll_function(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

std::string host_description()
{
    // GetVersionEx reports what the manifest claims; ntdll says the truth.
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (auto rtl_get_version = ntdll_function<GetVersion>("RtlGetVersion"))
        rtl_get_version(&version);
    char text[128];
    std::snprintf(text, sizeof text, "Windows %lu.%lu build %lu", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber);
    std::string host = text;
    // Under Wine, what it reports is the version it imitates, not a
    // Windows that runs here.
    using WineVersion = const char*(CDECL*)();
    using WineHost = void(CDECL*)(const char**, const char**);
    if (under_wine()) {
        host = std::string("Wine ") + ntdll_function<WineVersion>("wine_get_version")();
        if (auto wine_host = ntdll_function<WineHost>("wine_get_host_version")) {
            const char* system = "";
            const char* release = "";
            wine_host(&system, &release);
            host += std::string(" on ") + system + " " + release;
        }
        host += std::string(", not Windows: it reports ") + text;
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    switch (system.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return host + ", x86_64";
    case PROCESSOR_ARCHITECTURE_INTEL:
        return host + ", x86";
    case PROCESSOR_ARCHITECTURE_ARM64:
        return host + ", arm64";
    default:
        return host + ", another architecture";
    }
}

std::string user_description(bool& privileged)
{
    wchar_t name[257];
    DWORD size = 257;
    std::string user = GetUserNameW(name, &size) != 0 ? narrow(name) : "(no name)";
    privileged = false;
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0) {
        if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &returned)
            != 0)
            privileged = elevation.TokenIsElevated != 0;
        CloseHandle(token);
    }
    return user + (privileged ? " (elevated)" : " (not elevated)");
}

std::string file_system_of(const std::string& path)
{
    std::u8string u8(path.begin(), path.end());
    std::wstring wide = std::filesystem::path(u8).wstring();
    wchar_t root[MAX_PATH];
    wchar_t type[MAX_PATH];
    if (GetVolumePathNameW(wide.c_str(), root, MAX_PATH) == 0
        || GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, type, MAX_PATH) == 0)
        return "unknown";
    return narrow(type);
}

// Windows starts any file that is a program image; the check here is
// that it is one.
bool can_run(const std::string& path, std::string& why)
{
    std::u8string u8(path.begin(), path.end());
    FILE* file = _wfopen(std::filesystem::path(u8).c_str(), L"rb");
    char mark[2] = {};
    bool image =
        file != nullptr && std::fread(mark, 1, 2, file) == 2 && mark[0] == 'M' && mark[1] == 'Z';
    if (file != nullptr)
        std::fclose(file);
    if (!image)
        why = "is not a Windows program (no MZ header)";
    return image;
}

// Windows has no umask, no file-size limit and no signals.
bool settle_limits(std::vector<std::string>& /*changed*/, std::string& /*why*/)
{
    return true;
}

int supervised(const std::function<int()>& validation, const std::string& folder)
{
    const int status = validation();
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(widen(folder)), ignored);
    return status;
}

// The user's temporary folder, whose rights let only that user (and the
// administrators) write in it.
std::string make_private_folder(std::string& why)
{
    std::vector<wchar_t> base(MAX_PATH + 2);
    const DWORD n = GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    if (n == 0 || n >= base.size()) {
        why = "no temporary folder (GetTempPath): set TMP or TEMP to a folder you can write";
        return "";
    }
    const std::string folder = narrow(std::wstring(base.data(), n));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string made = folder + "mavrid-validate-" + std::to_string(GetCurrentProcessId())
                                 + "-" + std::to_string(attempt);
        if (CreateDirectoryW(widen(made).c_str(), nullptr) != 0)
            return made;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    why = folder + ": no folder can be made there (error " + std::to_string(GetLastError())
          + "); set TMP or TEMP to a folder you can write";
    return "";
}

bool write_program(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0
        && written == bytes.size();
    return CloseHandle(file) != 0 && whole
           && SetFileAttributesW(widen(path).c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

// What Windows programs expect to find, and under Wine what Wine's own
// processes need to find the prefix and the server (its WINE variables).
std::vector<std::string> program_environment(const std::string& temporary,
                                             std::vector<std::string>& left_out)
{
    std::vector<std::string> chosen;
    wchar_t system[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(system, MAX_PATH);
    const std::string windows =
        n > 0 && n < MAX_PATH ? narrow(std::wstring(system, n)) : "C:\\Windows";
    chosen.push_back("ComSpec=" + windows + "\\system32\\cmd.exe");
    chosen.push_back("PATH=" + windows + "\\system32;" + windows);
    chosen.push_back("PATHEXT=.COM;.EXE;.BAT;.CMD");
    chosen.push_back("SystemDrive=" + windows.substr(0, 2));
    chosen.push_back("SystemRoot=" + windows);
    chosen.push_back("TEMP=" + temporary);
    chosen.push_back("TMP=" + temporary);
    chosen.push_back("windir=" + windows);
    const bool wine = under_wine();
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const std::string variable = narrow(entry);
        // Windows keeps a variable per drive, "=C:", for its current folder.
        const std::string name = variable.substr(0, variable.find('=', 1));
        std::string upper = name;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (wine && upper.rfind("WINE", 0) == 0) {
            chosen.push_back(variable);
            continue;
        }
        const bool passed =
            std::any_of(chosen.begin(), chosen.end(), [&upper](const std::string& c) {
                std::string chosen_name = c.substr(0, c.find('='));
                for (char& ch : chosen_name)
                    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                return chosen_name == upper;
            });
        if (!passed && name[0] != '=')
            left_out.push_back(name);
    }
    if (block != nullptr)
        FreeEnvironmentStringsW(block);
    std::sort(left_out.begin(), left_out.end());
    return chosen;
}

static std::string hashed(const std::string& path)
{
    bool readable = false;
    const std::string bytes = read_file(path, &readable);
    return readable ? path + ", SHA-256 " + sha256_hex(bytes) : path + ", which cannot be read";
}

// The program runs from a folder that holds nothing else, so each DLL it
// imports comes from the system folder (SysWOW64 for a 32-bit program on
// 64-bit Windows), or from nowhere.
std::vector<std::string> loaded_files(const std::string& /*program*/, const ProgramKind& kind,
                                      const std::vector<std::string>& /*environment*/)
{
    std::vector<std::string> files;
    wchar_t folder[MAX_PATH];
    UINT n = kind.windows_x86 ? GetSystemWow64DirectoryW(folder, MAX_PATH) : 0;
    if (n == 0 || n >= MAX_PATH)
        n = GetSystemDirectoryW(folder, MAX_PATH);
    const std::filesystem::path system(std::wstring(folder, n < MAX_PATH ? n : 0));
    for (const std::string& dll : kind.imports) {
        std::error_code unknown;
        const std::filesystem::path path = system / widen(dll);
        files.push_back(dll + ": "
                        + (std::filesystem::exists(path, unknown) ? hashed(narrow(path.wstring()))
                                                                  : std::string("not found")));
    }
    return files;
}
