# Run by the step of tickwright_add_build_number(ONLY_WHEN_REBUILT) right
# after the bump: writes DEPFILE, the files whose change makes the next build
# count again. They are the target's sources and the headers that they
# include, directly or through other headers, as far as they are found:
# "name" beside the including file or in the include folders, <name> in the
# include folders. The lines are read as text, so an #include that the
# preprocessor skips still counts, and one that names a macro does not; a
# header that is not there now (the system's, through the compiler's own
# folders, or one generated later) is left out. The counter header itself is
# the step's output, never its input.
#
#   cmake -DHEADER=<counter header> -DINPUTS=<inputs-<config>.cmake;...>
#         -DDEPFILE=<file> -P TickwrightBuildNumberInputs.cmake

foreach(var HEADER INPUTS DEPFILE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "TickwrightBuildNumberInputs.cmake needs -D${var}=...")
  endif()
endforeach()

# Each file once; the counter header never.
cmake_path(NORMAL_PATH HEADER)
set("seen:${HEADER}" 1)
set(queue "")
macro(enqueue path)
  if(NOT DEFINED "seen:${path}")
    set("seen:${path}" 1)
    list(APPEND queue "${path}")
  endif()
endmacro()

# What each configuration compiles: sources relative to the target's folder,
# or to its binary folder when generated there.
set(search "")
foreach(input IN LISTS INPUTS)
  include(${input})
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.(o|obj)$")  # object libraries' objects: nothing to scan
      continue()
    endif()
    if(NOT IS_ABSOLUTE "${source}")
      if(EXISTS "${source_dir}/${source}")
        set(source "${source_dir}/${source}")
      else()
        set(source "${binary_dir}/${source}")
      endif()
    endif()
    cmake_path(NORMAL_PATH source)
    enqueue("${source}")
  endforeach()
  list(APPEND search ${include_dirs})
endforeach()
list(REMOVE_DUPLICATES search)

set(found "")
while(queue)
  list(POP_FRONT queue file)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    continue()
  endif()
  list(APPEND found "${file}")
  cmake_path(GET file PARENT_PATH here)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(folders "${here}" ${search})
    elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^>]+)>")
      set(folders ${search})
    else()
      continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    foreach(folder IN LISTS folders)
      set(candidate "${folder}/${name}")
      cmake_path(NORMAL_PATH candidate)
      if(DEFINED "seen:${candidate}")
        break()
      elseif(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
        enqueue("${candidate}")
        break()
      endif()
    endforeach()
  endforeach()
endwhile()

# Make's syntax, as compilers write it.
set(rule "")
foreach(path IN LISTS HEADER found)
  string(REPLACE "$" "$$" path "${path}")
  string(REGEX REPLACE "([ #])" "\\\\\\1" path "${path}")
  if(rule STREQUAL "")
    set(rule "${path}:")
  else()
    string(APPEND rule " \\\n  ${path}")
  endif()
endforeach()
file(WRITE "${DEPFILE}.new" "${rule}\n")
file(RENAME "${DEPFILE}.new" "${DEPFILE}")
