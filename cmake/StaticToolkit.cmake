# The toolkit as static archives, for an installer image that needs nothing
# on the user's machine but the C library, libm, libgcc_s and the loader.
#
# Every archive is looked up by name here, together with the Debian package
# that ships it, so that a missing one stops the configuration with the
# package to install (scripts/install-deps.sh installs them all).  The list
# runs from Motif down to what it uses; the linker goes round the group for
# the few references back up.  zlib is in it for freetype and libpng, and
# for whatever else in the image decompresses; libdeflate for the chunks of
# an indexed payload.

set(OVELO8_STATIC_ARCHIVES
  Xm           libmotif-dev
  Xmu          libxmu-dev
  Xpm          libxpm-dev
  Xt           libxt-dev
  SM           libsm-dev
  ICE          libice-dev
  Xft          libxft-dev
  Xrender      libxrender-dev
  Xext         libxext-dev
  X11          libx11-dev
  xcb          libxcb1-dev
  Xau          libxau-dev
  Xdmcp        libxdmcp-dev
  fontconfig   libfontconfig-dev
  freetype     libfreetype-dev
  png16        libpng-dev
  jpeg         libjpeg62-turbo-dev
  expat        libexpat1-dev
  brotlidec    libbrotli-dev
  brotlicommon libbrotli-dev
  z            zlib1g-dev
  deflate      libdeflate-dev
)

# The archives of the list as one link group in the interface of the target
# toolkit_static.  Each is found into the cache variable OVELO8_ARCHIVE_NAME
# (libNAME.a); a missing one stops the configuration naming its package.
#
# zlib and libdeflate for our own code come from this group too: the
# installer's core links the shared ones only where the toolkit is shared
# (a shared libz or libdeflate on the image's link line would be needed at
# run time, which tests/installer/image_dependencies.sh reports).
function(ovelo8_add_toolkit_static)
  set(archives "")
  set(pairs ${OVELO8_STATIC_ARCHIVES})
  while(pairs)
    list(POP_FRONT pairs name package)
    find_library(OVELO8_ARCHIVE_${name} NAMES lib${name}.a)
    if(NOT OVELO8_ARCHIVE_${name})
      message(FATAL_ERROR
        "The static toolkit needs lib${name}.a: install the Debian package "
        "${package} (scripts/install-deps.sh does), or configure with "
        "-DOVELO8_STATIC_TOOLKIT=OFF to link the shared libraries instead.")
    endif()
    list(APPEND archives ${OVELO8_ARCHIVE_${name}})
  endwhile()
  add_library(toolkit_static INTERFACE)
  target_link_libraries(toolkit_static INTERFACE -static-libstdc++ -Wl,--as-needed
    -Wl,--start-group ${archives} -Wl,--end-group)
endfunction()

ovelo8_add_toolkit_static()
