#include "CmdLineHelper.h"

#include <cwchar>
#include <cwctype>

CmdLineHelper::CmdLineHelper(int argc, const wchar_t* const* argv) {
    if (argc < 2 || argv == nullptr) {
        return;
    }
    arguments.reserve(static_cast<size_t>(argc - 1));
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : L"");
    }
}

CmdLineHelper::~CmdLineHelper() = default;

void CmdLineHelper::BuildNameForms(const wchar_t* name) {
    nameForms.clear();
    std::wstring lower;
    std::wstring upper;
    for (const wchar_t* c = name != nullptr ? name : L""; *c != L'\0'; ++c) {
        lower.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*c))));
        upper.push_back(static_cast<wchar_t>(std::towupper(static_cast<wint_t>(*c))));
    }
    for (const std::wstring* base : {&lower, &upper}) {
        nameForms.push_back(*base);
        nameForms.push_back(L"/" + *base);
        nameForms.push_back(L"-" + *base);
        nameForms.push_back(L"--" + *base);
    }
}

int CmdLineHelper::Find(const std::wstring& form) const {
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == form) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool CmdLineHelper::IsPresent(const wchar_t* name) {
    BuildNameForms(name);
    for (const std::wstring& form : nameForms) {
        if (Find(form) >= 0) {
            return true;
        }
    }
    return false;
}

std::wstring CmdLineHelper::GetValue(const wchar_t* name, const wchar_t* defaultValue) {
    BuildNameForms(name);
    for (const std::wstring& form : nameForms) {
        const int at = Find(form);
        if (at >= 0 && static_cast<size_t>(at) + 1 < arguments.size() &&
            !arguments[static_cast<size_t>(at) + 1].empty()) {
            return arguments[static_cast<size_t>(at) + 1];
        }
    }
    return defaultValue != nullptr ? std::wstring(defaultValue) : std::wstring();
}

int64_t CmdLineHelper::GetInt64(const wchar_t* name, int64_t defaultValue) {
    if (!IsPresent(name)) {
        return defaultValue;
    }
    const std::wstring text = GetValue(name, L"");
    if (text.empty()) {
        return defaultValue;
    }
    wchar_t* end = nullptr;
    const long long value = std::wcstoll(text.c_str(), &end, 0);
    if (end == text.c_str()) {
        return defaultValue;
    }
    return value;
}
