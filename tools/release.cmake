# What a release installs, where a Debian system looks for it (GNUInstallDirs
# under the prefix, /usr for the packages: cmake --install BUILD --prefix /usr),
# and the version each program prints. Components: adihost, cups,
# printer-app (and windows-module in the Windows build, src/CMakeLists.txt).
# The target varnu_release builds everything installed here.

foreach(program adihost varnu-printer-app)
    if(TARGET ${program})
        target_link_libraries(${program} PRIVATE varnu_version)
    endif()
endforeach()
# Their relocations read-only before they run (non-PIE by design: every
# address handed to the driver lies below 4 GiB).
foreach(program adihost rastertovarnu pdftovarnu imagetovarnu hpgltovarnu dxftovarnu
                varnu-printer-app)
    if(TARGET ${program})
        target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
    endif()
endforeach()

# CUPS looks for filters in its own folder only, whatever the prefix.
find_program(CUPS_CONFIG cups-config)
set(cups_serverbin /usr/lib/cups)
if(CUPS_CONFIG)
    execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE cups_serverbin
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(VARNU_CUPS_FILTER_DIR "${cups_serverbin}/filter" CACHE PATH
    "where CUPS runs filters from (cups-config --serverbin)")
# ... and reads its MIME types from its data folder only.
set(cups_datadir /usr/share/cups)
if(CUPS_CONFIG)
    execute_process(COMMAND ${CUPS_CONFIG} --datadir OUTPUT_VARIABLE cups_datadir
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(VARNU_CUPS_MIME_DIR "${cups_datadir}/mime" CACHE PATH
    "where CUPS reads MIME types from (cups-config --datadir)")

set(release_dir ${CMAKE_CURRENT_BINARY_DIR}/release)

# The man pages, dated and numbered with the release.
string(TIMESTAMP VARNU_RELEASE_DATE "%Y-%m-%d" UTC)
set(man_pages adihost/adihost.1 printer-app/varnu-printer-app.1 cups/rastertovarnu.8)
set(man_files "")
foreach(page ${man_pages})
    get_filename_component(name ${page} NAME)
    configure_file(${page}.in ${release_dir}/${name} @ONLY)
    list(APPEND man_files ${release_dir}/${name})
endforeach()

# adihost's bash completion, with the paper names of the setup dialog's list
# written in by adihost_completion from the driver's tables.
add_executable(adihost_completion adihost/completion.cpp)
target_link_libraries(adihost_completion PRIVATE varnu_adi)
add_custom_command(OUTPUT ${release_dir}/adihost.bash
    COMMAND adihost_completion ${CMAKE_CURRENT_SOURCE_DIR}/adihost/adihost.bash.in
            ${release_dir}/adihost.bash
    DEPENDS adihost_completion adihost/adihost.bash.in)

add_custom_target(varnu_release ALL DEPENDS ${release_dir}/adihost.bash)
add_dependencies(varnu_release adihost rastertovarnu pdftovarnu imagetovarnu hpgltovarnu
                 dxftovarnu varnu_ppd_file)

install(TARGETS adihost DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT adihost)
install(FILES ${release_dir}/adihost.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT adihost)
install(FILES ${release_dir}/adihost.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME adihost COMPONENT adihost)

# The PPD under share/ppd, which cups-driverd searches (lsb/usr, lsb/local):
# lpinfo -m lists it, lpadmin -m lsb/usr/varnu/varnu4820.ppd takes it.
install(TARGETS rastertovarnu pdftovarnu imagetovarnu hpgltovarnu dxftovarnu DESTINATION ${VARNU_CUPS_FILTER_DIR}
        COMPONENT cups)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/varnu4820.ppd DESTINATION ${CMAKE_INSTALL_DATADIR}/ppd/varnu
        COMPONENT cups)
install(FILES cups/varnu.types DESTINATION ${VARNU_CUPS_MIME_DIR} COMPONENT cups)
install(FILES ${release_dir}/rastertovarnu.8 cups/pdftovarnu.8 cups/imagetovarnu.8 cups/hpgltovarnu.8
        cups/dxftovarnu.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT cups)

if(TARGET varnu-printer-app)
    add_dependencies(varnu_release varnu-printer-app)
    install(TARGETS varnu-printer-app DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT printer-app)
    install(FILES ${release_dir}/varnu-printer-app.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT printer-app)
    # The unit names the program where this install puts it, so it is
    # written when installing (the prefix may be given only then). Debian 12
    # keeps the units of /usr in /lib (pkg-config systemd).
    find_package(PkgConfig REQUIRED)
    pkg_get_variable(SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
    if(NOT SYSTEMD_UNIT_DIR)
        set(SYSTEMD_UNIT_DIR /usr/lib/systemd/system)
    endif()
    install(CODE "
        set(VARNU_UNIT_TEMPLATE ${CMAKE_CURRENT_SOURCE_DIR}/printer-app/varnu-printer-app.service.in)
        set(VARNU_UNIT_FILE ${release_dir}/varnu-printer-app.service)
        set(VARNU_SYSTEM_UNIT_DIR ${SYSTEMD_UNIT_DIR})
        set(VARNU_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})"
        COMPONENT printer-app)
    install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install_unit.cmake COMPONENT printer-app)
endif()
