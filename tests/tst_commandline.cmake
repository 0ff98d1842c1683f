# The program's command line, run with no display at all: --help and
# --version answer without one; any other case must end with its exit status
# and text before a window opens (on the offscreen platform where the case
# needs the toolkit to have taken its options first, and the toolkit may say
# something of its own before our line).
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
set(line "(^|\n)ferrogrid: ")
expect(2 "${line}Unknown option 'frobnicate'\\.\nTry 'ferrogrid --help'" -platform offscreen --frobnicate)
expect(2 "${line}Unexpected argument 'lattice\\.txt'\\." -platform offscreen lattice.txt)
expect(2 "${line}Missing value after '--record'\\." -platform offscreen --record)
expect(2 "${line}--record needs a file name\\." -platform offscreen --record=)
expect(2 "${line}--record is given more than once\\." -platform offscreen --record a.csv --record b.csv)
# No display, a display that is not there, a platform that does not exist:
# one line, status 2.
expect(2 "^ferrogrid: no display could be opened \\([^\n]+\\)\n$")
expect(2 "^ferrogrid: no display could be opened \\(could not connect to display :99\\)\n$" -display :99)
expect(2 "^ferrogrid: no display could be opened \\([^\n]*\"nosuch\"[^\n]*\\)\n$" -platform nosuch)
