# The library as other projects use it: `cmake --install build --prefix P`
# puts the static libraries, a shared libkzmedia.so, the public headers under
# P/include/kzmedia/ (same relative paths as in this tree), the CMake package
# KzMedia (targets KzMedia::kzmedia and one per subsystem), kzmedia.pc and the
# programs under P.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KZ_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kzmedia)
set(KZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/KzMedia)

# Callers include "video/fmxMKzCamView.h" and so on, from the tree or from
# the installed include directory alike.
foreach(lib IN LISTS KZ_LIBRARIES)
  get_target_property(kind ${lib} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${lib} INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
                                                $<INSTALL_INTERFACE:${KZ_INSTALL_INCLUDEDIR}>)
  else()
    target_include_directories(${lib} PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
                                             $<INSTALL_INTERFACE:${KZ_INSTALL_INCLUDEDIR}>)
  endif()
endforeach()
target_include_directories(kzmedia INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>
                                             $<INSTALL_INTERFACE:${KZ_INSTALL_INCLUDEDIR}>)

# The same packages the installed CMake package looks for; found here too so
# that their targets are visible to the shared library below.
foreach(dep IN LISTS KZ_FIND_DEPENDENCIES)
  find_package(${dep} REQUIRED)
endforeach()

# One shared library of every subsystem's objects, for programs that link
# dynamically (pkg-config gives this one).
set(kz_objects)
set(kz_private_libs)
foreach(lib IN LISTS KZ_LIBRARIES)
  get_target_property(kind ${lib} TYPE)
  if(kind STREQUAL "STATIC_LIBRARY")
    list(APPEND kz_objects $<TARGET_OBJECTS:${lib}>)
    get_target_property(deps ${lib} LINK_LIBRARIES)
    if(deps)
      foreach(dep IN LISTS deps)
        if(NOT dep IN_LIST KZ_LIBRARIES)
          list(APPEND kz_private_libs ${dep})
        endif()
      endforeach()
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES kz_private_libs)
add_library(kzmedia_shared SHARED ${kz_objects})
target_link_libraries(kzmedia_shared PRIVATE ${kz_private_libs})
set_target_properties(kzmedia_shared PROPERTIES OUTPUT_NAME kzmedia VERSION ${PROJECT_VERSION}
                                                SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(kzmedia_shared INTERFACE $<INSTALL_INTERFACE:${KZ_INSTALL_INCLUDEDIR}>)
add_dependencies(kzmedia_shared ${KZ_LIBRARIES})

install(TARGETS ${KZ_LIBRARIES} kzmedia kzmedia_shared EXPORT KzMediaTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${KZ_INSTALL_INCLUDEDIR})
install(EXPORT KzMediaTargets NAMESPACE KzMedia:: DESTINATION ${KZ_INSTALL_CMAKEDIR})

# Public headers: every header of a library directory but the units' own
# internal ones.
foreach(lib IN LISTS KZ_LIBRARIES)
  string(REGEX REPLACE "^kz" "" dir ${lib})
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${dir})
    install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ DESTINATION ${KZ_INSTALL_INCLUDEDIR}/${dir}
            FILES_MATCHING PATTERN "*.h" PATTERN "*Internal.h" EXCLUDE)
  endif()
endforeach()

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/KzMediaConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/KzMediaConfig.cmake INSTALL_DESTINATION ${KZ_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KzMediaConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KzMediaConfig.cmake ${CMAKE_BINARY_DIR}/KzMediaConfigVersion.cmake
        DESTINATION ${KZ_INSTALL_CMAKEDIR})

configure_file(${CMAKE_SOURCE_DIR}/cmake/kzmedia.pc.in ${CMAKE_BINARY_DIR}/kzmedia.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kzmedia.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
