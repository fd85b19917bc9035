# Fails when a core source calls the operating system by name instead of
# through the table of platform calls (platformCalls in platform/platform.h),
# or when a folder below app/ includes app/. Run as
#   cmake -DSOURCE_DIR=<repo> -P seam_check.cmake
set(calls
    FindFirstFileW FindFirstFileExW FindNextFileW FindClose CreateFileW
    ReadFile SetFilePointerEx GetFileInformationByHandle CloseHandle DeleteFileW
    RemoveDirectoryW GetFullPathNameW InitializeCriticalSection
    InitializeCriticalSectionAndSpinCount EnterCriticalSection
    LeaveCriticalSection DeleteCriticalSection InterlockedIncrement
    InterlockedDecrement GetLastError SetLastError FormatMessageW
    CryptAcquireContextW CryptCreateHash CryptGetHashParam CryptHashData
    CryptDestroyHash CryptReleaseContext wsprintfW MessageBoxW DeviceIoControl)
list(JOIN calls "|" alternatives)
set(direct "(^|[^.>:A-Za-z0-9_])(${alternatives})[ ]*\\(")

set(faults 0)
file(GLOB core RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/common/* ${SOURCE_DIR}/app/* ${SOURCE_DIR}/containers/*
     ${SOURCE_DIR}/scan/* ${SOURCE_DIR}/hash/* ${SOURCE_DIR}/dups/*
     ${SOURCE_DIR}/paths/*)
foreach(f ${core})
  file(STRINGS ${SOURCE_DIR}/${f} lines)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "//.*$" "" code "${line}")
    if(code MATCHES "${direct}")
      message(SEND_ERROR "${f}: calls ${CMAKE_MATCH_2} by name: ${line}")
      math(EXPR faults "${faults} + 1")
    endif()
    if(NOT f MATCHES "^app/" AND code MATCHES "#include \"app/")
      message(SEND_ERROR "${f}: includes app/: ${line}")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()
list(LENGTH core files)
if(faults GREATER 0)
  message(FATAL_ERROR "${faults} fault(s) in ${files} core files")
endif()
message(STATUS "${files} core files call the platform through its table")
