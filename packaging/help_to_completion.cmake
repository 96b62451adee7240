# Writes a bash completion script for a CLI11 program from its --help, walking its subcommands.
#   cmake -DPROGRAM=path -DNAME=name -DOUT=file -P help_to_completion.cmake

# Appends one case branch for the command path `words` ("" for the top level) and recurses.
function(complete_path words)
  string(REPLACE " " ";" args "${words}")
  execute_process(COMMAND ${PROGRAM} ${args} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${words} --help failed: ${status}")
  endif()
  string(REPLACE ";" "\\;" help "${help}")
  string(REPLACE "\n" ";" lines "${help}")
  set(section "")
  set(options "")
  set(subcommands "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(Options|Subcommands):")
      set(section "${CMAKE_MATCH_1}")
    elseif(section STREQUAL "Options" AND line MATCHES "^  (-[^ ]*)")
      string(REGEX REPLACE "[:=].*$" "" flags "${CMAKE_MATCH_1}")
      string(REPLACE "," ";" flags "${flags}")
      foreach(flag IN LISTS flags)
        if(flag MATCHES "^-")
          list(APPEND options "${flag}")
        endif()
      endforeach()
    elseif(section STREQUAL "Subcommands" AND line MATCHES "^  ([a-z0-9][a-z0-9-]*)")
      list(APPEND subcommands "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  string(REPLACE ";" " " all "${subcommands};${options}")
  string(STRIP "${all}" all)
  set_property(GLOBAL APPEND_STRING PROPERTY completion_cases "    \"${words}\") words=\"${all}\" ;;\n")
  foreach(sub IN LISTS subcommands)
    string(STRIP "${words} ${sub}" next)
    complete_path("${next}")
  endforeach()
endfunction()

complete_path("")
get_property(cases GLOBAL PROPERTY completion_cases)
string(REPLACE "-" "_" fn "${NAME}")
file(WRITE ${OUT} "# bash completion for ${NAME}: its subcommands and options, taken from its --help.
_${fn}() {
  local cur=\${COMP_WORDS[COMP_CWORD]} path=\"\" words w i
  # The command path so far: the words typed that are not options or option values.
  for ((i = 1; i < COMP_CWORD; i++)); do
    w=\${COMP_WORDS[i]}
    [[ \$w == -* ]] && continue
    case \"\${path:+\$path }\$w\" in
${cases}      *) continue ;;
    esac
    path=\"\${path:+\$path }\$w\"
  done
  case \"\$path\" in
${cases}  esac
  COMPREPLY=(\$(compgen -W \"\$words\" -- \"\$cur\"))
}
complete -o default -F _${fn} ${NAME}
")
