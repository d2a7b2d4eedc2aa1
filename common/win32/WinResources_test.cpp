#include "WinResources.h"

#include <gtest/gtest.h>

namespace {

TEST(UniqueResource, ClosingNeverChangesTheLastError) {
    {
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        SetLastError(1234);
    }
    EXPECT_EQ(GetLastError(), 1234u);

    // A close that fails sets its own error code; the owner puts the caller's back.
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    CloseHandle(duplicate);  // closed behind the owner's back: its own close fails
    UniqueHandle stale(duplicate);
    SetLastError(4321);
    stale.Reset();
    EXPECT_EQ(GetLastError(), 4321u);
}

TEST(UniqueResource, MovingHandsOverWithoutClosingAndResetClosesTheOld) {
    UniqueHandle first(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE raw = first.Get();
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(raw, &flags));
    second.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(GetHandleInformation(raw, &flags));  // the first event is closed
    EXPECT_NE(second.Get(), raw);
}

struct Counted {
    int releases = 0;
    unsigned long Release() { return static_cast<unsigned long>(++releases); }
};

TEST(UniqueComReference, ReleasesItsOneReferenceOnce) {
    Counted object;
    {
        UniqueComReference<Counted> reference(&object);
        UniqueComReference<Counted> moved(std::move(reference));
    }
    EXPECT_EQ(object.releases, 1);
    UniqueComReference<Counted> detached(&object);
    EXPECT_EQ(detached.Detach(), &object);
    EXPECT_EQ(object.releases, 1);
}

}  // namespace
