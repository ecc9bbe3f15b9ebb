# Builds nimbra_bench and runs a few of its cases for a moment each, so that
# the benchmarks are known to compile, start the device and draw.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target nimbra_bench RESULT_VARIABLE built)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "nimbra_bench does not build")
endif()
execute_process(COMMAND ${BENCH} "--benchmark_filter=^(frame/copyBuffer|jpeg/draw/200x120|png/draw/200x200|mpeg/decode/ip_|replay/dashboard)"
                        --benchmark_min_time=0.001
                RESULT_VARIABLE ran OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT ran EQUAL 0)
  message(FATAL_ERROR "nimbra_bench failed: ${output}${errors}")
endif()
message(STATUS "${output}")
