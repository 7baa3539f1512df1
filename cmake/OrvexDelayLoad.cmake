# orvex_delay_load_libraries(OUT_VAR TARGET LIST_FILE): import libraries that load
# their modules on first use rather than at start-up, made with dlltool from a
# list of "module function" lines; OUT_VAR receives them, and TARGET makes
# them.
# On x86 the delay-import thunks dlltool makes jump to address 0 at the first
# call (binutils 2.40), so there the modules are imported as usual and load at
# start-up.
find_program(ORVEX_DLLTOOL NAMES ${ORVEX_TRIPLET}-dlltool REQUIRED)

function(orvex_delay_load_libraries out_var target list_file)
  file(STRINGS ${list_file} lines REGEX "^[a-z0-9_]+ [A-Za-z0-9_]+$")
  set(modules "")
  foreach(line IN LISTS lines)
    string(REPLACE " " ";" fields "${line}")
    list(GET fields 0 module)
    list(GET fields 1 function)
    if(NOT module IN_LIST modules)
      list(APPEND modules ${module})
      set(exports_${module} "")
    endif()
    string(APPEND exports_${module} "${function}\n")
  endforeach()
  if(ORVEX_ARCH STREQUAL "x86")
    add_custom_target(${target})
    set(${out_var} ${modules} PARENT_SCOPE)
    return()
  endif()
  set(libraries "")
  foreach(module IN LISTS modules)
    set(def ${CMAKE_CURRENT_BINARY_DIR}/delay_${module}.def)
    set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${module}_delay.a)
    file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY ${module}.dll\nEXPORTS\n${exports_${module}}" @ONLY)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${ORVEX_DLLTOOL} --def ${def} --dllname ${module}.dll --output-delaylib ${lib}
      DEPENDS ${def} ${list_file}
      COMMENT "Making the delay-load import library of ${module}.dll"
      VERBATIM)
    list(APPEND libraries ${lib})
  endforeach()
  add_custom_target(${target} DEPENDS ${libraries})
  set(${out_var} ${libraries} PARENT_SCOPE)
endfunction()
