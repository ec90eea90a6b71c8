# The Debian package, built by scripts/package (cpack -G DEB in a build whose
# prefix is /usr). It holds what `cmake --install` installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME flickbook)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # flickbook_<version>_<arch>.deb
set(FLICKBOOK_DEB_MAINTAINER "Flickbook developers <flickbook@norvane.invalid>"
    CACHE STRING "The Debian package's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FLICKBOOK_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "animated GIF editor and batch tool")
# The long description; CPack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Flickbook builds and edits animations frame by frame. It reads animated
GIFs, PNG and animated PNG, AVI videos, BMP, JPEG and Photoshop pictures,
icons, cursors and animated cursors, optimizes and reduces palettes, and
writes them again. From the command line it merges, retimes and optimizes
animations without a window.")
set(CPACK_STRIP_FILES ON)
# Dependencies from the libraries the programs link (dpkg-shlibdeps), so that
# whatever a target links later is covered without a change here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# FFmpeg is loaded only when AVI work first needs it, so dpkg-shlibdeps cannot
# see it: name the packages holding the sonames the code asks for (the major
# versions of the headers it was built against).
pkg_check_modules(FB_AV QUIET libavformat libavcodec libavutil libswscale)
set(_recommends "")
foreach(lib avutil avcodec avformat swscale)
  string(REGEX MATCH "^[0-9]+" _major "${FB_AV_lib${lib}_VERSION}")
  if(NOT _major)
    continue()
  endif()
  execute_process(COMMAND dpkg-query -S "lib${lib}.so.${_major}"
                  OUTPUT_VARIABLE _owner ERROR_QUIET RESULT_VARIABLE _status)
  # "libavutil57:amd64: /usr/lib/x86_64-linux-gnu/libavutil.so.57"
  if(_status EQUAL 0 AND _owner MATCHES "^([^:,]+)")
    list(APPEND _recommends "${CMAKE_MATCH_1}")
  endif()
endforeach()
# The window needs a platform plugin, which no library links; the Chinese
# texts need a font that has them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
list(APPEND _recommends fonts-wqy-microhei)
list(REMOVE_DUPLICATES _recommends)
list(JOIN _recommends ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS)

include(CPack)
