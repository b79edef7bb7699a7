
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/cmake/empty.cpp" "CMakeFiles/quorvanti_document.dir/cmake/empty.cpp.o" "gcc" "CMakeFiles/quorvanti_document.dir/cmake/empty.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/CMakeFiles/quorvanti_context.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_database.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_fiscal_component.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_windows.dir/DependInfo.cmake"
  "/work/main/build/CMakeFiles/quorvanti_platform.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
