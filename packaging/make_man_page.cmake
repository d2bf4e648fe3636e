# Writes the fvx(1) page from what fvx itself prints: the command list of
# "fvx --help" and the usage of "fvx compile".
#   cmake -DFVX=path/to/fvx -DOUT=fvx.1 -DVERSION=x.y -P make_man_page.cmake
execute_process(COMMAND ${FVX} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "fvx --help failed: ${status}")
endif()
execute_process(COMMAND ${FVX} compile ERROR_VARIABLE compile_usage OUTPUT_QUIET)

# troff: a backslash doubled, a minus escaped, a leading dot or quote kept literal.
function(roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(page ".TH FVX 1 \"\" \"Folivox ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\nfvx \\- compile, check, inspect and search Folivox reference books\n")
string(APPEND page ".SH SYNOPSIS\n.B fvx\n.I COMMAND\n[\\fIARGS\\fR]\n.br\n.B fvx \\-\\-help\n")
string(APPEND page ".SH DESCRIPTION\n.B fvx\nruns the engines of the Folivox suite from the command "
                   "line: the book compiler, which turns a tagged source text into a \\fI.fvx\\fR "
                   "book, and the reader's model of a book. Each command is one word followed by its "
                   "own arguments.\n.SH COMMANDS\n")

string(REPLACE "\n" ";" lines "${help}")
set(usage "")
foreach(line IN LISTS lines)
  if(line MATCHES "^  fvx (.*)$")
    set(usage "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^      (.*)$" AND NOT usage STREQUAL "")
    roff("${usage}" usage_roff)
    roff("${CMAKE_MATCH_1}" summary_roff)
    string(APPEND page ".TP\n.B fvx ${usage_roff}\n${summary_roff}\n")
    set(usage "")
  endif()
endforeach()

# The compile command's options as its usage message lists them.
# (without its first line, the complaint about the missing source)
string(FIND "${compile_usage}" "\n" first_break)
if(first_break GREATER -1)
  math(EXPR first_break "${first_break} + 1")
  string(SUBSTRING "${compile_usage}" ${first_break} -1 compile_usage)
endif()
string(STRIP "${compile_usage}" compile_usage)
if(NOT compile_usage STREQUAL "")
  roff("${compile_usage}" compile_roff)
  string(APPEND page ".SH COMPILE OPTIONS\n.nf\n${compile_roff}\n.fi\n"
                     "Options not given on the command line come from the settings the compiler "
                     "window stores.\n")
endif()

string(APPEND page ".SH ENVIRONMENT\n.TP\n.B FVX_HOME\nThe data folder (library, settings); default "
                   "\\fI$XDG_DATA_HOME/folivox\\fR.\n.TP\n.B FVX_REGISTRY\nThe settings database; "
                   "default \\fI$FVX_HOME/registry.db\\fR.\n")
string(APPEND page ".SH EXIT STATUS\n0 on success, 1 when the command failed, 2 for a usage error.\n")
string(APPEND page ".SH SEE ALSO\n.BR FvxC (1),\n.BR Folivox3 (1)\n")
file(WRITE ${OUT} "${page}")
