set(VT_SERVICE_CORE_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/websocketthread.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/websocketservice.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/signobjmanager.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/signobjmodels.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/signobjreport.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/signobjsave.cpp
)
