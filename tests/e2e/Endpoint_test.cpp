// The tool on a managed endpoint that is not quiet: agents kill runs that exceed their time
// limit and start several at once from one folder, and scanners open every new file for a
// moment. Nothing may be lost, left behind or reported as success when it is not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Noise.h"
#include "ProgramSandbox.h"
#include "WinResources.h"
#include "ZipReader.h"
#include "ZipWriter.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const wchar_t* kPatch = L"6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01";

// Writes `csv` as the catalog archive at `path`.
void WriteCatalog(const std::wstring& path, const std::string& csv, const std::wstring& scratch) {
    WriteTextFile(scratch, csv);
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ZipWriter writer(file.Get(), ZipOptions{}, kZipLimits);
    ASSERT_EQ(writer.AddFile("patches.csv", scratch), ZipStatus::Ok);
    ASSERT_EQ(writer.Finish(), ZipStatus::Ok);
}

// A sandbox with the reference packager, a catalog of two patches and, in work\, the vendor
// file of the requested one (`vendorBytes` of it) and of the other.
struct ReferenceSandbox : ProgramSandbox {
    explicit ReferenceSandbox(const std::string& vendorBytes = "en-us vendor file") {
        EXPECT_TRUE(InstallPackager(L"reference", bin));
        WriteCatalog(catalog + L"\\windowspatchdata.zip",
                     "guid,language,vendor_file,title\r\n"
                     "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0409,en.msp,English\r\n"
                     "6F2C7A41-0B3E-4D5A-9C11-2E8B4F7D1A01,0x0407,de.msp,German\r\n",
                     dir / L"patches.csv");
        WriteTextFile(work + L"\\en.msp", vendorBytes);
        WriteTextFile(work + L"\\de.msp", "de-de vendor file");
    }
    std::vector<std::wstring> Args() const {
        return {L"-p", kPatch, L"-r", L"0", L"-c", catalog, L"-o", output};
    }
    std::wstring Package() const { return output + L"\\deploy-package.zip"; }
};

