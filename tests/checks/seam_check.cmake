# Fails when a core source calls the operating system by name instead of
# through the table of platform calls (platformCalls in platform/platform.h),
# or when a folder below app/ includes app/. twinsift-view (view/) counts
# as core here. Run as
#   cmake -DSOURCE_DIR=<repo> -P seam_check.cmake
# The calls are the entries of the table, read from the one list of them
# (the X(Name, Type) lines of TWINSIFT_PLATFORM_CALLS), less malloc and free,
# which the core may also call directly for allocations no test makes fail.
# Added: the Win32 calls that entries serve under other names.
file(READ ${SOURCE_DIR}/platform/platform.h header)
string(REGEX MATCH "#define TWINSIFT_PLATFORM_CALLS\\(X\\)[^\\\n]*(\\\\\n[^\\\n]*)*"
       body "${header}")
string(REGEX MATCHALL "X\\([A-Za-z_][A-Za-z0-9_]*," entries "${body}")
string(REGEX REPLACE "X\\(([A-Za-z0-9_]+)," "\\1" calls "${entries}")
if(NOT calls)
  message(FATAL_ERROR "platform/platform.h: no list of platform calls found")
endif()
list(REMOVE_ITEM calls malloc free)
list(APPEND calls InitializeCriticalSection EnterCriticalSection)
list(JOIN calls "|" alternatives)
set(direct "(^|[^.>:A-Za-z0-9_])(${alternatives})[ ]*\\(")

set(faults 0)
file(GLOB core RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/common/* ${SOURCE_DIR}/app/* ${SOURCE_DIR}/containers/*
     ${SOURCE_DIR}/scan/* ${SOURCE_DIR}/hash/* ${SOURCE_DIR}/dups/*
     ${SOURCE_DIR}/paths/* ${SOURCE_DIR}/view/*)
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
