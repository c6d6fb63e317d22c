# The engine library for other programs: libvoxaim.so.1 and libvoxaim.a, made
# of the position-independent objects of the engine, the DSP library and the
# event log (the test signal generator and its clips stay out), with the C
# interface of voxaim.h (as <voxaim/voxaim.h>) as their only global names:
#   - the shared library links with the version script voxaim.map;
#   - the archive holds one object, partially linked from the same objects,
#     in which every other global symbol is made local, so that a program
#     with its own HammingWindow or sp_fir links (cmake/VxSealObjects.cmake).
# Targets (also for add_subdirectory of this project and after
# find_package(voxaim)): voxaim::voxaim_shared, voxaim::voxaim_static, and
# voxaim::voxaim, the shared one unless VOXAIM_USE_STATIC_LIBS is true.
# pkg-config: voxaim.
include(CMakePackageConfigHelpers)

set_target_properties(voxaim dsplib eventlog PROPERTIES POSITION_INDEPENDENT_CODE ON)

set(VOXAIM_MAP ${CMAKE_CURRENT_SOURCE_DIR}/voxaim.map)
set(VOXAIM_OBJECTS $<FILTER:$<TARGET_OBJECTS:voxaim>,EXCLUDE,/unittest[^/]*$>
                   $<TARGET_OBJECTS:dsplib> $<TARGET_OBJECTS:eventlog>)
set(VOXAIM_LIB_DIR ${CMAKE_CURRENT_BINARY_DIR}/lib)
configure_file(${TRACK}/voxaim.h ${CMAKE_CURRENT_BINARY_DIR}/include/voxaim/voxaim.h COPYONLY)

add_library(voxaim_shared SHARED ${VOXAIM_OBJECTS})
add_dependencies(voxaim_shared voxaim dsplib eventlog)
target_link_libraries(voxaim_shared PRIVATE m)
target_link_options(voxaim_shared PRIVATE -Wl,--version-script=${VOXAIM_MAP} -Wl,--no-undefined)
set_target_properties(voxaim_shared PROPERTIES
    OUTPUT_NAME voxaim VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    LINKER_LANGUAGE CXX LINK_DEPENDS ${VOXAIM_MAP} LIBRARY_OUTPUT_DIRECTORY ${VOXAIM_LIB_DIR})
# The interface's two sources, for the checks of the installed library
# (packaging/test): VX_VERSION_SCRIPT and VX_INTERFACE_HEADER.
set_target_properties(voxaim_shared PROPERTIES VX_VERSION_SCRIPT ${VOXAIM_MAP} VX_INTERFACE_HEADER ${TRACK}/voxaim.h)

set(VOXAIM_SEALED ${CMAKE_CURRENT_BINARY_DIR}/voxaim_sealed.o)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/voxaim_objects.txt
     CONTENT "$<JOIN:${VOXAIM_OBJECTS},\n>\n")
add_custom_command(OUTPUT ${VOXAIM_SEALED}
                   COMMAND ${CMAKE_COMMAND} -DLD=${CMAKE_LINKER} -DNM=${CMAKE_NM} -DOBJCOPY=${CMAKE_OBJCOPY}
                           -DEXPORTS=${VOXAIM_MAP} -DOBJECTS=${CMAKE_CURRENT_BINARY_DIR}/voxaim_objects.txt
                           -DOUTPUT=${VOXAIM_SEALED} -P ${PROJECT_SOURCE_DIR}/cmake/VxSealObjects.cmake
                   DEPENDS ${VOXAIM_OBJECTS} ${VOXAIM_MAP} ${PROJECT_SOURCE_DIR}/cmake/VxSealObjects.cmake
                   COMMENT "Sealing the engine objects for libvoxaim.a"
                   VERBATIM)
add_library(voxaim_static STATIC ${VOXAIM_SEALED})
add_dependencies(voxaim_static voxaim dsplib eventlog)
target_link_libraries(voxaim_static INTERFACE stdc++ m)
set_target_properties(voxaim_static PROPERTIES
    OUTPUT_NAME voxaim LINKER_LANGUAGE CXX ARCHIVE_OUTPUT_DIRECTORY ${VOXAIM_LIB_DIR})

foreach(kind shared static)
  target_include_directories(voxaim_${kind} INTERFACE
      $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(voxaim_${kind} PROPERTIES EXPORT_NAME voxaim_${kind})
  add_library(voxaim::voxaim_${kind} ALIAS voxaim_${kind})
endforeach()
if(VOXAIM_USE_STATIC_LIBS)
  add_library(voxaim::voxaim ALIAS voxaim_static)
else()
  add_library(voxaim::voxaim ALIAS voxaim_shared)
endif()

set(VOXAIM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/voxaim)
vx_packaged(voxaim_shared voxaim_static)
vx_install(TARGETS voxaim_shared voxaim_static EXPORT voxaimTargets
           LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libvoxaim1 NAMELINK_COMPONENT libvoxaim-dev
           ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libvoxaim-dev)
vx_install(FILES ${TRACK}/voxaim.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/voxaim COMPONENT libvoxaim-dev)
vx_install(EXPORT voxaimTargets NAMESPACE voxaim:: DESTINATION ${VOXAIM_CMAKE_DIR} COMPONENT libvoxaim-dev)

configure_package_config_file(voxaimConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/voxaimConfig.cmake
                              INSTALL_DESTINATION ${VOXAIM_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/voxaimConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VOXAIM_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VOXAIM_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(voxaim.pc.in ${CMAKE_CURRENT_BINARY_DIR}/voxaim.pc @ONLY)
vx_install(FILES ${CMAKE_CURRENT_BINARY_DIR}/voxaimConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/voxaimConfigVersion.cmake
           DESTINATION ${VOXAIM_CMAKE_DIR} COMPONENT libvoxaim-dev)
vx_install(FILES ${CMAKE_CURRENT_BINARY_DIR}/voxaim.pc
           DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT libvoxaim-dev)
