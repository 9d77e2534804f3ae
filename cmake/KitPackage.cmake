# Debian packages with CPack: per library a runtime package (lib<name><major>)
# and a development package (lib<name>-dev), plus wavtool and python3-audiokit
# (the Python modules). `make package` configures a build for /usr and runs
# the `deb` target, one cpack run a library so that each package carries its
# own library's version.
#
# Only meaningful in a build configured for packaging (-DKIT_DEB=ON), which
# also installs the Debian copyright and changelog files each package needs.

set(KIT_MAINTAINER "Audio kit developers <audiokit@example.org>")
set(KIT_DEB_OUT ${PROJECT_BINARY_DIR}/debs)

# Documentation files that every package carries in /usr/share/doc/<package>.
function(kit_deb_docs component package)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

if(NOT KIT_DEB)
  return()
endif()

set(KIT_DEB_SYNOPSIS_covarne "read, write and edit 8- and 16-bit PCM WAV files")
set(KIT_DEB_ABOUT_covarne "Covarne is a small C++ library that reports the format of RIFF/WAVE files,\nloads ranges of samples as doubles, writes new files from arrays of doubles\nand edits files in place: appending, overwriting, inserting silence,\ndeleting and replacing frame ranges, and restating the sample rate.")
set(KIT_DEB_SYNOPSIS_vornix "radix-4 FFT, spectra, windows, FIR filters, Hilbert envelope")
set(KIT_DEB_ABOUT_vornix "Vornix is a small C++ signal-processing library: complex FFTs of\npower-of-two lengths up to 65,536 points, power spectra in decibels,\nHamming and Hann windows, pre-emphasis, normalisation, Kaiser-window FIR\ndesign with fast-convolution filtering, and the Hilbert transform.")
set(KIT_DEB_SYNOPSIS_tamblo "record 16-bit PCM from the default ALSA input into doubles")
set(KIT_DEB_ABOUT_tamblo "Tamblo is a small C++ capture library: it records 16-bit PCM from ALSA's\ndefault input device (and so from PulseAudio or PipeWire) into arrays of\ndoubles, either blocking or block by block to a host window.")

# The changelog, compressed as Debian wants it: no name or time stamp inside.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/changelog.gz
                COMMAND_ERROR_IS_FATAL ANY)

get_property(kit_libs GLOBAL PROPERTY KIT_LIBRARIES)
set(kit_deb_commands)
foreach(lib IN LISTS kit_libs)
  get_property(version GLOBAL PROPERTY KIT_VERSION_${lib})
  string(REGEX MATCH "^[0-9]+" major "${version}")
  string(TOUPPER ${lib} LIB)
  set(runtime lib${lib}${major})
  kit_deb_docs(${lib} ${runtime})
  kit_deb_docs(${lib}-dev lib${lib}-dev)

  set(CPACK_DEBIAN_${LIB}_PACKAGE_NAME ${runtime})
  set(CPACK_DEBIAN_${LIB}_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_${LIB}_PACKAGE_SHLIBDEPS ON)
  # The loader's cache is refreshed by dpkg's ldconfig trigger; the scripts
  # only stand in for the ones CPack would write to call ldconfig itself.
  set(CPACK_DEBIAN_${LIB}_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
      ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
  set(CPACK_DEBIAN_${LIB}_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_${LIB}_DESCRIPTION "${KIT_DEB_SYNOPSIS_${lib}}\n${KIT_DEB_ABOUT_${lib}}\n\nThis package holds the shared library.")
  set(CPACK_DEBIAN_${LIB}-DEV_PACKAGE_NAME lib${lib}-dev)
  set(CPACK_DEBIAN_${LIB}-DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_${LIB}-DEV_PACKAGE_DEPENDS "${runtime} (= ${version})")
  set(CPACK_DEBIAN_${LIB}-DEV_DESCRIPTION "${KIT_DEB_SYNOPSIS_${lib}} - development files\n${KIT_DEB_ABOUT_${lib}}\n\nThis package holds the headers, the CMake package and the pkg-config file.")

  set(components "${lib}\;${lib}-dev")
  if(lib STREQUAL "covarne" AND TARGET wavtool)
    string(APPEND components "\;wavtool")
    kit_deb_docs(wavtool wavtool)
    set(CPACK_DEBIAN_WAVTOOL_PACKAGE_NAME wavtool)
    set(CPACK_DEBIAN_WAVTOOL_PACKAGE_SECTION sound)
    set(CPACK_DEBIAN_WAVTOOL_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_WAVTOOL_PACKAGE_DEPENDS "${runtime} (= ${version})")
    set(CPACK_DEBIAN_WAVTOOL_DESCRIPTION "edit 8- and 16-bit PCM WAV files in place from the shell\nwavtool inserts and deletes frame ranges, overwrites ranges with silence,\nappends silence and restates the sample rate of WAV files, in place,\nleaving a file it cannot edit as it was.")
  endif()
  list(APPEND kit_deb_commands
       COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake -G DEB
               -B ${KIT_DEB_OUT} -D CPACK_PACKAGE_VERSION=${version} -D "CPACK_COMPONENTS_ALL=${components}")
endforeach()

# The Python modules, one package for the three: each module needs its
# library at least at the version it was built against, and the interpreter
# series whose ABI it was built for.
get_property(kit_py_modules GLOBAL PROPERTY KIT_PYTHON_MODULES)
if(kit_py_modules)
  get_property(py_version GLOBAL PROPERTY KIT_PYTHON_VERSION)
  get_property(py_series GLOBAL PROPERTY KIT_PYTHON_SERIES)
  string(REPLACE "." ";" py_parts "${py_series}")
  list(GET py_parts 1 py_minor)
  math(EXPR py_next "${py_minor} + 1")
  set(depends "python3 (>= ${py_series}~), python3 (<< 3.${py_next}), python3-numpy")
  foreach(lib IN LISTS kit_py_modules)
    get_property(version GLOBAL PROPERTY KIT_VERSION_${lib})
    string(REGEX MATCH "^[0-9]+" major "${version}")
    string(APPEND depends ", lib${lib}${major} (>= ${version})")
  endforeach()
  kit_deb_docs(python python3-audiokit)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-audiokit)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_GENERATE_SHLIBS OFF)  # modules, not libraries
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${depends}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/python3-audiokit/postinst
      ${PROJECT_SOURCE_DIR}/packaging/python3-audiokit/prerm)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Python 3 modules over the audio kit's libraries, on numpy arrays\nThree modules for research code and tools written in Python: covarne reads,\nwrites and edits 8- and 16-bit PCM WAV files; vornix computes FFTs, spectra,\nwindows, FIR filters and the Hilbert envelope; tamblo records 16-bit PCM\nfrom the default ALSA input, blocking or block by block, also under asyncio.\nSamples are numpy float64 arrays.")
  list(APPEND kit_deb_commands
       COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake -G DEB
               -B ${KIT_DEB_OUT} -D CPACK_PACKAGE_VERSION=${py_version} -D "CPACK_COMPONENTS_ALL=python")
endif()

set(CPACK_PACKAGE_NAME audiokit)
set(CPACK_PACKAGE_VENDOR "Audio kit developers")
set(CPACK_PACKAGE_CONTACT "${KIT_MAINTAINER}")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/wav ${PROJECT_BINARY_DIR}/dsp
    ${PROJECT_BINARY_DIR}/capture)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)

add_custom_target(deb ${kit_deb_commands}
                  COMMENT "Debian packages into ${KIT_DEB_OUT}" VERBATIM)
