# The service module and the management object. Included from this folder's
# CMakeLists.txt (after vs_service exists); defines, once:
#   vs_host    command line, registration, idle monitor, signals, system log and
#              systemd notifications: no bus and no sync service needed
#   vs_module  the management object, its endpoint on the bus and the module itself
if(TARGET vs_host)
    return()
endif()

include(${CMAKE_SOURCE_DIR}/com/ManagementInterface.cmake)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

set(dir ${CMAKE_CURRENT_LIST_DIR})
add_library(vs_host STATIC
    ${dir}/ModuleCommand.cpp
    ${dir}/Registration.cpp
    ${dir}/ServiceManager.cpp
    ${dir}/IdleMonitor.cpp
    ${dir}/ServiceEvents.cpp
    ${dir}/StopSignals.cpp
    ${dir}/ManagementPayload.cpp
    ${dir}/SystemAccount.cpp
)
target_link_libraries(vs_host PUBLIC vs_registration_templates vs_config vs_platform PkgConfig::LIBSYSTEMD
                      Threads::Threads)

if(TARGET vs_service)
    add_library(vs_module STATIC
        ${dir}/VantorSyncSvcModule.cpp
        ${dir}/VantorSyncObject.cpp
        ${dir}/ManagementEndpoint.cpp
        ${dir}/ClientTracker.cpp
        ${dir}/ServiceMetrics.cpp
        ${dir}/ServiceState.cpp
        ${dir}/ListenChoice.cpp
    )
    target_link_libraries(vs_module PUBLIC vs_host vs_service vs_management_interface
                          vs_management_bus)
endif()
