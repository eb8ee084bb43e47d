// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The mavrid authors
// spawn_windows.cpp -- starting the program under test with CreateProcessW,
// its standard handles on files, and named pipes for the cases that need a
// pipe or a device that fails every write.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "child_process.h"
#include "platform.h"
#include "run_mavrid.h"

bool running_as_root()
{
    return false;
}

// A pipe name of its own for every pipe this process makes.
static std::string fresh_pipe_name()
{
    static std::atomic<unsigned> made{0};
    return "\\\\.\\pipe\\mavrid-test-" + std::to_string(GetCurrentProcessId()) + "-"
           + std::to_string(made++);
}

namespace {
// The server end of a named pipe and the thread that serves it.
struct PipeServer {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
    std::thread thread;
    std::wstring name;
    DWORD client_access = 0; // what a client may do: the server's other half

    // Let a thread that still waits for its client go on: connect once, go.
    void finish()
    {
        SetEvent(stop);
        HANDLE client =
            CreateFileW(name.c_str(), client_access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (client != INVALID_HANDLE_VALUE)
            CloseHandle(client);
        thread.join();
        CloseHandle(pipe);
        CloseHandle(stop);
    }
};

// Stop and free a server that serve made, if any.
void close_server(void* server)
{
    if (server != nullptr) {
        static_cast<PipeServer*>(server)->finish();
        delete static_cast<PipeServer*>(server);
    }
}

PipeServer* serve(const std::string& name, DWORD direction)
{
    auto* server = new PipeServer;
    server->name = widen(name);
    server->client_access = direction == PIPE_ACCESS_INBOUND ? GENERIC_WRITE : GENERIC_READ;
    // Inbound, the buffer holds one byte, so that a client's write waits
    // for the server: it cannot slip into the buffer before the server
    // goes.
    DWORD buffer = direction == PIPE_ACCESS_INBOUND ? 1 : 65536;
    server->pipe = CreateNamedPipeW(server->name.c_str(), direction, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                    buffer, buffer, 0, nullptr);
    server->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (server->pipe == INVALID_HANDLE_VALUE || server->stop == nullptr) {
        delete server;
        return nullptr;
    }
    return server;
}
} // namespace

// The reader goes as soon as a writer has opened it: every write fails.
FullDevice::FullDevice()
{
    std::string name = fresh_pipe_name();
    PipeServer* server = serve(name, PIPE_ACCESS_INBOUND);
    if (server == nullptr)
        return;
    server->thread = std::thread([server] {
        ConnectNamedPipe(server->pipe, nullptr);
        DisconnectNamedPipe(server->pipe);
    });
    server_ = server;
    path_ = name;
}

FullDevice::~FullDevice()
{
    close_server(server_);
}

NamedPipe::NamedPipe(const Sandbox& /*box*/, const std::string& bytes) : path_(fresh_pipe_name())
{
    PipeServer* server = serve(path_, PIPE_ACCESS_OUTBOUND);
    if (server == nullptr)
        throw std::runtime_error("CreateNamedPipe failed");
    server->thread = std::thread([server, bytes] {
        if (ConnectNamedPipe(server->pipe, nullptr) != 0
            || GetLastError() == ERROR_PIPE_CONNECTED) {
            for (std::size_t done = 0; done < bytes.size();) {
                DWORD n = 0;
                auto rest = static_cast<DWORD>(bytes.size() - done);
                if (WriteFile(server->pipe, bytes.data() + done, rest, &n, nullptr) == 0)
                    break;
                done += n;
            }
        }
        WaitForSingleObject(server->stop, INFINITE); // held open, like a tail -f
    });
    server_ = server;
}

NamedPipe::~NamedPipe()
{
    close_server(server_);
}

Outcome Sandbox::spawn(std::vector<std::string> words, const std::string& output_name,
                       const std::string& stdin_path, const std::string& stdout_path,
                       const std::string* piped_input) const
{
    if (piped_input != nullptr) {
        ADD_FAILURE() << "standard input from a pipe is for POSIX systems";
        return {};
    }
    Launch launch = launch_of(words, stdin_path, stdout_path);
    // The run's processes belong to a job of their own, which ends any
    // that is left when the run ends.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    unsigned long error = 0;
    HANDLE process = start(launch, job, error);
    if (process == nullptr) {
        if (job != nullptr)
            CloseHandle(job);
        ADD_FAILURE() << "CreateProcess failed (" << error << ") for " << words[0];
        return outcome(127, output_name);
    }
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = run_deadline();
    const bool killed =
        WaitForSingleObject(process, static_cast<DWORD>(deadline.count())) == WAIT_TIMEOUT;
    if (killed) {
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
        ADD_FAILURE() << "killed after running for " << deadline.count() << " ms: " << words[0];
    }
    run_ended(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                    - started),
              killed);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    // What the program started and left running is ended with the job, and
    // only then is the output looked at.
    int left_behind = 0;
    if (job != nullptr) {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                      sizeof accounting, nullptr)
            != 0)
            left_behind = static_cast<int>(accounting.ActiveProcesses);
        if (left_behind != 0) {
            TerminateJobObject(job, 137);
            report_left_behind("the run of " + words[0] + " left " + std::to_string(left_behind)
                               + " process(es) running when it ended, which the harness ended");
        }
        CloseHandle(job);
    }
    // As a POSIX shell shows it: -1 is 255.
    Outcome result = outcome(static_cast<int>(code & 0xFF), output_name, killed);
    result.left_behind = left_behind;
    return result;
}
