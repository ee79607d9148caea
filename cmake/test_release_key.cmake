# The release key pair that the tests sign with, made by the real minisign in the build folder
# when it builds (never committed), and the loaders that trust it: ferrovan-loader-signed, and
# ferrovan-loader-signed-next, one release number above it, to which a release made for the first
# is an older one. FERROVAN_TEST_RELEASE_KEY names the secret key, FERROVAN_SIGNED_LOADER_PATH and
# FERROVAN_SIGNED_NEXT_LOADER_PATH the loaders; all are empty when minisign is missing, and the
# tests that need them then say so.
find_program(FERROVAN_MINISIGN minisign)
set(FERROVAN_TEST_RELEASE_KEY "")
set(FERROVAN_SIGNED_LOADER_PATH "")
set(FERROVAN_SIGNED_NEXT_LOADER_PATH "")
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
# One target makes the pair: two targets building the same output at once would each delete
# what the other made.
add_custom_target(ferrovan_test_release_key_pair DEPENDS ${key_dir}/release.pub ${key_dir}/release.key)
ferrovan_release_keys(ferrovan_test_release_keys ${key_dir}/release.pub)
add_dependencies(ferrovan_test_release_keys ferrovan_test_release_key_pair)
ferrovan_add_loader(ferrovan-loader-signed ferrovan_test_release_keys)
math(EXPR next_release "${FERROVAN_RELEASE_NUMBER} + 1")
ferrovan_release_keys(ferrovan_test_release_keys_next ${key_dir}/release.pub ${next_release})
add_dependencies(ferrovan_test_release_keys_next ferrovan_test_release_key_pair)
ferrovan_add_loader(ferrovan-loader-signed-next ferrovan_test_release_keys_next)
set(FERROVAN_TEST_RELEASE_KEY ${key_dir}/release.key)
set(FERROVAN_SIGNED_LOADER_PATH $<TARGET_FILE:ferrovan-loader-signed>)
set(FERROVAN_SIGNED_NEXT_LOADER_PATH $<TARGET_FILE:ferrovan-loader-signed-next>)
