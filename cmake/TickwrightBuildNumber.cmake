# tickwright_add_build_number(): the pre-build step that bumps a target's
# build number, shipped with the installed Tickwright package.

# tickwright_add_build_number(<target> [HEADER <file>] [NAME <macro>])
#
# Runs Tickwright once per build, before <target> compiles, so every build
# that includes <target> raises the number by one, even when nothing else
# changed; the sources that include the header are then rebuilt with the new
# number. HEADER is the counter header, relative to the current binary folder
# (default: <target>_build_number.h); like the tool, the function makes its
# extension ".h". NAME is the macro (default: BUILD_NUMBER). The header's
# folder joins <target>'s include path. Needs the imported
# Tickwright::Tickwright of find_package(Tickwright).
function(tickwright_add_build_number target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "HEADER;NAME" "")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tickwright_add_build_number: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "tickwright_add_build_number: ${target} is no target")
  endif()
  if(NOT arg_HEADER)
    set(arg_HEADER ${target}_build_number.h)
  endif()
  if(NOT arg_NAME)
    set(arg_NAME BUILD_NUMBER)
  endif()
  cmake_path(ABSOLUTE_PATH arg_HEADER BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} NORMALIZE)
  cmake_path(REPLACE_EXTENSION arg_HEADER LAST_ONLY .h)
  cmake_path(GET arg_HEADER PARENT_PATH folder)
  cmake_path(GET arg_HEADER FILENAME file)
  file(MAKE_DIRECTORY ${folder})

  # The tool is given the bare file name in the header's folder: a full path
  # that begins with "/" could read as switches to it.
  add_custom_target(${target}_build_number
    COMMAND Tickwright::Tickwright /nologo ${file} ${arg_NAME}
    WORKING_DIRECTORY ${folder}
    BYPRODUCTS ${arg_HEADER}
    COMMENT "Bumping the build number of ${target}"
    VERBATIM)
  add_dependencies(${target} ${target}_build_number)
  target_include_directories(${target} PRIVATE ${folder})
endfunction()
