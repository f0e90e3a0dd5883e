# Writes the manual page of `ravelin` from its own --help texts, so the page
# says what the program says. Run as: cmake -DPROGRAM=... -DOUT=... -P manpage.cmake
function(help_text out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed: ${rc}")
  endif()
  # roff: backslashes doubled, a line may not start with a dot or an apostrophe.
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_text(main)
help_text(list list)
help_text(update update)
help_text(demo demo)
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)

file(WRITE ${OUT} ".TH RAVELIN 1 \"\" \"${version}\" \"User Commands\"
.SH NAME
ravelin \\- list and update the firmware and FPGA images of a mixing console's devices
.SH SYNOPSIS
.B ravelin
[\\fB\\-\\-folder\\fR \\fIDIR\\fR] [\\fBlist\\fR | \\fBupdate\\fR \\fIROW\\fR | \\fBupdate \\-\\-required\\fR | \\fBdemo\\fR]
.SH DESCRIPTION
.nf
${main}
.fi
.SH \"RAVELIN LIST\"
.nf
${list}
.fi
.SH \"RAVELIN UPDATE\"
.nf
${update}
.fi
.SH \"RAVELIN DEMO\"
.nf
${demo}
.fi
.SH FILES
.TP
.I Log.txt
in the program folder: every run appends what it did.
.SH \"SEE ALSO\"
.BR ravelin-sim (1)
is not installed as a page; run
.B ravelin-sim \\-\\-help
for the virtual console.
")
