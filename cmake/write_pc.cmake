# Writes vnsmb1c.pc at install time, when the prefix given to
# "cmake --install --prefix" is known, so the paths come out clean. With
# RELOCATABLE the prefix is found from the file's own folder instead.
# Expects TEMPLATE, LIBDIR, INCLUDEDIR, PROJECT_VERSION, RELOCATABLE and
# CMAKE_INSTALL_PREFIX.
cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")

# An absolute directory is kept as it is; a relative one hangs off ${prefix}.
function(pc_dir out dir)
  if(IS_ABSOLUTE "${dir}")
    cmake_path(SET dir NORMALIZE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    cmake_path(SET dir NORMALIZE "${dir}")
    string(REGEX REPLACE "/$" "" dir "${dir}")
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
pc_dir(PC_LIBDIR "${LIBDIR}")
pc_dir(PC_INCLUDEDIR "${INCLUDEDIR}")

if(IS_ABSOLUTE "${LIBDIR}")
  set(pc_folder "${LIBDIR}/pkgconfig")
else()
  set(pc_folder "${prefix}/${LIBDIR}/pkgconfig")
endif()
cmake_path(SET pc_folder NORMALIZE "${pc_folder}")
if(RELOCATABLE)
  file(RELATIVE_PATH up "${pc_folder}" "${prefix}")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(PC_PREFIX "\${pcfiledir}/${up}")
else()
  set(PC_PREFIX "${prefix}")
endif()

configure_file("${TEMPLATE}" "$ENV{DESTDIR}${pc_folder}/vnsmb1c.pc" @ONLY)
message(STATUS "Installing: $ENV{DESTDIR}${pc_folder}/vnsmb1c.pc")
