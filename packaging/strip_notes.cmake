# Run by CPack after the stripped install into its staging folder: also drops
# the .comment and .note sections, which only name the compiler.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
