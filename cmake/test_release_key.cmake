# The release key pair that the tests sign with, made by the real minisign in the build folder
# when it builds (never committed), and the loader that trusts it: ferrovan-loader-signed.
# FERROVAN_TEST_RELEASE_KEY names the secret key, FERROVAN_SIGNED_LOADER_PATH the loader; both are
# empty when minisign is missing, and the tests that need them then say so.
find_program(FERROVAN_MINISIGN minisign)
set(FERROVAN_TEST_RELEASE_KEY "")
set(FERROVAN_SIGNED_LOADER_PATH "")
if(NOT FERROVAN_MINISIGN)
  message(STATUS "minisign not found: the signed-release tests cannot run")
  return()
endif()
set(key_dir ${CMAKE_BINARY_DIR}/test-release-key)
add_custom_command(OUTPUT ${key_dir}/release.pub ${key_dir}/release.key
  COMMAND ${CMAKE_COMMAND} -E make_directory ${key_dir}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${key_dir}/release.pub ${key_dir}/release.key
  COMMAND ${FERROVAN_MINISIGN} -G -W -p ${key_dir}/release.pub -s ${key_dir}/release.key
  COMMENT "Making the tests' release key pair" VERBATIM)
ferrovan_release_keys(ferrovan_test_release_keys ${key_dir}/release.pub)
ferrovan_add_loader(ferrovan-loader-signed ferrovan_test_release_keys)
set(FERROVAN_TEST_RELEASE_KEY ${key_dir}/release.key)
set(FERROVAN_SIGNED_LOADER_PATH $<TARGET_FILE:ferrovan-loader-signed>)
