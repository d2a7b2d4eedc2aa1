#include "Fill.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

// Plays a size-then-fill query over `value`, which may change between calls.
struct FakeQuery {
    std::wstring value;
    std::wstring nextValue;  // the value once the sizing call has answered
    DWORD failWith = 0;
    int calls = 0;

    DWORD operator()(wchar_t* buffer, DWORD capacity) {
        ++calls;
        if (calls == 2 && !nextValue.empty()) {
            value = nextValue;
        }
        if (failWith != 0 && buffer != nullptr) {
            std::wcsncpy(buffer, L"partial", capacity - 1);
            SetLastError(failWith);
            return 0;
        }
        const DWORD needed = static_cast<DWORD>(value.size()) + 1;
        if (buffer == nullptr || capacity < needed) {
            return needed;
        }
        std::wmemcpy(buffer, value.c_str(), needed);
        return needed - 1;
    }
};

TEST(FillText, FillsAgainWhenTheValueGrewBetweenTheCalls) {
    FakeQuery query{L"abcd", L"abcdefghij"};
    const QueryAnswer answer = FillText([&](wchar_t* b, DWORD n) { return query(b, n); });
    EXPECT_TRUE(answer.succeeded);
    EXPECT_EQ(answer.text, L"abcdefghij");
    EXPECT_EQ(query.calls, 3);
}

TEST(FillText, AnEmptyValueIsNoFailureWhateverTheLastErrorWas) {
    FakeQuery query{L"", L""};
    SetLastError(ERROR_FILE_NOT_FOUND);
    const QueryAnswer answer = FillText([&](wchar_t* b, DWORD n) {
        // Answers 0 for the empty value, as GetEnvironmentVariableW does, without setting an error.
        return b == nullptr ? query(b, n) : (++query.calls, 0u);
    });
    EXPECT_TRUE(answer.succeeded);
    EXPECT_EQ(answer.text, L"");
    EXPECT_EQ(answer.error, 0u);
}

TEST(FillText, AFailureKeepsItsCodeAndWhatTheBufferHolds) {
    FakeQuery query{L"abc", L""};
    query.failWith = ERROR_ACCESS_DENIED;
    const QueryAnswer answer = FillText([&](wchar_t* b, DWORD n) { return query(b, n); });
    EXPECT_FALSE(answer.succeeded);
    EXPECT_EQ(answer.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(answer.text, L"part");  // what fitted in the 5 characters it was given
}

TEST(FillText, AValueThatNeverSettlesEndsWithInsufficientBuffer) {
    int calls = 0;
    const QueryAnswer answer = FillText([&](wchar_t*, DWORD capacity) {
        ++calls;
        return capacity + 10;
    });
    EXPECT_FALSE(answer.succeeded);
    EXPECT_EQ(answer.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(calls, 9);  // the sizing call and eight fills
}

}  // namespace
