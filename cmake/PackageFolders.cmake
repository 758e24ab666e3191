# Run by CPack after the staging install, before the packages are made. The RPM owns only the
# program's own folders (those with a path component "wendrel-desktop": resources, plug-in,
# helper, documentation); the folders it merely installs into (share/applications,
# share/locale/<language>/LC_MESSAGES, lib/<multiarch>, ...) belong to the system.
file(GLOB_RECURSE wd_entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
set(wd_system_folders "")
foreach(wd_entry IN LISTS wd_entries)
  if(IS_DIRECTORY "${wd_entry}" AND NOT IS_SYMLINK "${wd_entry}")
    file(RELATIVE_PATH wd_rel "${CPACK_TEMPORARY_DIRECTORY}" "${wd_entry}")
    if(NOT "/${wd_rel}/" MATCHES "/wendrel-desktop/")
      list(APPEND wd_system_folders "/${wd_rel}")
    endif()
  endif()
endforeach()
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION ${wd_system_folders})
