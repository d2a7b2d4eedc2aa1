# The release of this architecture, made by the "release" target (tools/release): the shipped
# binaries stripped, signed with Authenticode when the environment gives a key, and two ZIPs
# in <build>/release: the tool with its README and license, and the reference
# implementations of the two vendor libraries.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_target(release
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/release ${CMAKE_BINARY_DIR}
          ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION} ${CMAKE_SYSTEM_PROCESSOR} ${CMAKE_STRIP}
  DEPENDS DeploymentPackager KQPackager ZelNSEvent
  USES_TERMINAL
  COMMENT "Making the release")
