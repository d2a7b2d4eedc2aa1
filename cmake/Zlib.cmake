# zlib for the reference packager (target dp_zlib): built from Debian's source of the release
# (tools/zlib-source, run by tools/setup) with full optimisation, as the MinGW package's build
# of the same zlib deflates about a quarter slower; where that source is missing, the MinGW
# package's library. Both are zlib 1.2.13: the same bytes out.
set(DP_ZLIB_SOURCE ${CMAKE_SOURCE_DIR}/build/third-party/zlib)
if(EXISTS ${DP_ZLIB_SOURCE}/deflate.c)
  set(sources adler32.c crc32.c deflate.c trees.c zutil.c inflate.c inftrees.c inffast.c)
  list(TRANSFORM sources PREPEND ${DP_ZLIB_SOURCE}/)
  add_library(dp_zlib STATIC ${sources})
  target_include_directories(dp_zlib PUBLIC ${DP_ZLIB_SOURCE})
  # Not the project's code: its warnings are not ours to fix.
  target_compile_options(dp_zlib PRIVATE -O3 -w)
  message(STATUS "zlib: built from ${DP_ZLIB_SOURCE}")
else()
  add_library(dp_zlib INTERFACE)
  target_link_libraries(dp_zlib INTERFACE z)
  message(STATUS "zlib: the MinGW package's (run tools/setup for the faster build from source)")
endif()
