# Writes a three-slide project, packs it, and checks kivtool timeline, slide-times, find-slide,
# transitions, navigate and props on both forms, with their exit codes for bad input.
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
object Container:Root
  GUID=root-2
  object Logo:Image
    GUID={5F0C}
    object k0:KeyPoint
      Time=1000
      Opacity=0
      Position=-40,10
    end
    object k1:KeyPoint
      Origin=PrevEffectEnd
      Time=1500
      Opacity=80
      Position=60,30
      ScaleX=50
    end
  end
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

# Navigation: slide 2 has no transition and starts 1 ms in; a paused show lands after the
# transition; "previous" goes to where the slide before is fully shown, or to the one ending at a
# synchronisation point.
run(0 "0\n" navigate "${WORK}/show.kiv" start -3)
run(0 "5000\n" navigate "${WORK}/show.kiv" start 1)
run(0 "9001\n" navigate "${WORK}/show.kiv" start 2)
run(0 "5000\n" navigate "${WORK}/show.kiv" next 0)
run(0 "6500\n" navigate "${WORK}/show.kiv" next 0 --paused)
run(0 "9001\n" navigate "${WORK}/show.kiv" next 5000 --paused)
run(0 "15000\n" navigate "${WORK}/show.kiv" next 9500)
run(0 "17000\n" navigate "${WORK}/show.kiv" next 9500 --paused)
run(0 "6500\n" navigate "${WORK}/show.kiv" prev 12000)
run(0 "9000\n" navigate "${WORK}/show.kiv" prev 15000)
run(0 "2000\n" navigate "${WORK}/show.kiv" prev 5000)
run(0 "0\n" navigate "${WORK}/show.kiv" prev 7000)

# Keyframes of slide 2 (start 5000, incoming transition 1500) at 1000 ms and at 1500 ms after the
# transition: halfway at show time 7000, the first keyframe's values before it, the last after it.
set(props_before "{\"Opacity\":0,\"Pos.X\":-40,\"Pos.Y\":10,\"Pos.Z\":0,\"Scale.X\":100,\"Scale.Y\":100,\
\"Angle\":0,\"Angle.X\":0,\"Angle.Y\":0,\"Center.X\":0,\"Center.Y\":0,\"Blur\":0,\"Frame.S\":100,\"Frame.X\":0,\"Frame.Y\":0}\n")
run(0 "{\"Opacity\":40,\"Pos.X\":10,\"Pos.Y\":20,\"Pos.Z\":0,\"Scale.X\":75,\"Scale.Y\":100,\
\"Angle\":0,\"Angle.X\":0,\"Angle.Y\":0,\"Center.X\":0,\"Center.Y\":0,\"Blur\":0,\"Frame.S\":100,\"Frame.X\":0,\"Frame.Y\":0}\n"
    props "${WORK}/show.kiv" 2 {5F0C} 7000)
run(0 "${props_before}" props "${WORK}/show.kiv" 2 {5F0C} 5500)
run(0 "{\"Opacity\":80,\"Pos.X\":60,\"Pos.Y\":30,\"Pos.Z\":0,\"Scale.X\":50,\"Scale.Y\":100,\
\"Angle\":0,\"Angle.X\":0,\"Angle.Y\":0,\"Center.X\":0,\"Center.Y\":0,\"Blur\":0,\"Frame.S\":100,\"Frame.X\":0,\"Frame.Y\":0}\n"
    props "${WORK}/show.kiv" 2 {5F0C} 8500.5)
# The root's GUID names the slide itself, which has no keyframes.
run(0 "{\"Opacity\":100,\"Pos.X\":0,\"Pos.Y\":0,\"Pos.Z\":0,\"Scale.X\":100,\"Scale.Y\":100,\
\"Angle\":0,\"Angle.X\":0,\"Angle.Y\":0,\"Center.X\":0,\"Center.Y\":0,\"Blur\":0,\"Frame.S\":100,\"Frame.X\":0,\"Frame.Y\":0}\n"
    props "${WORK}/show.kiv" 2 root-2 7000)

# The same project inside a package.
run(0 "*" pack "${WORK}/pack" -o "${WORK}/show.kvshow" --method deflate)
run(0 "${timeline}" timeline "${WORK}/show.kvshow")
run(0 "17000\n" navigate "${WORK}/show.kvshow" next 9500 --paused)
run(0 "${props_before}" props "${WORK}/show.kvshow" 2 {5F0C} 5500)

# Failures and wrong usage.
file(WRITE "${WORK}/backwards.kiv" "[Times]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=100\n")
run(1 "" timeline "${WORK}/backwards.kiv")
run(1 "" timeline "${WORK}/missing.kiv")
run(2 "" find-slide "${WORK}/show.kiv" soon)
run(2 "" slide-times "${WORK}/show.kiv")
run(2 "" transitions "${WORK}/show.kiv" --passes)
run(1 "" props "${WORK}/show.kiv" 2 {5f0c} 7000)
run(1 "" props "${WORK}/show.kiv" 1 {5F0C} 7000)
run(1 "" props "${WORK}/show.kiv" 4 {5F0C} 7000)
run(1 "" props "${WORK}/show.kiv" 0 {5F0C} 7000)
run(1 "" props "${WORK}/missing.kiv" 2 {5F0C} 7000)
run(2 "" props "${WORK}/show.kiv" 2 {5F0C} later)
run(2 "" props "${WORK}/show.kiv" 2 {5F0C})
run(1 "" navigate "${WORK}/missing.kiv" next 0)
run(2 "" navigate "${WORK}/show.kiv" next)
run(2 "" navigate "${WORK}/show.kiv" prev 100 --paused)
run(2 "" navigate "${WORK}/show.kiv" start 1.5)
run(2 "" navigate "${WORK}/show.kiv" back 100)
