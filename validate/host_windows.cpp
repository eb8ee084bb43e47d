// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// host_windows.cpp -- the machine, the user and the files, on Windows.
#include "host.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <filesystem>
#include <vector>

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
    if (!hashed)
        return "";
    std::string hex;
    for (UCHAR byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string sha256_implementation()
{
    return "Windows CNG (BCrypt), the system's";
}

static std::string utf8(const std::wstring& wide)
{
    std::u8string name = std::filesystem::path(wide).u8string();
    return {name.begin(), name.end()};
}

std::string own_executable()
{
    std::vector<wchar_t> name(32768);
    DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    return n == 0 ? std::string() : utf8(std::wstring(name.data(), n));
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
    if (auto wine_version = ntdll_function<WineVersion>("wine_get_version")) {
        host = std::string("Wine ") + wine_version();
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
    std::string user = GetUserNameW(name, &size) != 0 ? utf8(name) : "(no name)";
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
    return utf8(type);
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
