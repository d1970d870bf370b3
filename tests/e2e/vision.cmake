# The picture subcommands end to end on files of the virtual rig: no display needed.
if(TARGET epipolar)
  add_executable(epipolar_rig_pictures ${CMAKE_CURRENT_SOURCE_DIR}/RigPictures.cpp)
  target_link_libraries(epipolar_rig_pictures PRIVATE epipolar_capture epipolar_capture_gst)
  epipolar_warnings(epipolar_rig_pictures)
  add_test(NAME e2e_vision_commands
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/vision_commands.sh
            $<TARGET_FILE:epipolar> $<TARGET_FILE:epipolar_rig_pictures>)
  set_tests_properties(e2e_vision_commands PROPERTIES
    LABELS "e2e"
    TIMEOUT 300
    ENVIRONMENT "${EPIPOLAR_SANITIZER_ENV}")
endif()
