// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// platform_windows.cpp -- processes and wide names on Windows.
#include "platform.h"

#include <windows.h>

// Wine's ntdll has functions of its own.
bool under_wine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring widen(const std::string& utf8)
{
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string narrow(const std::wstring& wide)
{
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// One word of a command line, quoted as the C runtime splits it again.
static std::wstring quoted(const std::wstring& word)
{
    if (!word.empty() && word.find_first_of(L" \t\n\"") == std::wstring::npos)
        return word;
    std::wstring q = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        q.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, L'\\');
    return q + L"\"";
}

// A standard handle for the child, inheritable, or none for CLOSED.
static HANDLE handle_for(const Standard& standard)
{
    if (standard.file == CLOSED)
        return nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const bool device = standard.file == NULL_DEVICE || standard.file.rfind("\\\\", 0) == 0;
    const DWORD access = standard.opening == Standard::READ         ? GENERIC_READ
                         : standard.opening == Standard::APPENDED   ? FILE_APPEND_DATA | SYNCHRONIZE
                         : standard.opening == Standard::READ_WRITE ? GENERIC_READ | GENERIC_WRITE
                                                                    : GENERIC_WRITE;
    const DWORD creation = standard.opening == Standard::READ || device ? OPEN_EXISTING
                           : standard.opening == Standard::EMPTIED      ? CREATE_ALWAYS
                                                                        : OPEN_ALWAYS;
    return CreateFileW(widen(standard.file).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

ProcessId start(const Launch& launch, void* job, unsigned long& error)
{
    std::wstring command;
    for (const std::string& w : launch.words)
        command += (command.empty() ? L"" : L" ") + quoted(widen(w));
    HANDLE handles[3] = {};
    error = ERROR_SUCCESS;
    for (int i = 0; i < 3; ++i) {
        handles[i] =
            i == 2 && launch.errors_to_output ? handles[1] : handle_for(launch.standard[i]);
        if (handles[i] == INVALID_HANDLE_VALUE)
            error = GetLastError();
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
    // The environment as CreateProcess takes it: NAME=value, each ended by
    // a NUL, and one NUL more.
    std::wstring environment;
    if (launch.environment != nullptr) {
        for (const std::string& variable : *launch.environment)
            environment += widen(variable) + L'\0';
        environment += L'\0';
    }
    const std::wstring folder = widen(launch.folder);
    // Started suspended, so that it is in the job before it can start anything.
    const DWORD flags =
        CREATE_SUSPENDED | (launch.environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
    PROCESS_INFORMATION process{};
    // Wine's WoW64 mode now and then loses a 32-bit child before its first
    // instruction: CreateProcess then fails with ERROR_INTERNAL_ERROR.  The
    // program never ran, so starting it again judges nothing twice.
    for (int attempts = 3; error == ERROR_SUCCESS && attempts > 0; --attempts) {
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags,
                           launch.environment != nullptr ? environment.data() : nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &process)
            != 0)
            break;
        error = GetLastError();
        if (error == ERROR_INTERNAL_ERROR && attempts > 1)
            error = ERROR_SUCCESS;
    }
    for (int i = 0; i < 3; ++i)
        if (handles[i] != nullptr && handles[i] != INVALID_HANDLE_VALUE
            && (i < 2 || handles[2] != handles[1]))
            CloseHandle(handles[i]);
    if (error != ERROR_SUCCESS)
        return nullptr;
    if (job != nullptr)
        AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return process.hProcess;
}
