# The FFmpeg the movie module is built with: target `movie_ffmpeg`.
#   system   Debian's shared libraries, so Debian's security updates reach it.
#   minimal  a static FFmpeg built from Debian's own source package with only
#            what previews need (scripts/build_minimal_ffmpeg.sh): it loads in
#            a fraction of the time and memory, and hostile movies reach far
#            less code. Built once into a cache folder outside the build tree.
# Either way FFmpeg lives in the movie module only; the program never maps it.
set(HALVERNSIGNET_FFMPEG "system" CACHE STRING "FFmpeg for the movie module: system or minimal")
set_property(CACHE HALVERNSIGNET_FFMPEG PROPERTY STRINGS system minimal)

add_library(movie_ffmpeg INTERFACE)
if(HALVERNSIGNET_FFMPEG STREQUAL "system")
  target_link_libraries(movie_ffmpeg INTERFACE PkgConfig::FFMPEG)
elseif(HALVERNSIGNET_FFMPEG STREQUAL "minimal")
  set(build_script ${PROJECT_SOURCE_DIR}/scripts/build_minimal_ffmpeg.sh)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${build_script})
  message(STATUS "Minimal FFmpeg: ${build_script} (builds it the first time, a few minutes)")
  # For the fuzz targets FFmpeg is built with the same compiler and the
  # fuzzer's coverage flags, so coverage reaches inside the decoders.
  set(ffmpeg_build_env)
  if(FUZZ)
    # The project compiles no C: the C compiler beside clang++ is clang.
    string(REGEX REPLACE "\\+\\+$" "" ffmpeg_cc "${CMAKE_CXX_COMPILER}")
    set(ffmpeg_build_env ${CMAKE_COMMAND} -E env FFMPEG_CC=${ffmpeg_cc}
        FFMPEG_INSTRUMENT_FLAGS=-fsanitize=fuzzer-no-link)
  endif()
  execute_process(COMMAND ${ffmpeg_build_env} bash ${build_script}
    OUTPUT_VARIABLE MINIMAL_FFMPEG_DIR OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE built)
  if(NOT built EQUAL 0 OR NOT EXISTS ${MINIMAL_FFMPEG_DIR}/lib/libavcodec.a)
    message(FATAL_ERROR "The minimal FFmpeg could not be built; see the messages above")
  endif()
  message(STATUS "Minimal FFmpeg: ${MINIMAL_FFMPEG_DIR}")
  pkg_check_modules(DAV1D REQUIRED IMPORTED_TARGET dav1d)
  find_package(ZLIB REQUIRED)
  target_include_directories(movie_ffmpeg SYSTEM BEFORE INTERFACE ${MINIMAL_FFMPEG_DIR}/include)
  # Static archives in dependency order, then what they need from the system.
  target_link_libraries(movie_ffmpeg INTERFACE
    ${MINIMAL_FFMPEG_DIR}/lib/libavformat.a ${MINIMAL_FFMPEG_DIR}/lib/libavcodec.a
    ${MINIMAL_FFMPEG_DIR}/lib/libswscale.a ${MINIMAL_FFMPEG_DIR}/lib/libavutil.a
    PkgConfig::DAV1D ZLIB::ZLIB m Threads::Threads)
else()
  message(FATAL_ERROR "HALVERNSIGNET_FFMPEG must be system or minimal, not '${HALVERNSIGNET_FFMPEG}'")
endif()
