# Fails when a file outside src/platform includes an operating-system header: raw system calls
# (open, write, chmod, stat …) go through src/platform and nowhere else. Run by the build before
# anything compiles (target system_calls_in_platform_only).
file(GLOB_RECURSE sources "${ROOT}/src/*.cpp" "${ROOT}/src/*.h")
set(offenders)
foreach(source IN LISTS sources)
  if(source MATCHES "/src/platform/")
    continue()
  endif()
  file(STRINGS "${source}" lines REGEX "^#include <(unistd|fcntl|dirent|malloc|sys/[a-z_]+|linux/[a-z_]+)\\.h>")
  if(lines)
    file(RELATIVE_PATH shown "${ROOT}" "${source}")
    list(APPEND offenders "${shown}: ${lines}")
  endif()
endforeach()
if(offenders)
  list(JOIN offenders "\n  " shown)
  message(FATAL_ERROR "System headers outside src/platform (put the call behind src/platform):\n  ${shown}")
endif()
