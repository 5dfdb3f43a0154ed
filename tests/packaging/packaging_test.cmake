# A host's view of the package: cryptutil added as a subproject with the host's own components
# (no tool, tests or their dependencies), installed from there and consumed with find_package,
# and the symbols a shared build exports.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DNM=... [-DTOOLCHAIN=... -DEMULATOR=...] -P packaging_test.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../script_support.cmake)
# The names a shared library exports, of every kind (C++ names without their argument lists).
function(exported_names lib out)
  execute_process(COMMAND ${NM} -D --defined-only -C ${lib} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${lib}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^(\n]+" lines "${text}")
  set(names)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] |\\[abi:[a-z0-9]+\\]" "" name "${line}")
    list(APPEND names ${name})
  endforeach()
  list(REMOVE_ITEM names _init _fini)
  list(REMOVE_DUPLICATES names)  # constructors and destructors come in pairs
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
set(api EncryptMessage DecryptMessage GetRandomBytes EncryptKeyV2 DecryptKeyV2 hashData createRSASignature
    verifyRSASignature ToHex FromHex chararr_to_hex bytes_to_hex_string OPENSSL_hexstr2buf OPENSSL_buf2hexstr
    create_error create_error_response currentISO8601TimeUTC)
foreach(stream Encrypt Decrypt)
  set(class cryptutil::Message${stream}Stream)
  list(APPEND api ${class}::Message${stream}Stream ${class}::~Message${stream}Stream ${class}::Update ${class}::Finish)
endforeach()
function(expect_exports lib)
  exported_names(${lib} got)
  set(want ${ARGN})
  list(SORT want)
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "${lib} exports\n  ${got}\nexpected\n  ${want}")
  endif()
endfunction()

# 1. The host's build, shared, with the test and tool dependencies unavailable.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/packaging/host -B ${WORK_DIR}/host ${common}
    -DCRYPTUTIL_DIR=${SOURCE_DIR} -DBUILD_SHARED_LIBS=ON -DCRYPTUTIL_INSTALL=ON -DCMAKE_INSTALL_PREFIX=${prefix}
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
run(${EMULATOR} ${WORK_DIR}/host/host_app)
file(GLOB host_lib ${WORK_DIR}/host/cryptutil/libcryptutil.so)
expect_exports(${host_lib} ${api})

# 2. Installed from the host's build and consumed with find_package.
run(${CMAKE_COMMAND} --install ${WORK_DIR}/host)
# The consumer names no crypto library: the package finds the one it was built with.
string(REPLACE "${SETTINGS}" "${CONSUMER_SETTINGS}" consumer_common "${common}")
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/packaging/consumer -B ${WORK_DIR}/consumer ${consumer_common}
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${EMULATOR} ${WORK_DIR}/consumer/consumer_app)

# 3. cryptutil on its own, shared, with the stand-ins built in: they stay inside.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/shared ${common} -DBUILD_SHARED_LIBS=ON
    -DCRYPTUTIL_BUILD_TESTS=OFF -DCRYPTUTIL_BUILD_BENCHMARKS=OFF -DCRYPTUTIL_BUILD_TOOL=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/shared --target cryptutil)
expect_exports(${WORK_DIR}/shared/libcryptutil.so ${api})
