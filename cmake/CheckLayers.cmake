# Checks that the layers of a source tree point down only:
#   toolkit < stream < register < dialogs < app
# A file of one of these folders may include headers of its own folder and of the folders
# below it, never of a folder above it, nor of tools/, tests/ or bench/ (which may use
# anything and so stand above every layer). toolkit/ and stream/ know nothing of Qt: none of
# their files includes a Qt header and their CMakeLists.txt links no Qt module. The form
# files (*.ui) count with the headers they name for their custom widgets.
#
#   cmake -DROOT=<source tree> -P CheckLayers.cmake
#
# Prints every violation and fails when there is one.

cmake_minimum_required(VERSION 3.16)

if(NOT DEFINED ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P CheckLayers.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

set(layers toolkit stream register dialogs app)
set(above_all tools tests bench)
set(qt_free toolkit stream)

set(violations)
set(checked 0)
list(LENGTH layers layer_count)
math(EXPR last_rank "${layer_count} - 1")

foreach(rank RANGE ${last_rank})
  list(GET layers ${rank} layer)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${ROOT}"
       "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.hpp" "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.ui")
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include|<header>")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
        set(included "${CMAKE_MATCH_1}")
      elseif(line MATCHES "<header>[ \t]*([^< \t]+)")
        set(included "${CMAKE_MATCH_1}")
      else()
        continue()
      endif()
      string(REGEX REPLACE "^(\\./|\\.\\./)+" "" included "${included}")

      if(included MATCHES "^([A-Za-z0-9_]+)/")
        set(folder "${CMAKE_MATCH_1}")
        list(FIND layers "${folder}" used_rank)
        if(used_rank GREATER rank OR folder IN_LIST above_all)
          list(APPEND violations "${file}: includes ${included}, a header of ${folder}/, above ${layer}/")
        endif()
      endif()
      # Qt's headers are QClassName, QtModule and QtModule/QClassName.
      if(layer IN_LIST qt_free AND included MATCHES "^(Qt[A-Za-z]*/)?Q[A-Za-z]")
        list(APPEND violations "${file}: includes the Qt header ${included}, but ${layer}/ knows nothing of Qt")
      endif()
    endforeach()
  endforeach()

  if(layer IN_LIST qt_free AND EXISTS "${ROOT}/${layer}/CMakeLists.txt")
    file(STRINGS "${ROOT}/${layer}/CMakeLists.txt" qt_lines REGEX "Qt[0-9]*::|find_package\\(Qt")
    foreach(line IN LISTS qt_lines)
      string(STRIP "${line}" line)
      list(APPEND violations "${layer}/CMakeLists.txt: uses Qt (${line}), but ${layer}/ knows nothing of Qt")
    endforeach()
  endif()
endforeach()

# A folder of sources outside the chain would escape the check: each has its place.
# Build trees (they hold a CMakeCache.txt) and hidden folders are not sources.
string(REPLACE ";" ", " layer_names "${layers}")
string(REPLACE ";" ", " above_names "${above_all}")
file(GLOB entries LIST_DIRECTORIES true RELATIVE "${ROOT}" "${ROOT}/*")
foreach(entry IN LISTS entries)
  if(NOT IS_DIRECTORY "${ROOT}/${entry}" OR entry IN_LIST layers OR entry IN_LIST above_all OR entry MATCHES "^\\."
     OR EXISTS "${ROOT}/${entry}/CMakeCache.txt")
    continue()
  endif()
  file(GLOB_RECURSE sources LIST_DIRECTORIES false "${ROOT}/${entry}/*.h" "${ROOT}/${entry}/*.hpp" "${ROOT}/${entry}/*.cpp")
  if(sources)
    list(APPEND violations "${entry}/: sources in a folder that is neither a layer (${layer_names}) nor above them (${above_names})")
  endif()
endforeach()

list(LENGTH violations violation_count)
if(violation_count GREATER 0)
  foreach(violation IN LISTS violations)
    message("${violation}")
  endforeach()
  message(FATAL_ERROR "Layers broken, violations: ${violation_count} (${checked} files checked)")
endif()
message(STATUS "Layers point down: ${checked} files checked")
