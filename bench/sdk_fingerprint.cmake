# Fingerprint capture rendering: canvas lock hold time against painting one point a call.
add_executable(bench_sdk_fingerprint ${CMAKE_CURRENT_LIST_DIR}/sdk_fingerprint.cpp)
target_link_libraries(bench_sdk_fingerprint PRIVATE vtinksdk_obj)
