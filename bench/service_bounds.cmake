# What hostile or greedy clients cost the service (a child process of its
# own), against baselines measured in the same run:
#   cd build/bin && ../../tests/umockdev-run.sh ./bench_service_bounds [churn seconds]
find_package(ZLIB REQUIRED)
add_executable(bench_service_bounds ${CMAKE_CURRENT_LIST_DIR}/service_bounds.cpp)
target_include_directories(bench_service_bounds PRIVATE ${PROJECT_SOURCE_DIR}/tests/service)
target_link_libraries(bench_service_bounds PRIVATE vtservice padsim ZLIB::ZLIB)
add_dependencies(bench_service_bounds vtinksdk vtinkdrv)
