# CPack runs this after staging the files and before packing them: the
# programs lose the sections that plain strip keeps (.comment and .note).
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
if(NOT programs)
    message(FATAL_ERROR "strip-notes.cmake: no programs under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program ${programs})
    execute_process(COMMAND "${CPACK_FERRO_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
