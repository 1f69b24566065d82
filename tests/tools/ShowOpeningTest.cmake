# kivtool opens SHOW as the player does: projects, packages and executables by relative and
# absolute names, and a file that should hold a package but does not is refused, never read as
# project text. Also the cap of transitions --passes.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/kf/img" "${WORK}/pack" "${WORK}/other")
set(project "[Main]
opt_repeat=Repeat
[Times]
opt_slidescount=2
opt_synchpos1=4000
opt_synchpos2=8000
[Slide1]
Picture=img\\a.bmp
")
file(WRITE "${WORK}/kf/Project.kiv" "${project}")
file(WRITE "${WORK}/pack/Project.kiv" "${project}")
file(WRITE "${WORK}/player" "not really a player, just bytes before the package")

# run(EXPECTED_CODE EXPECTED_OUTPUT FOLDER ARGS...): "*" accepts any output.
function(run expected_code expected_output folder)
    execute_process(COMMAND ${KIVTOOL} ${ARGN} WORKING_DIRECTORY "${folder}" RESULT_VARIABLE code
                    OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT code STREQUAL expected_code)
        message(FATAL_ERROR "kivtool ${ARGN} in ${folder}: exit ${code}, expected ${expected_code}\n${output}${errors}")
    endif()
    if(NOT expected_output STREQUAL "*" AND NOT output STREQUAL expected_output)
        message(FATAL_ERROR "kivtool ${ARGN} in ${folder}:\n${output}\nexpected:\n${expected_output}")
    endif()
    set(last_errors "${errors}" PARENT_SCOPE)
endfunction()

run(0 "*" "${WORK}" pack pack -o show.kvshow --method deflate)
run(0 "*" "${WORK}" pack pack -o selfshow --exe player)

set(timeline "{\"count\":2,\"period\":8000,\"end_mode\":\"repeat\",\"slides\":[\
{\"start\":0,\"sync\":4000,\"transition\":0,\"next_transition\":0,\"end\":4000,\"id\":\"a\"},\
{\"start\":4000,\"sync\":8000,\"transition\":0,\"next_transition\":0,\"end\":8000,\"id\":\"\"}]}
")
# A project in a folder, by relative names of every kind and by its absolute name.
foreach(name "kf/Project.kiv" "./kf/Project.kiv" "kf/../kf/Project.kiv" "kf\\Project.kiv" "${WORK}/kf/Project.kiv")
    run(0 "${timeline}" "${WORK}" timeline "${name}")
endforeach()
run(0 "${timeline}" "${WORK}/other" timeline "../kf/Project.kiv")
run(0 "${timeline}" "${WORK}/kf" timeline "Project.kiv")
run(0 "1\n" "${WORK}/other" find-slide "../kf/Project.kiv" 5000)
run(0 "4001\n" "${WORK}" navigate "kf/Project.kiv" start 1)
# Packages and self-contained executables, relative and absolute.
foreach(name "show.kvshow" "./show.kvshow" "selfshow" "${WORK}/selfshow")
    run(0 "${timeline}" "${WORK}" timeline "${name}")
    run(0 "*" "${WORK}" info "${name}")
    run(0 "*" "${WORK}" ls "${name}")
endforeach()
run(0 "${timeline}" "${WORK}/other" timeline "../selfshow")
run(0 "${project}" "${WORK}/other" cat "../show.kvshow" "project.KIV")
# A show named without ".kvshow" opens its ".kvshow" twin, as in the player.
run(0 "${timeline}" "${WORK}" timeline "show")

# Files that should hold a package but do not: an empty file, project text under a package name,
# a damaged trailer, a package without a project. The player refuses each; so does kivtool.
file(WRITE "${WORK}/empty.kvshow" "")
file(WRITE "${WORK}/text.kvshow" "${project}")
file(WRITE "${WORK}/damaged.kvshow" "${project}xxxxxxxxxxxx.dne")
file(WRITE "${WORK}/noproject/a.txt" "a")
run(0 "*" "${WORK}" pack noproject -o noproject.kvshow)
foreach(name "empty.kvshow" "text.kvshow" "damaged.kvshow" "player" "noproject.kvshow" "missing.kvshow"
             "missing.kiv")
    foreach(command timeline transitions find-slide)
        set(args "${name}")
        if(command STREQUAL "find-slide")
            list(APPEND args 0)
        endif()
        run(1 "" "${WORK}" ${command} ${args})
        if(last_errors STREQUAL "")
            message(FATAL_ERROR "kivtool ${command} ${name}: no message on stderr")
        endif()
    endforeach()
endforeach()
run(1 "" "${WORK}" props "empty.kvshow" 1 x 0)
run(1 "" "${WORK}" navigate "text.kvshow" next 0)

# transitions: at most a million lines, whatever the number of slides.
run(0 "*" "${WORK}" transitions kf/Project.kiv --passes 3)
run(1 "" "${WORK}" transitions kf/Project.kiv --passes 500001)
run(2 "" "${WORK}" transitions kf/Project.kiv --passes 1000001)
