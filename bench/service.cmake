# WebSocket round trips of the service against in-process baselines. Needs the
# umockdev preload and the real SDK and driver beside it:
#   cd build/bin && ../../tests/umockdev-run.sh ./bench_service_roundtrip
add_executable(bench_service_roundtrip ${CMAKE_CURRENT_LIST_DIR}/service_roundtrip.cpp)
target_link_libraries(bench_service_roundtrip PRIVATE vtservice padsim)
add_dependencies(bench_service_roundtrip vtinksdk vtinkdrv)

# What the service pushes as it happens (keys, pen stream) and replies of
# every size, each against a baseline in the same run; same preload:
#   cd build/bin && ../../tests/umockdev-run.sh ./bench_service_live [replies|keys|pen|flood|getinks]...
add_executable(bench_service_live ${CMAKE_CURRENT_LIST_DIR}/service_live.cpp)
target_link_libraries(bench_service_live PRIVATE vtservice padsim)
target_compile_definitions(bench_service_live PRIVATE
  VT_SIGNATURE_FILE="${PROJECT_SOURCE_DIR}/padsim/vtinkpad/signatures/anna-berg.json")
add_dependencies(bench_service_live vtinksdk vtinkdrv)

