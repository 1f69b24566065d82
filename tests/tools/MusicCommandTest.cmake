# Writes a small show with background music and slide comments, on disk and packed, and checks
# kivtool music to the letter: the composite description of the music, then "slide N LENGTH" and
# the description of each slide that sounds. A missing music file and a text file named as a
# comment stay silent; a show without music says "no music".
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/disk/music" "${WORK}/pack/music")
set(project "[Main]
opt_repeat=stop
object Music:Music
  object Options:TMusicOptions
    IsRepeat=1
  end
  object Track1:TMusicTrack
    object A:TMusicItem
      FileName=music\\a.mp3
      Duration=6000
      CrossMode=2
      FadeIn=1000
    end
    object B:TMusicItem
      FileName=music\\b.mp3
      StartTime=500
      Duration=5000
      CrossMode=0
      Cross=2000
      Volume=50
    end
    object Gone:TMusicItem
      FileName=music\\gone.mp3
      Duration=1000
      CrossMode=2
    end
  end
end
[Times]
opt_slidescount=3
opt_synchpos1=5000
opt_synchpos2=9000
opt_synchpos3=15000
[Slide1]
object Music:Music
  object C:TSoundComment
    FileName=voice.wav
    Duration=7000
    Pause=250
  end
end
[Slide2]
[Slide3]
object Music:Music
  object C:TSoundComment
    FileName=notes.txt
    Duration=1000
  end
end
")
foreach(dir disk pack)
    file(WRITE "${WORK}/${dir}/music/a.mp3" "ID3 a")
    file(WRITE "${WORK}/${dir}/music/b.mp3" "ID3 b")
    file(WRITE "${WORK}/${dir}/voice.wav" "RIFF0000WAVEfmt ")
    file(WRITE "${WORK}/${dir}/notes.txt" "text")
endforeach()
file(WRITE "${WORK}/disk/show.kiv" "${project}")
file(WRITE "${WORK}/pack/Project.kiv" "${project}")

function(run expected_code expected_output)
    # Through a file and compared as hexadecimal: text reads would lose the CR of the CR LF line ends.
    execute_process(COMMAND ${KIVTOOL} ${ARGN} RESULT_VARIABLE code OUTPUT_FILE "${WORK}/out" ERROR_VARIABLE errors)
    file(READ "${WORK}/out" output HEX)
    if(NOT code STREQUAL expected_code)
        message(FATAL_ERROR "kivtool ${ARGN}: exit ${code}, expected ${expected_code}\n${output}${errors}")
    endif()
    string(HEX "${expected_output}" expected_hex)
    if(NOT expected_output STREQUAL "*" AND NOT output STREQUAL expected_hex)
        file(READ "${WORK}/out" output)
        message(FATAL_ERROR "kivtool ${ARGN}:\n${output}\nexpected:\n${expected_output}")
    endif()
endfunction()

# The music: a fades in over 1 s; b cross-fades 2 s into it at half volume; the missing third item
# keeps its second, so the whole lasts 10 s. Slide 1's comment is cut at the slide's end (5 s).
set(music "9213AB40-17BB-458F-9C4C-1806F44BEB65[Main]\r\n\
Duration=10000\r\n\
\r\n\
[0]\r\n\
FileName=music\\a.mp3\r\n\
TimeLine=0\r\n\
BeginTime=0\r\n\
Duration=6000\r\n\
FadeCount=2\r\n\
\r\n\
[Vol_0_0_0]\r\n\
0=0\r\n\
1=0\r\n\
\r\n\
[Vol_0_0_1]\r\n\
0=1000\r\n\
1=1000\r\n\
\r\n\
[Vol_0_1_0]\r\n\
0=4000\r\n\
1=1000\r\n\
\r\n\
[Vol_0_1_1]\r\n\
0=6000\r\n\
1=0\r\n\
\r\n\
[1]\r\n\
FileName=music\\b.mp3\r\n\
TimeLine=4000\r\n\
BeginTime=500\r\n\
Duration=5000\r\n\
FadeCount=2\r\n\
\r\n\
[Vol_1_0_0]\r\n\
0=0\r\n\
1=500\r\n\
\r\n\
[Vol_1_0_1]\r\n\
0=5000\r\n\
1=500\r\n\
\r\n\
[Vol_1_1_0]\r\n\
0=0\r\n\
1=0\r\n\
\r\n\
[Vol_1_1_1]\r\n\
0=2000\r\n\
1=1000\r\n\
\r\n\
slide 1 5000\n\
9213AB40-17BB-458F-9C4C-1806F44BEB65[Main]\r\n\
Duration=5000\r\n\
\r\n\
[0]\r\n\
FileName=voice.wav\r\n\
TimeLine=250\r\n\
BeginTime=0\r\n\
Duration=4750\r\n\
FadeCount=0\r\n\
\r\n")
run(0 "${music}" music "${WORK}/disk/show.kiv")

run(0 "*" pack "${WORK}/pack" -o "${WORK}/show.kvshow" --method deflate)
run(0 "${music}" music "${WORK}/show.kvshow")

# Music switched off, and a show without any sound.
string(REPLACE "object Music:Music\n  object Options" "object Music:Music\n  music_disable=1\n  object Options"
       disabled "${project}")
file(WRITE "${WORK}/disk/disabled.kiv" "${disabled}")
run(0 "no music\n" music "${WORK}/disk/disabled.kiv")
file(WRITE "${WORK}/disk/silent.kiv" "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[Slide1]\n")
run(0 "no music\n" music "${WORK}/disk/silent.kiv")
# Without background music the slides' sound still follows.
file(WRITE "${WORK}/disk/voice.kiv" "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[Slide1]\n\
object Music:Music\n  object C:TSoundComment\n    FileName=voice.wav\n    Duration=500\n  end\nend\n")
run(0 "no music\nslide 1 500\n9213AB40-17BB-458F-9C4C-1806F44BEB65[Main]\r\nDuration=500\r\n\r\n[0]\r\n\
FileName=voice.wav\r\nTimeLine=0\r\nBeginTime=0\r\nDuration=500\r\nFadeCount=0\r\n\r\n" music "${WORK}/disk/voice.kiv")

# Failures and wrong usage.
run(1 "" music "${WORK}/disk/missing.kiv")
run(2 "" music)
run(2 "" music "${WORK}/disk/show.kiv" extra)
