
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tests/support/temp_dir.cpp" "tests/CMakeFiles/quorvanti_test_support.dir/support/temp_dir.cpp.o" "gcc" "tests/CMakeFiles/quorvanti_test_support.dir/support/temp_dir.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/CMakeFiles/quorvanti_startup.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_monitor.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_document.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_context.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_database.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_fiscal_component.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_windows.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_platform.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
