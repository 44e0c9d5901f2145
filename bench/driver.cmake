# Pen report latency through the emulated pad, libusb and the driver's reader,
# and the idle CPU of a waiting reader with and without the REAP throttle.
add_executable(bench_driver_latency ${CMAKE_CURRENT_LIST_DIR}/driver_latency.cpp)
target_include_directories(bench_driver_latency PRIVATE ${PROJECT_SOURCE_DIR}/driver/include ${PROJECT_SOURCE_DIR}/common)
target_link_libraries(bench_driver_latency PRIVATE padsim ${CMAKE_DL_LIBS})
add_dependencies(bench_driver_latency vtinkdrv)
