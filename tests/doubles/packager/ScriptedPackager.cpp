#include "ScriptedPackager.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "Fault.h"
#include "ForeignFrames.h"
#include "GuidText.h"
#include "Text.h"
#include "WinResources.h"

namespace {

std::string Reserved(const uint32_t* values, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += (i ? "," : "") + std::to_string(values[i]);
    }
    return text;
}

void FaultIf(const PackagerScript& script, const char* method,
             const std::function<void(const std::string&)>& record) {
    if (script.faultIn != method) {
        return;
    }
    if (script.faultKind == "probe") {
        const BOOL bad = IsBadReadPtr(UnreadableAddress(), 4);
        record(std::string(method) + " probe=" + (bad ? "bad" : "readable"));
    } else if (script.faultKind == "repaired") {
        const bool repaired =
            ReadRepairingFaults(static_cast<const int*>(UnreadableAddress())) == kRepairedRead;
        record(std::string(method) + " repaired=" + (repaired ? "1" : "0"));
    } else if (script.faultKind == "declined") {
        CallUnderDecliningHandler(&RaiseAccessViolation);
    } else {
        RaiseAccessViolation();
    }
}

void WaitIf(const PackagerScript& script, const char* method,
            const std::function<void(const std::string&)>& record) {
    if (script.waitIn != method) {
        return;
    }
    record(std::string(method) + " waiting");
    for (;;) {
        Sleep(INFINITE);
    }
}

// Every scripted behaviour that happens on entry to a method.
void OnEntry(const PackagerScript& script, const char* method,
             const std::function<void(const std::string&)>& record) {
    WaitIf(script, method, record);
    FaultIf(script, method, record);
}

}  // namespace

std::string GuidText(const GUID& guid) {
    return PatchGuidText(ToPatchGuid(guid));
}

std::string RecordedText(const wchar_t* text) {
    return text == nullptr ? "(null)" : ToUtf8(text);
}

// Keys: create_status, create_fault, create_null, init_status, patches_status,
// package_status, fault_in=<method>, fault_kind=<kind>, vendor_status=<index>:<status>,
// patch=<guid>,<language>,<vendor file, :null or :unreadable>, null_array, count,
// write_package, watch=<path>, wait_in=<method>.
namespace {

// "<guid>,<language>,<vendor file, :null or :unreadable>".
PackagerScript::Patch ParsePatch(const std::string& value) {
    const size_t c1 = value.find(',');
    const size_t c2 = value.find(',', c1 + 1);
    PackagerScript::Patch patch{};
    PatchGuid id;
    ParsePatchGuid(value.substr(0, c1), &id);
    patch.id = ToGuid(id);
    patch.languageId =
        static_cast<uint16_t>(std::strtoul(value.substr(c1 + 1, c2 - c1 - 1).c_str(), nullptr, 0));
    const std::string vendor = c2 == std::string::npos ? "" : value.substr(c2 + 1);
    patch.nullVendorFile = vendor == ":null";
    patch.unreadableVendorFile = vendor == ":unreadable";
    patch.vendorFile = patch.nullVendorFile || patch.unreadableVendorFile ? L"" : FromUtf8(vendor);
    return patch;
}

// What each key sets, from its value as text and as a number.
using KeySetter = void (*)(PackagerScript& script, const std::string& value, long long number);

const std::map<std::string, KeySetter>& KeySetters() {
    using S = PackagerScript;
    using V = const std::string&;
    static const std::map<std::string, KeySetter> setters = {
        {"create_status", [](S& s, V, long long n) { s.createStatus = static_cast<int32_t>(n); }},
        {"create_fault", [](S& s, V, long long n) { s.createFaults = n != 0; }},
        {"create_null", [](S& s, V, long long n) { s.createReturnsNull = n != 0; }},
        {"init_status", [](S& s, V, long long n) { s.initializeStatus = static_cast<int32_t>(n); }},
        {"patches_status", [](S& s, V, long long n) { s.patchesStatus = static_cast<int32_t>(n); }},
        {"package_status",
         [](S& s, V, long long n) { s.createPackageStatus = static_cast<int32_t>(n); }},
        {"vendor_status",
         [](S& s, V v, long long) {
             s.vendorStatus.emplace_back(
                 static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 0)),
                 static_cast<int32_t>(std::strtoll(v.c_str() + v.find(':') + 1, nullptr, 0)));
         }},
        {"patch", [](S& s, V v, long long) { s.patches.push_back(ParsePatch(v)); }},
        {"null_array", [](S& s, V, long long n) { s.nullPatchArray = n != 0; }},
        {"count", [](S& s, V, long long n) { s.countOverride = n; }},
        {"write_package", [](S& s, V, long long n) { s.writePackage = n != 0; }},
        {"fault_in", [](S& s, V v, long long) { s.faultIn = v; }},
        {"wait_in", [](S& s, V v, long long) { s.waitIn = v; }},
        {"fault_kind", [](S& s, V v, long long) { s.faultKind = v; }},
        {"watch", [](S& s, V v, long long) { s.watchedFiles.push_back(FromUtf8(v)); }},
    };
    return setters;
}

}  // namespace

