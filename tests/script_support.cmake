# Shared by the cmake -P test scripts: a fresh work directory, the options every configure step
# takes (generator, the settings of the build under test, and the toolchain file of a cross
# build), and run(), which fails the test when a command fails.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(common -G ${GENERATOR})
if(SETTINGS)
  list(APPEND common -C ${SETTINGS})
endif()
if(TOOLCHAIN)
  list(APPEND common -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}")
  endif()
endfunction()
