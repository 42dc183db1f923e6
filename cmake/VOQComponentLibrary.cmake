# voq_add_component_library(TARGET STEM HEADER MAP SOURCES ... [LINK ...])
#
# A shared library beside libVOQ with a small C interface of its own (the
# recorder's VOQRec_*, the LSL outlet's VOQLSL_*): named
# lib<STEM>-<system>-<processor>, written next to libVOQ in the build tree,
# using libVOQ through its C interface, exporting only what the version
# script MAP names (and keeping the symbols of the static libraries it links
# out of its exports), with every symbol resolved when it is linked (except
# the sanitizer runtimes, which come with the program).  The alarm names come
# from the library's protocol tables, and the calendar offset of the host
# clock from its time base, compiled in here (hidden) because libVOQ exports
# only its C interface.
function(voq_add_component_library target stem header map)
  cmake_parse_arguments(COMPONENT "" "" "SOURCES;LINK;INCLUDES" ${ARGN})
  add_library(${target} SHARED ${COMPONENT_SOURCES}
    ${CMAKE_SOURCE_DIR}/library/voq/Protocol.cpp
    ${CMAKE_SOURCE_DIR}/library/voq/Text.cpp
    ${CMAKE_SOURCE_DIR}/library/voq/Time.cpp)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${stem}-${CMAKE_SYSTEM_NAME}-${VOQ_PROCESSOR_NAME}"
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    PUBLIC_HEADER ${header})
  target_compile_definitions(${target} PRIVATE VOQ_VERSION_STRING="${PROJECT_VERSION}")
  target_include_directories(${target}
    PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    PRIVATE ${CMAKE_SOURCE_DIR}/library ${COMPONENT_INCLUDES})
  target_link_libraries(${target} PRIVATE VOQ ${COMPONENT_LINK})
  if(NOT APPLE)
    target_link_options(${target} PRIVATE "-Wl,--exclude-libs,ALL" "-Wl,--version-script=${map}")
    if(VOQ_SANITIZE STREQUAL "")
      target_link_options(${target} PRIVATE "-Wl,--no-undefined")
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
  install(TARGETS ${target}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()
