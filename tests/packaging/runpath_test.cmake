# cmake -DBUILD_DIR=DIR -DWORK_DIR=DIR -P runpath_test.cmake
# Every ELF program and library of the build tree has only absolute RUNPATH and RPATH entries:
# an empty or relative entry is looked up from the current folder, where anyone may have put a
# library. What `cmake --install` puts in place has none at all.

# The RUNPATH and RPATH entries of `file` that are not absolute paths, in `var`; "(none)" when
# `require_none` and it has any entry.
function(bad_entries file require_none var)
  execute_process(COMMAND readelf -d "${file}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "readelf -d ${file} failed")
  endif()
  set(bad "")
  string(REGEX MATCHALL "\\((RUNPATH|RPATH)\\)[^\n]*\\[[^]\n]*\\]" lines "${dynamic}")
  foreach(line IN LISTS lines)
    if(require_none)
      list(APPEND bad "${line}")
      continue()
    endif()
    string(REGEX REPLACE ".*\\[([^]]*)\\]$" "\\1" path_list "${line}")
    # An empty entry, or one that does not start at the root.
    if("${path_list}" MATCHES "(^|:)(:|$)" OR "${path_list}" MATCHES "(^|:)[^/:]")
      list(APPEND bad "${line}")
    endif()
  endforeach()
  set(${var} "${bad}" PARENT_SCOPE)
endfunction()

# ELF files below `dir` (build scratch under CMakeFiles left out, and the guest tree and QEMU
# pipes that `VM_KEEP=1 scripts/vm-test.sh` keeps in vm-work: reading a pipe would wait forever).
function(elf_files dir var)
  file(GLOB_RECURSE all LIST_DIRECTORIES false "${dir}/*")
  set(found "")
  foreach(file IN LISTS all)
    if(file MATCHES "/CMakeFiles/|/vm-work/|\\.(o|a|cpp|h|txt|cmake|json|ninja|log)$" OR IS_SYMLINK "${file}")
      continue()
    endif()
    # The virtual machine's unpacked Debian packages are not ours, and a file another test or
    # a running vm-test removed since the listing is no longer part of the build.
    file(RELATIVE_PATH relative "${dir}" "${file}")
    if(relative MATCHES "^vm-(cache|work)/" OR NOT EXISTS "${file}")
      continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
      list(APPEND found "${file}")
    endif()
  endforeach()
  set(${var} "${found}" PARENT_SCOPE)
endfunction()

set(failures 0)
elf_files("${BUILD_DIR}" built)
list(LENGTH built count)
if(count EQUAL 0)
  message(FATAL_ERROR "no ELF files below ${BUILD_DIR}")
endif()
foreach(file IN LISTS built)
  bad_entries("${file}" FALSE bad)
  if(bad)
    message(SEND_ERROR "${file}: ${bad}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/usr"
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD_DIR} failed")
endif()
elf_files("${WORK_DIR}" installed)
foreach(file IN LISTS installed)
  bad_entries("${file}" TRUE bad)
  if(bad)
    message(SEND_ERROR "installed ${file}: ${bad}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
list(LENGTH installed installed_count)
file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "${count} built and ${installed_count} installed ELF files read, ${failures} with a search path entry that is not absolute")
