# valdrixconfig.exe: the Windows program. Linked statically against the compiler's runtime so
# that it needs only DLLs every Windows has.
add_executable(valdrixconfig WIN32
  main.cpp
  win32_dialog.cpp
  resources/valdrixconfig.rc
)
# windres finds the manifest named in the resource script through the include path.
target_include_directories(valdrixconfig PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/resources)
target_link_libraries(valdrixconfig PRIVATE valdrix_dialog valdrix_serial_win32 comctl32)

if(MSVC)
  # The resource script carries the manifest; a second one from the linker would clash.
  target_link_options(valdrixconfig PRIVATE /MANIFEST:NO)
elseif(MINGW)
  target_compile_options(valdrixconfig PRIVATE -ffunction-sections -fdata-sections)
  target_link_options(valdrixconfig PRIVATE -static -s -Wl,--gc-sections)
  foreach(lib valdrix_dialog valdrix_protocol valdrix_serial_core valdrix_serial_win32)
    target_compile_options(${lib} PRIVATE -ffunction-sections -fdata-sections)
  endforeach()
endif()