PackagerScript PackagerScript::Parse(const std::string& text) {
    PackagerScript script;
    for (const std::string& line : SplitLines(text)) {
        const size_t eq = line.find('=');
        const auto setter = KeySetters().find(line.substr(0, eq));
        if (eq != std::string::npos && setter != KeySetters().end()) {
            const std::string value = line.substr(eq + 1);
            setter->second(script, value, std::strtoll(value.c_str(), nullptr, 0));
        }
    }
    return script;
}

ScriptedPackager::ScriptedPackager(PackagerScript given,
                                   std::function<void(const std::string&)> recorder)
    : script(std::move(given)), record(std::move(recorder)) {}

HRESULT ScriptedPackager::Create(const PackagerScript& script,
                                 std::function<void(const std::string&)> record, const IID* iid,
                                 IPackager** packager) {
    const bool rightIid = iid != nullptr && std::memcmp(iid, &IID_IPackager, sizeof(IID)) == 0;
    record(std::string("CreatePackager iid=") + (rightIid ? "IID_IPackager" : "other"));
    if (script.createFaults) {
        RaiseAccessViolation();
    }
    if (script.createStatus < 0) {
        return script.createStatus;
    }
    *packager = script.createReturnsNull ? nullptr : new ScriptedPackager(script, record);
    return script.createStatus;
}

