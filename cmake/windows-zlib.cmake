# zlib for the Windows programs: compiled here from Debian's sources of the version the
# native build links (scripts/setup.sh puts them in /usr/local/src/lumo-zlib), with the
# flags Debian builds its native zlib with. The prebuilt mingw-w64 zlib
# (libz-mingw-w64-dev) is of the same version but compiled with weaker flags: its level-9
# compression, nearly all of a conversion's time, takes about a tenth longer. The same
# version keeps the compressed bytes, and so the packages, identical to the native ones.
#
# Without the sources, or with other versions on the two sides, the prebuilt library is
# used, and a warning says so.
set(LUMO_ZLIB_SOURCE_DIR /usr/local/src/lumo-zlib CACHE PATH
    "zlib sources for the Windows build (scripts/setup.sh)")

function(lumo_zlib_version header out)
  set(version "")
  if(EXISTS ${header})
    file(STRINGS ${header} line REGEX "^#define ZLIB_VERSION \"[^\"]*\"")
    string(REGEX REPLACE "^#define ZLIB_VERSION \"([^\"]*)\".*" "\\1" version "${line}")
  endif()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

# The native zlib's header, read as a plain file: the version the Linux ldic compresses with.
lumo_zlib_version(/usr/include/zlib.h lumo_native_zlib)
lumo_zlib_version(${LUMO_ZLIB_SOURCE_DIR}/zlib.h lumo_source_zlib)

if(lumo_source_zlib AND lumo_source_zlib STREQUAL lumo_native_zlib)
  set(lumo_zlib_files adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback
                      inffast inflate inftrees trees uncompr zutil)
  list(TRANSFORM lumo_zlib_files PREPEND ${LUMO_ZLIB_SOURCE_DIR}/)
  list(TRANSFORM lumo_zlib_files APPEND .c)
  add_library(lumo_zlib STATIC ${lumo_zlib_files})
  target_include_directories(lumo_zlib SYSTEM PUBLIC ${LUMO_ZLIB_SOURCE_DIR})
  # Debian's native zlib on amd64: -O3 and UNALIGNED_OK (two-byte compares in the match
  # search; the matches found, and so the output, are the same). Any build type.
  target_compile_definitions(lumo_zlib PRIVATE UNALIGNED_OK _REENTRANT)
  target_compile_options(lumo_zlib PRIVATE -O3 -w)
  add_library(ZLIB::ZLIB ALIAS lumo_zlib)
  message(STATUS "zlib ${lumo_source_zlib} compiled from ${LUMO_ZLIB_SOURCE_DIR}")
else()
  message(WARNING "zlib sources of version '${lumo_native_zlib}' not found in "
                  "${LUMO_ZLIB_SOURCE_DIR} (found '${lumo_source_zlib}'; run scripts/setup.sh): "
                  "the Windows programs link the prebuilt, slower mingw-w64 zlib")
  find_package(ZLIB REQUIRED)
endif()
