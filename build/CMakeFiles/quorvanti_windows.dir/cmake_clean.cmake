file(REMOVE_RECURSE
  "CMakeFiles/quorvanti_windows.dir/cmake/empty.cpp.o"
  "CMakeFiles/quorvanti_windows.dir/cmake/empty.cpp.o.d"
  "libquorvanti_windows.a"
  "libquorvanti_windows.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/quorvanti_windows.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
