#include "Guard.h"

#include <gtest/gtest.h>

#include "Fault.h"
#include "ForeignFrames.h"

#include <windows.h>

#include <stdexcept>

namespace {

TEST(RunGuarded, ReturnsTrueWhenTheCallReturns) {
    int calls = 0;
    auto call = [&] { ++calls; };
    uint32_t code = 42;
    EXPECT_TRUE(RunGuardedCall(call, &code));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 42u);
}

TEST(RunGuarded, CatchesProcessorFaultsWithTheirCodes) {
    uint32_t code = 0;
    auto accessViolation = [] { RaiseAccessViolation(); };
    EXPECT_FALSE(RunGuardedCall(accessViolation, &code));
    EXPECT_EQ(code, 0xC0000005u);

    auto raised = [] { RaiseException(0xC06D007E, 0, 0, nullptr); };
    EXPECT_FALSE(RunGuardedCall(raised, &code));
    EXPECT_EQ(code, 0xC06D007Eu);
}

TEST(RunGuarded, LeavesWhatTheCodeInsideHandlesToThatCode) {
    BOOL probed = FALSE;
    int repaired = 0;
    auto call = [&] {
        // The platform's probe catches its own access violation; the repairing frame's
        // handler fixes the read and resumes.
        probed = IsBadReadPtr(UnreadableAddress(), 4);
        repaired = ReadRepairingFaults(static_cast<const int*>(UnreadableAddress()));
    };
    uint32_t code = 0;
    EXPECT_TRUE(RunGuardedCall(call, &code));
    EXPECT_TRUE(probed);
    EXPECT_EQ(repaired, kRepairedRead);
}

TEST(RunGuarded, UnwindsTheFramesInsideAndLeavesTheExceptionChainWhole) {
    void* const head = ExceptionChainHead();
    const int unwindsBefore = DecliningHandlerUnwinds();
    auto fault = [] { CallUnderDecliningHandler([] { RaiseAccessViolation(); }); };
    uint32_t code = 0;
    EXPECT_FALSE(RunGuardedCall(fault, &code));
    EXPECT_EQ(code, 0xC0000005u);
    // The declining frame was told it is being unwound, and (x86) taken off the chain.
    EXPECT_EQ(DecliningHandlerUnwinds(), unwindsBefore + 1);
    EXPECT_EQ(ExceptionChainHead(), head);
    EXPECT_TRUE(ExceptionChainIsWhole());

    auto thrower = [] { CallUnderDecliningHandler([] { throw std::runtime_error("x"); }); };
    EXPECT_FALSE(RunGuardedCall(thrower, &code));
    EXPECT_EQ(code, kCppExceptionCode);
    EXPECT_EQ(ExceptionChainHead(), head);
    EXPECT_TRUE(ExceptionChainIsWhole());
}

TEST(RunGuarded, CatchesThrownExceptions) {
    uint32_t code = 0;
    auto thrower = [] { throw std::runtime_error("x"); };
    EXPECT_FALSE(RunGuardedCall(thrower, &code));
    EXPECT_EQ(code, kCppExceptionCode);
}

TEST(RunGuarded, NestsAndAttributesFaultsToTheInnermostGuard) {
    uint32_t outerCode = 0;
    uint32_t innerCode = 0;
    bool innerResult = true;
    bool afterInner = false;
    auto outer = [&] {
        auto inner = [] { RaiseAccessViolation(); };
        innerResult = RunGuardedCall(inner, &innerCode);
        afterInner = true;
        RaiseAccessViolation();
    };
    EXPECT_FALSE(RunGuardedCall(outer, &outerCode));
    EXPECT_FALSE(innerResult);
    EXPECT_TRUE(afterInner);
    EXPECT_EQ(innerCode, 0xC0000005u);
    EXPECT_EQ(outerCode, 0xC0000005u);

    // Once every guard has returned, exceptions are ordinary again.
    EXPECT_THROW(throw std::logic_error("outside"), std::logic_error);
}

TEST(RunGuarded, KeepsWorkingAfterManyFaults) {
    uint32_t code = 0;
    auto fault = [] { RaiseAccessViolation(); };
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FALSE(RunGuardedCall(fault, &code));
    }
}

}  // namespace
