# The target functions, shared by the fuzz programs and the regression test.
set(VS_FUZZ_TARGET_SOURCES
    ${CMAKE_SOURCE_DIR}/fuzz/ScratchFolder.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/RequestReaderTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/ChunkedTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/HttpObjectTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/SettingsTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/WhitelistLoadTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/TrainingDbLoadTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/WhitelistPushTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/TrainingDbPushTarget.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/ProxyHeaderTarget.cpp
    # The PROXY header reader alone: the rest of net/ needs what the fuzz build leaves out.
    ${CMAKE_SOURCE_DIR}/net/ProxyHeader.cpp
    ${CMAKE_SOURCE_DIR}/net/ProxyGate.cpp
    ${CMAKE_SOURCE_DIR}/fuzz/targets/ExportReaderTarget.cpp
)
