#include "EventText.h"

WORD EventTypeOf(int level) {
    switch (level) {
        case 1:
            return EVENTLOG_ERROR_TYPE;
        case 2:
            return EVENTLOG_WARNING_TYPE;
        default:
            return EVENTLOG_INFORMATION_TYPE;
    }
}

std::wstring EventText(const wchar_t* component, const wchar_t* message) {
    std::wstring text;
    if (component != nullptr && component[0] != L'\0') {
        text = std::wstring(component) + L": ";
    }
    text += message != nullptr ? message : L"";
    return text;
}

const wchar_t* EventSourceOf(const wchar_t* processName) {
    return processName != nullptr && processName[0] != L'\0' ? processName : L"Deployment Packager";
}