HRESULT ScriptedPackager::QueryInterface(const IID&, void** object) {
    record("QueryInterface");
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ScriptedPackager::AddRef() {
    record("AddRef");
    return static_cast<ULONG>(InterlockedIncrement(&references));
}

ULONG ScriptedPackager::Release() {
    OnEntry(script, "Release", record);
    record("Release");
    if (script.faultKind == "declined") {
        record(std::string("Release chain=") + (ExceptionChainIsWhole() ? "whole" : "broken") +
               " unwound=" + std::to_string(DecliningHandlerUnwinds()));
    }
    const LONG left = InterlockedDecrement(&references);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

int32_t ScriptedPackager::Initialize(const PackagerInitInfo* info) {
    OnEntry(script, "Initialize", record);
    record("Initialize packagerLogLevel=" + std::to_string(info->packagerLogLevel) +
           " packagerLog=" + RecordedText(info->packagerLog) +
           " catalogFile=" + RecordedText(info->catalogFile) +
           " reserved1=" + Reserved(info->reserved1, 2) + " patchId=" + GuidText(info->patchId) +
           " patchCount=" + std::to_string(info->patchCount) + " patch=" +
           GuidText(info->patches->id) + "/" + std::to_string(info->patches->languageId) +
           " reserved2=" + Reserved(info->reserved2, 3));
    wchar_t path[32768];
    const DWORD n = GetEnvironmentVariableW(L"Path", path, 32768);
    record("Initialize Path=" + (n > 0 && n < 32768 ? RecordedText(path) : std::string()));
    for (const std::wstring& watched : script.watchedFiles) {
        const bool exists = GetFileAttributesW(watched.c_str()) != INVALID_FILE_ATTRIBUTES;
        record("Initialize exists " + RecordedText(watched.c_str()) + "=" + (exists ? "1" : "0"));
    }
    return script.initializeStatus;
}

int32_t ScriptedPackager::GetAvailablePatches(PatchList* list) {
    OnEntry(script, "GetAvailablePatches", record);
    record("GetAvailablePatches count=" + std::to_string(list->count) +
           (list->patches == nullptr ? " patches=null" : " patches=set"));
    listed.clear();
    for (const PackagerScript::Patch& patch : script.patches) {
        listed.push_back(PatchInfo{patch.id, patch.languageId, 0});
    }
    list->count = script.countOverride >= 0 ? static_cast<uint32_t>(script.countOverride)
                                            : static_cast<uint32_t>(listed.size());
    list->patches = script.nullPatchArray ? nullptr : listed.data();
    return script.patchesStatus;
}

int32_t ScriptedPackager::Reserved5() {
    record("Reserved5");
    return E_NOTIMPL;
}
int32_t ScriptedPackager::Reserved6() {
    record("Reserved6");
    return E_NOTIMPL;
}
int32_t ScriptedPackager::Reserved8() {
    record("Reserved8");
    return E_NOTIMPL;
}
int32_t ScriptedPackager::Reserved9() {
    record("Reserved9");
    return E_NOTIMPL;
}

int32_t ScriptedPackager::GetVendorPatchFile(const PatchInfo* patch, VendorFileInfo* file) {
    OnEntry(script, "GetVendorPatchFile", record);
    record("GetVendorPatchFile " + GuidText(patch->id) + "/" + std::to_string(patch->languageId));
    if (++lookups == 2 && !script.folderAtSecondLookup.empty()) {
        SetCurrentDirectoryW(script.folderAtSecondLookup.c_str());
    }
    if (indexOf.empty()) {
        for (uint32_t i = 0; i < script.patches.size(); ++i) {
            indexOf.emplace(
                std::make_pair(GuidText(script.patches[i].id), script.patches[i].languageId), i);
        }
    }
    const auto found = indexOf.find(std::make_pair(GuidText(patch->id), patch->languageId));
    const uint32_t index =
        found != indexOf.end() ? found->second : static_cast<uint32_t>(script.patches.size());
    for (const auto& [at, status] : script.vendorStatus) {
        if (at == index && status < 0) {
            return status;
        }
    }
    int32_t status = 0;
    for (const auto& [at, given] : script.vendorStatus) {
        if (at == index) {
            status = given;
        }
    }
    file->fileName = nullptr;
    if (index < script.patches.size() && !script.patches[index].nullVendorFile) {
        file->fileName = script.patches[index].unreadableVendorFile
                             ? static_cast<const wchar_t*>(UnreadableAddress())
                             : script.patches[index].vendorFile.c_str();
    }
    return status;
}

int32_t ScriptedPackager::CreatePackage(const PackageRequest* request, const wchar_t* packageFile,
                                        const DeploymentOptions* options) {
    OnEntry(script, "CreatePackage", record);
    record("CreatePackage source=" + RecordedText(request->source) + " reserved1=" +
           std::to_string(request->reserved1) + " count=" + std::to_string(request->count) +
           " reserved2=" + Reserved(request->reserved2, 2));
    for (uint32_t i = 0; i < request->count; ++i) {
        const PackageItem& item = request->items[i];
        record("CreatePackage item " + GuidText(item.id) + "/" + std::to_string(item.languageId) +
               " index=" + std::to_string(item.index) + " reserved=" + Reserved(item.reserved, 2));
    }
    record("CreatePackage packageFile=" + RecordedText(packageFile));
    record("CreatePackage deploymentLogLevel=" + std::to_string(options->deploymentLogLevel) +
           " deploymentLog=" + RecordedText(options->deploymentLog) + " eventsHandlerDll=" +
           RecordedText(options->eventsHandlerDll) + " flags=" + std::to_string(options->flags) +
           " reserved1=" + Reserved(options->reserved1, 6) +
           " reserved2=" + Reserved(options->reserved2, 6));
    if (script.createPackageStatus == 0 && script.writePackage) {
        const UniqueFile file(CreateFileW(packageFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (file) {
            WriteFile(file.Get(), "package", 7, &written, nullptr);
        }
    }
    return script.createPackageStatus;
}
