// The thunked kernel imports of platform/win32/legacy_imports.cpp, called as every module
// calls them: through the import pointers that file defines. In Windows 98 mode the NT-only
// functions and the critical sections take their fallbacks; ResetLegacyImports(false) makes
// the others do the same, as on a system that lacks them.
#include "platform/win32/legacy_imports.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32.h"

namespace {

using platform::win32::ExtendTickCount;
using platform::win32::LegacyCriticalSections;
using platform::win32::ResetLegacyImports;

bool Windows98Mode() {
  const char* mode = std::getenv("FLASHKIT_WINE_MODE");
  return mode && std::string(mode) == "win98";
}

// A duplicate of this thread's handle, and one that was closed.
struct Handles {
  Handles() {
    HANDLE process = GetCurrentProcess();
    DuplicateHandle(process, GetCurrentThread(), process, &thread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    closed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(closed);
  }
  ~Handles() { CloseHandle(thread); }
  HANDLE thread = nullptr;
  HANDLE closed = nullptr;
};

void ExpectTickCountFollowsGetTickCount() {
  const DWORD before = GetTickCount();
  const ULONGLONG first = GetTickCount64();
  const ULONGLONG second = GetTickCount64();
  const DWORD after = GetTickCount();
  EXPECT_LE(first, second);
  EXPECT_LE(static_cast<DWORD>(first) - before, after - before);
  EXPECT_LE(static_cast<DWORD>(second) - before, after - before);
}

void ExpectHandleInformation() {
  Handles handles;
  ASSERT_NE(handles.thread, nullptr);
  DWORD flags = 0xFFFFFFFF;
  EXPECT_TRUE(GetHandleInformation(handles.thread, &flags));
  EXPECT_EQ(flags & ~(HANDLE_FLAG_INHERIT | HANDLE_FLAG_PROTECT_FROM_CLOSE), 0u);
  EXPECT_FALSE(GetHandleInformation(handles.closed, &flags));
}

int g_handlerCalls = 0;
constexpr DWORD kTestException = 0xE0004C47;

LONG WINAPI CountTestException(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != kTestException) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_handlerCalls;
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(TickCount, ExtendsTheThirtyTwoBitCountAcrossWraps) {
  struct Case {
    std::uint64_t previous;
    std::uint32_t now;
    std::uint64_t expected;
  } cases[] = {
      {0, 0, 0},
      {0, 1234, 1234},
      {1000, 1000, 1000},
      {0xFFFFFFF0ull, 0xFFFFFFFFu, 0xFFFFFFFFull},
      {0xFFFFFFF0ull, 0x10u, 0x100000010ull},
      {0x300000005ull, 0x10u, 0x300000010ull},
      {0x3FFFFFFFFull, 0u, 0x400000000ull},
      {0x100000000ull, 0xFFFFFFFFu, 0x1FFFFFFFFull},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtendTickCount(c.previous, c.now), c.expected)
        << std::hex << c.previous << " then " << c.now;
  }
}

TEST(SystemImports, WorkThroughTheThunks) {
  ExpectTickCountFollowsGetTickCount();
  ExpectHandleInformation();

  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask));
  EXPECT_NE(processMask, 0u);
  EXPECT_EQ(processMask & ~systemMask, 0u);
  EXPECT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), processMask));
  if (Windows98Mode()) {
    EXPECT_EQ(systemMask, 1u);
  }

  // Wine has the vectored handlers in every mode; a real 98 would take the fallback.
  g_handlerCalls = 0;
  PVOID handler = AddVectoredExceptionHandler(1, CountTestException);
  ASSERT_NE(handler, nullptr);
  RaiseException(kTestException, 0, 0, nullptr);
  EXPECT_EQ(g_handlerCalls, 1);
  EXPECT_NE(RemoveVectoredExceptionHandler(handler), 0u);
}

class Fallbacks : public testing::Test {
 protected:
  void SetUp() override { ResetLegacyImports(false); }
  void TearDown() override { ResetLegacyImports(true); }
};

TEST_F(Fallbacks, TakeOverWhenTheSystemLacksTheFunctions) {
  ExpectTickCountFollowsGetTickCount();
  ExpectHandleInformation();
  EXPECT_FALSE(GetHandleInformation(GetCurrentProcess(), nullptr));

  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask));
  EXPECT_EQ(processMask, 1u);
  EXPECT_EQ(systemMask, 1u);
  EXPECT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), 1));
  EXPECT_FALSE(SetProcessAffinityMask(GetCurrentProcess(), 3));

  SetLastError(0);
  EXPECT_EQ(AddVectoredExceptionHandler(1, CountTestException), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
  EXPECT_EQ(RemoveVectoredExceptionHandler(nullptr), 0u);
}

TEST(CriticalSections, RunOnTheFallbackLockOnlyInWindows9x) {
  EXPECT_EQ(LegacyCriticalSections(), Windows98Mode());
}

TEST(CriticalSections, TryEnterFailsOnlyWhileAnotherThreadHoldsTheSection) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section));  // recursive
  LeaveCriticalSection(&section);

  BOOL whileHeld = TRUE;
  std::thread([&] { whileHeld = TryEnterCriticalSection(&section); }).join();
  EXPECT_FALSE(whileHeld);

  LeaveCriticalSection(&section);
  BOOL whenFree = FALSE;
  std::thread([&] {
    whenFree = TryEnterCriticalSection(&section);
    if (whenFree) LeaveCriticalSection(&section);
  }).join();
  EXPECT_TRUE(whenFree);
  DeleteCriticalSection(&section);
}

TEST(CriticalSections, ExcludeEachOtherUnderContention) {
  CRITICAL_SECTION section;
  ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 100));
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  long counter = 0;
  bool overlapped = false;
  int inside = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        EnterCriticalSection(&section);
        if (++inside != 1) overlapped = true;
        ++counter;
        if (i % 512 == 0) Sleep(0);
        --inside;
        LeaveCriticalSection(&section);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
  EXPECT_FALSE(overlapped);
  DeleteCriticalSection(&section);
}

// The thread runtime's condition variables are what needs TryEnterCriticalSection: a ping-pong
// between two threads neither livelocks nor deadlocks.
TEST(CriticalSections, CarryConditionVariables) {
  std::mutex mutex;
  std::condition_variable changed;
  int turn = 0;
  constexpr int kExchanges = 2000;
  std::thread other([&] {
    for (int i = 0; i < kExchanges; ++i) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return turn % 2 == 1; });
      ++turn;
      changed.notify_all();
    }
  });
  for (int i = 0; i < kExchanges; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return turn % 2 == 0; });
    ++turn;
    changed.notify_all();
  }
  other.join();
  EXPECT_EQ(turn, 2 * kExchanges);
}

}  // namespace
