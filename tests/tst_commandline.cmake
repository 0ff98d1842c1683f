# The program's command line, run with no display at all: each case must end
# with its exit status and text before anything could open a window.
#   cmake -DPROGRAM=path/to/ferrogrid -DVERSION=x.y -P tst_commandline.cmake
function(expect status pattern)
    execute_process(COMMAND ${PROGRAM} ${ARGN} RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    # What counts: standard output after success, the error stream otherwise.
    set(shown "${out}")
    if(NOT status EQUAL 0)
        set(shown "${err}")
    endif()
    if(NOT "${rc}" STREQUAL "${status}" OR NOT shown MATCHES "${pattern}")
        message(SEND_ERROR "ferrogrid ${ARGN}: status ${rc} (expected ${status})\n"
                           "stdout: ${out}\nstderr: ${err}\nexpected to match: ${pattern}")
    endif()
endfunction()

string(REPLACE "." "\\." version "${VERSION}")
expect(0 "^Ferrogrid ${version}\n$" --version)
expect(0 "^Ferrogrid ${version}\n$" -platform offscreen -v)
expect(0 "Usage: .*ferrogrid \\[options\\].*--version" --help)
expect(2 "^ferrogrid: Unknown option 'colour'\\.\nTry 'ferrogrid --help'" --colour)
expect(2 "^ferrogrid: Unexpected argument 'lattice\\.txt'\\." lattice.txt)
expect(2 "^ferrogrid: Missing value after '-style'\\." -style)
