# What a release adds to the programs: the version each one prints, the
# project's one version (project(VERSION) in CMakeLists.txt).

foreach(program adihost varnu-printer-app)
    if(TARGET ${program})
        target_link_libraries(${program} PRIVATE varnu_version)
    endif()
endforeach()
