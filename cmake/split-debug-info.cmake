# cmake -DOBJCOPY=... -DSTRIP=... -DIMAGE=<linked image> -P split-debug-info.cmake
# Keeps the image's debug information in IMAGE.debug, strips the image and
# links it to that file. The image's size as linked, debug information and
# all, is kept in IMAGE.debug-size for the benchmarks' table.
get_filename_component(folder ${IMAGE} DIRECTORY)
get_filename_component(name ${IMAGE} NAME)
file(SIZE ${IMAGE} linkedSize)
foreach(step "${OBJCOPY};--only-keep-debug;${name};${name}.debug"
             "${STRIP};--strip-all;${name}"
             "${OBJCOPY};--add-gnu-debuglink=${name}.debug;${name}")
  execute_process(COMMAND ${step} WORKING_DIRECTORY ${folder} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${step} failed (${result})")
  endif()
endforeach()
file(WRITE ${IMAGE}.debug-size "${linkedSize}\n")
