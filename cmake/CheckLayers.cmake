# Checks that the layers of a source tree point down only:
#   toolkit < stream < register < dialogs < app
# Five rules, each with a broken tree under tests/layers/ on which this check must fail:
# 1. Includes point down. A file of a layer includes headers of its own folder and of the
#    layers below, never of a layer above, nor of tools/, tests/ or bench/ (which may use
#    anything and so stand above every layer). An include is resolved as the compiler
#    would, against the including file's folder and against the tree's top, with ".."
#    taken out: "toolkit/../app/x.h" is a header of app/. The form files (*.ui) count
#    with the headers they name for their custom widgets.
# 2. toolkit/ and stream/ include no Qt header, in any spelling: <QString>, <QtCore>,
#    <QtCore/QString>, <qstring.h>, <qt6/QtCore/qglobal.h>, moc and uic output.
# 3. Links point down. A library of a layer links libraries of its own folder and of the
#    layers below, and resources/ (compiled-in pictures) only from dialogs/ up; never a
#    library of a layer above or of tools/, tests/, bench/.
# 4. toolkit/ and stream/ link no Qt, directly or through any chain of libraries, and
#    their CMakeLists.txt name none.
# 5. Every folder of sources is a layer or stands above them.
# Rules 3 and 4 read the link graph that cmake/LayerLinks.cmake writes when the tree is
# configured: BUILD names a configured build tree; without it a tree that has a
# CMakeLists.txt is configured into WORK (default: layers-check/ in the working directory).
#
#   cmake -DROOT=<source tree> [-DBUILD=<its build tree> | -DWORK=<scratch dir>] -P CheckLayers.cmake
#
# Prints every violation and fails when there is one.

cmake_minimum_required(VERSION 3.16)

if(NOT DEFINED ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> [-DBUILD=<build tree>] -P CheckLayers.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

set(layers toolkit stream register dialogs app)
set(above_all tools tests bench)
set(qt_free toolkit stream)
# Folders of libraries that are not layers, and the lowest layer that may link them.
set(side_folders resources)
set(lowest_user_resources dialogs)

set(violations)
set(checked 0)
list(LENGTH layers layer_count)
math(EXPR last_rank "${layer_count} - 1")

# The folder (first component) of a path relative to ROOT, or "" when the path leaves the
# tree or has no folder.
function(top_folder path out)
  if(path MATCHES "^\\.\\./" OR NOT path MATCHES "^([^/]+)/")
    set(${out} "" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  endif()
endfunction()

# Qt's headers in every spelling: class headers (QString), module headers (QtCore), any
# path through a module folder (QtCore/qstring.h) or Qt's own include folder (qt6/...),
# the lowercase files behind them (qstring.h, qglobal.h) and moc and uic output.
function(is_qt_header path out)
  get_filename_component(name "${path}" NAME)
  set(qt FALSE)
  if(name MATCHES "^Q(t|[A-Z])[A-Za-z0-9_]*$"
     OR name MATCHES "^q[a-z0-9_]+\\.h$"
     OR name MATCHES "^moc_.*\\.cpp$" OR name MATCHES "\\.moc$" OR name MATCHES "^ui_.*\\.h$"
     OR path MATCHES "(^|/)Qt[A-Z][A-Za-z0-9]*/" OR path MATCHES "(^|/)qt[56]?/")
    set(qt TRUE)
  endif()
  set(${out} ${qt} PARENT_SCOPE)
endfunction()

foreach(rank RANGE ${last_rank})
  list(GET layers ${rank} layer)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${ROOT}"
       "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.hpp" "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.ui")
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    get_filename_component(file_dir "${ROOT}/${file}" DIRECTORY)
    file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include|__has_include|<header>")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*([\"<])([^\">]+)[\">]")
        set(quoted "${CMAKE_MATCH_1}")
        set(included "${CMAKE_MATCH_2}")
      elseif(line MATCHES "__has_include[ \t]*\\([ \t]*([\"<])([^\">]+)[\">]")
        set(quoted "${CMAKE_MATCH_1}")
        set(included "${CMAKE_MATCH_2}")
      elseif(line MATCHES "<header>[ \t]*([^< \t]+)")
        set(quoted "\"")
        set(included "${CMAKE_MATCH_1}")
      else()
        continue()
      endif()
      string(REPLACE "\\" "/" included "${included}")

      # Where the compiler may find it: beside the file (quoted includes), and below the
      # tree's top, the include directory of every library.
      set(resolved)
      set(bases "${ROOT}")
      if(quoted STREQUAL "\"")
        list(PREPEND bases "${file_dir}")
      endif()
      foreach(base IN LISTS bases)
        get_filename_component(absolute "${included}" ABSOLUTE BASE_DIR "${base}")
        file(RELATIVE_PATH relative "${ROOT}" "${absolute}")
        list(APPEND resolved "${relative}")
      endforeach()

      set(ours FALSE)
      foreach(relative IN LISTS resolved)
        if(EXISTS "${ROOT}/${relative}" AND NOT relative MATCHES "^\\.\\./")
          set(ours TRUE)
        endif()
        top_folder("${relative}" folder)
        if(NOT folder)
          continue()
        endif()
        list(FIND layers "${folder}" used_rank)
        if(used_rank GREATER rank OR folder IN_LIST above_all)
          if(relative STREQUAL included)
            list(APPEND violations "${file}: includes ${included}, a header of ${folder}/, above ${layer}/")
          else()
            list(APPEND violations "${file}: includes ${included}, which is ${relative}, a header of ${folder}/, above ${layer}/")
          endif()
          break()
        endif()
      endforeach()

      if(layer IN_LIST qt_free AND NOT ours)
        is_qt_header("${included}" qt)
        if(qt)
          list(APPEND violations "${file}: includes the Qt header ${included}, but ${layer}/ knows nothing of Qt")
        endif()
      endif()
    endforeach()
  endforeach()

  if(layer IN_LIST qt_free AND EXISTS "${ROOT}/${layer}/CMakeLists.txt")
    file(STRINGS "${ROOT}/${layer}/CMakeLists.txt" qt_lines REGEX "Qt[0-9]*::|find_package\\(Qt|Qt[0-9]*[A-Z][a-z]+")
    foreach(line IN LISTS qt_lines)
      string(STRIP "${line}" line)
      if(NOT line MATCHES "^#")
        list(APPEND violations "${layer}/CMakeLists.txt: uses Qt (${line}), but ${layer}/ knows nothing of Qt")
      endif()
    endforeach()
  endif()
