set(VT_SERVICE_DESKTOP_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/systraymenumgr.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sitepermission.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/traystatus.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/desktoptesthooks.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/detectsigngleinstance.cpp)
# Test builds let the desktop tests read the tray state and point the
# distribution and installed-entries folder elsewhere (environment switches,
# inert unless set).
if(VT_BUILD_TESTS)
  set_source_files_properties(${VT_SERVICE_DESKTOP_SOURCES} PROPERTIES COMPILE_DEFINITIONS VT_DESKTOP_TEST_HOOKS)
endif()
# The program loads "./vtinkhost.ico" from its own folder.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/vtinkhost.ico ${VT_OUT_DIR}/vtinkhost.ico COPYONLY)
