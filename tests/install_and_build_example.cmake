# Installs the build into a scratch prefix, builds the example against it and runs both.
include(${CMAKE_CURRENT_LIST_DIR}/script_support.cmake)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build ${common} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(openssl genrsa -out ${WORK_DIR}/key.pem 2048)
run(openssl pkey -in ${WORK_DIR}/key.pem -pubout -out ${WORK_DIR}/pub.pem)
run(${EMULATOR} ${WORK_DIR}/build/hybrid ${WORK_DIR}/pub.pem ${WORK_DIR}/key.pem)
run(${EMULATOR} ${prefix}/bin/cryptutil demo)
