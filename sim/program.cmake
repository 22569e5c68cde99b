# valdrix-sim: the interface model on a pseudo-terminal (POSIX only).
add_executable(valdrix-sim ${CMAKE_CURRENT_SOURCE_DIR}/valdrix_sim_main.cpp)
target_link_libraries(valdrix-sim PRIVATE valdrix_sim)