endforeach()

# The link graph.
set(links_file)
if(DEFINED BUILD)
  set(links_file "${BUILD}/layer_links.cmake")
  if(NOT EXISTS "${links_file}")
    message(FATAL_ERROR "${BUILD} holds no layer_links.cmake: configure it with cmake/LayerLinks.cmake included")
  endif()
elseif(EXISTS "${ROOT}/CMakeLists.txt")
  if(NOT DEFINED WORK)
    set(WORK "${CMAKE_CURRENT_BINARY_DIR}/layers-check")
  endif()
  file(REMOVE_RECURSE "${WORK}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${ROOT}" -B "${WORK}"
                  RESULT_VARIABLE configured OUTPUT_VARIABLE configure_log ERROR_VARIABLE configure_log)
  if(NOT configured EQUAL 0)
    message(FATAL_ERROR "Can not configure ${ROOT} to read its link graph:\n${configure_log}")
  endif()
  set(links_file "${WORK}/layer_links.cmake")
endif()

set(links_checked 0)
if(links_file)
  include("${links_file}")
  foreach(target IN LISTS link_targets)
    top_folder("${link_folder_${target}}/" folder)
    list(FIND layers "${folder}" rank)
    if(rank EQUAL -1)
      continue()
    endif()
    math(EXPR links_checked "${links_checked} + 1")
    foreach(used IN LISTS link_ours_${target})
      top_folder("${link_folder_${used}}/" used_folder)
      list(FIND layers "${used_folder}" used_rank)
      set(allowed FALSE)
      if(used_rank GREATER -1 AND NOT used_rank GREATER rank)
        set(allowed TRUE)
      elseif(used_folder IN_LIST side_folders)
        list(FIND layers "${lowest_user_${used_folder}}" lowest)
        if(NOT rank LESS lowest)
          set(allowed TRUE)
        endif()
      endif()
      if(NOT allowed AND used_folder IN_LIST side_folders)
        list(APPEND violations "${folder}/ target ${target}: links ${used} of ${used_folder}/, which only ${lowest_user_${used_folder}}/ and the layers above it may link")
      elseif(NOT allowed)
        list(APPEND violations "${folder}/ target ${target}: links ${used} of ${used_folder}/, not below ${folder}/")
      endif()
    endforeach()
    if(folder IN_LIST qt_free AND link_qt_${target})
      list(APPEND violations "${folder}/ target ${target}: links Qt (${link_qt_${target}}), but ${folder}/ knows nothing of Qt")
    endif()
  endforeach()
endif()

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

if(links_file)
  set(graph "${checked} files and the links of ${links_checked} targets checked")
else()
  set(graph "${checked} files checked, no link graph (no CMakeLists.txt)")
endif()
list(LENGTH violations violation_count)
if(violation_count GREATER 0)
  foreach(violation IN LISTS violations)
    message("${violation}")
  endforeach()
  message(FATAL_ERROR "Layers broken, violations: ${violation_count} (${graph})")
endif()
message(STATUS "Layers point down: ${graph}")
