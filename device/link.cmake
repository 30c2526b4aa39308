# The link core (portable) with the event of the platform; on Windows also the system's HID host.
set(link_sources ${CMAKE_CURRENT_SOURCE_DIR}/link.cpp ${CMAKE_CURRENT_SOURCE_DIR}/link_workers.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/link_console.cpp)
if(WIN32)
  list(APPEND link_sources ${CMAKE_CURRENT_SOURCE_DIR}/win32/event_win32.cpp)
else()
  list(APPEND link_sources ${CMAKE_CURRENT_SOURCE_DIR}/event_posix.cpp)
endif()
add_library(tactra_link STATIC ${link_sources})
target_link_libraries(tactra_link PUBLIC tactra_protocol)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(tactra_link PUBLIC Threads::Threads)
endif()

if(WIN32)
  # The Windows HID host. It and the link use each other (events, the host seam), so the two
  # static libraries name each other.
  file(GLOB hid_win32_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/win32_*.cpp)
  if(hid_win32_sources)
    add_library(tactra_hid_win32 STATIC ${hid_win32_sources})
    target_link_libraries(tactra_hid_win32 PUBLIC tactra_link hid setupapi user32)
    target_link_libraries(tactra_link PUBLIC tactra_hid_win32)
  endif()
endif()
