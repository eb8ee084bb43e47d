// SPDX-License-Identifier: MIT
// host_windows.cpp -- the machine and the program, on Windows.
#include "host.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <fstream>
#include <vector>

std::string sha256_of(const std::string& path, std::string& fault)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fault = "the program cannot be read";
        return "";
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::vector<UCHAR> digest(32);
    bool hashed = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0
                  && BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    std::vector<char> chunk(65536);
    while (hashed && file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        auto n = static_cast<ULONG>(file.gcount());
        hashed = BCryptHashData(hash, reinterpret_cast<PUCHAR>(chunk.data()), n, 0) == 0;
    }
    hashed = hashed && file.eof()
             && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!hashed) {
        fault = "Windows CNG (BCrypt) could not hash the program";
        return "";
    }
    std::string hex;
    for (UCHAR byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

std::string host_description()
{
    // GetVersionEx reports what the manifest claims; ntdll says the truth.
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto rtl_get_version = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtl_get_version != nullptr)
        rtl_get_version(&version);
    char text[128];
    std::snprintf(text, sizeof text, "Windows %lu.%lu build %lu", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber);
    std::string host = text;
    using WineVersion = const char*(CDECL*)();
    auto wine_version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    if (wine_version != nullptr)
        host += std::string(" (Wine ") + wine_version() + ")";
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
