# lc_testsupport: starting and stopping the real service executable, and
# speaking to it with raw requests. The tests use it, and so does the loop
# stall benchmark, which is built without the tests too: whichever comes
# first defines it.
if(NOT TARGET lc_testsupport)
  find_package(GTest REQUIRED)
  set(lc_support_sources childProcess.cc commandRun.cc hostTestLock.cc localPort.cc
      processTable.cc rawRequests.cc serviceProcess.cc)
  list(TRANSFORM lc_support_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
  add_library(lc_testsupport STATIC ${lc_support_sources})
  target_include_directories(lc_testsupport PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lc_testsupport PUBLIC GTest::gtest lc_pipecrypt PRIVATE lc_warnings)
  add_dependencies(lc_testsupport VOKLogoffCookieService)
  target_compile_definitions(lc_testsupport PRIVATE
    LC_SERVICE_BINARY="$<TARGET_FILE:VOKLogoffCookieService>")
endif()
