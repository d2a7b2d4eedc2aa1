// What real callers and real vendor libraries do to the tool: generated command lines, odd
// paths, missing or locked files and faulty libraries. Bounded and seeded: every run of the
// suite makes the same cases.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "ProgramSandbox.h"
#include "WinResources.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// Every line on standard output is "DeploymentPackager.exe:<component>:<message>", apart
// from trace text, which follows a "Logger" line.
void ExpectWellFormed(const RunResult& run, const std::string& what) {
    static const std::regex form("^DeploymentPackager\\.exe:[A-Za-z ]*:.*$");
    bool inTrace = false;
    for (const std::string& line : run.outputLines) {
        if (line.rfind("DeploymentPackager.exe:Logger:", 0) == 0) {
            inTrace = true;
            continue;
        }
        if (inTrace && (line.empty() || line.rfind("Format  string: ", 0) == 0 ||
                        line.rfind("Error code: ", 0) == 0)) {
            continue;
        }
        inTrace = false;
        if (line.rfind("LoggerHelper: ", 0) == 0) {
            continue;  // the logger's own line about binding the event library
        }
        EXPECT_TRUE(std::regex_match(line, form)) << what << ": " << line;
    }
}

void ExpectSettled(const RunResult& run, const std::string& what) {
    EXPECT_TRUE(run.started) << what;
    EXPECT_FALSE(run.timedOut) << what;
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << what << ": exit " << run.exitCode;
    ExpectWellFormed(run, what);
}

// A snapshot of a folder tree: every path with its size and write time.
std::map<std::wstring, std::pair<uint64_t, uint64_t>> Snapshot(const std::wstring& root) {
    std::map<std::wstring, std::pair<uint64_t, uint64_t>> files;
    std::vector<std::wstring> pending = {root};
    while (!pending.empty()) {
        const std::wstring folder = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW data;
        const UniqueFind find(FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &data));
        if (!find) {
            continue;
        }
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder) {
                pending.push_back(path);
            }
            // A folder's own write time follows its content; only files carry theirs.
            files[path.substr(root.size())] = {
                isFolder ? 0 : (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                isFolder ? 0
                         : (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                               data.ftLastWriteTime.dwLowDateTime};
        } while (FindNextFileW(find.Get(), &data));
    }
    return files;
}

// Runs the tool and checks that nothing that was in the sandbox before was deleted or
// replaced, except `allowed` paths (relative to the sandbox, e.g. L"\\out\\deploy-package.zip")
// and the double's own files. New files (a package where an option put it) may appear.
RunResult RunChecked(ProgramSandbox& box, const std::vector<std::wstring>& args,
                     const std::vector<std::wstring>& allowed, const std::string& what,
                     const std::vector<std::wstring>& environment = {}) {
    WriteTextFile(box.dir / L"script.txt", box.script);
    auto before = Snapshot(box.dir.Path());
    RunResult run = box.Run(args, environment);
    auto after = Snapshot(box.dir.Path());
    for (const wchar_t* own : {L"\\script.txt", L"\\record.txt", L"\\events.txt"}) {
        before.erase(own);
        after.erase(own);
    }
    for (const std::wstring& path : allowed) {
        before.erase(path);
        after.erase(path);
    }
    std::string changed;
    for (const auto& [path, state] : before) {
        const auto found = after.find(path);
        if (found == after.end() || found->second != state) {
            changed += " " + ToUtf8(path);
        }
    }
    EXPECT_EQ(changed, "") << what << ": the tool changed files it was not asked to";
    return run;
}

// --- Generated command lines --------------------------------------------------------------

std::wstring RandomText(std::mt19937& random, size_t length) {
    static const std::vector<wchar_t> odd = {L'\xD800', L'\xDC00', L'\xFFFF', L'\x00E9',
                                             L'\x4E2D', L'"',      L'\\',     L' ',
                                             L'%',      L'\t',     L'-',      L'/'};
    std::wstring text;
    for (size_t i = 0; i < length; ++i) {
        const unsigned pick = random() % 10;
        text.push_back(pick < 2 ? odd[random() % odd.size()]
                                : static_cast<wchar_t>(L'a' + random() % 26));
    }
    return text;
}

