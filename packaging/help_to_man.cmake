# Writes a roff man page from a program's own --help.
#   cmake -DPROGRAM=path -DNAME=name -DVERSION=x.y -DOUT=name.1 -P help_to_man.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${status}")
endif()
# The help shows the program's path in its usage line; the page shows its name.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")
# roff: a backslash is written \e; a line starting with . or ' would be a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
# The first line is "name: what it does"; the usage line is the synopsis.
string(REGEX MATCH "^[^\n]*" summary "${help}")
string(REGEX REPLACE "^[^:]*: *" "" summary "${summary}")
string(REGEX MATCH "Usage: ([^\n]*)" usage "${help}")
set(usage "${CMAKE_MATCH_1}")
# The rest is the description. (REGEX REPLACE would apply ^ again after each match.)
set(body "${help}")
foreach(skipped summary usage)
  string(FIND "${body}" "\n" end)
  math(EXPR end "${end} + 1")
  string(SUBSTRING "${body}" ${end} -1 body)
endforeach()
string(TOUPPER "${NAME}" upper)
set(footer "")
if(help MATCHES "\nSubcommands:")
  set(footer ".PP
Each subcommand prints its own options with
.BR \"${NAME} SUBCOMMAND --help\" .
")
endif()
file(WRITE ${OUT} ".TH ${upper} 1 \"\" \"Flashdesk ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${summary}
.SH SYNOPSIS
.B ${usage}
.SH DESCRIPTION
.nf
${body}.fi
${footer}")
