#include "ProcessRunner.h"

#include <algorithm>
#include <map>
#include <string>

#include "TestEnv.h"
#include "Text.h"
#include "WinResources.h"

namespace {

std::wstring UniqueTempFile(const wchar_t* tag) {
    wchar_t folder[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, folder);
    static LONG counter = 0;
    return std::wstring(folder) + L"dp-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L"-" + tag + L".txt";
}

UniqueFile CreateInheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return UniqueFile(CreateFileW(path.c_str(), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Our environment with `extra` entries added or replacing ours (names compared without
// regard to case, as Windows does).
std::wstring BuildEnvironment(const std::vector<std::wstring>& extra) {
    std::map<std::wstring, std::wstring> byName;
    auto key = [](const std::wstring& entry) {
        std::wstring name = entry.substr(0, entry.find(L'=', 1));
        for (wchar_t& c : name) {
            c = static_cast<wchar_t>(towupper(c));
        }
        return name;
    };
    const UniqueEnvironmentStrings block(GetEnvironmentStringsW());
    for (const wchar_t* p = block.Get(); p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        byName[key(p)] = p;
    }
    for (const std::wstring& entry : extra) {
        byName[key(entry)] = entry;
    }
    std::wstring result;
    for (const auto& [name, entry] : byName) {
        result += entry;
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    const size_t unit = info.fUnicode ? sizeof(wchar_t) : 1;
    std::string bytes(static_cast<size_t>(info.nDebugStringLength) * unit, '\0');
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), bytes.size(), &read);
    bytes.resize(read);
    std::string text;
    if (info.fUnicode) {
        text = ToUtf8(std::wstring_view(reinterpret_cast<const wchar_t*>(bytes.data()),
                                        read / sizeof(wchar_t)));
    } else {
        text = bytes;
    }
    while (!text.empty() && text.back() == '\0') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, L'\\');
            break;
        }
        if (argument[i] == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        quoted.push_back(argument[i]);
    }
    quoted.push_back(L'"');
    return quoted;
}

RunResult RunProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                     const RunOptions& options) {
    std::wstring commandLine = QuoteArgument(program);
    for (const std::wstring& argument : arguments) {
        commandLine += L" " + QuoteArgument(argument);
    }
    return RunProcessCommandLine(program, commandLine, options);
}

namespace {

// The debugger's side of one run: it takes the program's events until it exits, keeps its
// debugger output and exit code, and ends it when the caller asks or at its deadline.
class DebugSession {
  public:
    DebugSession(HANDLE program, const RunOptions& given, RunResult* into)
        : process(program),
          options(given),
          result(into),
          deadline(GetTickCount64() + given.timeoutMs) {}

    void Run() {
        while (!exited) {
            DEBUG_EVENT event{};
            if (!WaitForDebugEvent(&event, NextWait())) {
                OnIdle();
                continue;
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, Handle(event));
        }
    }

  private:
    DWORD NextWait() const {
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = now >= deadline ? 100 : static_cast<DWORD>(deadline - now);
        return options.killWhen && !result->killed ? std::min<DWORD>(wait, 20) : wait;
    }

    void OnIdle() {
        if (options.killWhen && !result->killed && !result->timedOut && options.killWhen()) {
            result->killed = true;
            TerminateProcess(process, kKilledExitCode);
        } else if (GetTickCount64() >= deadline && !result->timedOut) {
            result->timedOut = true;
            TerminateProcess(process, 0xDEAD);
        }
    }

    // How to continue after `event`: every exception but the first breakpoint goes back to
    // the program unhandled, as without a debugger.
    DWORD Handle(const DEBUG_EVENT& event) {
        switch (event.dwDebugEventCode) {
            // The debugger is handed these file handles and closes them.
            case CREATE_PROCESS_DEBUG_EVENT:
                UniqueHandle(event.u.CreateProcessInfo.hFile).Reset();
                break;
            case LOAD_DLL_DEBUG_EVENT:
                UniqueHandle(event.u.LoadDll.hFile).Reset();
                break;
            case OUTPUT_DEBUG_STRING_EVENT:
                result->debugStrings.push_back(ReadDebugString(process, event.u.DebugString));
                break;
            case EXCEPTION_DEBUG_EVENT:
                if (seenFirstBreakpoint ||
                    event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    return DBG_EXCEPTION_NOT_HANDLED;
                }
                seenFirstBreakpoint = true;
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                result->exitCode = event.u.ExitProcess.dwExitCode;
                exited = true;
                break;
            default:
                break;
        }
        return DBG_CONTINUE;
    }

    HANDLE process;
    const RunOptions& options;
    RunResult* result;
    ULONGLONG deadline;
    bool seenFirstBreakpoint = false;
    bool exited = false;
};

// Starts `program` under this process as its debugger, its standard streams the given
// handles; false with the platform's code in `*error`.
bool StartDebugged(const std::wstring& program, std::wstring commandLine, const RunOptions& options,
                   HANDLE in, HANDLE out, HANDLE err, PROCESS_INFORMATION* process, DWORD* error) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring environment;
    if (!options.extraEnvironment.empty()) {
        environment = BuildEnvironment(options.extraEnvironment);
    }
    if (!CreateProcessW(
            program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
            DEBUG_ONLY_THIS_PROCESS | CREATE_UNICODE_ENVIRONMENT |
                (options.newConsole ? CREATE_NEW_CONSOLE : 0),
            environment.empty() ? nullptr : environment.data(),
            options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
            process)) {
        *error = GetLastError();
        return false;
    }
    return true;
}

}  // namespace

RunResult RunProcessCommandLine(const std::wstring& program, const std::wstring& commandLine,
                                const RunOptions& options) {
    RunResult result;
    const std::wstring outPath = UniqueTempFile(L"out");
    const std::wstring errPath = UniqueTempFile(L"err");
    {
        const UniqueFile out = CreateInheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
        const UniqueFile err = CreateInheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
        const UniqueFile in = CreateInheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
        PROCESS_INFORMATION process{};
        if (!StartDebugged(program, commandLine, options, in.Get(), out.Get(), err.Get(), &process,
                           &result.startError)) {
            DeleteFileW(outPath.c_str());
            DeleteFileW(errPath.c_str());
            return result;
        }
        result.started = true;
        const UniqueHandle processHandle(process.hProcess);
        const UniqueHandle threadHandle(process.hThread);
        DebugSession(processHandle.Get(), options, &result).Run();
    }
    result.output = ReadTextFile(outPath);
    result.errorOutput = ReadTextFile(errPath);
    result.outputLines = SplitLines(result.output);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return result;
}