// The kqp*.tmp files in `folder`, with their sizes.
std::vector<std::pair<std::wstring, uint64_t>> TemporaryFiles(const std::wstring& folder) {
    std::vector<std::pair<std::wstring, uint64_t>> found;
    WIN32_FIND_DATAW data;
    const UniqueFind find(FindFirstFileW((folder + L"\\kqp*.tmp").c_str(), &data));
    while (find) {
        found.emplace_back(data.cFileName,
                           (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    return found;
}

std::vector<std::string> WithoutNewlines(std::vector<std::string> lines) {
    for (std::string& line : lines) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
    }
    return lines;
}

TEST(Endpoint, AKilledRunKeepsEveryReportMadeBeforeTheKill) {
    ProgramSandbox box;
    box.script += "wait_in=CreatePackage\n";
    box.killWhen = [&] { return box.RecordLine("CreatePackage waiting") != ""; };
    RunResult run = box.RunWith({});
    ASSERT_TRUE(run.killed);
    EXPECT_EQ(run.exitCode, kKilledExitCode);
    // Without an event library every report also goes to the debugger output, which the
    // test receives as it is made: standard output must hold the same lines.
    ASSERT_FALSE(run.debugStrings.empty());
    EXPECT_EQ(run.outputLines, WithoutNewlines(run.debugStrings));
    EXPECT_THAT(run.outputLines.back(),
                HasSubstr("Option to remove temp files will be used for current deployment "
                          "package."));
}

#if defined(_WIN64)
TEST(Endpoint, AKillWhileWritingLeavesTheOlderPackageAndTheNextRunSweeps) {
    // 64 MiB that deflate halves, so that the package grows slowly enough to be caught.
    std::string vendor = NoiseLetters(64u << 20, 20261209, 4);
    ReferenceSandbox box(vendor);
    vendor.clear();
    WriteTextFile(box.Package(), "older package");
    box.killWhen = [&] {
        const auto files = TemporaryFiles(box.output);
        return !files.empty() && files[0].second >= (4u << 20);
    };
    RunResult killed = box.Run(box.Args());
    ASSERT_TRUE(killed.killed) << "the run ended before it could be killed";
    EXPECT_EQ(ReadTextFile(box.Package()), "older package");
    EXPECT_EQ(TemporaryFiles(box.output).size(), 1u) << "the killed run's temporary package";

    box.killWhen = nullptr;
    RunResult next = box.Run(box.Args());
    EXPECT_EQ(next.exitCode, 0u);
    EXPECT_THAT(TemporaryFiles(box.output), IsEmpty());
    ZipReader reader;
    ASSERT_EQ(reader.Open(box.Package()), ZipStatus::Ok);
    EXPECT_EQ(reader.Entries().size(), 3u);
    EXPECT_THAT(ReadTextFile(box.work + L"\\PatchPackager.log"),
                HasSubstr("removed 1 temporary packages of runs that ended early"));
}
#endif

TEST(Endpoint, ATargetHeldOpenByAnotherProcessForAMomentIsWaitedOut) {
    ReferenceSandbox box;
    WriteTextFile(box.Package(), "older package");
    // As a virus scanner opens a new file: without delete sharing, so it cannot be replaced.
    UniqueFile scanner(CreateFileW(box.Package().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(scanner);
    box.killWhen = [&] {
        // Let go once the run is waiting to rename its package over the held one.
        if (scanner && !TemporaryFiles(box.output).empty()) {
            Sleep(300);
            scanner.Reset();
        }
        return false;
    };
    RunResult run = box.Run(box.Args());
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(scanner) << "the run never got to its rename";
    ZipReader reader;
    EXPECT_EQ(reader.Open(box.Package()), ZipStatus::Ok);
}

// `count` runs of the box's tool started together, each from its own thread.
std::vector<RunResult> RunTogether(const ReferenceSandbox& box, int count) {
    std::vector<RunResult> runs(count);
    std::vector<std::thread> threads;
    for (RunResult& run : runs) {
        threads.emplace_back([&] {
            RunOptions options;
            options.workingDirectory = box.work;
            options.timeoutMs = 120000;
            run = RunProcess(box.exe, box.Args(), options);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return runs;
}

TEST(Endpoint, ConcurrentRunsFromOneFolderAllSucceedAndLoseNoLogLine) {
    ReferenceSandbox box;
    const std::wstring log = box.work + L"\\PatchPackager.log";  // the default log
    RunResult solo = box.Run(box.Args());
    ASSERT_EQ(solo.exitCode, 0u);
    const size_t linesPerRun = SplitLines(ReadTextFile(log)).size();
    ASSERT_GT(linesPerRun, 3u);
    DeleteFileW(log.c_str());

    constexpr int kRuns = 8;
    const std::vector<RunResult> runs = RunTogether(box, kRuns);
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_EQ(runs[i].exitCode, 0u) << "run " << i;
        EXPECT_FALSE(runs[i].timedOut) << "run " << i;
    }
    ZipReader reader;
    ASSERT_EQ(reader.Open(box.Package()), ZipStatus::Ok);
    std::string vendor;
    EXPECT_EQ(reader.Extract("en.msp", 1 << 20, &vendor), ZipStatus::Ok);
    EXPECT_THAT(TemporaryFiles(box.output), IsEmpty());

    const std::vector<std::string> lines = SplitLines(ReadTextFile(log));
    EXPECT_EQ(lines.size(), kRuns * linesPerRun);
    static const std::regex whole(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (INFO |WARN |ERROR) \\S.*");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_match(line, whole)) << "a torn line: " << line;
    }
}

TEST(Endpoint, APackageWithoutTheRequestedPatchIsAFailure) {
    ReferenceSandbox box;
    DeleteFileW((box.work + L"\\en.msp").c_str());
    WriteTextFile(box.Package(), "older package");
    RunResult run = box.Run(box.Args());
    EXPECT_EQ(run.exitCode, 0x8004A007u);
    EXPECT_THAT(run.outputLines,
                Contains(HasSubstr("Unable to create package due to error -2147180537")));
    EXPECT_EQ(ReadTextFile(box.Package()), "older package");
    EXPECT_THAT(TemporaryFiles(box.output), IsEmpty());
}

}  // namespace
