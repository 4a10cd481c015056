# The layer rule, checked on the #include lines of app/ and lib/ (docs/ARCHITECTURE.md).
# Run as: cmake -DSOURCE_DIR=<repository> -P LayerRule.cmake
# Fails with one line per offending include, naming the file and the include.
#
# A quoted include names its folder first ("display/Kestra.h"); one without a folder is a
# neighbour in the same folder. Folders below app/ belong to the layer of their first part
# (app/display/http is display). Anything else is tessella (lib/), or a generated header.

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "LayerRule.cmake needs -DSOURCE_DIR=<repository>")
endif()

# The table: each app layer and the layers it may include. tessella (lib/) is open to every
# layer; main (app/main.cpp) may include everything.
# - common includes no other layer; display and instruments only common (never each other); the
#   engine both of them.
# - update, the update checker, only common: its owner reaches it through UpdaterHost.
# - shell, the controller, everything below it and update, whose updater it owns.
# - ui, the interface's own C++, reads the wall model and the controller: what shell may, and shell.
# - process, the process around the program, only common and display (its pump drains the
#   display's I/O context).
# No layer but main includes ui or process; the controller never includes the interface's items.
set(layers common display instruments engine update shell ui process)
set(allowed_common      common)
set(allowed_display     common display)
set(allowed_instruments common instruments)
set(allowed_engine      common display instruments engine)
set(allowed_update      common update)
set(allowed_shell       common display instruments engine update shell)
set(allowed_ui          common display instruments engine update shell ui)
set(allowed_process     common display process)
set(allowed_main        ${layers})

# Only main and the interface (ui) know QML: Qt Qml and Qt Quick, their scene graph and their
# module headers. The controller reaches QML through its meta-object alone (properties, signals,
# invokables: Qt Core). The instruments' option lists reach QML as a QQmlListProperty (a property
# type; it loads no QML), the one QtQml header allowed elsewhere.
set(qml_layers main ui)
set(qml_exceptions_instruments QQmlListProperty)

set(violations "")

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/app/*.h" "${SOURCE_DIR}/app/*.cpp" "${SOURCE_DIR}/app/*.hpp"
  "${SOURCE_DIR}/lib/*.h" "${SOURCE_DIR}/lib/*.cpp" "${SOURCE_DIR}/lib/*.hpp")
list(SORT sources)

foreach(source IN LISTS sources)
  # The layer of this file.
  if(source MATCHES "^lib/")
    set(layer tessella)
  elseif(source STREQUAL "app/main.cpp")
    set(layer main)
  elseif(source MATCHES "^app/([^/]+)/")
    set(layer "${CMAKE_MATCH_1}")
    if(NOT layer IN_LIST layers)
      list(APPEND violations "${source}: folder app/${layer} is not in the layer table")
      continue()
    endif()
  else()
    list(APPEND violations "${source}: a source directly under app/ other than main.cpp has no layer")
    continue()
  endif()

  file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(included "${CMAKE_MATCH_1}")
      if(NOT included MATCHES "/")
        continue() # a neighbour in the same folder
      endif()
      string(REGEX MATCH "^[^/]+" target "${included}")
      if(NOT target IN_LIST layers)
        continue() # tessella, or a generated header
      endif()
      if(layer STREQUAL "tessella")
        list(APPEND violations "${source}: #include \"${included}\": tessella (lib/) never includes the program (app/)")
      elseif(NOT target IN_LIST allowed_${layer})
        string(REPLACE ";" ", " may "${allowed_${layer}}")
        list(APPEND violations "${source}: #include \"${included}\": ${layer} may include only ${may} and tessella")
      endif()
    elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<((QtQml|QtQuick[A-Za-z0-9]*)(/[^>]+)?|(QQml|QQuick|QJS|QSG)[A-Za-z]*)>")
      set(included "${CMAKE_MATCH_1}")
      if(layer IN_LIST qml_layers)
        continue()
      endif()
      string(REGEX REPLACE "^.*/" "" header "${included}")
      if(DEFINED qml_exceptions_${layer} AND header IN_LIST qml_exceptions_${layer})
        continue()
      endif()
      list(APPEND violations "${source}: #include <${included}>: only main and the interface (ui) know QML")
    endif()
  endforeach()
endforeach()

list(LENGTH sources checked)
if(violations)
  list(LENGTH violations count)
  foreach(violation IN LISTS violations)
    message(NOTICE "${violation}")
  endforeach()
  message(FATAL_ERROR "Layer rule broken: ${count} include(s) above.")
endif()
message(STATUS "Layer rule holds in ${checked} files of app/ and lib/.")
