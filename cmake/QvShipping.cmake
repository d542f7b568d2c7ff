# The executables a user copies leave the link stripped, their whole image
# (DWARF, unwind tables, build id) kept beside them as <name>.exe.debug for
# gdb and qv_dump_reader; both carry a time stamp derived from the build id
# (cmake/ship_executable.py).
#
#   qv_ship_executable(<target>)
function(qv_ship_executable target)
  if(WIN32)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/ship_executable.py
              ${CMAKE_OBJCOPY} $<TARGET_FILE:${target}>
      BYPRODUCTS ${CMAKE_CURRENT_BINARY_DIR}/${target}${CMAKE_EXECUTABLE_SUFFIX}.debug
      VERBATIM)
  endif()
endfunction()
