# Installs the build into a scratch prefix, then checks what a user of the
# installed tree meets: clean pkg-config flags, C programs built against
# the shared and the static library, and the installed tool running from
# there (also after the tree has been moved).
# Expects BUILD_DIR, SOURCE_DIR, WORK and optionally EXTRA (compiler flags).
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

# The relocatable form: a prefix relative to the file's own folder.
execute_process(COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${SOURCE_DIR}/cmake/vnsmb1c.pc.in -DLIBDIR=lib
  -DINCLUDEDIR=include -DPROJECT_VERSION=1.0.1 -DRELOCATABLE=ON -DCMAKE_INSTALL_PREFIX=${WORK}/reloc/
  -P ${SOURCE_DIR}/cmake/write_pc.cmake RESULT_VARIABLE rc OUTPUT_QUIET)
file(READ ${WORK}/reloc/lib/pkgconfig/vnsmb1c.pc pc)
expect_in("${pc}" "prefix=\${pcfiledir}/../..\nlibdir=\${prefix}/lib\nincludedir=\${prefix}/include\n"
  "relocatable vnsmb1c.pc")
