# Release deliverables ship stripped: their debug information goes to
# <image>.debug beside them, which the image names in a debug link
# (.gnu_debuglink) for debuggers and tools to find.
find_program(ORVEX_OBJCOPY NAMES ${ORVEX_TRIPLET}-objcopy REQUIRED)
find_program(ORVEX_STRIP NAMES ${ORVEX_TRIPLET}-strip REQUIRED)

function(orvex_ship_stripped target)
  if(NOT CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
    return()
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${ORVEX_OBJCOPY} -DSTRIP=${ORVEX_STRIP} -DIMAGE=$<TARGET_FILE:${target}>
            -P ${PROJECT_SOURCE_DIR}/cmake/split-debug-info.cmake
    COMMENT "Moving the debug information of ${target} to its .debug file"
    VERBATIM)
endfunction()
