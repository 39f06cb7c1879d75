// Why this file exists: the thread runtime that the toolchain links in statically imports
// kernel functions that Windows 98/Me, NT 4 or 2000 lack (GetTickCount64 from Vista, the
// vectored exception handler functions from XP), and the loader refuses a module whose imports
// it cannot bind. Others exist there only as stubs that fail (the NT-only functions on 95/98/Me).
// Each one is imported through a pointer, __imp__Name@n on i686; defining those pointers here,
// in an object linked straight into Flashkit.dll and FwUpdate.exe, keeps the linker from taking
// them from the system's import library. Each pointer starts at a resolver that looks the real
// function up at first use and otherwise installs a fallback, then calls what it installed.
#include "platform/win32/legacy_imports.h"

#include "platform/win32/win32.h"

namespace platform::win32 {
namespace {

bool g_useSystem = true;

bool Windows9x() { return (GetVersion() & 0x80000000u) != 0; }

template <typename F>
F SystemFunction(const char* name) {
  if (!__atomic_load_n(&g_useSystem, __ATOMIC_ACQUIRE)) return nullptr;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(kernel, name)))
                : nullptr;
}

// The NT-only functions are stubs that fail on 95/98/Me: take the fallback there.
template <typename F>
F NtFunction(const char* name) {
  return Windows9x() ? nullptr : SystemFunction<F>(name);
}

// Every caller that races here installs the same function, so a plain atomic store will do.
template <typename F>
F Install(F* slot, F chosen) {
  __atomic_store_n(slot, chosen, __ATOMIC_RELEASE);
  return chosen;
}

// GetTickCount64: the 32-bit count with its wraps counted. The state is read before the tick,
// so a tick taken before another thread's update can never pass for a wrap.
alignas(8) std::uint64_t g_tickState = 0;

