# Checks Flashkit.dll as hosts bind it: module name "Flashkit.dll", exactly the six exports by
# name with ordinals 1 to 6, and imports from the system's own DLLs only.
#   cmake -DOBJDUMP=... -DDLL=.../Flashkit.dll -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${DLL} failed")
endif()
set(failures)

if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+ ([^\r\n]+)")
  message(FATAL_ERROR "no export directory in ${DLL}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL "Flashkit.dll")
  list(APPEND failures "module name is '${CMAKE_MATCH_1}', not 'Flashkit.dll'")
endif()

if(NOT dump MATCHES "Ordinal Base ([0-9]+)")
  message(FATAL_ERROR "no export address table in ${DLL}")
endif()
set(base ${CMAKE_MATCH_1})
# "[Ordinal/Name Pointer] Table" lists "[index] name", the ordinal being base + index.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
string(SUBSTRING "${dump}" ${start} -1 names)
string(FIND "${names}" "\n\n" end)
string(SUBSTRING "${names}" 0 ${end} names)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\r\n]+" entries "${names}")
set(exports)
foreach(entry ${entries})
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([^\r\n]+)" _ "${entry}")
  math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
  list(APPEND exports "${CMAKE_MATCH_2}@${ordinal}")
endforeach()
list(SORT exports)
set(expected Download@2 EndDevice@4 GetDevice@1 GetDeviceInfo@6 GetDeviceStatus@3
             GetDeviceVersion@5)
if(NOT exports STREQUAL expected)
  string(REPLACE ";" " " found "${exports}")
  string(REPLACE ";" " " wanted "${expected}")
  list(APPEND failures "exports are '${found}', expected '${wanted}'")
endif()

# What every supported Windows ships; anything else (libwinpthread, libstdc++, libgcc) would
# have to be installed beside the library.
set(system_dlls advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ntdll.dll
                shell32.dll user32.dll)
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
set(seen)
foreach(import ${imports})
  string(REGEX REPLACE "DLL Name: " "" name "${import}")
  string(TOLOWER "${name}" lower)
  list(APPEND seen ${name})
  if(NOT lower IN_LIST system_dlls)
    list(APPEND failures "imports ${name}, which is not a system DLL")
  endif()
endforeach()

# With -DOLD_WINDOWS=ON: no import that Windows 98/Me, NT 4 or 2000 lacks, since the loader
# refuses a DLL whose imports it cannot bind. These are the ones toolchain runtimes pull in.
if(OLD_WINDOWS)
  set(newer_functions AcquireSRWLockExclusive AcquireSRWLockShared AddVectoredExceptionHandler
      AttachConsole CompareStringEx CreateEventExA CreateEventExW CreateMutexExW
      CreateSemaphoreExW CreateSymbolicLinkW FlsAlloc FlsFree FlsGetValue FlsSetValue
      GetCurrentProcessorNumber GetFileInformationByHandleEx GetFileSizeEx
      GetFinalPathNameByHandleW GetLocaleInfoEx GetLogicalProcessorInformation
      GetLongPathNameA GetLongPathNameW GetModuleHandleExA GetModuleHandleExW GetNativeSystemInfo
      GetSystemTimePreciseAsFileTime GetThreadDescription GetTickCount64 InitOnceBeginInitialize
      InitOnceComplete InitOnceExecuteOnce InitializeConditionVariable
      InitializeCriticalSectionEx InitializeSRWLock InterlockedCompareExchange64 IsWow64Process
      LCMapStringEx QueryUnbiasedInterruptTime ReleaseSRWLockExclusive ReleaseSRWLockShared
      RemoveVectoredExceptionHandler SetFileInformationByHandle SetFilePointerEx
      SetThreadDescription SleepConditionVariableCS SleepConditionVariableSRW SwitchToThread
      TryAcquireSRWLockExclusive TryAcquireSRWLockShared WakeAllConditionVariable
      WakeByAddressAll WakeByAddressSingle WaitOnAddress WakeConditionVariable
      # msvcrt.dll of 98 and NT 4, version 6.0 and older, lacks these.
      ___lc_codepage_func ___mb_cur_max_func __iob_func _aligned_free _aligned_malloc _fseeki64
      _ftelli64 _vscprintf
      # comctl32 before 4.70 (plain NT 4 and Windows 95) lacks this.
      InitCommonControlsEx)
  string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [A-Za-z0-9_]+" rows "${dump}")
  foreach(row ${rows})
    string(REGEX REPLACE ".* ([A-Za-z0-9_]+)$" "\\1" function "${row}")
    if(function IN_LIST newer_functions)
      list(APPEND failures "imports ${function}, which Windows before XP or Vista does not have")
    endif()
  endforeach()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${DLL}:\n  ${text}")
endif()
message(STATUS "${DLL}: Flashkit.dll, ${exports}; imports ${seen}")
