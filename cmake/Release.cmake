# Release archives, made by the "package" target: the tool with its README and license, and,
# separately, the reference implementations of the two vendor libraries.
install(TARGETS DeploymentPackager RUNTIME DESTINATION . COMPONENT tool)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT tool)

# As targets, so that CPACK_STRIP_FILES strips the libraries as it strips the executable.
install(TARGETS KQPackager ZelNSEvent RUNTIME DESTINATION . COMPONENT reference)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT reference)
install(FILES ${CMAKE_SOURCE_DIR}/reference/packager/README.md DESTINATION . COMPONENT reference
        RENAME README-KQPackager.md)
install(FILES ${CMAKE_SOURCE_DIR}/reference/events/README.md DESTINATION . COMPONENT reference
        RENAME README-ZelNSEvent.md)

set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_NAME DeploymentPackager)
set(CPACK_PACKAGE_VENDOR "The Deployment Packager developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool reference)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
set(_dp_arch ${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_ARCHIVE_TOOL_FILE_NAME DeploymentPackager-${PROJECT_VERSION}-${_dp_arch})
set(CPACK_ARCHIVE_REFERENCE_FILE_NAME
    DeploymentPackager-${PROJECT_VERSION}-${_dp_arch}-reference-vendor-libraries)
include(CPack)
