# Writes a small show and checks kivtool text to the letter: slide numbers, parts of the main
# picture's name, a caption of a button keeps its first line, and a GUID that is no text fails.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/show/img")
set(project "[Main]
opt_scr_width=1280
opt_scr_height=720
PathToButtons=themes\\
[Times]
opt_slidescount=3
opt_synchpos1=3000
opt_synchpos2=6000
opt_synchpos3=9000
[Slide1]
[Slide2]
object Container:Root
  GUID=root
  object Photo:Image
    GUID=photo
    ImageName=C:\\Show\\img\\Beach.jpg
    ImageIndex=0
  end
  object Caption:Text
    GUID=caption
    Text=\"Slide <%slideindex%> of <%SlidesCount%>\\n<%MainImg.FileName%> in <%MainImg.FolderName%> <%MainImg.IPTC.City%>!\"
  end
  object Go:Button
    GUID=button
    object Label:Text
      GUID=label
      Text=First\\nSecond
    end
  end
end
[Slide3]
")
file(WRITE "${WORK}/show/show.kiv" "${project}")

function(run expected_code expected_output)
    execute_process(COMMAND ${KIVTOOL} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT code STREQUAL expected_code)
        message(FATAL_ERROR "kivtool ${ARGN}: exit ${code}, expected ${expected_code}\n${output}${errors}")
    endif()
    if(NOT expected_output STREQUAL "*" AND NOT output STREQUAL expected_output)
        message(FATAL_ERROR "kivtool ${ARGN}:\n${output}\nexpected:\n${expected_output}")
    endif()
endfunction()

run(0 "Slide 2 of 3\nBeach in img !\n" text "${WORK}/show/show.kiv" 2 caption)
run(0 "First\n" text "${WORK}/show/show.kiv" 2 label)
run(1 "" text "${WORK}/show/show.kiv" 2 photo)
run(1 "" text "${WORK}/show/show.kiv" 4 caption)
run(2 "*" text "${WORK}/show/show.kiv" two caption)
