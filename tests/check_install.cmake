# Installs the build into a scratch prefix, then checks what a user of the
# installed tree meets: clean pkg-config flags, C programs built against
# the shared and the static library with pkg-config and with CMake's
# find_package, and the installed tool running from there (also after the
# tree has been moved).
# Expects BUILD_DIR, SOURCE_DIR, WORK, GENERATOR and optionally EXTRA
# (compiler flags).
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
set(ENV{LD_LIBRARY_PATH} "")

function(fail what)
  message(FATAL_ERROR "${what}")
endfunction()

function(run_checked out_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
    WORKING_DIRECTORY ${SOURCE_DIR})
  if(NOT rc EQUAL 0)
    fail("${ARGN} failed (${rc}): ${out}${err}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

function(expect_in text part what)
  string(FIND "${text}" "${part}" at)
  if(at EQUAL -1)
    fail("${what}: \"${part}\" not in \"${text}\"")
  endif()
endfunction()

run_checked(ignored ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE pcs ${prefix}/*/vnsmb1c.pc)
list(LENGTH pcs n)
if(NOT n EQUAL 1)
  fail("expected one installed vnsmb1c.pc, found: ${pcs}")
endif()
get_filename_component(pcdir ${pcs} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})

# Plain paths: no "..", no doubled separators, the prefix given at install time.
run_checked(flags pkg-config --cflags --libs vnsmb1c)
string(STRIP "${flags}" flags)
if(flags MATCHES "\\.\\./|//")
  fail("pkg-config flags are not clean paths: ${flags}")
endif()
expect_in("${flags}" "-I${prefix}/include" "pkg-config --cflags")
run_checked(static_flags pkg-config --static --libs vnsmb1c)
string(STRIP "${static_flags}" static_flags)
expect_in("${static_flags}" "-lstdc++" "pkg-config --static --libs")
expect_in("${static_flags}" "-lm" "pkg-config --static --libs")

separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(static_flags UNIX_COMMAND "${static_flags}")
run_checked(cflags pkg-config --cflags vnsmb1c)
separate_arguments(cflags UNIX_COMMAND "${cflags}")
foreach(f ${flags})
  if(f MATCHES "^-L(.*)")
    set(libdir ${CMAKE_MATCH_1})
  endif()
endforeach()
# The static library wins over the shared one only when named as a file.
list(TRANSFORM static_flags REPLACE "^-lvnsmb1c$" "-l:libvnsmb1c.a")
separate_arguments(extra UNIX_COMMAND "${EXTRA}")

# Two C programs: the header check, and the example that browses the fake
# server (it reads examples/ from the source folder).
set(programs header_check "tests/api_c/header_check.c" "ok"
             browse "examples/browse.c" "size 38912, first read 4096 bytes")
foreach(kind shared static)
  set(i 0)
  while(i LESS 6)
    math(EXPR j "${i} + 1")
    math(EXPR k "${i} + 2")
    list(GET programs ${i} name)
    list(GET programs ${j} src)
    list(GET programs ${k} expected)
    set(exe ${WORK}/${name}_${kind})
    if(kind STREQUAL "shared")
      set(link ${flags} -Wl,-rpath,${libdir})
    else()
      set(link ${static_flags})
    endif()
    run_checked(ignored cc ${extra} ${cflags} ${SOURCE_DIR}/${src} ${link} -o ${exe})
    run_checked(out ${exe})
    expect_in("${out}" "${expected}" "${name} built against the ${kind} library")
    math(EXPR i "${i} + 3")
  endwhile()
endforeach()
# The static program carries the library within.
execute_process(COMMAND readelf -d ${WORK}/browse_static OUTPUT_VARIABLE dyn)
if(dyn MATCHES "libvnsmb1c")
  fail("the static program still needs the shared library")
endif()

# A CMake project finds the package: the shared library (its programs run
# from the build folder through the RPATH CMake gives them) and the static
# one, from a C project that knows nothing of C++.
set(consumer_src ${WORK}/consumer)
file(MAKE_DIRECTORY ${consumer_src})
file(WRITE ${consumer_src}/CMakeLists.txt "cmake_minimum_required(VERSION 3.20)
project(consumer C)
find_package(vnsmb1c 1.0 REQUIRED)
add_executable(header_check_cmake ${SOURCE_DIR}/tests/api_c/header_check.c)
target_link_libraries(header_check_cmake PRIVATE vnsmb1c::vnsmb1c)
if(WITH_STATIC)
  add_executable(browse_cmake_static ${SOURCE_DIR}/examples/browse.c)
  target_link_libraries(browse_cmake_static PRIVATE vnsmb1c::static)
endif()
")
function(build_consumer where with_static)
  file(REMOVE_RECURSE ${where})
  run_checked(ignored ${CMAKE_COMMAND} -S ${consumer_src} -B ${where} -G ${GENERATOR} "-DCMAKE_PREFIX_PATH=${ARGN}"
    -DWITH_STATIC=${with_static} "-DCMAKE_C_FLAGS=${EXTRA}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA}")
  run_checked(ignored ${CMAKE_COMMAND} --build ${where})
  run_checked(out ${where}/header_check_cmake)
  expect_in("${out}" "ok" "find_package(vnsmb1c): the shared library")
  if(with_static)
    run_checked(out ${where}/browse_cmake_static)
    expect_in("${out}" "size 38912, first read 4096 bytes" "find_package(vnsmb1c): the static library")
    execute_process(COMMAND readelf -d ${where}/browse_cmake_static OUTPUT_VARIABLE dyn)
    if(dyn MATCHES "libvnsmb1c")
      fail("the static target still needs the shared library")
    endif()
  endif()
endfunction()
build_consumer(${WORK}/consumer_build ON ${prefix})
# A version the package is not: refused.
file(READ ${consumer_src}/CMakeLists.txt text)
string(REPLACE "find_package(vnsmb1c 1.0 REQUIRED)" "find_package(vnsmb1c 2.0 REQUIRED)" text "${text}")
file(WRITE ${WORK}/consumer_v2_src/CMakeLists.txt "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${WORK}/consumer_v2_src -B ${WORK}/consumer_v2 -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  fail("find_package(vnsmb1c 2.0) found version 1")
endif()

# The installed tool finds the installed library, also once the tree moved.
set(tree ${SOURCE_DIR}/examples/media-library.json)
run_checked(out ${prefix}/bin/vnsmb1c version)
expect_in("${out}" "vnsmb1c 1.0.1" "installed tool")
run_checked(out ${prefix}/bin/vnsmb1c --fake ${tree} cat smb://fake/Public/notes.txt)
expect_in("${out}" "Nothing to see here." "installed tool")
file(RENAME ${prefix} ${WORK}/moved)
run_checked(out ${WORK}/moved/bin/vnsmb1c --fake ${tree} ls smb://fake/Public)
expect_in("${out}" "notes.txt" "installed tool after the tree moved")
string(REPLACE "${prefix}" "${WORK}/moved" moved_pcdir "${pcdir}")
set(ENV{PKG_CONFIG_PATH} ${moved_pcdir})
run_checked(out pkg-config --define-prefix --cflags vnsmb1c)
expect_in("${out}" "-I${WORK}/moved/include" "pkg-config --define-prefix after the tree moved")
build_consumer(${WORK}/consumer_moved OFF ${WORK}/moved)

# The relocatable form: a prefix relative to the file's own folder.
execute_process(COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${SOURCE_DIR}/cmake/vnsmb1c.pc.in -DLIBDIR=lib
  -DINCLUDEDIR=include -DPROJECT_VERSION=1.0.1 -DRELOCATABLE=ON -DCMAKE_INSTALL_PREFIX=${WORK}/reloc/
  -P ${SOURCE_DIR}/cmake/write_pc.cmake RESULT_VARIABLE rc OUTPUT_QUIET)
file(READ ${WORK}/reloc/lib/pkgconfig/vnsmb1c.pc pc)
expect_in("${pc}" "prefix=\${pcfiledir}/../..\nlibdir=\${prefix}/lib\nincludedir=\${prefix}/include\n"
  "relocatable vnsmb1c.pc")
