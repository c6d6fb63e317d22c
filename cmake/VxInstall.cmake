# Installation: where the programs, the engine library and the service files
# go. With the /usr prefix (the presets' and the Debian packages') these are
# Debian's places: daemons and root tools in sbin, user tools in bin, the
# engine's test program under libexec/installed-tests, libraries in the
# multiarch folder, units in /lib/systemd/system, configuration in /etc.
#
#   vx_install(<install() arguments>)
#       install(), when VX_INSTALL is on.
#   vx_install_program(target|script DESTINATION dir COMPONENT package [MANPAGES page ...]
#                      [COMPLETION file])
#       a program (a target, or the path of a script), its man pages (roff
#       sources named <name>.<section>, gzipped at build time as Debian wants
#       them) and its bash completion (installed as
#       <datadir>/bash-completion/completions/<program>). The global property
#       VX_PROGRAM_DOCS lists "<program>:<completion>:<first man page>" of
#       every program (packaging/test/options_documented_test.py).
#   vx_packaged(target ...)
#       targets whose outputs are installed: the target `packaged` builds them
#       all (and nothing else), enough for `cmake --install` and the Debian packages.
#
#   VX_INSTALL_TESTSDIR  folder of installed test programs
#   VX_SYSTEMD_UNITDIR   systemd system units
#   VX_TMPFILESDIR       tmpfiles.d snippets
#   VX_DOCDIR            documentation root: <VX_DOCDIR>/<package>/...
#
# Components are named after the Debian packages that carry them
# (packaging/CMakeLists.txt).

# GNUInstallDirs picks Debian's multiarch library folder for native builds
# only; the cross build to the device needs it as much. A folder given on the
# command line (as debhelper does) is kept: set() would make a relative one
# absolute, in the build folder.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$"
   AND EXISTS /etc/debian_version AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)

option(VX_INSTALL "Install the programs, the engine library and the service files" ${PROJECT_IS_TOP_LEVEL})

set(VX_INSTALL_TESTSDIR ${CMAKE_INSTALL_LIBEXECDIR}/installed-tests/voxaim)
set(VX_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc)
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(VX_SYSTEMD_UNITDIR /lib/systemd/system) # Debian 12's place (systemd.pc)
else()
  set(VX_SYSTEMD_UNITDIR ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(VX_TMPFILESDIR lib/tmpfiles.d)

function(vx_packaged)
  set_property(GLOBAL APPEND PROPERTY VX_PACKAGED_TARGETS ${ARGN})
endfunction()

macro(vx_install)
  if(VX_INSTALL)
    install(${ARGN})
  endif()
endmacro()

function(vx_install_program target)
  cmake_parse_arguments(P "" "DESTINATION;COMPONENT;COMPLETION" "MANPAGES" ${ARGN})
  if(NOT VX_INSTALL)
    return()
  endif()
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${P_DESTINATION} COMPONENT ${P_COMPONENT})
    vx_packaged(${target})
    set(program ${target})
  else()
    install(PROGRAMS ${target} DESTINATION ${P_DESTINATION} COMPONENT ${P_COMPONENT})
    get_filename_component(program ${target} NAME)
  endif()
  if(P_COMPLETION)
    get_filename_component(completion ${P_COMPLETION} ABSOLUTE)
    install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
            RENAME ${program} COMPONENT ${P_COMPONENT})
    list(GET P_MANPAGES 0 page)
    get_filename_component(page ${page} ABSOLUTE)
    set_property(GLOBAL APPEND PROPERTY VX_PROGRAM_DOCS "${program}:${completion}:${page}")
  endif()
  foreach(page ${P_MANPAGES})
    get_filename_component(source ${page} ABSOLUTE)
    get_filename_component(name ${page} NAME)
    string(REGEX MATCH "[^.]+$" section ${name})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/man)
    add_custom_command(OUTPUT ${dir}/${name}.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${name}
                       COMMAND gzip -9nf ${dir}/${name}
                       DEPENDS ${source}
                       VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${dir}/${name}.gz)
    vx_packaged(man_${name})
    install(FILES ${dir}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${P_COMPONENT})
  endforeach()
endfunction()
