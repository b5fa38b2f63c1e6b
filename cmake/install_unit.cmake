# Install step of the printer application's systemd unit (tools/release.cmake
# sets the VARNU_ variables): the unit names the program under the prefix
# installed to. /usr's units go where the distribution keeps them, any other
# prefix's under PREFIX/lib/systemd/system, which systemd reads as well.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(unit_dir ${VARNU_SYSTEM_UNIT_DIR})
else()
    set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(VARNU_BINDIR ${VARNU_INSTALL_BINDIR})
if(NOT IS_ABSOLUTE ${VARNU_BINDIR})
    set(VARNU_BINDIR ${CMAKE_INSTALL_PREFIX}/${VARNU_BINDIR})
endif()
configure_file(${VARNU_UNIT_TEMPLATE} ${VARNU_UNIT_FILE} @ONLY)
file(INSTALL ${VARNU_UNIT_FILE} DESTINATION ${unit_dir})
