# WebSocket round trips of the service against in-process baselines. Needs the
# umockdev preload and the real SDK and driver beside it:
#   cd build/bin && ../../tests/umockdev-run.sh ./bench_service_roundtrip
add_executable(bench_service_roundtrip ${CMAKE_CURRENT_LIST_DIR}/service_roundtrip.cpp)
target_link_libraries(bench_service_roundtrip PRIVATE vtservice padsim)
add_dependencies(bench_service_roundtrip vtinksdk vtinkdrv)
