# End-to-end runs of the real program on the virtual rig, driven like a user would with
# xdotool and a window manager's close request. The whole ctest run is inside xvfb-run.
# They find windows by title and type into the focused window on the one shared display, so
# each runs alone (RUN_SERIAL): a parallel test's windows or focus would take their input.
if(TARGET epipolar AND TARGET epipolar_xclose)
  foreach(case close restore calibrate boxes export xkill assist wm)
    add_test(NAME e2e_app_${case}
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app_${case}.sh
              $<TARGET_FILE:epipolar> $<TARGET_FILE:epipolar_xclose>)
    set_tests_properties(e2e_app_${case} PROPERTIES
      LABELS "xvfb"
      TIMEOUT 180
      RUN_SERIAL TRUE
      ENVIRONMENT "${EPIPOLAR_SANITIZER_ENV};SDL_VIDEODRIVER=x11")
  endforeach()
endif()
