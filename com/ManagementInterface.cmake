# The management interface's generated code and the registration file templates.
# Included by every program that speaks the interface; defines, once:
#   vs_management_interface  an INTERFACE target carrying the generated adaptor and
#                            proxy headers (include "IVantorSync_adaptor.h" / "_proxy.h")
#   vs_registration_templates a static library holding the templates as strings
if(TARGET vs_management_interface)
    return()
endif()

set(VS_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
set(VS_INTERFACE_XML ${CMAKE_SOURCE_DIR}/com/IVantorSync.xml)
file(MAKE_DIRECTORY ${VS_GEN_DIR})

add_custom_command(
    OUTPUT ${VS_GEN_DIR}/IVantorSync_adaptor.h ${VS_GEN_DIR}/IVantorSync_proxy.h
    COMMAND SDBusCpp::sdbus-c++-xml2cpp ${VS_INTERFACE_XML}
            --adaptor=${VS_GEN_DIR}/IVantorSync_adaptor.h
            --proxy=${VS_GEN_DIR}/IVantorSync_proxy.h
    DEPENDS ${VS_INTERFACE_XML}
    COMMENT "Generating the management interface's adaptor and proxy"
    VERBATIM)
add_custom_target(vs_management_generated
    DEPENDS ${VS_GEN_DIR}/IVantorSync_adaptor.h ${VS_GEN_DIR}/IVantorSync_proxy.h)

add_library(vs_management_interface INTERFACE)
add_dependencies(vs_management_interface vs_management_generated)
target_include_directories(vs_management_interface INTERFACE ${VS_GEN_DIR})
target_link_libraries(vs_management_interface INTERFACE SDBusCpp::sdbus-c++)

# The templates become string constants, so the installed program needs no source tree.
set(VS_TEMPLATE_NAMES ActivationFileTemplate com.mailvane.VantorSyncSvc.service.in
                      PolicyFileTemplate com.mailvane.VantorSyncSvc.conf.in
                      UnitFileTemplate VantorSyncSvc.service.in
                      SysusersFileTemplate vantorsync.sysusers)
set(VS_TEMPLATE_SOURCE "// Generated from the templates in com/; do not edit.\n")
string(APPEND VS_TEMPLATE_SOURCE "#include \"com/RegistrationTemplates.h\"\n\n")
while(VS_TEMPLATE_NAMES)
    list(POP_FRONT VS_TEMPLATE_NAMES variable file)
    set(path ${CMAKE_SOURCE_DIR}/com/${file})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(READ ${path} text)
    string(APPEND VS_TEMPLATE_SOURCE
           "const char* const k${variable} = R\"VSTEMPLATE(${text})VSTEMPLATE\";\n")
endwhile()
file(WRITE ${VS_GEN_DIR}/RegistrationTemplates.cpp.tmp "${VS_TEMPLATE_SOURCE}")
configure_file(${VS_GEN_DIR}/RegistrationTemplates.cpp.tmp
               ${VS_GEN_DIR}/RegistrationTemplates.cpp COPYONLY)

add_library(vs_registration_templates STATIC ${VS_GEN_DIR}/RegistrationTemplates.cpp)

# The version and build facts that the programs print and the metrics report. A package
# build leaves the build type empty or "None" and takes its flags from the distribution,
# so it names itself with VANTORSYNC_BUILD_TYPE.
set(VANTORSYNC_BUILD_TYPE "" CACHE STRING "Build type the programs report; empty: CMAKE_BUILD_TYPE")
if(VANTORSYNC_BUILD_TYPE)
    set(VS_BUILD_TYPE "${VANTORSYNC_BUILD_TYPE}")
elseif(CMAKE_BUILD_TYPE AND NOT CMAKE_BUILD_TYPE STREQUAL "None")
    set(VS_BUILD_TYPE "${CMAKE_BUILD_TYPE}")
else()
    set(VS_BUILD_TYPE "flags from the environment")
endif()
configure_file(${CMAKE_SOURCE_DIR}/com/BuildInfo.h.in ${VS_GEN_DIR}/BuildInfo.h @ONLY)
target_include_directories(vs_registration_templates PUBLIC ${VS_GEN_DIR})

# The bus names and the choice of bus, shared by the service and its control program.
add_library(vs_management_bus STATIC ${CMAKE_SOURCE_DIR}/com/ManagementBus.cpp)
target_link_libraries(vs_management_bus PUBLIC SDBusCpp::sdbus-c++)
