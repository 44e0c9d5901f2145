# Pen pipeline throughput of the sign object against a bare QPainter baseline.
add_executable(bench_sdk_pipeline ${CMAKE_CURRENT_LIST_DIR}/sdk_pipeline.cpp)
target_link_libraries(bench_sdk_pipeline PRIVATE vtinksdk_obj)