TEST(Robustness, GeneratedCommandLinesNeverCrashOrHang) {
    ProgramSandbox box;
    std::mt19937 random(20261208);
    const std::vector<std::wstring> names = {L"p",  L"r",  L"c",   L"o",  L"w",  L"sf",
                                             L"dp", L"e",  L"pl",  L"pt", L"po", L"dl",
                                             L"dt", L"do", L"crt", L"pd", L"x",  L"Sf"};
    const std::vector<std::wstring> prefixes = {L"", L"/", L"-", L"--", L"---"};
    for (int round = 0; round < 100; ++round) {
        std::vector<std::wstring> args;
        // Half of the cases start valid, so that the build runs with damaged options.
        if (round % 2 == 0) {
            args = box.Required();
        }
        const size_t extra = random() % 8;
        size_t total = 0;
        for (size_t i = 0; i < extra; ++i) {
            std::wstring name = names[random() % names.size()];
            if (random() % 4 == 0) {
                for (wchar_t& c : name) {
                    c = static_cast<wchar_t>(towupper(c));
                }
            }
            args.push_back(prefixes[random() % prefixes.size()] + name);
            const unsigned kind = random() % 6;
            const size_t length = kind == 0   ? 0
                                  : kind == 1 ? 20000 + random() % 10000
                                              : random() % 40;
            if (total + length < 30000) {
                args.push_back(kind == 2 ? L"-" + names[random() % names.size()]
                                         : RandomText(random, length));
                total += length;
            }
        }
        const std::string what = "round " + std::to_string(round);
        RunResult run = RunChecked(box, args, {L"\\out\\deploy-package.zip"}, what);
        ExpectSettled(run, what);
    }
}

// --- Paths ----------------------------------------------------------------------------------

TEST(Robustness, OddPathsGiveClearErrorsOrCorrectWork) {
    ProgramSandbox box;
    InstalledEventLibrary events(BinPath(L"doubles\\events-recording\\ZelNSEvent.dll"));
    const std::wstring deep = box.dir.Path() + L"\\" + std::wstring(300, L'd');
    const std::wstring deeper = box.dir.Path() + L"\\" + std::wstring(5000, L'e');
    const std::wstring file = box.dir / L"a-file";
    WriteTextFile(file, "x");
    const std::wstring unicode = box.dir / L"caf\u00e9-\u4e2d";
    CreateDirectoryW(unicode.c_str(), nullptr);
    WriteTextFile(unicode + L"\\windowspatchdata.zip", "catalog");
    const std::vector<std::wstring> paths = {
        deep,    deeper, L"\\\\?\\" + box.output, L"\\\\nohost\\share\\x",
        unicode, file,   file + L"\\below",       L"\\\\?\\" + deep};
    for (const wchar_t* option : {L"-c", L"-o", L"-pl", L"-dl", L"-dp", L"-e", L"-crt", L"-pd"}) {
        for (const std::wstring& path : paths) {
            const std::string what = ToUtf8(option) + " " + ToUtf8(path.substr(0, 60)) + " (" +
                                     std::to_string(path.size()) + " characters)";
            std::vector<std::wstring> args = box.Required();
            // The first occurrence counts: put the odd one first.
            args.insert(args.begin(), {option, path});
            RunResult run = RunChecked(
                box, args,
                {L"\\out\\deploy-package.zip", L"\\bin\\KQPackager.dll",
                 path.rfind(box.dir.Path(), 0) == 0 ? path.substr(box.dir.Path().size()) : path},
                what);
            ExpectSettled(run, what);
            ASSERT_FALSE(run.outputLines.empty()) << what;
            // Later lines are never lost: the run always reports how it ended.
            EXPECT_THAT(run.outputLines.back(), HasSubstr("BuildPackage finished. Result code = " +
                                                          std::to_string(run.exitCode) + " "))
                << what;
        }
    }
}

