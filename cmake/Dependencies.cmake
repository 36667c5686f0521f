# Third-party libraries, all from Debian, for both the native and the
# Windows (MinGW-w64) build. Everything is gathered in the interface target
# vorlix_deps; tests link vorlix_gtest.

add_library(vorlix_deps INTERFACE)

if(WIN32)
  # Static MinGW runtime so that the executables need no MinGW DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  target_compile_definitions(vorlix_deps INTERFACE
    _WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000006 UNICODE _UNICODE
    WIN32_LEAN_AND_MEAN NOMINMAX)

  find_library(VORLIX_GCRYPT_LIB NAMES libgcrypt.a REQUIRED)
  find_library(VORLIX_GPGERROR_LIB NAMES libgpg-error.a REQUIRED)
  find_library(VORLIX_Z_LIB NAMES libz.a REQUIRED)
  # libgcrypt before gpg-error, which needs Winsock.
  target_link_libraries(vorlix_deps INTERFACE
    ${VORLIX_GCRYPT_LIB} ${VORLIX_GPGERROR_LIB} ${VORLIX_Z_LIB}
    ws2_32 iphlpapi bcrypt advapi32 crypt32 ole32 oleaut32 uuid shell32 shlwapi user32 gdi32
    dbghelp wtsapi32 mfplat mfuuid mf wmcodecdspuuid winhttp windowscodecs
    propsys version userenv ntdll)
  # WaitOnAddress and WakeByAddressAll (the camera thread's mailbox).
  target_link_libraries(vorlix_deps INTERFACE synchronization)

  # nlohmann/json is header-only. Its CMake package would add the host's
  # /usr/include to the cross compile line, so expose only its own folder.
  set(VORLIX_NLOHMANN_DIR ${CMAKE_BINARY_DIR}/third_party/include)
  file(MAKE_DIRECTORY ${VORLIX_NLOHMANN_DIR})
  file(CREATE_LINK /usr/include/nlohmann ${VORLIX_NLOHMANN_DIR}/nlohmann SYMBOLIC)
  target_include_directories(vorlix_deps SYSTEM INTERFACE ${VORLIX_NLOHMANN_DIR})

  if(VORLIX_TESTS)
    # GoogleTest from the sources of Debian's googletest package.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    add_library(vorlix_gtest INTERFACE)
    target_link_libraries(vorlix_gtest INTERFACE GTest::gtest GTest::gmock)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
  find_package(ZLIB REQUIRED)
  find_package(nlohmann_json 3.10 REQUIRED)
  find_package(Threads REQUIRED)
  target_link_libraries(vorlix_deps INTERFACE
    PkgConfig::GCRYPT ZLIB::ZLIB nlohmann_json::nlohmann_json Threads::Threads ${CMAKE_DL_LIBS})

  if(VORLIX_TESTS)
    find_package(GTest REQUIRED)
    add_library(vorlix_gtest INTERFACE)
    target_link_libraries(vorlix_gtest INTERFACE GTest::gtest GTest::gmock)
    # A real H.264 encoder and decoder for the streaming tests only.
    pkg_check_modules(OPENH264 IMPORTED_TARGET openh264)
    if(OPENH264_FOUND)
      target_link_libraries(vorlix_gtest INTERFACE PkgConfig::OPENH264)
    endif()
  endif()
  if(VORLIX_BENCHMARKS)
    find_package(benchmark REQUIRED)
  endif()
endif()
