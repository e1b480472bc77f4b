# Runs at the end of project() in the Windows syntax check (see toolchain.cmake), before the
# project looks for Qt.

# Each source is compiled to find its errors, not to an object file. With no object files there
# is nothing to archive or link (nor a Windows Qt to link with): those steps do nothing, so that
# the steps that wait for them (moc, the icon rendering, the tests' helpers) can go ahead.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fsyntax-only>)
set(CMAKE_AR /bin/true)
set(CMAKE_RANLIB /bin/true)
set(CMAKE_CXX_LINK_EXECUTABLE /bin/true)

find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets SerialPort Network Test Svg)
get_property(imported DIRECTORY PROPERTY IMPORTED_TARGETS)
foreach(target IN LISTS imported)
    # A Windows DLL is linked through its import library, which a Linux Qt does not have; as
    # nothing is linked, any file will do to let CMake generate the build.
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB ${CMAKE_CURRENT_LIST_FILE})
    endif()
    # Qt's Vulkan headers are found in /usr/include, where the Linux C library's headers are;
    # with it on the include path MinGW would compile against glibc's headers instead of its own.
    # And the Windows flavour of Qt's platform header folder, as a Windows Qt has.
    get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
    if(dirs)
        list(REMOVE_ITEM dirs /usr/include)
        list(TRANSFORM dirs REPLACE "/mkspecs/linux-g\\+\\+$" "/mkspecs/win32-g++")
        set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${dirs}")
    endif()
endforeach()
# What Qt's Windows builds define for every program that uses them.
set_property(TARGET Qt6::Platform APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
    UNICODE _UNICODE WIN32 _ENABLE_EXTENDED_ALIGNED_STORAGE WIN64 _WIN64 MINGW_HAS_SECURE_API=1)