TEST(Robustness, NonAsciiPathsWork) {
    ProgramSandbox box;
    const std::wstring output = box.dir / L"\u00fcber-\u65e5\u672c";
    CreateDirectoryW(output.c_str(), nullptr);
    RunResult run =
        box.Run({L"-p", ProgramSandbox::kGuid, L"-r", L"0", L"-c", box.catalog, L"-o", output});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(GetFileAttributesW((output + L"\\deploy-package.zip").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_THAT(box.RecordLine("CreatePackage packageFile="),
                HasSubstr(ToUtf8(output) + "\\deploy-package.zip"));
}

// --- Catalog and output problems -----------------------------------------------------------

TEST(Robustness, CatalogAndOutputProblems) {
    ProgramSandbox box;
    DeleteFileW((box.catalog + L"\\windowspatchdata.zip").c_str());
    RunResult run = RunChecked(box, box.Required(), {}, "catalog missing");
    EXPECT_EQ(run.exitCode, 1u);

    CreateDirectoryW((box.catalog + L"\\windowspatchdata.zip").c_str(), nullptr);
    run = RunChecked(box, box.Required(), {L"\\out\\deploy-package.zip"}, "catalog is a folder");
    EXPECT_EQ(run.exitCode, 0u);  // the double reads no catalog; the tool only tests existence
    RemoveDirectoryW((box.catalog + L"\\windowspatchdata.zip").c_str());
    WriteTextFile(box.catalog + L"\\windowspatchdata.zip", "catalog");

    const std::wstring fileAsFolder = box.dir / L"plain-file";
    WriteTextFile(fileAsFolder, "x");
    run = RunChecked(
        box, {L"-p", ProgramSandbox::kGuid, L"-r", L"0", L"-c", fileAsFolder, L"-o", box.output},
        {}, "catalog folder is a file");
    EXPECT_EQ(run.exitCode, 1u);

    run = RunChecked(
        box,
        [&] {
            auto args = box.Required();
            args.insert(args.end(), {L"-dp", L"missing\\p.zip"});
            return args;
        }(),
        {}, "package folder missing");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_THAT(run.outputLines, Contains(HasSubstr("Folder for file does not exist. File = ")));
}

TEST(Robustness, ALockedPackageIsReportedAndKeptByTheReferenceLibrary) {
    ProgramSandbox box;
    ASSERT_TRUE(box.InstallPackager(L"reference", box.bin));
    // A real catalog for the reference library.
    CopyFileW((BinDir() + L"\\..\\samples\\catalog\\windowspatchdata.zip").c_str(),
              (box.catalog + L"\\windowspatchdata.zip").c_str(), FALSE);
    // The requested patch's vendor file, without which no package is written at all: the
    // sample's own, whose digest the catalog pins.
    CreateDirectoryW((box.work + L"\\vendor").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((BinDir() + L"\\..\\samples\\vendor\\kb5001-en-us.msp").c_str(),
                          (box.work + L"\\vendor\\kb5001-en-us.msp").c_str(), FALSE));
    const std::wstring package = box.output + L"\\deploy-package.zip";
    WriteTextFile(package, "older package");
    UniqueFile locked(
        CreateFileW(package.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(locked);
    RunResult run = box.Run({L"-p", L"6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01", L"-r", L"0", L"-c",
                             box.catalog, L"-o", box.output});
    locked.Reset();
    EXPECT_EQ(run.exitCode, 0x8004A005u);
    EXPECT_EQ(ReadTextFile(package), "older package");
    ExpectWellFormed(run, "locked package");
}

// --- Faulty vendor libraries ---------------------------------------------------------------

struct FaultyLibrary {
    const char* what;
    std::string script;
    std::vector<std::wstring> environment;
    bool faultingEvents;
    DWORD exitCode;
};

// Faults and absurd answers of either library, each with the exit code the tool must give.
std::vector<FaultyLibrary> FaultyLibraries(const std::string& base) {
    return {
        {"event library faults on every call", base, {L"DP_EVENT_FAULT=1"}, true, 0},
        {"CreatePackager faults", base + "create_fault=1\n", {}, false, 1},
        {"Initialize faults", base + "fault_in=Initialize\n", {}, false, 1},
        {"GetVendorPatchFile faults", base + "fault_in=GetVendorPatchFile\n", {}, false, 1},
        {"CreatePackage faults", base + "fault_in=CreatePackage\n", {}, false, 1},
        {"absurd count", base + "count=2147483647\n", {}, false, 1},
        {"count without array", base + "null_array=1\n", {}, false, 1},
        {"null vendor file",
         "patch=" + ProgramSandbox::kGuidUpper + ",0x409,:null\n",
         {},
         false,
         0},
        {"count below the array",
         base + "patch=" + ProgramSandbox::kGuidUpper + ",0x407,x\ncount=1\n",
         {},
         false,
         0},
    };
}

TEST(Robustness, FaultyLibrariesNeverTakeTheToolDown) {
    ProgramSandbox box;
    const std::vector<FaultyLibrary> cases = FaultyLibraries(box.script);
    for (const FaultyLibrary& c : cases) {
        box.script = c.script;
        std::unique_ptr<InstalledEventLibrary> events;
        if (c.faultingEvents) {
            events = std::make_unique<InstalledEventLibrary>(
                BinPath(L"doubles\\events-recording\\ZelNSEvent.dll"));
        }
        RunResult run =
            RunChecked(box, box.Required(), {L"\\out\\deploy-package.zip"}, c.what, c.environment);
        EXPECT_FALSE(run.timedOut) << c.what;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        EXPECT_THAT(run.outputLines,
                    Contains(HasSubstr("BuildPackage finished. Result code = " +
                                       std::to_string(static_cast<int>(c.exitCode)) + " ")))
            << c.what;
        DeleteFileW((box.output + L"\\deploy-package.zip").c_str());
    }
}

}  // namespace
