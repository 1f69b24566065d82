# Writes a three-slide project, packs it, and checks kivtool timeline, slide-times, find-slide and
# transitions on both forms, with their exit codes for bad input.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/pack")
set(project "[Main]
opt_repeat=Repeat
object TheEffect:AnEffect
  time=1500
  object push:push
    stdidx=9
    checked=1
    direction=0100
  end
end
[Times]
opt_slidescount=3
opt_synchpos1=5000
opt_synchpos2=9000
opt_synchpos3=15000
[Slide1]
Picture=C:\\Show\\img\\Beach.JPG
object TheEffect:AnEffect
  ref=dissolve
  time=2000
end
[Slide2]
slideid=a\"b
object TheEffect:AnEffect
  ref=default
end
[Slide3]
object TheEffect:AnEffect
  ref=quick
end
")
file(WRITE "${WORK}/show.kiv" "${project}")
file(WRITE "${WORK}/pack/Project.kiv" "${project}")

function(run expected_code expected_output)
    execute_process(COMMAND ${KIVTOOL} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT code STREQUAL expected_code)
        message(FATAL_ERROR "kivtool ${ARGN}: exit ${code}, expected ${expected_code}\n${output}${errors}")
    endif()
    if(NOT expected_output STREQUAL "*" AND NOT output STREQUAL expected_output)
        message(FATAL_ERROR "kivtool ${ARGN}:\n${output}\nexpected:\n${expected_output}")
    endif()
endfunction()

set(timeline "{\"count\":3,\"period\":15000,\"end_mode\":\"repeat\",\"slides\":[\
{\"start\":0,\"sync\":5000,\"transition\":2000,\"next_transition\":1500,\"end\":6500,\"id\":\"Beach\"},\
{\"start\":5000,\"sync\":9000,\"transition\":1500,\"next_transition\":0,\"end\":9000,\"id\":\"a\\\"b\"},\
{\"start\":9000,\"sync\":15000,\"transition\":0,\"next_transition\":2000,\"end\":17000,\"id\":\"\"}]}
")
run(0 "${timeline}" timeline "${WORK}/show.kiv")
run(0 "{\"loop\":1,\"start\":20000,\"sync\":24000,\"transition\":1500,\"next_transition\":0,\"end\":24000}\n"
    slide-times "${WORK}/show.kiv" 4)
run(0 "{\"loop\":-1,\"start\":-1073741823,\"sync\":0,\"transition\":0,\"next_transition\":2000,\"end\":2000}\n"
    slide-times "${WORK}/show.kiv" -1)
run(0 "0\n" find-slide "${WORK}/show.kiv" 5000)
run(0 "1\n" find-slide "${WORK}/show.kiv" 5000.5)
run(0 "3\n" find-slide "${WORK}/show.kiv" 16000)
run(0 "0\t2000\t0\t1\t1\n1\t1500\t0.001\t7\t1000\n2\t0\t0\t0\t-\n3\t2000\t0\t1\t1\n4\t1500\t0.001\t7\t1000\n5\t0\t0\t0\t-\n"
    transitions "${WORK}/show.kiv" --seed 3 --passes 2)

# The same project inside a package.
run(0 "*" pack "${WORK}/pack" -o "${WORK}/show.kvshow" --method deflate)
run(0 "${timeline}" timeline "${WORK}/show.kvshow")

# Failures and wrong usage.
file(WRITE "${WORK}/backwards.kiv" "[Times]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=100\n")
run(1 "" timeline "${WORK}/backwards.kiv")
run(1 "" timeline "${WORK}/missing.kiv")
run(2 "" find-slide "${WORK}/show.kiv" soon)
run(2 "" slide-times "${WORK}/show.kiv")
run(2 "" transitions "${WORK}/show.kiv" --passes)
