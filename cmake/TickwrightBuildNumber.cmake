# tickwright_add_build_number(): the pre-build step that bumps a target's
# build number. It comes with the installed Tickwright package and with
# Tickwright's own source tree taken in by FetchContent or add_subdirectory.

# tickwright_add_build_number(<target> [HEADER <file>] [NAME <macro>]
#                             [ONLY_WHEN_REBUILT])
#
# Runs Tickwright before <target> compiles, so that the program a build links
# always shows the number of that build; the sources that include the header
# are rebuilt with the new number. HEADER is the counter header, relative to
# the current binary folder (default: <target>_build_number.h); like the tool,
# the function makes its extension ".h". NAME is the macro (default:
# BUILD_NUMBER). The header's folder joins <target>'s include path.
#
# By default every build that includes <target> counts one up, even when
# nothing else changed. With ONLY_WHEN_REBUILT a build counts only when the
# target has something to compile: when one of its sources, or a header they
# include, is newer than the counter header, or its sources, include folders,
# definitions or compile options changed (the README says how it finds the
# headers and what it cannot see).
#
# The tool is Tickwright::Tickwright. In a cross build, unless that is an
# installed tool built for the build machine, the bump runs
# TICKWRIGHT_HOST_EXECUTABLE instead, found on PATH unless given: never the
# cross-built tool.
function(tickwright_add_build_number target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ONLY_WHEN_REBUILT" "HEADER;NAME" "")
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
  _tickwright_bump_tool(${target} tool tool_target)

  # The tool is given the bare file name in the header's folder: a full path
  # that begins with "/" could read as switches to it.
  set(bump ${tool} /nologo ${file} ${arg_NAME})
  if(NOT arg_ONLY_WHEN_REBUILT)
    add_custom_target(${target}_build_number
      COMMAND ${bump}
      WORKING_DIRECTORY ${folder}
      BYPRODUCTS ${arg_HEADER}
      COMMENT "Bumping the build number of ${target}"
      VERBATIM)
  else()
    # The header is the step's output, and the build tool itself judges it
    # against what the target compiles: each source and, through the depfile
    # that the step writes, the headers they include, as found when it last
    # ran. What the target compiles with is written per configuration at
    # generate time; a change rewrites those files, and so counts too.
    set(work ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}_build_number)
    file(GENERATE OUTPUT ${work}/inputs-$<CONFIG>.cmake CONTENT
"set(sources [==[$<TARGET_PROPERTY:${target},SOURCES>]==])
set(include_dirs [==[$<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>]==])
set(source_dir [==[$<TARGET_PROPERTY:${target},SOURCE_DIR>]==])
set(binary_dir [==[$<TARGET_PROPERTY:${target},BINARY_DIR>]==])
set(settings [==[$<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>
$<TARGET_PROPERTY:${target},COMPILE_OPTIONS>]==])
")
    get_property(multi_config GLOBAL PROPERTY GENERATOR_IS_MULTI_CONFIG)
    if(multi_config)
      set(configs ${CMAKE_CONFIGURATION_TYPES})
    else()
      set(configs "${CMAKE_BUILD_TYPE}")
    endif()
    set(inputs "")
    foreach(config IN LISTS configs)
      list(APPEND inputs ${work}/inputs-${config}.cmake)
    endforeach()
    if(NOT inputs)  # a single configuration without a name
      set(inputs ${work}/inputs-.cmake)
    endif()
    # One command for every configuration: building another one does not
    # count again, and each compiles the same header.
    list(JOIN inputs "$<SEMICOLON>" inputs_arg)
    cmake_policy(PUSH)
    cmake_policy(SET CMP0116 NEW)  # the depfile's paths are absolute
    add_custom_command(OUTPUT ${arg_HEADER}
      COMMAND ${bump}
      COMMAND ${CMAKE_COMMAND} -DHEADER=${arg_HEADER} "-DINPUTS=${inputs_arg}"
              -DDEPFILE=${work}/header.d
              -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/TickwrightBuildNumberInputs.cmake
      DEPENDS ${inputs}
      DEPFILE ${work}/header.d
      WORKING_DIRECTORY ${folder}
      COMMENT "Bumping the build number of ${target}: it has something to compile"
      VERBATIM)
    cmake_policy(POP)
    add_custom_target(${target}_build_number DEPENDS ${arg_HEADER})
  endif()
  if(tool_target)
    add_dependencies(${target}_build_number ${tool_target})
  endif()
  add_dependencies(${target} ${target}_build_number)
  target_include_directories(${target} PRIVATE ${folder})
endfunction()

# The tool that bumps, as a command (<command_var>), and the target of this
# build that makes it (<target_var>; empty for an installed tool).
function(_tickwright_bump_tool for command_var target_var)
  if(NOT TARGET Tickwright::Tickwright)
    message(FATAL_ERROR "tickwright_add_build_number(${for}): there is no Tickwright::Tickwright; "
      "take Tickwright in first with find_package(Tickwright), FetchContent or add_subdirectory")
  endif()
  get_target_property(imported Tickwright::Tickwright IMPORTED)
  get_target_property(built_for Tickwright::Tickwright TICKWRIGHT_BUILT_FOR)
  if(NOT CMAKE_CROSSCOMPILING OR
     (imported AND built_for STREQUAL "${CMAKE_HOST_SYSTEM_NAME}-${CMAKE_HOST_SYSTEM_PROCESSOR}"))
    set(${command_var} $<TARGET_FILE:Tickwright::Tickwright> PARENT_SCOPE)
    if(imported)
      set(${target_var} "" PARENT_SCOPE)
    else()
      get_target_property(aliased Tickwright::Tickwright ALIASED_TARGET)
      set(${target_var} ${aliased} PARENT_SCOPE)
    endif()
    return()
  endif()

  # Only PATH, and never below the cross build's root: a folder of the other
  # system's programs must not lend its Tickwright.
  find_program(TICKWRIGHT_HOST_EXECUTABLE NAMES tickwright Tickwright
    PATHS ENV PATH NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "Tickwright for the build machine, which bumps build numbers in a cross build")
  if(NOT TICKWRIGHT_HOST_EXECUTABLE)
    message(FATAL_ERROR "tickwright_add_build_number(${for}): this build makes programs for "
      "${CMAKE_SYSTEM_NAME}, so the build number must be counted by a Tickwright that runs on "
      "this machine (${CMAKE_HOST_SYSTEM_NAME}), and there is none on PATH. Install Tickwright "
      "for ${CMAKE_HOST_SYSTEM_NAME} (its package, or `cmake --install` of a native build) and "
      "put it on PATH, or name it with -DTICKWRIGHT_HOST_EXECUTABLE=<path>.")
  endif()
  set(${command_var} ${TICKWRIGHT_HOST_EXECUTABLE} PARENT_SCOPE)
  set(${target_var} "" PARENT_SCOPE)
endfunction()
