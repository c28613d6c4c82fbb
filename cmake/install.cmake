# Where the programs go when installed (cmake --install, and so the packages).
#
# Linux: in bin/, beside their manual pages in share/man/man1/ and the
# documents in share/doc/velkrin/ (cmake/packages.cmake installs those).
# Windows: at the top of one flat folder, the way the ZIP unpacks, beside the
# guide and LISEZMOI.txt, so that a double click in the Explorer starts them.
include(GNUInstallDirs)

if(WIN32)
  set(VELKRIN_INSTALL_PROGRAM_DIR .)
else()
  set(VELKRIN_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
endif()

# Installs one program of the suite, and later its manual page
# docs/man/TARGET.1 when there is one. Call it next to add_executable():
#   velkrin_install_program(velkrin-journal)
function(velkrin_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${VELKRIN_INSTALL_PROGRAM_DIR})
  set_property(GLOBAL APPEND PROPERTY VELKRIN_INSTALLED_PROGRAMS ${target})
endfunction()
