# The program's command line, run with no display at all: --help and
# --version answer without one; any other case must end with its exit status
# and text before a window opens, and before any display is looked for: the
# error stream holds the program's own words and nothing else, also where
# the toolkit would complain of an unset XDG_RUNTIME_DIR.
#   cmake -DPROGRAM=path/to/ferrogrid -DVERSION=x.y -P tst_commandline.cmake
unset(ENV{XDG_RUNTIME_DIR})
function(expect status pattern)
    run(${status} "${pattern}" ${PROGRAM} ${ARGN})
endfunction()
# The same through the shell, for arguments that are empty.
function(expect_shell status pattern script)
    run(${status} "${pattern}" sh -c "${script}" ${PROGRAM})
endfunction()
function(run status pattern)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc
                    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    # What counts: standard output after success, the error stream otherwise.
    set(shown "${out}")
    if(NOT status EQUAL 0)
        set(shown "${err}")
    endif()
    if(NOT "${rc}" STREQUAL "${status}" OR NOT shown MATCHES "${pattern}")
        message(SEND_ERROR "${ARGN}: status ${rc} (expected ${status})\n"
                           "stdout: ${out}\nstderr: ${err}\nexpected to match: ${pattern}")
    endif()
endfunction()

string(REPLACE "." "\\." version "${VERSION}")
expect(0 "^Ferrogrid ${version}\n$" --version)
expect(0 "^Ferrogrid ${version}\n$" -platform offscreen -v)
expect(0 "Usage: .*ferrogrid \\[options\\].*--version" --help)
set(usage "\nTry 'ferrogrid --help' for more information\\.\n$")
foreach(platform "" "-platform;offscreen" "-style;Windows;-title;T;-reverse")
    expect(2 "^ferrogrid: Unknown option 'bogus'\\.${usage}" ${platform} --bogus)
    expect(2 "^ferrogrid: Unexpected argument 'lattice\\.txt'\\.${usage}" ${platform} lattice.txt)
    expect(2 "^ferrogrid: Missing value after '--record'\\.${usage}" ${platform} --record)
    expect(2 "^ferrogrid: --record needs a file name\\.${usage}" ${platform} --record=)
    expect(2 "^ferrogrid: --record is given more than once\\.${usage}" ${platform} --record a --record b)
    expect(2 "^ferrogrid: /nonexistent/f\\.txt: cannot be read: No such file or directory\n$"
           ${platform} --factors /nonexistent/f.txt)
    expect(2 "^ferrogrid: /: [^\n]*directory[^\n]*\n$" ${platform} --factors /)
endforeach()
expect_shell(2 "^ferrogrid: --record needs a file name\\.${usage}" "exec \"$0\" --record ''")
expect_shell(2 "^ferrogrid: --factors needs a file name\\.${usage}" "exec \"$0\" -platform offscreen --factors ''")
# No display, a display that is not there, a platform that does not exist:
# one line, status 2.
expect(2 "^ferrogrid: no display could be opened \\([^\n]+\\)\n$")
expect(2 "^ferrogrid: no display could be opened \\(could not connect to display :99\\)\n$" -display :99)
expect(2 "^ferrogrid: no display could be opened \\([^\n]*\"nosuch\"[^\n]*\\)\n$" -platform nosuch)
