# The audio thread stress test also runs in the ThreadSanitizer build (scripts/test.sh runs ctest -L tsan there).
if(TEST test_audio_stress)
  set_tests_properties(test_audio_stress PROPERTIES LABELS tsan TIMEOUT 120)
endif()