ULONGLONG WINAPI FallbackGetTickCount64() {
  std::uint64_t previous = __atomic_load_n(&g_tickState, __ATOMIC_ACQUIRE);
  for (;;) {
    const std::uint64_t next = ExtendTickCount(previous, GetTickCount());
    if (next == previous || __atomic_compare_exchange_n(&g_tickState, &previous, next, false,
                                                        __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
      return next;
    }
  }
}

// Vectored handlers: report that none was added. The runtime then raises its thread-name
// exception only under a debugger, which handles it.
PVOID WINAPI FallbackAddVectoredExceptionHandler(ULONG, PVECTORED_EXCEPTION_HANDLER) {
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

ULONG WINAPI FallbackRemoveVectoredExceptionHandler(PVOID) { return 0; }

// GetHandleInformation: the runtime asks it only whether a thread handle is still valid (join,
// detach, scheduling), so a handle that can be duplicated is valid and has no flags set.
BOOL WINAPI FallbackGetHandleInformation(HANDLE handle, LPDWORD flags) {
  if (flags == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HANDLE process = GetCurrentProcess();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return FALSE;
  }
  CloseHandle(copy);
  *flags = 0;
  return TRUE;
}

// Affinity: 95/98/Me run on one processor.
BOOL WINAPI FallbackGetProcessAffinityMask(HANDLE, PDWORD_PTR processMask, PDWORD_PTR systemMask) {
  if (processMask == nullptr || systemMask == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *processMask = 1;
  *systemMask = 1;
  return TRUE;
}

BOOL WINAPI FallbackSetProcessAffinityMask(HANDLE, DWORD_PTR mask) {
  if (mask == 1) return TRUE;
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

// Critical sections. The runtime's condition variables take one lock with TryEnter while
// holding another that the signalling side takes in the opposite order, and retry on failure:
// a TryEnter that always fails would spin for ever and one that blocks would deadlock. 95/98/Me
// have no TryEnterCriticalSection that works, so there every section of this module runs on
// the lock below, kept in the section's own fields: LockCount is -1 when free and counts the
// waiters above 0, and LockSemaphore is an auto-reset event that hands the lock to one waiter.
// The choice is made once per process, before the first section is initialised, and never
// changes; every section of the module goes through these pointers.
HANDLE LockEvent(CRITICAL_SECTION* section) {
  HANDLE event = __atomic_load_n(&section->LockSemaphore, __ATOMIC_ACQUIRE);
  if (event != nullptr) return event;
  HANDLE created = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (created == nullptr) return nullptr;
  if (__atomic_compare_exchange_n(&section->LockSemaphore, &event, created, false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE)) {
    return created;
  }
  CloseHandle(created);
  return event;
}

// Waits until the event exists: without it the lock cannot be handed over.
HANDLE RequireLockEvent(CRITICAL_SECTION* section) {
  HANDLE event;
  while ((event = LockEvent(section)) == nullptr) Sleep(1);
  return event;
}

HANDLE CurrentThreadTag() { return reinterpret_cast<HANDLE>(GetCurrentThreadId()); }

void TakeOwnership(CRITICAL_SECTION* section) {
  __atomic_store_n(&section->OwningThread, CurrentThreadTag(), __ATOMIC_RELAXED);
  section->RecursionCount = 1;
}

void WINAPI FallbackInitializeCriticalSection(CRITICAL_SECTION* section) {
  section->DebugInfo = nullptr;
  section->LockCount = -1;
  section->RecursionCount = 0;
  section->OwningThread = nullptr;
  section->SpinCount = 0;
  // Created on first contention if this fails.
  section->LockSemaphore = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

BOOL WINAPI FallbackInitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD) {
  FallbackInitializeCriticalSection(section);
  return TRUE;
}

void WINAPI FallbackEnterCriticalSection(CRITICAL_SECTION* section) {
  if (__atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == CurrentThreadTag()) {
    ++section->RecursionCount;
    return;
  }
  if (__atomic_add_fetch(&section->LockCount, 1, __ATOMIC_ACQ_REL) != 0) {
    // Held by another thread: its last Leave signals the event once for each waiter.
    while (WaitForSingleObject(RequireLockEvent(section), INFINITE) != WAIT_OBJECT_0) Sleep(1);
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
  }
  TakeOwnership(section);
}

BOOL WINAPI FallbackTryEnterCriticalSection(CRITICAL_SECTION* section) {
  if (__atomic_load_n(&section->OwningThread, __ATOMIC_RELAXED) == CurrentThreadTag()) {
    ++section->RecursionCount;
    return TRUE;
  }
  LONG free = -1;
  if (!__atomic_compare_exchange_n(&section->LockCount, &free, 0, false, __ATOMIC_ACQ_REL,
                                   __ATOMIC_RELAXED)) {
    return FALSE;
  }
  TakeOwnership(section);
  return TRUE;
}

void WINAPI FallbackLeaveCriticalSection(CRITICAL_SECTION* section) {
  if (--section->RecursionCount > 0) return;
  __atomic_store_n(&section->OwningThread, nullptr, __ATOMIC_RELAXED);
  if (__atomic_sub_fetch(&section->LockCount, 1, __ATOMIC_ACQ_REL) >= 0) {
    SetEvent(RequireLockEvent(section));
  }
}

void WINAPI FallbackDeleteCriticalSection(CRITICAL_SECTION* section) {
  if (section->LockSemaphore != nullptr) CloseHandle(section->LockSemaphore);
  section->LockSemaphore = nullptr;
  section->LockCount = -1;
  section->RecursionCount = 0;
  section->OwningThread = nullptr;
}

using SectionFunction = void(WINAPI*)(CRITICAL_SECTION*);
using TryEnterFunction = BOOL(WINAPI*)(CRITICAL_SECTION*);
using SpinCountFunction = BOOL(WINAPI*)(CRITICAL_SECTION*, DWORD);

struct SectionFunctions {
  SectionFunction initialize;
  SectionFunction enter;
  SectionFunction leave;
  SectionFunction remove;
  TryEnterFunction tryEnter;
  SpinCountFunction initializeAndSpinCount;
  bool fallback;
};

// Deterministic, so racing first callers agree; independent of ResetLegacyImports.
SectionFunctions ChooseSectionFunctions() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto find = [kernel](const char* name) {
    return kernel ? reinterpret_cast<void*>(GetProcAddress(kernel, name)) : nullptr;
  };
  SectionFunctions system{
      reinterpret_cast<SectionFunction>(find("InitializeCriticalSection")),
      reinterpret_cast<SectionFunction>(find("EnterCriticalSection")),
      reinterpret_cast<SectionFunction>(find("LeaveCriticalSection")),
      reinterpret_cast<SectionFunction>(find("DeleteCriticalSection")),
      reinterpret_cast<TryEnterFunction>(find("TryEnterCriticalSection")),
      reinterpret_cast<SpinCountFunction>(find("InitializeCriticalSectionAndSpinCount")),
      false};
  if (!Windows9x() && system.initialize && system.enter && system.leave && system.remove &&
      system.tryEnter) {
    return system;
  }
  return {FallbackInitializeCriticalSection,
          FallbackEnterCriticalSection,
          FallbackLeaveCriticalSection,
          FallbackDeleteCriticalSection,
          FallbackTryEnterCriticalSection,
          FallbackInitializeCriticalSectionAndSpinCount,
          true};
}

// NT before 4.0 SP3 lacks the spin-count variant.
SectionFunction g_plainInitialize = nullptr;

BOOL WINAPI InitializeWithoutSpinCount(CRITICAL_SECTION* section, DWORD) {
  __atomic_load_n(&g_plainInitialize, __ATOMIC_ACQUIRE)(section);
  return TRUE;
}

}  // namespace
}  // namespace platform::win32

using namespace platform::win32;

// The import pointers. Their names are the ones the compiler gives imports of stdcall
// functions on i686; they must stay global and extern "C" for the runtime to bind to them.
extern "C" {
ULONGLONG WINAPI ResolveGetTickCount64();
PVOID WINAPI ResolveAddVectoredExceptionHandler(ULONG, PVECTORED_EXCEPTION_HANDLER);
ULONG WINAPI ResolveRemoveVectoredExceptionHandler(PVOID);
BOOL WINAPI ResolveGetHandleInformation(HANDLE, LPDWORD);
BOOL WINAPI ResolveGetProcessAffinityMask(HANDLE, PDWORD_PTR, PDWORD_PTR);
BOOL WINAPI ResolveSetProcessAffinityMask(HANDLE, DWORD_PTR);
void WINAPI ResolveInitializeCriticalSection(CRITICAL_SECTION*);
void WINAPI ResolveEnterCriticalSection(CRITICAL_SECTION*);
void WINAPI ResolveLeaveCriticalSection(CRITICAL_SECTION*);
void WINAPI ResolveDeleteCriticalSection(CRITICAL_SECTION*);
BOOL WINAPI ResolveTryEnterCriticalSection(CRITICAL_SECTION*);
BOOL WINAPI ResolveInitializeCriticalSectionAndSpinCount(CRITICAL_SECTION*, DWORD);

ULONGLONG(WINAPI* legacy_GetTickCount64)
() __asm__("__imp__GetTickCount64@0") = ResolveGetTickCount64;
PVOID(WINAPI* legacy_AddVectoredExceptionHandler)
(ULONG, PVECTORED_EXCEPTION_HANDLER) __asm__("__imp__AddVectoredExceptionHandler@8") =
    ResolveAddVectoredExceptionHandler;
ULONG(WINAPI* legacy_RemoveVectoredExceptionHandler)
(PVOID) __asm__("__imp__RemoveVectoredExceptionHandler@4") = ResolveRemoveVectoredExceptionHandler;
BOOL(WINAPI* legacy_GetHandleInformation)
(HANDLE, LPDWORD) __asm__("__imp__GetHandleInformation@8") = ResolveGetHandleInformation;
BOOL(WINAPI* legacy_GetProcessAffinityMask)
(HANDLE, PDWORD_PTR,
 PDWORD_PTR) __asm__("__imp__GetProcessAffinityMask@12") = ResolveGetProcessAffinityMask;
BOOL(WINAPI* legacy_SetProcessAffinityMask)
(HANDLE, DWORD_PTR) __asm__("__imp__SetProcessAffinityMask@8") = ResolveSetProcessAffinityMask;
SectionFunction legacy_InitializeCriticalSection __asm__("__imp__InitializeCriticalSection@4") =
    ResolveInitializeCriticalSection;
SectionFunction legacy_EnterCriticalSection __asm__("__imp__EnterCriticalSection@4") =
    ResolveEnterCriticalSection;
SectionFunction legacy_LeaveCriticalSection __asm__("__imp__LeaveCriticalSection@4") =
    ResolveLeaveCriticalSection;
SectionFunction legacy_DeleteCriticalSection __asm__("__imp__DeleteCriticalSection@4") =
    ResolveDeleteCriticalSection;
TryEnterFunction legacy_TryEnterCriticalSection __asm__("__imp__TryEnterCriticalSection@4") =
    ResolveTryEnterCriticalSection;
SpinCountFunction legacy_InitializeCriticalSectionAndSpinCount __asm__(
    "__imp__InitializeCriticalSectionAndSpinCount@8") =
    ResolveInitializeCriticalSectionAndSpinCount;

ULONGLONG WINAPI ResolveGetTickCount64() {
  auto system = SystemFunction<decltype(legacy_GetTickCount64)>("GetTickCount64");
  return Install(&legacy_GetTickCount64, system ? system : FallbackGetTickCount64)();
}

PVOID WINAPI ResolveAddVectoredExceptionHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  auto system =
      SystemFunction<decltype(legacy_AddVectoredExceptionHandler)>("AddVectoredExceptionHandler");
  return Install(&legacy_AddVectoredExceptionHandler,
                 system ? system : FallbackAddVectoredExceptionHandler)(first, handler);
}

ULONG WINAPI ResolveRemoveVectoredExceptionHandler(PVOID handle) {
  auto system = SystemFunction<decltype(legacy_RemoveVectoredExceptionHandler)>(
      "RemoveVectoredExceptionHandler");
  return Install(&legacy_RemoveVectoredExceptionHandler,
                 system ? system : FallbackRemoveVectoredExceptionHandler)(handle);
}

BOOL WINAPI ResolveGetHandleInformation(HANDLE handle, LPDWORD flags) {
  auto system = NtFunction<decltype(legacy_GetHandleInformation)>("GetHandleInformation");
  return Install(&legacy_GetHandleInformation, system ? system : FallbackGetHandleInformation)(
      handle, flags);
}

BOOL WINAPI ResolveGetProcessAffinityMask(HANDLE process, PDWORD_PTR processMask,
                                          PDWORD_PTR systemMask) {
  auto system = NtFunction<decltype(legacy_GetProcessAffinityMask)>("GetProcessAffinityMask");
  return Install(&legacy_GetProcessAffinityMask, system ? system : FallbackGetProcessAffinityMask)(
      process, processMask, systemMask);
}

BOOL WINAPI ResolveSetProcessAffinityMask(HANDLE process, DWORD_PTR mask) {
  auto system = NtFunction<decltype(legacy_SetProcessAffinityMask)>("SetProcessAffinityMask");
  return Install(&legacy_SetProcessAffinityMask, system ? system : FallbackSetProcessAffinityMask)(
      process, mask);
}

namespace {

// Installs the whole critical-section family at once, whichever of them is called first. No
// function-local static here: the C++ runtime's guard takes locks of its own, and the choice is
// the same on every call anyway.
SectionFunctions InstallSectionFunctions() {
  SectionFunctions chosen = ChooseSectionFunctions();
  if (chosen.initializeAndSpinCount == nullptr) {
    __atomic_store_n(&g_plainInitialize, chosen.initialize, __ATOMIC_RELEASE);
    chosen.initializeAndSpinCount = InitializeWithoutSpinCount;
  }
  Install(&legacy_InitializeCriticalSection, chosen.initialize);
  Install(&legacy_EnterCriticalSection, chosen.enter);
  Install(&legacy_LeaveCriticalSection, chosen.leave);
  Install(&legacy_DeleteCriticalSection, chosen.remove);
  Install(&legacy_TryEnterCriticalSection, chosen.tryEnter);
  Install(&legacy_InitializeCriticalSectionAndSpinCount, chosen.initializeAndSpinCount);
  return chosen;
}

}  // namespace

void WINAPI ResolveInitializeCriticalSection(CRITICAL_SECTION* section) {
  InstallSectionFunctions().initialize(section);
}
void WINAPI ResolveEnterCriticalSection(CRITICAL_SECTION* section) {
  InstallSectionFunctions().enter(section);
}
void WINAPI ResolveLeaveCriticalSection(CRITICAL_SECTION* section) {
  InstallSectionFunctions().leave(section);
}
void WINAPI ResolveDeleteCriticalSection(CRITICAL_SECTION* section) {
  InstallSectionFunctions().remove(section);
}
BOOL WINAPI ResolveTryEnterCriticalSection(CRITICAL_SECTION* section) {
  return InstallSectionFunctions().tryEnter(section);
}
BOOL WINAPI ResolveInitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD spins) {
  return InstallSectionFunctions().initializeAndSpinCount(section, spins);
}
}  // extern "C"

namespace platform::win32 {

std::uint64_t ExtendTickCount(std::uint64_t previous, std::uint32_t now) {
  return previous + static_cast<std::uint32_t>(now - static_cast<std::uint32_t>(previous));
}

void ResetLegacyImports(bool useSystem) {
  __atomic_store_n(&g_useSystem, useSystem, __ATOMIC_RELEASE);
  Install(&legacy_GetTickCount64, ResolveGetTickCount64);
  Install(&legacy_AddVectoredExceptionHandler, ResolveAddVectoredExceptionHandler);
  Install(&legacy_RemoveVectoredExceptionHandler, ResolveRemoveVectoredExceptionHandler);
  Install(&legacy_GetHandleInformation, ResolveGetHandleInformation);
  Install(&legacy_GetProcessAffinityMask, ResolveGetProcessAffinityMask);
  Install(&legacy_SetProcessAffinityMask, ResolveSetProcessAffinityMask);
}

bool LegacyCriticalSections() { return InstallSectionFunctions().fallback; }

}  // namespace platform::win32
