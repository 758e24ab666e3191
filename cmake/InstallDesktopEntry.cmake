# Installs the desktop entry with the installed executable's absolute path in Exec and TryExec,
# so launchers and the mailto: handler find the program whether or not the prefix's bin folder
# is on the desktop session's PATH (~/.local/bin usually is not). Run at install time, so the
# path is that of the prefix given to `cmake --install`.
# In: WD_ENTRY_SOURCE (the entry with "Exec=wendrel-desktop %U" and "TryExec=wendrel-desktop"),
#     WD_ENTRY_STAGE (a folder of the build tree), WD_ENTRY_EXECUTABLE (the absolute path),
#     WD_ENTRY_DESTINATION (the applications folder under the prefix).
if(WD_ENTRY_EXECUTABLE MATCHES "[\n\r]")
  message(FATAL_ERROR "The install path cannot go into a desktop entry: ${WD_ENTRY_EXECUTABLE}")
endif()

# TryExec is a plain string value: only its backslashes are escaped.
string(REPLACE "\\" "\\\\" try_exec "${WD_ENTRY_EXECUTABLE}")
# Exec is a command line: a path with characters outside the plain set is double-quoted with
# '"', '`', '$' and '\' escaped inside the quotes; '%' is doubled (field codes); then the
# string value's own escaping doubles every backslash.
set(exec "${WD_ENTRY_EXECUTABLE}")
string(REPLACE "%" "%%" exec "${exec}")
if(exec MATCHES "[^A-Za-z0-9_./+,@:=%-]")
  foreach(c "\\" "\"" "`" "$")
    string(REPLACE "${c}" "\\${c}" exec "${exec}")
  endforeach()
  set(exec "\"${exec}\"")
endif()
string(REPLACE "\\" "\\\\" exec "${exec}")

file(READ "${WD_ENTRY_SOURCE}" entry)
# A relocatable tree (the release tarball) cannot know where it will be unpacked: its entry keeps
# the plain program name, and the tree's own path never ends up in the archive.
if(NOT "$ENV{WD_RELOCATABLE_INSTALL}" STREQUAL "1")
  string(REPLACE "\nExec=wendrel-desktop %U\n" "\nExec=${exec} %U\n" entry "${entry}")
  string(REPLACE "\nTryExec=wendrel-desktop\n" "\nTryExec=${try_exec}\n" entry "${entry}")
endif()
get_filename_component(name "${WD_ENTRY_SOURCE}" NAME)
file(WRITE "${WD_ENTRY_STAGE}/${name}" "${entry}")
# An entry installed before (another prefix, the same second) would count as up to date.
file(REMOVE "$ENV{DESTDIR}${WD_ENTRY_DESTINATION}/${name}")
file(INSTALL DESTINATION "${WD_ENTRY_DESTINATION}" TYPE FILE FILES "${WD_ENTRY_STAGE}/${name}")
