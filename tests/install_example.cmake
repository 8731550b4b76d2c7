# Installs the build into a fresh prefix, then configures, builds and runs
# examples/cpp_api against it: the installed package is complete.
#   cmake -DBUILD_DIR=... -DEXAMPLE_DIR=... -DWORK_DIR=... -DCXX=... -P this
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${out}")
  endif()
  message("${out}")
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX}
    -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/fit_in_code)
